// Counter and Hold Value: their modes, per-thread state across render starts,
// and many threads evaluating one instance at once (also run under the thread
// sanitizer), including thread numbers outside the per-thread table.
#include <climits>

#include "tests/support/host_fixture.h"

using hostsim::HostNode;

namespace {

using V = std::vector<double>;

class PerThreadNode : public testsupport::HostFixture {
protected:
  explicit PerThreadNode(std::string server) : server_(std::move(server)) {}
  void SetUp() override {
    HostFixture::SetUp();
    n = add(server_);
    ASSERT_TRUE(n);
    p = openPanel(n);
    ASSERT_TRUE(p);
  }
  void mode(int32_t m) {
    ASSERT_NO_THROW(host.panels().editInteger(*p, control(p, "Mode"), m));
  }
  // A panel edit, seen by the node from the next frame on.
  void param(const std::string &label, double v) {
    ASSERT_NO_THROW(host.panels().editValues(*p, control(p, label), {v}));
    net->newTime(1, 0.0);
  }
  void connect(const std::string &input, HostNode *from) { ASSERT_NO_THROW(net->connect(from, "Value", n, input)); }
  HostNode *scalar(double v) { return net->addConstant(hostsim::OutputValue{CONN_SCALAR, {v, 0, 0}, 0, true}); }
  HostNode *integer(int32_t v) { return net->addConstant(hostsim::OutputValue{CONN_INTEGER, {}, v, true}); }
  // A host node giving the sample's pixel x (or y).
  HostNode *pixel(int32_t LWNodalAccess::*coordinate) {
    return net->addHostNode("Pixel", {{"Value", CONN_SCALAR}},
                            [coordinate](LWNodalAccess *na, const hostsim::NodeOutput *, hostsim::OutputValue *out) {
                              out->v[0] = na->*coordinate;
                              out->set = true;
                            });
  }
  // One evaluation per pixel (x, y), on one thread.
  V run(const std::vector<std::pair<int32_t, int32_t>> &pixels, int32_t thread = 0) {
    LWNodalAccess na = hostsim::emptyWorldContext();
    na.threadNum = thread;
    V out;
    for (auto [x, y] : pixels) {
      na.sx = x;
      na.sy = y;
      out.push_back(net->evaluate(n, "Out", na).scalar());
    }
    return out;
  }
  V run(int count, int32_t thread = 0) { return run(std::vector<std::pair<int32_t, int32_t>>(count), thread); }

  HostNode *n = nullptr;
  hostsim::Panel *p = nullptr;

private:
  std::string server_;
};

class Counter : public PerThreadNode {
protected:
  Counter() : PerThreadNode("Jux Counter") {}
};

class HoldValue : public PerThreadNode {
protected:
  HoldValue() : PerThreadNode("Jux Hold Value") {}
  // The input is the pixel x, A the pixel y.
  void inputXAY() {
    connect("In", pixel(&LWNodalAccess::sx));
    connect("A", pixel(&LWNodalAccess::sy));
  }
};

TEST_F(Counter, CountsAndFallsBackToTheStartValue) {
  ASSERT_NO_THROW(net->beginRender());
  param("A", 3);
  EXPECT_EQ(run(7), (V{0, 1, 2, 0, 1, 2, 0})) << "mode 0, count = A";
  mode(1);
  param("A", 2);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(6), (V{0, 1, 2, 0, 1, 2})) << "mode 1: the count 3 exceeds 2";
}

// The second output of a thread (start 0, increase 1: a count of 1 before the
// test) in each mode, at the boundaries where < and <= part.
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
    ASSERT_NO_THROW(net->beginRender());
    EXPECT_EQ(run(2), (V{0, c.second}));
    net->remove(a);
    net->remove(b);
  }
}

TEST_F(Counter, ModesFiveAndSixCompareAWithTheThreadsPreviousA) {
  connect("A", pixel(&LWNodalAccess::sx));
  const std::vector<std::pair<int32_t, int32_t>> constantA = {{7, 0}, {7, 0}, {7, 0}, {7, 0}},
                                                  changingA = {{0, 0}, {0, 0}, {1, 0}, {1, 0}, {1, 0}, {2, 0}};
  mode(5);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(constantA), (V{0, 0, 0, 0})) << "a constant A falls back every time";
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(changingA), (V{0, 0, 1, 0, 0, 1}));
  mode(6);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(constantA), (V{0, 1, 2, 3})) << "a constant A never falls back";
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(changingA), (V{0, 1, 0, 1, 2, 0}));
}

