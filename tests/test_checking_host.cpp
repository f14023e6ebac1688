// The host checks every call a module makes into it: a module written by
// another developer, in C against the published interface, passes the
// conformance run when it is sound (built for either interface), and each
// misuse of the interface fails it with a line naming the misuse, never only
// as a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostsim/loader.h"
#include "hostsim/network.h"
#include "hostsim/validate.h"
#include "tests/support/checked.h"

namespace {

// "variant=path,variant=path": the builds of the other module.
std::map<std::string, std::string> otherModules() {
  std::map<std::string, std::string> m;
  const std::string all = OTHER_MODULES;
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t end = std::min(all.find(',', at), all.size());
    const std::string item = all.substr(at, end - at);
    m[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
    at = end + 1;
  }
  return m;
}

hostsim::ValidationReport validate(const std::string &variant) {
  const std::string path = otherModules().at(variant);
  std::unique_ptr<hostsim::Module> m;
  EXPECT_NO_THROW(m = hostsim::Module::open(path)) << path;
  if (!m) return {};
#ifdef _WIN32
  return hostsim::validateModule(*m, false);
#else
  return hostsim::validateModule(*m);
#endif
}

std::string joined(const std::vector<std::string> &lines) {
  std::string s;
  for (const auto &l : lines) s += l + "\n";
  return s;
}

TEST(CheckingHost, ASoundModuleOfEitherInterfacePasses) {
  for (const char *variant : {"sound", "sound_sdk96"}) {
    SCOPED_TRACE(variant);
    const hostsim::ValidationReport r = validate(variant);
    EXPECT_EQ(r.failures, 0) << joined(r.lines);
    EXPECT_GT(r.lines.size(), 30u) << joined(r.lines);
  }
}

// Each misuse, with what its failed check must say.
struct Misuse {
  const char *variant;
  std::vector<std::string> says;
};

const Misuse kMisuses[] = {
    {"own_save_state",
     {"in save: \"LWVParmFuncs 2\" save, the save state: a save state the host did not hand to this save callback"}},
    {"own_load_state",
     {"in load: \"LWVParmFuncs 2\" load, the load state: a load state the host did not hand to this load callback"}},
    {"kept_load_state", {"in newTime: \"LWLoadState\" readI2", "a load state whose callback has returned"}},
    {"parameter_in_evaluate", {"in evaluate: \"LWVParmFuncs 2\" getVal: called from evaluate"}},
    {"panel_in_evaluate", {"in evaluate: \"LWXPanel\" viewRefresh: called from evaluate"}},
    {"parameter_after_destroy",
     {"in destroy: \"LWVParmFuncs 2\" setVal, the parameter: a variant parameter (from \"LWVParmFuncs 2\" create) "
      "that was destroyed"}},
    {"envelope_as_group",
     {"in create: \"LWVParmFuncs 2\" setup, the channel group: an envelope (from \"Animation Envelopes\" create) "
      "where a channel group"}},
    {"hints_without_end", {"\"LWXPanel\" hint, the hint array:", "not a panel hint tag: 0x1234"}},
    {"kept_context", {"in cleanup: \"the shading context\" rayCast: called from cleanup"}},
};

TEST(CheckingHost, EachMisuseFailsWithALineNamingIt) {
  for (const Misuse &m : kMisuses) {
    SCOPED_TRACE(m.variant);
    const hostsim::ValidationReport r = validate(m.variant);
    const std::string all = joined(r.lines);
    EXPECT_GT(r.failures, 0) << all;
    const bool named = std::any_of(r.lines.begin(), r.lines.end(), [&](const std::string &l) {
      return l.rfind("FAIL", 0) == 0 && l.find("calls the host only as the host allows") != std::string::npos &&
             std::all_of(m.says.begin(), m.says.end(), [&](const std::string &s) { return l.find(s) != std::string::npos; });
    });
    EXPECT_TRUE(named) << all;
    for (const std::string &l : r.lines) EXPECT_EQ(l.find("crashed"), std::string::npos) << l;
  }
}

// Refused is refused: the host acts on none of it, and what the node does
// next is unharmed. A module's own save state gets an error back and nothing
// of the host's is written through it; the block saves and loads whole.
TEST(CheckingHost, ARefusedCallChangesNothingOfTheHosts) {
  std::unique_ptr<hostsim::Module> m;
  ASSERT_NO_THROW(m = hostsim::Module::open(otherModules().at("own_save_state")));
  hostsim::Host host;
  {
    hostsim::Network net(host, *m);
    hostsim::HostNode *a = nullptr, *b = nullptr;
    ASSERT_NO_THROW(a = net.add("Other Value"));
    ASSERT_NO_THROW(b = net.add("Other Value"));
    hostsim::SaveStream out;
    ASSERT_NO_THROW(net.save(a, out));
    EXPECT_TRUE(testsupport::refusedOnce(host, {"node \"Other Value (1)\", in save", "one the module made itself"}));
    hostsim::LoadStream in(out.bytes());
    EXPECT_NO_THROW(net.load(b, in));
    EXPECT_TRUE(in.atEnd());
  }
  testsupport::expectNoViolations(host);
}

} // namespace
