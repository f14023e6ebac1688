// Counter: per-thread counts, the thirteen reset conditions, render starts,
// and many threads counting on one instance at once (also run under the
// thread sanitizer).
#include <climits>

#include "tests/support/host_fixture.h"

using hostsim::HostNode;

namespace {

class Counter : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    n = add("Jux Counter");
    ASSERT_TRUE(n);
    p = openPanel(n);
    ASSERT_TRUE(p);
  }
  void mode(int32_t m) {
    std::string error;
    ASSERT_TRUE(host.panels().editInteger(*p, control(p, "Mode"), m, &error)) << error;
  }
  // A panel edit, seen by the node from the next frame on.
  void param(const std::string &label, double v) {
    std::string error;
    ASSERT_TRUE(host.panels().editValues(*p, control(p, label), {v}, &error)) << error;
    net->newTime(1, 0.0);
  }
  void connect(const std::string &input, HostNode *from, const std::string &output = "Value") {
    ASSERT_TRUE(net->connect(from, output, n, input));
  }
  HostNode *integer(int32_t v) { return net->addConstant(hostsim::OutputValue{CONN_INTEGER, {}, v, true}); }
  HostNode *scalar(double v) { return net->addConstant(hostsim::OutputValue{CONN_SCALAR, {v, 0, 0}, 0, true}); }
  // count evaluations by one thread; sx of each sample from xs when given.
  std::vector<double> run(int count, int32_t thread = 0, std::vector<int32_t> xs = {}) {
    LWNodalAccess na = hostsim::emptyWorldContext();
    na.threadNum = thread;
    std::vector<double> out;
    for (int k = 0; k < count; ++k) {
      if (!xs.empty()) na.sx = xs[static_cast<std::size_t>(k)];
      out.push_back(net->evaluate(n, "Out", na).scalar());
    }
    return out;
  }
  using V = std::vector<double>;

  HostNode *n = nullptr;
  hostsim::Panel *p = nullptr;
};

TEST_F(Counter, CreatesItsParametersAndPorts) {
  expectShape(n, "Counter",
              {{"Start Value", LWVP_FLOAT, {0.0}}, {"Increase Value", LWVP_FLOAT, {1.0}}, {"A", LWVP_FLOAT, {0.0}},
               {"B", LWVP_FLOAT, {0.0}}},
              {{"Mode", CONN_INTEGER}, {"Start Value", CONN_SCALAR}, {"Increase Value", CONN_SCALAR},
               {"A", CONN_SCALAR}, {"B", CONN_SCALAR}},
              {{"Out", CONN_SCALAR}});
}

TEST_F(Counter, CountsAndFallsBackToTheStartValue) {
  ASSERT_TRUE(net->beginRender());
  param("A", 3);
  EXPECT_EQ(run(7), (V{0, 1, 2, 0, 1, 2, 0})) << "mode 0, count = A";
  ASSERT_TRUE(net->beginRender());
  mode(1);
  param("A", 2);
  EXPECT_EQ(run(6), (V{0, 1, 2, 0, 1, 2})) << "mode 1: the count 3 exceeds 2";
  ASSERT_TRUE(net->beginRender());
  mode(4);
  param("Start Value", 10);
  param("Increase Value", -2.5);
  param("A", 5);
  EXPECT_EQ(run(4), (V{10, 7.5, 10, 7.5})) << "mode 4: 5 <= 5 falls back";
}

// The second output of a thread (start 0, increase 1, so a count of 1 before
// the test) for every mode, at the boundaries where < and <= part.
TEST_F(Counter, EveryModeAtItsBoundary) {
  struct Case {
    int32_t mode;
    double a, b, second;
  };
  const Case cases[] = {
      {0, 1, 0, 0},  {0, 2, 0, 1},  {1, 1, 0, 1},  {1, 0, 0, 0},  {2, 1, 0, 1},  {2, 2, 0, 0},
      {3, 1, 0, 0},  {3, 2, 0, 1},  {4, 1, 0, 0},  {4, 0, 0, 1},  {7, 1, 1, 0},  {7, 1, 2, 1},
      {8, 1, 1, 1},  {8, 1, 2, 0},  {9, 1, 1, 1},  {9, 2, 1, 0},  {10, 1, 1, 1}, {10, 1, 2, 0},
      {11, 1, 1, 0}, {11, 1, 2, 1}, {12, 1, 1, 0}, {12, 2, 1, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " A " << c.a << " B " << c.b);
    mode(c.mode);
    HostNode *a = scalar(c.a), *b = scalar(c.b);
    connect("A", a);
    connect("B", b);
    ASSERT_TRUE(net->beginRender());
    EXPECT_EQ(run(2), (V{0, c.second}));
    net->remove(a);
    net->remove(b);
  }
}