// With A = 3 <= B = 5, mode 12 falls back at every step; mode 0 (count = A)
// only when the count reaches 3.
TEST_F(Counter, ModesBeyondTheRangeAreClamped) {
  connect("A", scalar(3));
  connect("B", scalar(5));
  const V asMode12{0, 0, 0, 0}, asMode0{0, 1, 2, 0};
  for (auto [in, expected] : {std::pair{20, asMode12}, {-3, asMode0}, {INT_MIN, asMode0}}) {
    SCOPED_TRACE(in);
    HostNode *k = integer(in);
    connect("Mode", k);
    ASSERT_NO_THROW(net->beginRender());
    EXPECT_EQ(run(4), expected);
    net->remove(k);
  }
  // The same from the panel's set callback and from a stored scene.
  int32_t thirteen = 13;
  EXPECT_EQ(host.panels().callSet(*p, 0x8001, &thirteen), 1);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(4), asMode12);
  std::vector<uint8_t> block = save(n);
  block[0] = 0x80; // mode -32768
  block[1] = 0x00;
  ASSERT_TRUE(load(n, block));
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(4), asMode0);
}

// Threads with a slot count independently at once. A thread number outside
// the table gets the start value and writes nothing, so it neither disturbs a
// thread with a slot nor shares one with another thread outside the table.
TEST_F(Counter, ThreadsCountAtOnceAndThreadsWithoutASlotWriteNothing) {
  mode(1);
  param("Start Value", 5);
  param("A", 1e9);
  ASSERT_NO_THROW(net->beginRender());
  constexpr int kSamples = 3000;
  const std::vector<int32_t> threads = {0, 1, 2, 3, 63, 64, -1, 1000, INT_MAX, INT_MIN};
  for (const hostsim::ThreadRun &r : net->evaluateConcurrently(n, "Out", hostsim::emptyWorldContext(), threads, kSamples)) {
    SCOPED_TRACE(r.threadNum);
    const bool ownSlot = r.threadNum >= 0 && r.threadNum < 64;
    ASSERT_EQ(r.values.size(), std::size_t{kSamples});
    for (int k = 0; k < kSamples; ++k) ASSERT_EQ(r.values[k].scalar(), ownSlot ? 5 + k : 5) << "sample " << k;
  }
  EXPECT_EQ(run(1, 0), (V{5 + kSamples}));
  EXPECT_EQ(run(1, 62), (V{5})) << "a slot no thread used";
}

TEST_F(Counter, ANewRenderStartsEveryThreadOver) {
  mode(1);
  param("A", 1000);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(3, 0), (V{0, 1, 2}));
  EXPECT_EQ(run(2, 7), (V{0, 1}));
  net->newTime(2, 1 / 30.0);
  EXPECT_EQ(run(1, 0), (V{3})) << "a new frame does not restart";
  net->endRender();
  param("Start Value", 10);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(2, 7), (V{10, 11}));
  EXPECT_EQ(run(2, 0), (V{10, 11}));
}

TEST_F(Counter, PanelEnablesBOnlyWhenTheModeComparesAWithB) {
  const std::vector<std::string> items = {
      "Counter Equal To A", "Counter Greater Than A", "Counter Less Than A", "Counter Greater Than Or Equal To A",
      "Counter Less Than Or Equal To A", "A Does Change", "A Does Not Change", "A Equal To B", "A Not Equal To B",
      "A Greater Than B", "A Less Than B", "A Greater Than Or Equal To B", "A Less Than Or Equal To B"};
  EXPECT_EQ(control(p, "Mode").items, items);
  for (int32_t m = 0; m < 13; ++m) {
    mode(m);
    EXPECT_EQ(host.panels().enabled(*p, control(p, "B")), m >= 7) << items[m];
  }
}

