#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

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
  testsupport::InCallback asModule; // the connected test, as a panel's get asks it
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

  // A lattice of 80 layers, each node feeding both of the next layer, has
  // 2^80 paths from end to end: the cycle test walks each node once.
  std::vector<HostNode *> layer{add("Probe"), add("Probe")};
  HostNode *first = layer[0];
  for (int i = 0; i < 80; ++i) {
    std::vector<HostNode *> next{add("Probe"), add("Probe")};
    for (HostNode *a : layer) {
      ASSERT_NO_THROW(net->connect(a, "Value", next[0], a == layer[0] ? "Value" : "Tint"));
      ASSERT_NO_THROW(net->connect(a, "Value", next[1], a == layer[0] ? "Value" : "Tint"));
    }
    layer = next;
  }
  EXPECT_TRUE(net->wouldCycle(layer[1], first));
  EXPECT_FALSE(net->wouldCycle(first, layer[1]));
  EXPECT_THROW(net->connect(layer[0], "Value", first, "Tint"), hostsim::Error);
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
  testsupport::InCallback asModule;
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

// Inputs and outputs live in their node's own places: past the first block,
// through destroys and new ones taking freed places, each keeps its address
// (the module's ID) and the lists keep the order they were made in.
TEST_F(Networks, InputsAndOutputsKeepTheirAddressesAndOrderThroughChurn) {
  HostNode *node = net->addHostNode("Many", {}, nullptr);
  const NodeID id = reinterpret_cast<NodeID>(node);
  const LWNodeInputFuncs *inputs = host.nodes().inputFuncs();
  const LWNodeOutputFuncs *outputs = host.nodes().outputFuncs();
  testsupport::InCallback asModule;
  // (ID, name) in the order the host must list them.
  std::vector<std::pair<NodeInputID, std::string>> ins;
  std::vector<std::pair<NodeOutputID, std::string>> outs;
  int made = 0;
  auto makeSome = [&](int count) {
    for (int k = 0; k < count; ++k, ++made) {
      // Names past the short-string size, so that a record not destroyed leaks.
      const std::string name = "An input named at length, number " + std::to_string(made);
      ins.emplace_back(inputs->create(id, CONN_SCALAR, name.c_str(), nullptr), name);
      ASSERT_TRUE(ins.back().first);
      if (made % 3 == 0) {
        const std::string out = "An output named at length, number " + std::to_string(made);
        outs.emplace_back(outputs->create(id, CONN_COLOR, out.c_str()), out);
        ASSERT_TRUE(outs.back().first);
      }
    }
  };
  auto expectListed = [&] {
    ASSERT_EQ(inputs->numInputs(id), static_cast<int32_t>(ins.size()));
    NodeInputID walk = inputs->first(id);
    for (std::size_t i = 0; i < ins.size(); ++i) {
      SCOPED_TRACE(ins[i].second);
      EXPECT_EQ(walk, ins[i].first);
      EXPECT_EQ(inputs->byIndex(id, static_cast<int32_t>(i + 1)), ins[i].first);
      EXPECT_EQ(inputs->getIndex(id, ins[i].first), static_cast<int32_t>(i + 1));
      EXPECT_EQ(reinterpret_cast<hostsim::NodeInput *>(ins[i].first)->name, ins[i].second);
      EXPECT_EQ(inputs->node(ins[i].first), id);
      if (i > 0) {
        EXPECT_EQ(inputs->previous(ins[i].first), ins[i - 1].first);
      }
      walk = inputs->next(walk);
    }
    EXPECT_EQ(walk, nullptr);
    ASSERT_EQ(outputs->numOutputs(id), static_cast<int32_t>(outs.size()));
    NodeOutputID o = outputs->first(id);
    for (std::size_t i = 0; i < outs.size(); ++i) {
      EXPECT_EQ(o, outs[i].first);
      EXPECT_EQ(outputs->getIndex(id, outs[i].first), static_cast<int32_t>(i + 1));
      EXPECT_EQ(reinterpret_cast<hostsim::NodeOutput *>(outs[i].first)->name, outs[i].second);
      o = outputs->next(o);
    }
    EXPECT_EQ(o, nullptr);
  };
  makeSome(40); // several blocks of places
  expectListed();
  // Every third input and every other output goes, from the middle of blocks.
  for (std::size_t i = ins.size(); i-- > 0;)
    if (i % 3 == 1) {
      inputs->destroy(id, ins[i].first);
      ins.erase(ins.begin() + static_cast<std::ptrdiff_t>(i));
    }
  for (std::size_t i = outs.size(); i-- > 0;)
    if (i % 2 == 0) {
      outputs->destroy(id, outs[i].first);
      outs.erase(outs.begin() + static_cast<std::ptrdiff_t>(i));
    }
  expectListed();
  makeSome(30); // into the freed places first, listed last all the same
  expectListed();
  std::vector<const void *> addresses;
  for (const auto &in : ins) addresses.push_back(in.first);
  for (const auto &out : outs) addresses.push_back(out.first);
  std::sort(addresses.begin(), addresses.end());
  EXPECT_EQ(std::adjacent_find(addresses.begin(), addresses.end()), addresses.end()) << "two records share a place";
  // A connection to one of them holds through the churn, and goes with its node.
  HostNode *c = constant(CONN_SCALAR, 5);
  ASSERT_NO_THROW(net->connect(c, "Value", node, ins.back().second));
  EXPECT_EQ(reinterpret_cast<hostsim::NodeInput *>(ins.back().first)->source, c->outputs[0].get());
  net->remove(node);
}

