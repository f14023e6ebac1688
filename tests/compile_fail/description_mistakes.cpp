// A description with one mistake, chosen by MISTAKE: each must stop the
// compilation with the message its CTest entry expects (the name of a fault
// the derivation calls, or a builder's static assertion). MISTAKE 0 has none.
#include <cstddef>

#include "framework/description.h"

namespace {

namespace fw = juxs::fw;

#define JUXS_TIMES8(X, n) X(n##0) X(n##1) X(n##2) X(n##3) X(n##4) X(n##5) X(n##6) X(n##7)
#define JUXS_TIMES32(X) JUXS_TIMES8(X, 1) JUXS_TIMES8(X, 2) JUXS_TIMES8(X, 3) JUXS_TIMES8(X, 4)
#define JUXS_TIMES64(X) JUXS_TIMES32(X) JUXS_TIMES8(X, 5) JUXS_TIMES8(X, 6) JUXS_TIMES8(X, 7) JUXS_TIMES8(X, 8)

struct Instance {
  int32_t mode;
  fw::Int count;
  fw::Param<double> value;
  int32_t many[40];
  char text[2000];
  NodeID node;
  NodeInputID extra;
  NodeOutputID out;
};
fw::Services gServices;

#if MISTAKE == 2
constexpr const char *kDependants[] = {"Missing"};
#else
constexpr const char *kDependants[] = {"Value"};
#endif
constexpr const char *kItems[] = {"Off", "On", nullptr};
#if MISTAKE == 12
constexpr int32_t kMap[] = {0, 1, 1};
#else
constexpr int32_t kMap[] = {0, 1};
#endif
constexpr fw::EnableRule kRule{.controller = "Mode", .map = kMap, .dependants = kDependants};

#define JUXS_INT_ROW(n) fw::integer("Many " #n, JUXS_FIELD(many[n % 40]), 0),
#define JUXS_THUMB_ROW(n) fw::thumbnail("Thumb " #n, 1, nullptr),

constexpr fw::Setting kSettings[] = {
#if MISTAKE == 1 // a member of the wrong type
    fw::integer("Mode", JUXS_FIELD(value), 0).control("iPopChoice").items(kItems),
#else
    fw::integer("Mode", JUXS_FIELD(mode), 0).control("iPopChoice").items(kItems),
#endif
#if MISTAKE == 8 // a member whose input no row creates
    fw::integer("Count", JUXS_FIELD(count), 1).control("integer"),
#else
    fw::integer("Count", JUXS_FIELD(count), 1).input(CONN_INTEGER).control("integer"),
#endif
#if MISTAKE == 11 // a colour's three values on a member of one
    fw::param("Value", LWVP_COLOR, JUXS_FIELD(value), 1.0).input(CONN_SCALAR).control("float-env").enable(&kRule),
#else
    fw::param("Value", LWVP_FLOAT, JUXS_FIELD(value), 1.0).input(CONN_SCALAR).control("float-env").enable(&kRule),
#endif
    fw::input("Extra", CONN_VECTOR, JUXS_FIELD(extra)),
#if MISTAKE == 3 // a key used twice
    fw::integer("Mode", JUXS_FIELD(many[0]), 0),
#elif MISTAKE == 4 // one member saved by two rows
    fw::integer("Mode Again", JUXS_FIELD(mode), 0),
#elif MISTAKE == 5 // one input member created by two rows
    fw::input("Extra Again", CONN_VECTOR, JUXS_FIELD(extra)),
#elif MISTAKE == 6 // one parameter's handle kept by two rows
    fw::param("Value Again", LWVP_FLOAT, JUXS_FIELD(value), 1.0).input(CONN_SCALAR),
#elif MISTAKE == 7 // an input on a member that holds none
    fw::integer("Plain", JUXS_FIELD(many[0]), 0).input(CONN_INTEGER),
#elif MISTAKE == 9 // two rows in one place of the saved order
    fw::integer("First", JUXS_FIELD(many[0]), 0).savedPlace(0),
    fw::integer("Second", JUXS_FIELD(many[1]), 0).savedPlace(0),
#elif MISTAKE == 10 // a place past the last of its order
    fw::integer("Far", JUXS_FIELD(many[0]), 0).savedPlace(9),
#elif MISTAKE == 13 // a rule on a row without a control
    fw::integer("Hidden", JUXS_FIELD(many[0]), 0).enable(&kRule),
#elif MISTAKE == 14 // more controls than a panel holds
    JUXS_TIMES64(JUXS_THUMB_ROW)
#elif MISTAKE == 15 // more integers than a load stages (32, with Mode and Count 34)
    JUXS_TIMES32(JUXS_INT_ROW)
#elif MISTAKE == 16 // items larger than a load stages
    fw::text("Text", JUXS_FIELD(text)),
#endif
};
constexpr fw::Description kNode{.record = fw::recordOf<Instance>(), .svc = &gServices, .settings = kSettings};

} // namespace

const juxs::fw::NodeKind &kind = juxs::fw::Tables<kNode>::kind;
