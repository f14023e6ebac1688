// The host may unload the module while render threads that drew from its
// random generator live on. Those threads must still end, and the unload must
// really let go of the file: no exit code of the module left behind in them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "hostsim/loader.h"
#include "hostsim/network.h"
#include "hostsim/paths.h"
#include "tests/support/checked.h"

namespace {

using namespace std::chrono_literals;

// Whether the file is still mapped in this process, without loading it.
bool isLoaded(const std::string &path) {
#ifdef _WIN32
  return GetModuleHandleW(hostsim::pathFromUtf8(path).wstring().c_str()) != nullptr;
#else
  void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
#endif
}

// Waits for a condition a bounded time; a thread stuck in its exit cannot be
// taken back, so the caller gives up on the whole process instead.
template <class Done>
bool waitFor(Done done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(Unload, ThreadsThatDrewEndAfterTheModuleIsGone) {
  constexpr int kThreads = 6;
  std::unique_ptr<hostsim::Module> module;
  ASSERT_NO_THROW(module = hostsim::Module::open(JUXS_MODULE_PATH));

  std::atomic<int> drawn{0}, joined{0};
  std::atomic<bool> unloaded{false};
  std::vector<double> firsts(kThreads, -1.0);
  std::vector<std::thread> threads;
  {
    hostsim::Host host;
    hostsim::Network net(host, *module);
    hostsim::HostNode *random = nullptr;
    ASSERT_NO_THROW(random = net.add("Jux Random"));
    ASSERT_NO_THROW(net.beginRender());
    net.newTime(1, 0.0);
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        LWNodalAccess na = hostsim::emptyWorldContext();
        na.threadNum = t;
        for (int i = 0; i < 2000; ++i) {
          const double v = net.evaluate(random, "Out", na).v[0];
          if (i == 0) firsts[t] = v;
        }
        ++drawn;
        // Lives on past the unload, then ends, running whatever the module
        // left to run at thread exit.
        while (!unloaded.load()) std::this_thread::sleep_for(1ms);
      });
    ASSERT_TRUE(waitFor([&] { return drawn.load() == kThreads; }, 60s)) << "the threads did not finish drawing";
    net.endRender();
    testsupport::expectNoViolations(host);
  }
  module.reset(); // shutdown, then the system unloads the file
  EXPECT_FALSE(isLoaded(JUXS_MODULE_PATH)) << "something of the module's still holds it after the unload";
  unloaded = true;

  std::thread joiner([&] {
    for (std::thread &t : threads) {
      t.join();
      ++joined;
    }
  });
  if (!waitFor([&] { return joined.load() == kThreads; }, 30s)) {
    std::fprintf(stderr, "FAIL: %d of %d threads ended after the module was unloaded; the rest hang\n", joined.load(),
                 kThreads);
    std::fflush(stderr);
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 1); // exiting would wait for the loader lock the stuck thread holds
#endif
    std::_Exit(1);
  }
  joiner.join();
  for (double v : firsts) {
    EXPECT_GE(v, 0.0);
    EXPECT_LE(v, 1.0);
  }
}

} // namespace