TEST_F(Counter, ModesFiveAndSixFollowTheThreadsPreviousA) {
  // A is the sample's pixel x.
  connect("A", net->addHostNode("Pixel X", {{"X", CONN_SCALAR}},
                                [](LWNodalAccess *na, const hostsim::NodeOutput *, hostsim::OutputValue *out) {
                                  out->v[0] = na->sx;
                                  out->set = true;
                                }),
          "X");
  mode(5);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run(4, 0, {7, 7, 7, 7}), (V{0, 0, 0, 0})) << "a constant A falls back every time";
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run(6, 0, {0, 0, 1, 1, 1, 2}), (V{0, 0, 1, 0, 0, 1}));
  mode(6);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run(4, 0, {7, 7, 7, 7}), (V{0, 1, 2, 3})) << "a constant A never falls back";
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run(6, 0, {0, 0, 1, 1, 1, 2}), (V{0, 1, 0, 1, 2, 0}));
}

// Mode 12 (A <= B, here always) falls back at every step; mode 0 (count = A)
// only when the count reaches 3.
TEST_F(Counter, ModesBeyondTheRangeAreClamped) {
  connect("A", scalar(3));
  connect("B", scalar(5));
  const V asMode12{0, 0, 0, 0}, asMode0{0, 1, 2, 0};
  for (auto [in, expected] : {std::pair{20, asMode12}, {13, asMode12}, {-3, asMode0}, {INT_MIN, asMode0}}) {
    SCOPED_TRACE(in);
    HostNode *k = integer(in);
    connect("Mode", k);
    ASSERT_TRUE(net->beginRender());
    EXPECT_EQ(run(4), expected);
    net->remove(k);
  }
  // The same from the panel's set callback and from a stored scene.
  int32_t thirteen = 13;
  EXPECT_EQ(p->set(n->instance, 0x8001, &thirteen), 1);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run(4), asMode12);
  std::vector<uint8_t> block = save(n);
  block[0] = 0x80; // mode -32768
  block[1] = 0x00;
  ASSERT_TRUE(load(n, block));
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run(4), asMode0);
}

TEST_F(Counter, ThreadsCountIndependently) {
  mode(1);
  param("A", 1000);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run(4, 0), (V{0, 1, 2, 3}));
  EXPECT_EQ(run(2, 1), (V{0, 1}));
  EXPECT_EQ(run(2, 0), (V{4, 5}));
  EXPECT_EQ(run(1, 1), (V{2})) << "thread 0 is at 5 while thread 1 is at 2";
  EXPECT_EQ(run(1, 63), (V{0})) << "the last slot";
}

TEST_F(Counter, ManyThreadsCountAtOnce) {
  mode(1);
  param("A", 1e9);
  ASSERT_TRUE(net->beginRender());
  constexpr int kSamples = 3000;
  const auto runs = net->evaluateConcurrently(n, "Out", hostsim::emptyWorldContext(), {0, 1, 2, 3, 4, 5, 6, 63}, kSamples);
  for (const hostsim::ThreadRun &r : runs) {
    SCOPED_TRACE(r.threadNum);
    ASSERT_EQ(r.values.size(), std::size_t{kSamples});
    for (int k = 0; k < kSamples; ++k) ASSERT_EQ(r.values[k].scalar(), k) << "sample " << k;
  }
}

