// A description with one mistake, chosen by MISTAKE: each must stop the
// compilation with the message its CTest entry expects.
#include <cstddef>

#include "framework/description.h"

namespace {

struct Instance {
  int32_t mode;
  double value;
  LWVParmID valueParm;
  NodeID node;
  NodeInputID valueIn;
};
juxs::fw::Services gServices;

#if MISTAKE == 1 // a member of the wrong type
#define JUXS_MODE_MEMBER value
#else
#define JUXS_MODE_MEMBER mode
#endif
#if MISTAKE == 2 // an enable rule for a setting no row has
constexpr const char *kDependants[] = {"Missing"};
#else
constexpr const char *kDependants[] = {"Value"};
#endif
constexpr juxs::fw::Rule kRule{.controller = "Mode", .dependants = kDependants};

constexpr juxs::fw::Setting kSettings[] = {
    juxs::fw::integer("Mode", JUXS_FIELD(JUXS_MODE_MEMBER), 0).control("iBoolean"),
    juxs::fw::param("Value", LWVP_FLOAT, JUXS_FIELD(value), JUXS_FIELD(valueParm), 1.0)
        .input(CONN_SCALAR, JUXS_FIELD(valueIn)).control("float-env").enable(&kRule),
#if MISTAKE == 3 // the same member saved twice
    juxs::fw::integer("Mode Again", JUXS_FIELD(mode), 0),
#endif
};
constexpr juxs::fw::Description kNode{.record = juxs::fw::recordOf<Instance>(), .svc = &gServices,
                                      .settings = kSettings};

} // namespace

const juxs::fw::NodeKind &kind = juxs::fw::Tables<kNode>::kind;