TEST_F(Counter, PersistsModeThenParametersAndCopiesSettingsNotCounts) {
  mode(10);
  param("Start Value", 2);
  param("Increase Value", 0.5);
  param("A", 7);
  param("B", -1);
  expectBlock(n, {10}, {"Start Value", "Increase Value", "A", "B"});
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(3), (V{2, 2.5, 3})) << "A < B never holds";
  HostNode *copy = net->duplicate(n);
  ASSERT_TRUE(copy);
  net->newTime(1, 0.0);
  LWNodalAccess na = hostsim::emptyWorldContext();
  EXPECT_EQ(net->evaluate(copy, "Out", na).scalar(), 2.0) << "its own first sample";
  EXPECT_EQ(net->evaluate(copy, "Out", na).scalar(), 2.5);
  EXPECT_EQ(run(1), (V{3.5})) << "the source counts on";
}

// A block whose third parameter is damaged ends the load there with the
// host's error: the two parameters read before it keep what they read, the
// third and fourth and the node's own mode stay as they were.
TEST_F(Counter, ADamagedParameterEndsTheLoadThere) {
  mode(4);
  param("Start Value", 9);
  param("Increase Value", 3);
  std::vector<uint8_t> bytes = save(n);
  // Mode (2 bytes), then 16 bytes for each parameter without keys: the third
  // parameter's component count is at 34..37.
  ASSERT_EQ(bytes.size(), 2u + 4 * 16u);
  bytes[37] = 3;

  HostNode *b = add("Jux Counter");
  const auto &channels = b->group->children[0]->channels;
  ASSERT_EQ(channels.size(), 4u);
  hostsim::VParm *start = channels[0], *third = channels[2];
  ASSERT_EQ(start->channel, "Start Value");
  start->env[0].set(0.0, 1.0, hostsim::KeyShape::Linear);
  start->env[0].set(1.0, 5.0, hostsim::KeyShape::Linear);
  third->value[0] = 7;
  const std::size_t live = host.vparms().liveCount();
  std::string error;
  EXPECT_FALSE(load(b, bytes, LWIO_BINARY, &error));
  EXPECT_NE(error.find("does not match"), std::string::npos) << error;
  EXPECT_EQ(start->value[0], 9.0) << "read before the damage";
  EXPECT_TRUE(start->env[0].keys.empty()) << "its keys replaced by the block's none";
  EXPECT_EQ(channels[1]->value[0], 3.0);
  EXPECT_EQ(third->value[0], 7.0) << "the damaged parameter is not replaced";
  const std::vector<uint8_t> now = save(b);
  EXPECT_EQ((std::vector<uint8_t>(now.begin(), now.begin() + 2)), (std::vector<uint8_t>{0, 0})) << "the mode stays 0";
  ASSERT_NO_THROW(net->beginRender());
  LWNodalAccess na = hostsim::emptyWorldContext();
  EXPECT_EQ(net->evaluate(b, "Out", na).scalar(), 9.0) << "the first sample starts at the loaded Start Value";
  EXPECT_EQ(host.vparms().liveCount(), live);

  bytes[37] = 1; // the same block undamaged loads whole
  ASSERT_TRUE(load(b, bytes));
  EXPECT_EQ(save(b), save(n));
}

TEST_F(HoldValue, FirstSampleOfEveryThreadTakesTheInputWhateverTheMode) {
  inputXAY();
  for (int32_t m = 0; m < 8; ++m) {
    SCOPED_TRACE(m);
    mode(m);
    ASSERT_NO_THROW(net->beginRender());
    EXPECT_EQ(run({{4, 0}}, 0), (V{4}));
    EXPECT_EQ(run({{9, 0}}, 5), (V{9}));
  }
  net->disconnect(n, "In");
  param("Input", 2.5);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run(1), (V{2.5})) << "unconnected: the Input parameter";
}

TEST_F(HoldValue, ModesZeroOneAndTwo) {
  inputXAY();
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run({{1, 7}, {2, 7}, {3, 7}}), (V{1, 2, 3})) << "mode 0, constant A: follows the input";
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run({{1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}), (V{1, 1, 3, 3, 5})) << "holds where A changes";
  mode(1);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run({{1, 7}, {2, 7}, {3, 7}}), (V{1, 1, 1})) << "mode 1, constant A: holds the first value";
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run({{1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 2}}), (V{1, 1, 3, 3, 5})) << "takes the input where A changes";
  mode(2);
  connect("B", scalar(1));
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run({{1, 1}, {2, 1}, {3, 1}, {4, 0}, {5, 2}, {6, 1}, {7, 1}}), (V{1, 1, 1, 4, 5, 5, 5}))
      << "mode 2: holds while A = B";
}

