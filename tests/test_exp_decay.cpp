// Exponential Decay (Color) and (Scalar): the decay over distance, its
// guards against division by zero and overflow, and the clamp.
#include <cmath>
#include <limits>

#include "tests/support/host_fixture.h"

using hostsim::HostNode;

namespace {

constexpr const char *kColor = "Jux Exponential Decay (Color)";
constexpr const char *kScalar = "Jux Exponential Decay (Scalar)";

class ExpDecay : public testsupport::HostFixture {
protected:
  // Connects constants to the given inputs: Distance, Nominal Distance and,
  // when given, the decayed value (colour or scalar).
  void feed(HostNode *n, double d, double nominal, std::vector<double> value = {}) {
    for (const auto &name : {"Distance", "Nominal Distance", "Color", "Scalar"}) net->disconnect(n, name);
    ASSERT_NO_THROW(net->connect(scalar(d), "Value", n, "Distance"));
    ASSERT_NO_THROW(net->connect(scalar(nominal), "Value", n, "Nominal Distance"));
    if (value.size() == 1) {
      ASSERT_NO_THROW(net->connect(scalar(value[0]), "Value", n, "Scalar"));
    }
    if (value.size() == 3) {
      HostNode *c = net->addConstant(hostsim::OutputValue{CONN_COLOR, {value[0], value[1], value[2]}, 0, true});
      ASSERT_NO_THROW(net->connect(c, "Value", n, "Color"));
    }
  }
  HostNode *scalar(double v) { return net->addConstant(hostsim::OutputValue{CONN_SCALAR, {v, 0, 0}, 0, true}); }
  void clamp(HostNode *n, bool on) {
    hostsim::Panel *p = openPanel(n);
    ASSERT_TRUE(p);
    ASSERT_NO_THROW(host.panels().editInteger(*p, control(p, "Clamp"), on ? 1 : 0));
  }
  std::vector<double> color(HostNode *n) {
    const hostsim::OutputValue v = eval(n, "Color");
    EXPECT_TRUE(v.set);
    return {v.v[0], v.v[1], v.v[2]};
  }
  double out(HostNode *n) {
    const hostsim::OutputValue v = eval(n, "Scalar");
    EXPECT_TRUE(v.set);
    return v.scalar();
  }
  using V = std::vector<double>;
};

TEST_F(ExpDecay, DefaultsAtDistancesZeroOneAndTwo) {
  HostNode *c = add(kColor), *s = add(kScalar);
  EXPECT_EQ(out(s), 0.5) << "unconnected: the parameters' defaults, distance 1";
  const V at1 = color(c);
  for (double v : at1) EXPECT_DOUBLE_EQ(v, 0.78431);
  for (HostNode *n : {c, s}) {
    hostsim::Panel *p = openPanel(n);
    ASSERT_NO_THROW(host.panels().editValues(*p, control(p, "Distance"), {2.0}));
  }
  net->newTime(1, 0.0);
  for (double v : color(c)) EXPECT_NEAR(v, 0.78431 * 0.78431, 1e-15);
  EXPECT_EQ(out(s), 0.25);
  feed(c, 0, 1);
  feed(s, 0, 1);
  EXPECT_EQ(color(c), (V{1, 1, 1}));
  EXPECT_EQ(out(s), 1.0);
}

TEST_F(ExpDecay, ClampLimitsToZeroAndOne) {
  HostNode *c = add(kColor), *s = add(kScalar);
  feed(s, 1, 1, {0.5});
  EXPECT_EQ(out(s), 1.0);
  clamp(s, false);
  EXPECT_EQ(out(s), 2.0);
  feed(s, 1, 1, {-2});
  EXPECT_EQ(out(s), -0.5);
  clamp(s, true);
  EXPECT_EQ(out(s), 0.0);

  feed(c, 1, 2, {0.25, -0.5, 4});
  EXPECT_EQ(color(c), (V{0.5, 1, 1}));
  clamp(c, false);
  EXPECT_EQ(color(c), (V{0.5, 1e12, 2})) << "a negative component has no root: the power is held at 1e-12";
}

TEST_F(ExpDecay, AZeroColourComponentStaysZeroUntilDistanceZero) {
  HostNode *c = add(kColor);
  clamp(c, false);
  feed(c, 2, 1, {0, 0.5, 1});
  EXPECT_EQ(color(c), (V{0, 0.25, 1}));
  feed(c, 0, 1, {0, 0.5, 1});
  EXPECT_EQ(color(c), (V{1, 1, 1}));
}

// A nominal distance of 0 (or not a number) stands for 1e-12: the exponent
// becomes huge, a power above 1 overflows to infinity and gives 0, one below
// 1 vanishes and is held at 1e-12, so the result stays finite.
TEST_F(ExpDecay, NominalDistanceZeroOverflowsWithoutDividingByZero) {
  HostNode *c = add(kColor), *s = add(kScalar);
  clamp(c, false);
  clamp(s, false);
  for (double nominal : {0.0, -0.0, std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(nominal);
    feed(c, 1, nominal, {0.5, 2, 1});
    EXPECT_EQ(color(c), (V{0, 1e12, 1}));
    feed(s, 1, nominal, {2});
    EXPECT_EQ(out(s), 0.0);
    feed(s, 1, nominal, {0.5});
    EXPECT_EQ(out(s), 1e12);
    feed(s, 0, nominal, {0.5});
    EXPECT_EQ(out(s), 1.0) << "0 / 1e-12 is still 0";
  }
}

TEST_F(ExpDecay, PanelsAndPersistenceDifferOnlyInTheThirdParameter) {
  for (auto [server, third, type] : {std::tuple{kColor, "Color", "color-env"}, {kScalar, "Scalar", "float-env"}}) {
    SCOPED_TRACE(server);
    HostNode *n = add(server);
    clamp(n, false);
    hostsim::Panel *p = openPanel(n);
    EXPECT_EQ(control(p, third).controlType, type);
    EXPECT_EQ(control(p, "Clamp").controlType, "iBoolean");
    ASSERT_NO_THROW(host.panels().editValues(*p, control(p, "Nominal Distance"), {3.5}));
    expectBlock(n, {0}, {"Distance", "Nominal Distance", third});
  }
}

} // namespace
