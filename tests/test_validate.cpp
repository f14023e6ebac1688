// The conformance run over every node of the module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "hostsim/validate.h"
#include "module/module.h"
#include "tests/support/probe_node.h"

namespace {

std::string joined(const hostsim::ValidationReport &r) {
  std::string s;
  for (const auto &l : r.lines) s += l + "\n";
  return s;
}

TEST(Validate, EveryNodeOfTheModulePasses) {
  std::unique_ptr<hostsim::Module> m;
  ASSERT_NO_THROW(m = hostsim::Module::fromDescriptor(&_mod_descrip));
  const hostsim::ValidationReport r = hostsim::validateModule(*m);
  EXPECT_EQ(r.failures, 0) << joined(r);
  EXPECT_GT(r.lines.size(), 8u);
}

TEST(Validate, ReportsAServerWithoutItsInterfaceRecord) {
  std::unique_ptr<hostsim::Module> m;
  ASSERT_NO_THROW(m = hostsim::Module::fromDescriptor(probe::descriptor()));
  const hostsim::ValidationReport r = hostsim::validateModule(*m);
  EXPECT_EQ(r.failures, 1) << joined(r);
  EXPECT_EQ(r.lines.front().rfind("FAIL server table", 0), 0u) << joined(r);
}

// A module with the faults a conformance run must name: its activation writes
// the handler record before it knows it can succeed, and its evaluation
// crashes for a thread number it has no room for.
namespace faulty {

const LWNodeOutputFuncs *gOutput = nullptr;
struct Instance {
  NodeOutputID out;
};

LWInstance create(void *, void *context, LWError *) {
  auto *i = new Instance;
  i->out = gOutput->create(static_cast<NodeID>(context), CONN_SCALAR, "Out");
  return i;
}
void destroy(LWInstance inst) { delete static_cast<Instance *>(inst); }
LWError copy(LWInstance, LWInstance) { return nullptr; }
LWError load(LWInstance, const LWLoadState *) { return nullptr; }
LWError save(LWInstance, const LWSaveState *) { return nullptr; }
void evaluate(LWInstance, LWNodalAccess *na, NodeOutputID, NodeValue value) {
  if (na->threadNum < 0 || na->threadNum >= 16) std::abort();
  double one = 1.0;
  gOutput->setValue(value, &one);
}

int32_t activate(int32_t version, GlobalFunc global, void *local, void *) {
  auto *h = static_cast<LWNodeHandler *>(local);
  h->evaluate = &evaluate; // too early: a refused activation must touch nothing
  if (version != LWNODE_HVERSION) return AFUNC_BADVERSION;
  gOutput = static_cast<const LWNodeOutputFuncs *>(global(LWNODEOUTPUTFUNCS_GLOBAL, 0));
  if (!gOutput || !global(LWNODEFUNCS_GLOBAL, 0) || !global(LWNODEINPUTFUNCS_GLOBAL, 0) ||
      !global(LWNODEEDITORFUNCS_GLOBAL, 0))
    return AFUNC_BADGLOBAL;
  h->inst->create = &create;
  h->inst->destroy = &destroy;
  h->inst->copy = &copy;
  h->inst->load = &load;
  h->inst->save = &save;
  return AFUNC_OK;
}

void *startup() { return reinterpret_cast<void *>(4); }
void shutdown(void *) {}
const ServerTagInfo kTags[] = {{"Faulty", SRVTAG_USERNAME}, {"Tests", SRVTAG_NODEGROUP}, {nullptr, 0}};
ServerRecord kServers[] = {{LWNODE_HCLASS, "Faulty A", &activate, kTags},
                           {LWNODE_HCLASS, "Faulty B", &activate, kTags},
                           {nullptr, nullptr, nullptr, nullptr}};
ModuleDescriptor kDescriptor = {MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, &startup, &shutdown, kServers};

} // namespace faulty

bool has(const hostsim::ValidationReport &r, const std::string &start) {
  return std::any_of(r.lines.begin(), r.lines.end(), [&](const std::string &l) { return l.rfind(start, 0) == 0; });
}

TEST(Validate, NamesEachFaultAndItsNodeAndOutlivesACrash) {
#ifdef _WIN32
  GTEST_SKIP() << "the run outlives a crash by forking a process per check, which Windows has not";
#endif
  std::unique_ptr<hostsim::Module> m;
  ASSERT_NO_THROW(m = hostsim::Module::fromDescriptor(&faulty::kDescriptor));
  const hostsim::ValidationReport r = hostsim::validateModule(*m);
  const std::string all = joined(r);
  EXPECT_TRUE(has(r, "FAIL \"Faulty A\": a handler activation of version 2 returns 1 and touches nothing")) << all;
  EXPECT_TRUE(has(r, "FAIL \"Faulty A\": without \"NodeFuncs\" the handler activation returns 2 untouched")) << all;
  EXPECT_TRUE(has(r, "ok   \"Faulty A\": evaluates on 6 threads at once, thread numbers 0 to 15")) << all;
  EXPECT_TRUE(has(r, "FAIL \"Faulty A\": threads: crashed (signal 6")) << all;
  // The run goes on after the crash, to the second node.
  EXPECT_TRUE(has(r, "FAIL \"Faulty B\": threads: crashed")) << all;
  EXPECT_TRUE(has(r, "ok   \"Faulty B\": save, load, save gives identical text data")) << all;
  EXPECT_GE(r.failures, 2 + 2 * 4);
}

} // namespace