// The second output of a thread (inputs 1, then 2) in each further mode, at
// the boundaries where < and <= part.
TEST_F(HoldValue, ModesComparingAWithBAtTheirBoundaries) {
  struct Case {
    int32_t mode;
    double a, b, second;
  };
  const Case cases[] = {
      {3, 1, 1, 2}, {3, 1, 2, 1}, {4, 1, 1, 2}, {4, 2, 1, 1}, {5, 1, 1, 2},
      {5, 1, 2, 1}, {6, 1, 1, 1}, {6, 1, 2, 2}, {7, 1, 1, 1}, {7, 2, 1, 2},
  };
  connect("In", pixel(&LWNodalAccess::sx));
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " A " << c.a << " B " << c.b);
    mode(c.mode);
    HostNode *a = scalar(c.a), *b = scalar(c.b);
    connect("A", a);
    connect("B", b);
    ASSERT_NO_THROW(net->beginRender());
    EXPECT_EQ(run({{1, 0}, {2, 0}}), (V{1, c.second}));
    net->remove(a);
    net->remove(b);
  }
}

// With A = 0 < B = 1: mode 7 takes nothing after the first sample; mode 0,
// with A constant, every input.
TEST_F(HoldValue, ModesBeyondTheRangeAreClamped) {
  inputXAY();
  connect("B", scalar(1));
  const V asMode7{1, 1, 1}, asMode0{1, 2, 3};
  for (auto [in, expected] : {std::pair{9, asMode7}, {INT_MAX, asMode7}, {-1, asMode0}}) {
    SCOPED_TRACE(in);
    HostNode *k = integer(in);
    connect("Mode", k);
    ASSERT_NO_THROW(net->beginRender());
    EXPECT_EQ(run({{1, 0}, {2, 0}, {3, 0}}), expected);
    net->remove(k);
  }
}

// Each thread's input is 1000 × its number + the sample, held for three
// samples (mode 1, A = sample / 3): a thread that read or wrote another's
// slot would see a foreign value. Threads without a slot pass their input on.
TEST_F(HoldValue, ThreadsHoldAtOnceAndThreadsWithoutASlotPassTheirInput) {
  connect("In", net->addHostNode("Input", {{"Value", CONN_SCALAR}},
                                 [](LWNodalAccess *na, const hostsim::NodeOutput *, hostsim::OutputValue *out) {
                                   out->v[0] = 1000.0 * na->threadNum + na->sx;
                                   out->set = true;
                                 }));
  connect("A", pixel(&LWNodalAccess::sy));
  mode(1);
  ASSERT_NO_THROW(net->beginRender());
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
    for (int k = 0; k < kSamples; ++k)
      ASSERT_EQ(r.values[k].scalar(), 1000.0 * r.threadNum + (ownSlot ? k - k % 3 : k)) << "sample " << k;
  }
}

TEST_F(HoldValue, ANewRenderTakesTheInputAgain) {
  inputXAY();
  mode(1);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run({{1, 0}, {2, 0}}, 3), (V{1, 1}));
  net->newTime(2, 1 / 30.0);
  EXPECT_EQ(run({{3, 0}}, 3), (V{1})) << "a new frame holds on";
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(run({{4, 0}}, 3), (V{4}));
}

TEST_F(HoldValue, PanelAndPersistence) {
  const std::vector<std::string> items = {"A Does Change",    "A Does Not Change",
                                          "A Equal To B",     "A Not Equal To B",
                                          "A Greater Than B", "A Less Than B",
                                          "A Greater Than Or Equal To B", "A Less Than Or Equal To B"};
  EXPECT_EQ(control(p, "Mode").items, items);
  for (int32_t m = 0; m < 8; ++m) {
    mode(m);
    EXPECT_EQ(host.panels().enabled(*p, control(p, "B")), m >= 2) << items[m];
  }
  mode(3);
  param("Input", 4);
  param("B", 6);
  expectBlock(n, {3}, {"Input", "A", "B"});
}

} // namespace
