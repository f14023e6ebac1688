#include <cmath>

#include "tests/support/host_fixture.h"
#include "tests/support/probe_node.h"

using hostsim::HostNode;
using hostsim::OutputValue;

namespace {

class Networks : public testsupport::HostFixture {
protected:
  const ModuleDescriptor *descriptor() override { return probe::descriptor(); }
  HostNode *constant(ConnectionType type, double a, double b = 0, double c = 0, int32_t i = 0) {
    OutputValue v;
    v.type = type;
    v.v[0] = a;
    v.v[1] = b;
    v.v[2] = c;
    v.i = i;
    return net->addConstant(v);
  }
};

OutputValue value(ConnectionType type, double a, double b = 0, double c = 0, int32_t i = 0) {
  OutputValue v;
  v.type = type;
  v.v[0] = a;
  v.v[1] = b;
  v.v[2] = c;
  v.i = i;
  return v;
}

TEST(Conversions, BetweenEveryPairOfTypes) {
  double d[3];
  int32_t i;
  hostsim::convertValue(value(CONN_COLOR, 1, 0, 0), CONN_SCALAR, d);
  EXPECT_DOUBLE_EQ(d[0], 0.2126);
  hostsim::convertValue(value(CONN_VECTOR, 3, 4, 0), CONN_SCALAR, d);
  EXPECT_DOUBLE_EQ(d[0], 5.0);
  hostsim::convertValue(value(CONN_INTEGER, 0, 0, 0, -7), CONN_SCALAR, d);
  EXPECT_EQ(d[0], -7.0);
  hostsim::convertValue(value(CONN_SCALAR, 0.25), CONN_COLOR, d);
  EXPECT_EQ(d[2], 0.25);
  hostsim::convertValue(value(CONN_INTEGER, 0, 0, 0, 3), CONN_VECTOR, d);
  EXPECT_EQ(d[1], 3.0);
  hostsim::convertValue(value(CONN_COLOR, 0.1, 0.2, 0.3), CONN_VECTOR, d);
  EXPECT_EQ(d[2], 0.3);
  hostsim::convertValue(value(CONN_SCALAR, 2.5), CONN_INTEGER, &i);
  EXPECT_EQ(i, 3);
  hostsim::convertValue(value(CONN_SCALAR, -2.5), CONN_INTEGER, &i);
  EXPECT_EQ(i, -3);
  hostsim::convertValue(value(CONN_SCALAR, 1e300), CONN_INTEGER, &i);
  EXPECT_EQ(i, INT32_MAX);
  hostsim::convertValue(value(CONN_SCALAR, std::nan("")), CONN_INTEGER, &i);
  EXPECT_EQ(i, 0);
  hostsim::convertValue(value(CONN_VECTOR, 0, 0, 2), CONN_INTEGER, &i);
  EXPECT_EQ(i, 2);
}

TEST_F(Networks, ConnectionsConvertAndReportConnected) {
  HostNode *p = add("Probe");
  HostNode *k = constant(CONN_INTEGER, 0, 0, 0, 4);
  const auto *in = host.nodes().inputFuncs();
  auto tint = reinterpret_cast<NodeInputID>(p->input("Tint"));
  EXPECT_EQ(in->check(tint), 0);
  ASSERT_NO_THROW(net->connect(k, "Value", p, "Tint"));
  EXPECT_EQ(in->check(tint), 1);
  OutputValue v = eval(p, "Tint");
  EXPECT_EQ(v.v[0], 4.0);
  EXPECT_EQ(v.v[2], 4.0);
  ASSERT_TRUE(net->disconnect(p, "Tint"));
  EXPECT_EQ(in->check(tint), 0);
  EXPECT_EQ(eval(p, "Tint").v[0], 0.5);
}

std::vector<std::pair<std::string, int32_t>> gEvents;
int32_t recordEvent(void *, NodeInputID input, int32_t kind, ConnectionType) {
  gEvents.emplace_back(reinterpret_cast<hostsim::NodeInput *>(input)->name, kind);
  return 1;
}

TEST_F(Networks, InputsHearOfConnectAndDisconnect) {
  HostNode *p = add("Probe");
  HostNode *a = constant(CONN_SCALAR, 1);
  HostNode *b = constant(CONN_SCALAR, 2);
  for (auto &in : p->inputs) in->event = &recordEvent;
  gEvents.clear();
  ASSERT_NO_THROW(net->connect(a, "Value", p, "Value"));
  ASSERT_NO_THROW(net->connect(b, "Value", p, "Value")); // replaces the first connection
  net->remove(b);                                     // takes its connection with it
  using E = std::vector<std::pair<std::string, int32_t>>;
  EXPECT_EQ(gEvents, (E{{"Value", NIE_CONNECT}, {"Value", NIE_DISCONNECT}, {"Value", NIE_CONNECT},
                        {"Value", NIE_INPUTNODEDESTROY}}));
  EXPECT_EQ(eval(p, "Value").scalar(), 1.0);
}

TEST_F(Networks, RefusesCyclesAndUnknownNames) {
  HostNode *p = add("Probe");
  HostNode *q = add("Probe");
  ASSERT_NO_THROW(net->connect(p, "Value", q, "Value"));
  std::string error = testsupport::thrownBy([&] { net->connect(q, "Value", p, "Value"); });
  EXPECT_NE(error.find("cycle"), std::string::npos) << error;
  EXPECT_THROW(net->connect(p, "Value", p, "Tint"), hostsim::Error);
  EXPECT_THROW(net->connect(p, "Nope", q, "Tint"), hostsim::Error);
  EXPECT_THROW(net->connect(p, "Value", q, "Nope"), hostsim::Error);
  const std::size_t before = net->nodes().size();
  error = testsupport::thrownBy([&] { net->add("Jux Nothing"); });
  EXPECT_NE(error.find("unknown node server"), std::string::npos) << error;
  EXPECT_EQ(net->nodes().size(), before);
}

TEST_F(Networks, AnOutputLeftUnsetPassesZero) {
  HostNode *p = add("Probe");
  HostNode *silent = net->addHostNode("Silent", {{"Out", CONN_COLOR}}, [](LWNodalAccess *, const hostsim::NodeOutput *,
                                                                          OutputValue *) {});
  ASSERT_NO_THROW(net->connect(silent, "Out", p, "Tint"));
  OutputValue v = eval(p, "Tint");
  EXPECT_TRUE(v.set);
  EXPECT_EQ(v.v[0], 0.0);
}

TEST_F(Networks, NodeNamesAreUniqueAndGroupsNested) {
  HostNode *a = add("Probe");
  HostNode *b = add("Probe");
  EXPECT_EQ(a->name, "Probe (1)");
  EXPECT_EQ(b->name, "Probe (2)");
  EXPECT_EQ(a->group->path(), "Surface/Probe (1)");
  EXPECT_STREQ(host.nodes().nodeFuncs()->nodeName(reinterpret_cast<NodeID>(b)), "Probe (2)");
}

TEST_F(Networks, ReloadsAWholeNetworkOrNothing) {
  HostNode *a = add("Probe");
  HostNode *b = add("Probe");
  ASSERT_NO_THROW(net->connect(constant(CONN_SCALAR, 2), "Value", a, "Value")); // host nodes are not saved
  ASSERT_NO_THROW(net->connect(a, "Value", b, "Tint"));
  hostsim::SavedNetwork saved;
  ASSERT_NO_THROW(net->saveAll(saved));
  ASSERT_EQ(saved.nodes.size(), 2u);
  ASSERT_EQ(saved.connections.size(), 1u);
  const std::size_t before = net->nodes().size();
  for (const std::vector<std::size_t> &bad : {std::vector<std::size_t>{0}, {1, 1}, {0, 2}}) {
    const std::string error = testsupport::thrownBy([&] { net->loadAll(saved, bad); });
    EXPECT_NE(error, "(no error)");
    EXPECT_EQ(net->nodes().size(), before) << error;
  }
  saved.nodes[0].block.push_back(0);
  const std::string error = testsupport::thrownBy([&] { net->loadAll(saved); });
  EXPECT_NE(error.find("unread"), std::string::npos) << error;
  EXPECT_EQ(net->nodes().size(), before);

  saved.nodes[0].block.pop_back();
  const std::vector<std::size_t> order = {1, 0};
  std::vector<HostNode *> nodes;
  ASSERT_NO_THROW(nodes = net->loadAll(saved, order));
  ASSERT_EQ(nodes.size(), 2u);
  ASSERT_TRUE(nodes[1]->input("Tint")->source);
  EXPECT_EQ(nodes[1]->input("Tint")->source->node, nodes[0]);
}

} // namespace
