// The conformance run over every node of the module.
#include <gtest/gtest.h>

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
  std::string error;
  auto m = hostsim::Module::fromDescriptor(&_mod_descrip, error);
  ASSERT_TRUE(m) << error;
  const hostsim::ValidationReport r = hostsim::validateModule(*m);
  EXPECT_EQ(r.failures, 0) << joined(r);
  EXPECT_GT(r.lines.size(), 8u);
}

TEST(Validate, ReportsAServerWithoutItsInterfaceRecord) {
  std::string error;
  auto m = hostsim::Module::fromDescriptor(probe::descriptor(), error);
  ASSERT_TRUE(m) << error;
  const hostsim::ValidationReport r = hostsim::validateModule(*m);
  EXPECT_EQ(r.failures, 1) << joined(r);
  EXPECT_EQ(r.lines.front().rfind("FAIL server table", 0), 0u) << joined(r);
}

} // namespace
