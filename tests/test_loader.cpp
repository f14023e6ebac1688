// The built JuxsNodes.p, opened from disk as the host opens it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "hostsim/loader.h"
#include "hostsim/network.h"
#include "hostsim/validate.h"
#include "tests/support/checked.h"

namespace {

struct Expected {
  const char *name, *user, *group;
  bool panel;
};
// The module's servers, in the order the host lists them.
const Expected kTable[] = {
    {"Jux Ambient Occlusion", "Ambient Occlusion", "Jux's Nodes/Surfacing", true},
    {"Jux Counter", "Counter", "Jux's Nodes/Math", true},
    {"Jux Exponential Decay (Color)", "Exponential Decay (Color)", "Jux's Nodes/Math", true},
    {"Jux Exponential Decay (Scalar)", "Exponential Decay (Scalar)", "Jux's Nodes/Math", true},
    {"Jux Gaussian Reflections", "Gaussian Reflections", "Jux's Nodes/Surfacing", true},
    {"Jux Gaussian Refractions", "Gaussian Refractions", "Jux's Nodes/Surfacing", true},
    {"Jux Get Material", "Get Material", "Jux's Nodes/Tools", true},
    {"Jux Hold Value", "Hold Value", "Jux's Nodes/Math", true},
    {"Jux Pixel Image", "Pixel Image", "Jux's Nodes/Surfacing", true},
    {"Jux Render Info", "Render Info", "Jux's Nodes/Info", false},
    {"Jux Random", "Random", "Jux's Nodes/Math", true},
    {"Jux RayShade", "RayShade", "Jux's Nodes/Surfacing", true},
    {"Jux Sqrt", "Sqrt", "Jux's Nodes/Math", true},
    {"Jux Store Material", "Store Material", "Jux's Nodes/Tools", true},
    {"Jux Take Samples", "Take Samples", "Jux's Nodes/Surfacing", true},
};

std::unique_ptr<hostsim::Module> openBuilt() {
  std::unique_ptr<hostsim::Module> m;
  EXPECT_NO_THROW(m = hostsim::Module::open(JUXS_MODULE_PATH));
  return m;
}

TEST(BuiltModule, DescriptorWordsAndStartup) {
  auto m = openBuilt();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->descriptor().sysSync, 0x04121994u);
  EXPECT_EQ(m->descriptor().sysVersion, 3u);
  EXPECT_EQ(m->descriptor().sysMachine, 0x300u);
  EXPECT_EQ(m->serverData(), reinterpret_cast<void *>(4));
}

TEST(BuiltModule, ServerTableFollowsTheHostOrderInPairs) {
  auto m = openBuilt();
  ASSERT_TRUE(m);
  const auto &servers = m->servers();
  ASSERT_EQ(servers.size() % 2, 0u);
  ASSERT_FALSE(servers.empty());
  std::size_t next = 0;
  std::set<ActivateFunc> activations;
  for (std::size_t i = 0; i < servers.size(); i += 2) {
    const hostsim::ServerInfo &h = servers[i], &f = servers[i + 1];
    while (next < std::size(kTable) && h.name != kTable[next].name) ++next;
    ASSERT_LT(next, std::size(kTable)) << h.name << " is out of order or unknown";
    const Expected &e = kTable[next++];
    EXPECT_EQ(h.className, "NodeHandler");
    EXPECT_EQ(f.className, "NodeInterface");
    EXPECT_EQ(f.name, h.name);
    for (const auto *s : {&h, &f}) {
      EXPECT_EQ(s->userName, e.user);
      EXPECT_EQ(s->group, e.group);
    }
    ASSERT_NE(h.activate, nullptr);
    EXPECT_TRUE(activations.insert(h.activate).second);
    EXPECT_EQ(f.activate != nullptr, e.panel) << e.name;
    if (f.activate) {
      EXPECT_TRUE(activations.insert(f.activate).second);
    }
  }
  // The terminator is all null, and there are no more than all fifteen pairs.
  EXPECT_LE(servers.size(), 30u);
  const ServerRecord &end = m->descriptor().serverDefs[servers.size()];
  EXPECT_TRUE(!end.className && !end.name && !end.activate && !end.tagInfo);
}

TEST(BuiltModule, EveryHandlerActivatesAgainstTheStandInHost) {
  auto m = openBuilt();
  ASSERT_TRUE(m);
  hostsim::Host host;
  for (const auto &s : m->servers()) {
    if (s.className != "NodeHandler") continue;
    LWInstanceFuncs inst{};
    LWItemFuncs item{};
    LWRenderFuncs rend{};
    LWNodeHandler handler{&inst, &item, &rend, nullptr, nullptr, nullptr};
    EXPECT_EQ(m->activate(s, LWNODE_HVERSION, host.global(), &handler), AFUNC_OK) << s.name;
    EXPECT_NE(handler.evaluate, nullptr);
  }
  testsupport::expectNoViolations(host);
}

TEST(BuiltModule, RenderInfoBeforeAnyInitAnswersZeroForTheScene) {
  // A freshly loaded module: no Render Info has seen a render start yet.
  auto m = openBuilt();
  ASSERT_TRUE(m);
  hostsim::Host host;
  hostsim::Network net(host, *m);
  hostsim::HostNode *n = net.add("Jux Render Info");
  ASSERT_TRUE(n);
  LWNodalAccess na = hostsim::emptyWorldContext();
  na.sx = 3;
  for (const char *o : {"Start Frame", "End Frame", "Ray Recursion Limit", "Current Frame", "Rendered Frames"})
    EXPECT_EQ(net.evaluate(n, o, na).i, 0) << o;
  EXPECT_EQ(net.evaluate(n, "Render X", na).i, 3);
  testsupport::expectNoViolations(host);
}