// A node's removal tells every input it still feeds, however connections
// came and went before: made, replaced, cut by the user and by the host's
// own disconnect, gone with a destroyed input or with the node downstream.
TEST_F(Networks, ARemovedNodeTellsEveryInputItStillFeeds) {
  HostNode *src = add("Probe");
  HostNode *other = constant(CONN_SCALAR, 3);
  HostNode *bare = net->addHostNode("Bare", {}, nullptr);
  hostsim::NodeInput *doomed = bare->addInput(CONN_SCALAR, "Doomed");
  std::vector<HostNode *> sinks;
  for (int i = 0; i < 5; ++i) {
    sinks.push_back(add("Probe"));
    for (auto &in : sinks.back()->inputs) in->event = &recordEvent;
    ASSERT_NO_THROW(net->connect(src, "Value", sinks.back(), "Value"));
    ASSERT_NO_THROW(net->connect(src, "Tint", sinks.back(), "Tint"));
  }
  ASSERT_NO_THROW(net->connect(src, "Value", bare, "Doomed"));
  const LWNodeInputFuncs *inputs = host.nodes().inputFuncs();
  testsupport::InCallback asModule;
  auto nodeId = [](HostNode *n) { return reinterpret_cast<NodeID>(n); };
  auto inputId = [](hostsim::NodeInput *in) { return reinterpret_cast<NodeInputID>(in); };
  EXPECT_TRUE(net->disconnect(sinks[0], "Value"));
  EXPECT_TRUE(net->disconnect(sinks[3], "Value"));
  inputs->disconnect(nodeId(sinks[1]), inputId(sinks[1]->input("Value")));
  ASSERT_NO_THROW(net->connect(other, "Value", sinks[2], "Value"));
  ASSERT_NO_THROW(net->connect(src, "Value", sinks[2], "Value")); // back again,
  ASSERT_NO_THROW(net->connect(other, "Value", sinks[2], "Value")); // and away
  inputs->destroy(nodeId(bare), inputId(doomed));
  net->remove(sinks[4]);
  sinks.pop_back();
  gEvents.clear();
  net->remove(src);
  using E = std::vector<std::pair<std::string, int32_t>>;
  const std::pair<std::string, int32_t> tint{"Tint", NIE_INPUTNODEDESTROY};
  EXPECT_EQ(gEvents, E(4, tint)) << "the still connected, and only they: one a node, the last node last";
  for (HostNode *s : sinks) EXPECT_EQ(s->input("Tint")->source, nullptr);
  ASSERT_NE(sinks[2]->input("Value")->source, nullptr);
  // The constant still feeds one input: removing it tells that one.
  gEvents.clear();
  net->remove(other);
  EXPECT_EQ(gEvents, (E{{"Value", NIE_INPUTNODEDESTROY}}));
}

// A network of 100,000 nodes goes in any order, each removal telling only
// the input its node still fed: a chain of probes, each fed by the one before
// and all by one constant, removed in a shuffled order. Removal costs what the
// node's own connections cost (bench_network's removeNodes measures it);
// with a walk over the network per removal, this would take minutes.
TEST_F(Networks, AHundredThousandNodesGoInAnyOrderEachTellingWhatItFed) {
  constexpr std::size_t kCount = 100000;
  HostNode *hub = constant(CONN_SCALAR, 1);
  std::vector<HostNode *> chain;
  chain.reserve(kCount);
  for (std::size_t i = 0; i < kCount; ++i) {
    chain.push_back(add("Probe"));
    for (auto &in : chain.back()->inputs) in->event = &recordEvent;
    ASSERT_NO_THROW(net->connect(hub, "Value", chain.back(), "Tint"));
  }
  // Linked from the far end, so that each cycle test meets the longer side first.
  for (std::size_t i = kCount - 1; i > 0; --i) ASSERT_NO_THROW(net->connect(chain[i - 1], "Value", chain[i], "Value"));
  EXPECT_THROW(net->connect(chain.back(), "Value", chain.front(), "Value"), hostsim::Error) << "a cycle";
  std::vector<std::size_t> order(kCount);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(36));
  std::vector<bool> gone(kCount, false);
  std::size_t told = 0;
  gEvents.clear();
  for (std::size_t k : order) {
    told += k + 1 < kCount && !gone[k + 1]; // the next one in the chain, while it is there
    gone[k] = true;
    net->remove(chain[k]);
  }
  EXPECT_EQ(gEvents.size(), told);
  EXPECT_TRUE(std::all_of(gEvents.begin(), gEvents.end(), [](const auto &e) {
    return e == std::pair<std::string, int32_t>{"Value", NIE_INPUTNODEDESTROY};
  }));
  ASSERT_EQ(net->nodes().size(), 1u);
  EXPECT_EQ(net->nodes().front(), hub);
  EXPECT_TRUE(hub->outputs[0]->targets.empty());
}

} // namespace
