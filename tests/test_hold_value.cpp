// Hold Value: per-thread held values, the eight hold conditions, render
// starts, and many threads holding on one instance at once (also run under
// the thread sanitizer).
#include <climits>

#include "tests/support/host_fixture.h"

using hostsim::HostNode;

namespace {

// A host node whose output is a field of the shading context.
HostNode *contextField(hostsim::Network &net, int32_t LWNodalAccess::*field, double scale = 1, double offset = 0) {
  return net.addHostNode("Context", {{"Value", CONN_SCALAR}},
                         [=](LWNodalAccess *na, const hostsim::NodeOutput *, hostsim::OutputValue *out) {
                           out->v[0] = na->*field * scale + offset;
                           out->set = true;
                         });
}

class HoldValue : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    n = add("Jux Hold Value");
    ASSERT_TRUE(n);
    p = openPanel(n);
    ASSERT_TRUE(p);
  }
  void mode(int32_t m) {
    std::string error;
    ASSERT_TRUE(host.panels().editInteger(*p, control(p, "Mode"), m, &error)) << error;
  }
  void param(const std::string &label, double v) {
    std::string error;
    ASSERT_TRUE(host.panels().editValues(*p, control(p, label), {v}, &error)) << error;
    net->newTime(1, 0.0);
  }
  void connect(const std::string &input, HostNode *from) { ASSERT_TRUE(net->connect(from, "Value", n, input)); }
  HostNode *scalar(double v) { return net->addConstant(hostsim::OutputValue{CONN_SCALAR, {v, 0, 0}, 0, true}); }
  // One evaluation per (input, A) pair on one thread: the input is the
  // sample's pixel x, A its pixel y.
  std::vector<double> run(const std::vector<std::pair<int32_t, int32_t>> &samples, int32_t thread = 0) {
    LWNodalAccess na = hostsim::emptyWorldContext();
    na.threadNum = thread;
    std::vector<double> out;
    for (auto [x, y] : samples) {
      na.sx = x;
      na.sy = y;
      out.push_back(net->evaluate(n, "Out", na).scalar());
    }
    return out;
  }
  void inputFromXAFromY() {
    connect("In", contextField(*net, &LWNodalAccess::sx));
    connect("A", contextField(*net, &LWNodalAccess::sy));
  }
  using V = std::vector<double>;

  HostNode *n = nullptr;
  hostsim::Panel *p = nullptr;
};

TEST_F(HoldValue, CreatesItsParametersAndPorts) {
  expectShape(n, "Hold Value", {{"Input", LWVP_FLOAT, {1.0}}, {"A", LWVP_FLOAT, {0.0}}, {"B", LWVP_FLOAT, {0.0}}},
              {{"Mode", CONN_INTEGER}, {"In", CONN_SCALAR}, {"A", CONN_SCALAR}, {"B", CONN_SCALAR}},
              {{"Out", CONN_SCALAR}});
}

TEST_F(HoldValue, FirstSampleOfEveryThreadTakesTheInputWhateverTheMode) {
  inputFromXAFromY();
  for (int32_t m = 0; m < 8; ++m) {
    SCOPED_TRACE(m);
    mode(m);
    ASSERT_TRUE(net->beginRender());
    EXPECT_EQ(run({{4, 0}}, 0), (V{4}));
    EXPECT_EQ(run({{9, 0}}, 5), (V{9}));
  }
  // Without an input connected, the Input parameter.
  net->disconnect(n, "In");
  param("Input", 2.5);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run({{4, 0}}), (V{2.5}));
}

TEST_F(HoldValue, ModesZeroAndOneCompareAWithTheThreadsPreviousA) {
  inputFromXAFromY();
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run({{1, 7}, {2, 7}, {3, 7}}), (V{1, 2, 3})) << "mode 0, constant A: follows the input";
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run({{1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}), (V{1, 1, 3, 3, 5})) << "holds where A changes";
  mode(1);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run({{1, 7}, {2, 7}, {3, 7}}), (V{1, 1, 1})) << "mode 1, constant A: holds the first value";
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run({{1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 2}}), (V{1, 1, 3, 3, 5})) << "takes the input where A changes";
}

TEST_F(HoldValue, ModeTwoHoldsWhileAEqualsB) {
  connect("In", contextField(*net, &LWNodalAccess::sx));
  connect("A", contextField(*net, &LWNodalAccess::sy));
  connect("B", scalar(1));
  mode(2);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run({{1, 1}, {2, 1}, {3, 1}, {4, 0}, {5, 2}, {6, 1}, {7, 1}}), (V{1, 1, 1, 4, 5, 5, 5}));
}

// The second output of a thread (first input 1, second 2) for each mode that
// compares A with B, at the boundaries where < and <= part.
TEST_F(HoldValue, ModesComparingAWithBAtTheirBoundaries) {
  struct Case {
    int32_t mode;
    double a, b, second;
  };
  const Case cases[] = {
      {3, 1, 1, 2}, {3, 1, 2, 1}, {4, 1, 1, 2}, {4, 2, 1, 1}, {5, 1, 1, 2}, {5, 1, 2, 1},
      {6, 1, 1, 1}, {6, 1, 2, 2}, {7, 1, 1, 1}, {7, 2, 1, 2},
  };
  connect("In", contextField(*net, &LWNodalAccess::sx));
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " A " << c.a << " B " << c.b);
    mode(c.mode);
    HostNode *a = scalar(c.a), *b = scalar(c.b);
    connect("A", a);
    connect("B", b);
    ASSERT_TRUE(net->beginRender());
    EXPECT_EQ(run({{1, 0}, {2, 0}}), (V{1, c.second}));
    net->remove(a);
    net->remove(b);
  }
}