// Every server the file holds, whichever nodes it has by now.
TEST(BuiltModule, EveryServerPassesTheConformanceRun) {
  auto m = openBuilt();
  ASSERT_TRUE(m);
  const hostsim::ValidationReport r = hostsim::validateModule(*m);
  std::string lines;
  for (const auto &l : r.lines) lines += l + "\n";
  EXPECT_EQ(r.failures, 0) << lines;
  EXPECT_GE(r.lines.size(), m->servers().size() / 2) << lines;
}

TEST(Loader, TheDefaultModuleLiesBesideTheProgram) {
  const std::filesystem::path self = hostsim::executablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_TRUE(self.is_absolute()) << self;
  EXPECT_TRUE(std::filesystem::is_regular_file(self)) << self;
  EXPECT_EQ(self.stem(), "test_loader") << self;
  EXPECT_EQ(hostsim::defaultModulePath(), self.parent_path() / "JuxsNodes.p");
}

TEST(Loader, RefusesFilesThatAreNotGoodModules) {
  struct Case {
    const char *path, *fault;
  } cases[] = {
      {BAD_SYNC_PATH, "wrong synchronisation word"},
      {BAD_VERSION_PATH, "unsupported descriptor version"},
      {BAD_MACHINE_PATH, "wrong machine word"},
      {NO_DESCRIPTOR_PATH, "exports no _mod_descrip"},
      {NOT_A_MODULE_PATH, "not a loadable module"},
      {"/nonexistent/JuxsNodes.p", "not a loadable module"},
      // Said before the system loader would word it as a missing library.
      {"/nonexistent/JuxsNodes.p", "(no such file)"},
  };
  for (const Case &c : cases) {
    std::string error;
    try {
      hostsim::Module::open(c.path);
      ADD_FAILURE() << c.path << " opened";
    } catch (const hostsim::Error &e) {
      error = e.what();
      EXPECT_EQ(e.file(), c.path) << "the fault names the file";
    }
    EXPECT_NE(error.find(c.fault), std::string::npos) << c.path << ": " << error;
    // The system's own reason follows, whichever system loads.
    EXPECT_EQ(error.find("unknown error"), std::string::npos) << c.path << ": " << error;
  }
  const std::string folder = testing::TempDir();
  try {
    hostsim::Module::open(folder);
    ADD_FAILURE() << folder << " opened";
  } catch (const hostsim::Error &e) {
    EXPECT_EQ(std::string(e.what()), "not a loadable module (it is a folder)");
  }
}

#ifdef HOSTSIM_PATH
// The command's exit status, or -1 when it did not exit normally.
#ifdef _WIN32
#define popen _popen
#define pclose _pclose
int exitStatus(int closeResult) { return closeResult; } // the exit code itself
#else
int exitStatus(int waitStatus) { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1; }
#endif

std::string run(const std::string &command, int &status) {
  std::string output;
  FILE *p = popen((command + " 2>&1").c_str(), "r");
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) output += buf;
  status = p ? exitStatus(pclose(p)) : -1;
  return output;
}

TEST(Command, ServersListsAndActivates) {
  int status = 0;
  const std::string out = run(std::string(HOSTSIM_PATH) + " servers " + JUXS_MODULE_PATH, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\"Jux Render Info\""), std::string::npos) << out;
  EXPECT_NE(out.find("activation 0"), std::string::npos) << out;
  EXPECT_EQ(out.find("activation 1"), std::string::npos) << out;
}

TEST(Command, PanelShowsTheNodesCreatedBeside) {
  int status = 0;
  const std::string out = run(std::string(HOSTSIM_PATH) + " panel " + JUXS_MODULE_PATH +
                                  " \"Jux Get Material\" \"Jux Store Material\" \"Jux Store Material\"",
                              status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\"Slot\" [0x8001] iPopChoice = 0 \"(none)\""), std::string::npos) << out;
  EXPECT_NE(out.find("items: \"(none)\", \"Store Material (1)\", \"Store Material (2)\"\n"), std::string::npos) << out;
}

TEST(Command, PanelAppliesSettingsFirstAndShowsWhyControlsAreDisabled) {
  int status = 0;
  const std::string base = std::string(HOSTSIM_PATH) + " panel " + JUXS_MODULE_PATH + " \"Jux Ambient Occlusion\"";
  std::string out = run(base + " --set '{\"Ranged\": false}'", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("tabs:"), std::string::npos) << out;
  EXPECT_NE(out.find("\"Srf Color\" [0x8011] color-env = 255 255 255  DISABLED: This control is only enabled in "
                     "ranged mode\n"),
            std::string::npos)
      << out;
  out = run(base + " --set '{\"Ranged\": 2'", status);
  EXPECT_EQ(status, 2) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

TEST(Command, ABadModuleGetsOneLineAndStatusTwo) {
  for (const char *path : {BAD_SYNC_PATH, NOT_A_MODULE_PATH}) {
    int status = 0;
    const std::string out = run(std::string(HOSTSIM_PATH) + " servers " + path, status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(out.rfind(std::string("hostsim: ") + path + ": ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  }
}

#else
TEST(Command, ServersListsAndActivates) { GTEST_SKIP() << "the hostsim command is built on Linux only"; }
#endif // HOSTSIM_PATH

} // namespace