// A thread number outside the table gets the start value and writes nothing,
// so it neither disturbs a thread that has a slot nor shares one with another
// thread outside the table.
TEST_F(Counter, ThreadNumbersOutsideTheTableWriteNothing) {
  mode(1);
  param("Start Value", 5);
  param("A", 1e9);
  ASSERT_TRUE(net->beginRender());
  constexpr int kSamples = 2000;
  const std::vector<int32_t> threads = {0, 64, -1, 65, INT_MAX, INT_MIN, 1000, 1};
  for (const hostsim::ThreadRun &r : net->evaluateConcurrently(n, "Out", hostsim::emptyWorldContext(), threads, kSamples)) {
    SCOPED_TRACE(r.threadNum);
    const bool ownSlot = r.threadNum == 0 || r.threadNum == 1;
    for (int k = 0; k < kSamples; ++k) ASSERT_EQ(r.values[k].scalar(), ownSlot ? 5 + k : 5) << "sample " << k;
  }
  EXPECT_EQ(run(1, 0), (V{5 + kSamples}));
  EXPECT_EQ(run(1, 63), (V{5})) << "untouched by the largest numbers";
}

TEST_F(Counter, ANewRenderStartsEveryThreadOver) {
  mode(1);
  param("A", 1000);
  ASSERT_TRUE(net->beginRender());
  net->newTime(1, 0.0);
  EXPECT_EQ(run(3, 0), (V{0, 1, 2}));
  EXPECT_EQ(run(2, 7), (V{0, 1}));
  net->newTime(2, 1 / 30.0);
  EXPECT_EQ(run(1, 0), (V{3})) << "a new frame does not restart";
  net->endRender();
  param("Start Value", 10);
  ASSERT_TRUE(net->beginRender());
  net->newTime(1, 0.0);
  EXPECT_EQ(run(2, 7), (V{10, 11}));
  EXPECT_EQ(run(2, 0), (V{10, 11}));
}

TEST_F(Counter, PanelEnablesBOnlyWhenAModeComparesAWithB) {
  const std::vector<std::string> items = {
      "Counter Equal To A", "Counter Greater Than A", "Counter Less Than A", "Counter Greater Than Or Equal To A",
      "Counter Less Than Or Equal To A", "A Does Change", "A Does Not Change", "A Equal To B", "A Not Equal To B",
      "A Greater Than B", "A Less Than B", "A Greater Than Or Equal To B", "A Less Than Or Equal To B"};
  hostsim::PanelControl &modeControl = control(p, "Mode");
  EXPECT_EQ(modeControl.controlType, "iPopChoice");
  EXPECT_EQ(modeControl.items, items);
  for (int32_t m = 0; m < 13; ++m) {
    mode(m);
    EXPECT_EQ(host.panels().enabled(*p, control(p, "B")), m >= 7) << items[m];
    EXPECT_TRUE(host.panels().enabled(*p, control(p, "A")));
  }
  // While the Mode input decides, the panel shows no mode.
  connect("Mode", integer(2));
  EXPECT_EQ(host.panels().value(*p, modeControl).kind, hostsim::ControlValue::None);
}

TEST_F(Counter, PersistsModeThenParametersAndCopiesSettingsNotCounts) {
  mode(10);
  param("Start Value", 2);
  param("Increase Value", 0.5);
  param("A", 7);
  param("B", -1);
  ASSERT_TRUE(net->beginRender());
  EXPECT_EQ(run(3), (V{2, 2.5, 3})) << "A < B never holds";
  for (int32_t io : {LWIO_BINARY, LWIO_ASCII}) {
    const std::vector<uint8_t> block = save(n, io);
    EXPECT_EQ(block, expectedBlock(n, {10}, io));
    HostNode *b = add("Jux Counter");
    ASSERT_TRUE(load(b, block, io));
    EXPECT_EQ(save(b, io), block);
  }

  HostNode *copy = net->duplicate(n);
  ASSERT_TRUE(copy);
  EXPECT_EQ(save(copy), save(n));
  net->newTime(1, 0.0);
  LWNodalAccess na = hostsim::emptyWorldContext();
  EXPECT_EQ(net->evaluate(copy, "Out", na).scalar(), 2.0) << "its own first sample";
  EXPECT_EQ(net->evaluate(copy, "Out", na).scalar(), 2.5);
  EXPECT_EQ(run(1), (V{3.5})) << "the source counts on";
}

} // namespace
