#include <cmath>

#include "tests/support/host_fixture.h"

using hostsim::HostNode;

namespace {

class Sqrt : public testsupport::HostFixture {
protected:
  HostNode *constant(double v) { return net->addConstant(hostsim::OutputValue{CONN_SCALAR, {v, 0, 0}, 0, true}); }
};

TEST_F(Sqrt, OfTheAbsoluteValue) {
  HostNode *n = add("Jux Sqrt");
  EXPECT_EQ(eval(n, "Out").scalar(), 1.0) << "default input 1";
  for (auto [in, out] : {std::pair{-4.0, 2.0}, {0.0, 0.0}, {-0.0, 0.0}, {2.25, 1.5}}) {
    HostNode *k = constant(in);
    ASSERT_NO_THROW(net->connect(k, "Value", n, "In"));
    const double got = eval(n, "Out").scalar();
    EXPECT_EQ(got, out) << in;
    EXPECT_FALSE(std::signbit(got));
  }
}

TEST_F(Sqrt, ConnectedInputOverridesAnAnimatedParameter) {
  HostNode *n = add("Jux Sqrt");
  hostsim::Panel *p = openPanel(n);
  ASSERT_NO_THROW(host.panels().keyframe(*p, control(p, "Input"), 0.0, {4.0}, hostsim::KeyShape::Linear));
  ASSERT_NO_THROW(host.panels().keyframe(*p, control(p, "Input"), 1.0, {16.0}, hostsim::KeyShape::Linear));
  net->newTime(1, 0.5);
  EXPECT_EQ(eval(n, "Out").scalar(), std::sqrt(10.0));
  ASSERT_NO_THROW(net->connect(constant(81), "Value", n, "In"));
  EXPECT_EQ(eval(n, "Out").scalar(), 9.0);
}

TEST_F(Sqrt, PersistsItsParameterWithKeys) {
  HostNode *a = add("Jux Sqrt");
  hostsim::Panel *p = openPanel(a);
  ASSERT_NO_THROW(host.panels().keyframe(*p, control(p, "Input"), 2.0, {25.0}, hostsim::KeyShape::Stepped));
  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    const std::vector<uint8_t> bytes = save(a, mode);
    HostNode *b = add("Jux Sqrt");
    ASSERT_TRUE(load(b, bytes, mode));
    EXPECT_EQ(eval(b, "Out").scalar(), 5.0) << "loaded and read at time 0";
    EXPECT_EQ(save(b, mode), bytes);
  }
}

} // namespace
