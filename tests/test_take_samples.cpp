// Take Samples: the eight ways of combining, the shifts and bounds, counts
// and modes out of range, and the node's inputs, block and panel.
#include <array>

#include "tests/support/host_fixture.h"

using hostsim::HostNode;
using hostsim::OutputValue;
using Colour = std::array<double, 3>;

namespace {

enum Mode { Average, Minimum, Maximum, Darkest, Brightest, Additive, Subtractive, Multiply };

class TakeSamples : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    ts = add("Jux Take Samples");
    ASSERT_TRUE(ts);
  }
  void set(const std::string &channel, double v) {
    for (hostsim::VParm *p : ts->group->children.at(0)->channels)
      if (p->channel == channel) {
        setParam(reinterpret_cast<LWVParmID>(p), {v});
        net->newTime(1, 0.0);
        return;
      }
    FAIL() << "no channel " << channel;
  }
  void setInt(uint32_t id, int32_t v) {
    hostsim::Panel *p = openPanel(ts);
    ASSERT_TRUE(p);
    EXPECT_EQ(host.panels().callSet(*p, id, &v), 1);
  }
  void connectInt(const std::string &input, int32_t v) {
    HostNode *c = net->addConstant(OutputValue{CONN_INTEGER, {double(v), 0, 0}, v, true});
    ASSERT_NO_THROW(net->connect(c, "Value", ts, input));
  }
  // "Color" fed by a host node that hands out the given samples in turn.
  void feed(std::vector<Colour> samples) {
    HostNode *seq = net->addHostNode("Sequence", {{"Color", CONN_COLOR}},
                                     [this, samples](LWNodalAccess *, const hostsim::NodeOutput *, OutputValue *out) {
                                       const Colour &c = samples[taken++ % samples.size()];
                                       for (int k = 0; k < 3; ++k) out->v[k] = c[k];
                                       out->set = true;
                                     });
    ASSERT_NO_THROW(net->connect(seq, "Color", ts, "Color"));
  }
  Colour out() {
    const OutputValue v = eval(ts, "Color");
    return {v.v[0], v.v[1], v.v[2]};
  }
  Colour outIn(Mode m) {
    setInt(0x8001, m);
    return out();
  }

  HostNode *ts = nullptr;
  std::size_t taken = 0;
};

TEST_F(TakeSamples, InputsComeInTheOrderTheUserMeetsThem) {
  std::vector<std::string> names;
  for (const auto &in : ts->inputs) names.push_back(in->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Mode", "Samples", "Color", "R Shift", "R Low", "R High", "G Shift",
                                             "G Low", "G High", "B Shift", "B Low", "B High"}));
  ASSERT_EQ(ts->outputs.size(), 1u);
  EXPECT_EQ(ts->outputs[0]->name, "Color");
}

TEST_F(TakeSamples, UnconnectedColourGivesZeroInEveryModeAndShiftsCount) {
  for (int m = Average; m <= Multiply; ++m) EXPECT_EQ(outIn(Mode(m)), (Colour{0, 0, 0})) << m;
  set("R Shift", 0.5);
  setInt(0x8002, 4);
  for (Mode m : {Average, Minimum, Maximum, Darkest, Brightest}) EXPECT_EQ(outIn(m), (Colour{0.5, 0, 0})) << m;
  EXPECT_EQ(outIn(Additive), (Colour{2, 0, 0}));
  EXPECT_EQ(outIn(Subtractive), (Colour{-2, 0, 0}));
  EXPECT_EQ(outIn(Multiply), (Colour{0.0625, 0, 0}));
}

TEST_F(TakeSamples, CombinesSamplesInEachMode) {
  // Sums (three times the brightness): 1.125, 0.75 (darkest, first of two),
  // 1.5 (brightest), 0.75; every value exact in binary.
  feed({{0.25, 0.75, 0.125}, {0.5, 0.0, 0.25}, {0.5, 0.5, 0.5}, {0.125, 0.125, 0.5}});
  setInt(0x8002, 4);
  EXPECT_EQ(outIn(Average), (Colour{0.34375, 0.34375, 0.34375}));
  EXPECT_EQ(outIn(Minimum), (Colour{0.125, 0.0, 0.125})); // channel by channel, from different samples
  EXPECT_EQ(outIn(Maximum), (Colour{0.5, 0.75, 0.5}));
  EXPECT_EQ(outIn(Darkest), (Colour{0.5, 0.0, 0.25})); // a whole sample; the tie keeps the earlier
  EXPECT_EQ(outIn(Brightest), (Colour{0.5, 0.5, 0.5}));
  EXPECT_EQ(outIn(Additive), (Colour{1.375, 1.375, 1.375}));
  EXPECT_EQ(outIn(Subtractive), (Colour{-1.375, -1.375, -1.375}));
  EXPECT_EQ(outIn(Multiply), (Colour{0.0078125, 0, 0.0078125}));
  EXPECT_EQ(taken, 8u * 4u); // exactly Samples evaluations each time
}