TEST_F(HoldValue, ModesBeyondTheRangeAreClamped) {
  inputFromXAFromY();
  connect("B", scalar(1));
  // With A = 0 < B: mode 7 takes nothing after the first sample; mode 0 with
  // a constant A takes every input.
  const V asMode7{1, 1, 1}, asMode0{1, 2, 3};
  for (auto [in, expected] : {std::pair{9, asMode7}, {INT_MAX, asMode7}, {-1, asMode0}}) {
    SCOPED_TRACE(in);
    HostNode *k = net->addConstant(hostsim::OutputValue{CONN_INTEGER, {}, in, true});
    ASSERT_TRUE(net->connect(k, "Value", n, "Mode"));
    ASSERT_TRUE(net->beginRender());
    EXPECT_EQ(run({{1, 0}, {2, 0}, {3, 0}}), expected);
    net->remove(k);
  }
  int32_t eight = 8;
  EXPECT_EQ(p->set(n->instance, 0x8001, &eight), 1);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run({{1, 0}, {2, 0}, {3, 0}}), asMode7);
}

// Each thread samples its input (1000 × its number + the sample) and holds
// it for three samples: mode 1 takes the input only when A (sample / 3)
// changes. A thread that read or wrote another's slot would see a foreign
// value; threads without a slot pass their input through.
TEST_F(HoldValue, ManyThreadsHoldAtOnce) {
  connect("In", net->addHostNode("Input", {{"Value", CONN_SCALAR}},
                                 [](LWNodalAccess *na, const hostsim::NodeOutput *, hostsim::OutputValue *out) {
                                   out->v[0] = 1000.0 * na->threadNum + na->sx;
                                   out->set = true;
                                 }));
  connect("A", contextField(*net, &LWNodalAccess::sy));
  mode(1);
  ASSERT_TRUE(net->beginRender());
  constexpr int kSamples = 3000;
  const std::vector<int32_t> threads = {0, 1, 2, 3, 62, 63, 64, -1, INT_MIN};
  const auto runs = net->evaluateConcurrently(n, "Out", hostsim::emptyWorldContext(), threads, kSamples,
                                              [](LWNodalAccess &na, int k) {
                                                na.sx = k;
                                                na.sy = k / 3;
                                              });
  for (const hostsim::ThreadRun &r : runs) {
    SCOPED_TRACE(r.threadNum);
    const bool ownSlot = r.threadNum >= 0 && r.threadNum < 64;
    for (int k = 0; k < kSamples; ++k) {
      const int held = ownSlot ? k - k % 3 : k;
      ASSERT_EQ(r.values[k].scalar(), 1000.0 * r.threadNum + held) << "sample " << k;
    }
  }
}

TEST_F(HoldValue, ANewRenderTakesTheInputAgain) {
  inputFromXAFromY();
  mode(1);
  ASSERT_TRUE(net->beginRender());
  net->newTime(1, 0.0);
  EXPECT_EQ(run({{1, 0}, {2, 0}}, 3), (V{1, 1}));
  net->newTime(2, 1 / 30.0);
  EXPECT_EQ(run({{3, 0}}, 3), (V{1})) << "a new frame holds on";
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run({{4, 0}}, 3), (V{4}));
}

TEST_F(HoldValue, PanelEnablesBOnlyWhenAModeComparesAWithB) {
  const std::vector<std::string> items = {"A Does Change",    "A Does Not Change",           "A Equal To B",
                                          "A Not Equal To B", "A Greater Than B",            "A Less Than B",
                                          "A Greater Than Or Equal To B", "A Less Than Or Equal To B"};
  EXPECT_EQ(control(p, "Mode").controlType, "iPopChoice");
  EXPECT_EQ(control(p, "Mode").items, items);
  for (int32_t m = 0; m < 8; ++m) {
    mode(m);
    EXPECT_EQ(host.panels().enabled(*p, control(p, "B")), m >= 2) << items[m];
  }
}

TEST_F(HoldValue, PersistsModeThenParametersAndCopiesSettingsNotHeldValues) {
  mode(3);
  param("Input", 4);
  param("A", -2);
  param("B", 6);
  for (int32_t io : {LWIO_BINARY, LWIO_ASCII}) {
    const std::vector<uint8_t> block = save(n, io);
    EXPECT_EQ(block, expectedBlock(n, {3}, io));
    HostNode *b = add("Jux Hold Value");
    ASSERT_TRUE(load(b, block, io));
    EXPECT_EQ(save(b, io), block);
  }
  ASSERT_TRUE(net->beginRender());
  LWNodalAccess na = hostsim::emptyWorldContext();
  EXPECT_EQ(net->evaluate(n, "Out", na).scalar(), 4.0);
  HostNode *copy = net->duplicate(n);
  ASSERT_TRUE(copy);
  EXPECT_EQ(save(copy), save(n));
}

} // namespace
