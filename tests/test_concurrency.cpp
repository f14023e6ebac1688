// Evaluation from several render threads at once, as the host does it. Built
// and run under the thread sanitizer as well.
#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/host_fixture.h"
#include "tests/support/probe_node.h"

using hostsim::HostNode;

namespace {

class Concurrency : public testsupport::HostFixture {
protected:
  const ModuleDescriptor *descriptor() override { return probe::descriptor(); }
};

TEST_F(Concurrency, ThreadsEvaluateOneNetworkAtOnce) {
  HostNode *a = add("Probe");
  HostNode *b = add("Probe");
  hostsim::OutputValue k;
  k.type = CONN_SCALAR;
  k.v[0] = 2.0;
  ASSERT_TRUE(net->connect(net->addConstant(k), "Value", a, "Value"));
  ASSERT_TRUE(net->connect(a, "Value", b, "Tint"));
  ASSERT_TRUE(net->beginRender());
  net->newTime(1, 0.0);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      LWNodalAccess na = hostsim::emptyWorldContext();
      na.threadNum = t;
      for (int i = 0; i < 5000; ++i) {
        hostsim::OutputValue v = net->evaluate(b, "Tint", na);
        if (v.v[0] != 2.0 || v.v[2] != 2.0) ++wrong;
      }
    });
  for (auto &t : threads) t.join();
  net->endRender();
  EXPECT_EQ(wrong.load(), 0);
}

} // namespace