TEST_F(TakeSamples, TiesKeepTheEarlierSample) {
  feed({{0.25, 0.25, 0.5}, {1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}}); // equally bright
  setInt(0x8002, 3);
  EXPECT_EQ(outIn(Brightest), (Colour{0.25, 0.25, 0.5}));
  EXPECT_EQ(outIn(Darkest), (Colour{0.25, 0.25, 0.5}));
}

TEST_F(TakeSamples, CountsBelowOneTakeOneSample) {
  feed({{0.25, 0.5, 1.0}, {1, 1, 1}});
  setInt(0x8002, 0);
  EXPECT_EQ(outIn(Average), (Colour{0.25, 0.5, 1.0}));
  EXPECT_EQ(taken, 1u);
  connectInt("Samples", -7);
  EXPECT_EQ(outIn(Subtractive), (Colour{-1, -1, -1}));
  EXPECT_EQ(taken, 2u);
}

TEST_F(TakeSamples, ModesOutOfRangeAreBroughtIntoIt) {
  set("R Shift", 0.5);
  setInt(0x8002, 4);
  connectInt("Mode", -3);
  EXPECT_EQ(out(), (Colour{0.5, 0, 0})); // Average
  connectInt("Mode", 12);
  EXPECT_EQ(out(), (Colour{0.0625, 0, 0})); // Multiply
}

TEST_F(TakeSamples, LowAboveHighEndsAtHigh) {
  feed({{0.9, 0.5, -1.0}, {-0.5, 0.05, 2.0}});
  setInt(0x8002, 2);
  setInt(0x8004, 1);
  set("R Low", 0.2);
  setInt(0x8006, 1);
  set("R High", 0.1);
  setInt(0x800e, 1); // B Low 0
  setInt(0x8010, 1); // B High 1
  const Colour c = outIn(Maximum);
  EXPECT_DOUBLE_EQ(c[0], 0.1);
  EXPECT_DOUBLE_EQ(c[1], 0.5); // green unbounded
  EXPECT_DOUBLE_EQ(c[2], 1.0);
  EXPECT_DOUBLE_EQ(outIn(Minimum)[2], 0.0);
}

TEST_F(TakeSamples, BlockAndPanel) {
  expectBlock(ts, {0, 12, 0, 0, 0, 0, 0, 0},
              {"R Shift", "R Low", "R High", "G Shift", "G Low", "G High", "B Shift", "B Low", "B High"});
  setInt(0x8001, Darkest);
  setInt(0x8002, 30);
  setInt(0x800b, 1); // G High Clamp
  set("G High", 0.25);
  const std::vector<uint8_t> bytes = save(ts);
  HostNode *other = add("Jux Take Samples");
  ASSERT_TRUE(load(other, bytes));
  EXPECT_EQ(save(other), bytes);

  hostsim::Panel *p = openPanel(other);
  ASSERT_TRUE(p);
  EXPECT_EQ(*static_cast<int32_t *>(host.panels().callGet(*p, 0x8001)), int32_t{Darkest});
  EXPECT_TRUE(host.panels().enabled(*p, *p->control(0x800c)));
  EXPECT_FALSE(host.panels().enabled(*p, *p->control(0x8007)));
  EXPECT_EQ(host.panels().callSet(*p, 0x8012, nullptr), 0);
  EXPECT_EQ(host.panels().callGet(*p, 0x8012), nullptr);
  // A connected input hides its control's value; the Clamp toggles have none.
  ASSERT_NO_THROW(net->connect(net->addConstant(OutputValue{CONN_SCALAR, {1, 0, 0}, 0, true}), "Value", other, "G High"));
  EXPECT_EQ(host.panels().callGet(*p, 0x800c), nullptr);
  EXPECT_TRUE(host.panels().callGet(*p, 0x800b));
}

} // namespace
