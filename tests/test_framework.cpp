// The common node lifecycle, driven through a probe kind's NodeHandler server
// exactly as the host drives any node.
#include <cstring>

#include "framework/description.h"
#include "framework/lifecycle.h"
#include "tests/support/host_fixture.h"
#include "tests/support/probe_node.h"

using hostsim::HostNode;
using testsupport::instanceOf;

namespace {

class Framework : public testsupport::HostFixture {
protected:
  const ModuleDescriptor *descriptor() override { return probe::descriptor(); }

  int32_t activate(int32_t version, LWNodeHandler &handler) {
    const hostsim::ServerInfo *s = module->find(LWNODE_HCLASS, "Probe");
    return module->activate(*s, version, host.global(), &handler);
  }
  probe::Instance *probeOf(HostNode *n) { return instanceOf<probe::Instance>(n); }
};

struct HandlerRecord {
  LWInstanceFuncs inst;
  LWItemFuncs item;
  LWRenderFuncs rend;
  LWNodeHandler handler;
  HandlerRecord() {
    // Garbage the module must leave alone where it does not write.
    std::memset(this, 0xA5, sizeof *this);
    handler.inst = &inst;
    handler.item = &item;
    handler.rend = &rend;
  }
};

TEST_F(Framework, ActivationWithAnotherVersionTouchesNothing) {
  HandlerRecord r, before;
  before.handler.inst = &r.inst;
  before.handler.item = &r.item;
  before.handler.rend = &r.rend;
  EXPECT_EQ(activate(2, r.handler), AFUNC_BADVERSION);
  EXPECT_EQ(std::memcmp(&r.inst, &before.inst, sizeof r.inst), 0);
  EXPECT_EQ(std::memcmp(&r.rend, &before.rend, sizeof r.rend), 0);
  EXPECT_EQ(std::memcmp(&r.handler, &before.handler, sizeof r.handler), 0);
  EXPECT_TRUE(host.lookupLog().empty());
}

TEST_F(Framework, ActivationFillsOnlyItsMembersAndLooksUpInOrder) {
  HandlerRecord r, before;
  host.clearLookupLog();
  ASSERT_EQ(activate(LWNODE_HVERSION, r.handler), AFUNC_OK);
  EXPECT_EQ(r.inst.priv, reinterpret_cast<void *>(host.global()));
  EXPECT_NE(r.inst.create, nullptr);
  EXPECT_NE(r.rend.newTime, nullptr);
  EXPECT_NE(r.handler.evaluate, nullptr);
  EXPECT_EQ(std::memcmp(&r.inst.descln, &before.inst.descln, sizeof r.inst.descln), 0);
  EXPECT_EQ(std::memcmp(&r.item, &before.item, sizeof r.item), 0);
  EXPECT_EQ(r.handler.flags, before.handler.flags);
  const std::vector<std::string> expected = {
      "NodeFuncs", "NodeEditorFuncs", LWNODEINPUTFUNCS_GLOBAL, "NodeOutputFuncs", "System ID",
      "LW Backdrop Info 2", "LW Time Info", "LWVParmFuncs 2", "Animation Envelopes"};
  EXPECT_EQ(host.lookupLog(), expected);
}

TEST_F(Framework, MissingServiceFailsButKeepsEarlierHandles) {
  for (const char *name : {"NodeFuncs", "NodeOutputFuncs", "LW Time Info", "LWVParmFuncs 2", "Animation Envelopes"}) {
    SCOPED_TRACE(name);
    HandlerRecord r, before;
    host.withhold(name);
    EXPECT_EQ(activate(LWNODE_HVERSION, r.handler), AFUNC_BADGLOBAL);
    EXPECT_EQ(std::memcmp(&r.inst, &before.inst, sizeof r.inst), 0) << "the record stays untouched";
    host.provide(name);
  }
  HandlerRecord r;
  host.withhold("Animation Envelopes");
  ASSERT_EQ(activate(LWNODE_HVERSION, r.handler), AFUNC_BADGLOBAL);
  EXPECT_EQ(probe::services().node, host.nodes().nodeFuncs());
  EXPECT_EQ(probe::services().vparm, host.vparms().funcs());
}

TEST_F(Framework, ModelerNeedsNoBackdropOrTime) {
  HandlerRecord r;
  host.withhold("LW Backdrop Info 2");
  host.withhold("LW Time Info");
  EXPECT_EQ(activate(LWNODE_HVERSION, r.handler), AFUNC_BADGLOBAL) << "outside the modeler both are required";
  host.setSystemId(0x10000000u | 0x42u);
  EXPECT_EQ(activate(LWNODE_HVERSION, r.handler), AFUNC_OK);
  EXPECT_EQ(probe::services().backdrop, nullptr);
  EXPECT_EQ(probe::services().time, nullptr);
  host.setSystemId(0x20000000u); // some other application is not the modeler
  EXPECT_EQ(activate(LWNODE_HVERSION, r.handler), AFUNC_BADGLOBAL);
}

TEST_F(Framework, CreateSetsUpNodeParametersAndPorts) {
  HostNode *n = add("Probe");
  ASSERT_TRUE(n);
  probe::Instance *p = probeOf(n);
  EXPECT_EQ(n->color[0], 164);
  EXPECT_EQ(n->color[1], 50);
  EXPECT_EQ(n->color[2], 10);
  EXPECT_EQ(n->previewType, 2);
  EXPECT_EQ(p->node, reinterpret_cast<NodeID>(n));
  EXPECT_EQ(p->count, 3);
  EXPECT_EQ(p->value, 1.0);

  auto *group = reinterpret_cast<hostsim::ChanGroup *>(p->group);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->name, "Probe");
  EXPECT_EQ(group->parent, n->group);
  ASSERT_EQ(group->channels.size(), 2u);
  EXPECT_EQ(group->channels[0]->channel, "Value");
  EXPECT_EQ(group->channels[1]->channel, "Tint");
  EXPECT_EQ(group->channels[1]->type, LWVP_COLOR);
  EXPECT_EQ(group->channels[1]->value[1], 0.25);

  ASSERT_EQ(n->inputs.size(), 2u);
  EXPECT_EQ(n->inputs[1]->name, "Tint");
  EXPECT_EQ(n->inputs[1]->type, CONN_COLOR);
  ASSERT_EQ(n->outputs.size(), 3u);
  EXPECT_EQ(n->outputs[1]->type, CONN_INTEGER);
}

TEST_F(Framework, AllocationFailureReportsAndCreatesNothing) {
  juxs::fw::setAllocator([](std::size_t, std::size_t) -> void * { return nullptr; });
  const std::size_t liveBefore = host.vparms().liveCount();
  const std::string error = testsupport::thrownBy([&] { net->add("Probe"); });
  juxs::fw::setAllocator(nullptr);
  EXPECT_NE(error.find("Couldn't allocate memory for instance."), std::string::npos) << error;
  EXPECT_EQ(host.vparms().liveCount(), liveBefore);
  EXPECT_TRUE(net->nodes().empty());
}

TEST_F(Framework, ParameterCreationFailureLeavesItAbsent) {
  host.vparms().failNextCreates(1);
  HostNode *n = add("Probe");
  ASSERT_TRUE(n);
  EXPECT_EQ(probeOf(n)->valueParm, nullptr);
  EXPECT_NE(probeOf(n)->tintParm, nullptr);
  EXPECT_EQ(eval(n, "Value").scalar(), 1.0) << "the cached default still serves";
  hostsim::SaveStream out;
  EXPECT_THROW(net->save(n, out), hostsim::Error) << "a stream without the parameter would load out of step";
  net->remove(n);
  EXPECT_EQ(host.vparms().badHandles(), 0);
  EXPECT_EQ(host.vparms().liveCount(), 0u);
}

TEST_F(Framework, IntegerSettingsTravelAsSixteenBits) {
  HostNode *a = add("Probe");
  HostNode *b = add("Probe");
  probeOf(a)->mode = 70000;
  probeOf(a)->count = -1;
  ASSERT_TRUE(load(b, save(a)));
  EXPECT_EQ(probeOf(b)->mode, 4464);
  EXPECT_EQ(probeOf(b)->count, -1);
  probeOf(a)->mode = 40000; // above 32767: comes back negative
  ASSERT_TRUE(load(b, save(a)));
  EXPECT_EQ(probeOf(b)->mode, 40000 - 65536);
}

TEST_F(Framework, SaveLoadSaveGivesIdenticalBytes) {
  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    SCOPED_TRACE(mode);
    HostNode *a = add("Probe");
    probeOf(a)->mode = 5;
    setParam(probeOf(a)->tintParm, {0.1, 0.2, 0.3});
    host.vparms().find(probeOf(a)->valueParm)->env[0].set(1.0, 4.0, hostsim::KeyShape::Linear);
    host.vparms().find(probeOf(a)->valueParm)->env[0].set(2.0, 8.0, hostsim::KeyShape::Stepped);
    const std::vector<uint8_t> first = save(a, mode);
    HostNode *b = add("Probe");
    ASSERT_TRUE(load(b, first, mode));
    EXPECT_EQ(save(b, mode), first);
    EXPECT_EQ(probeOf(b)->value, 4.0) << "load refreshes cached values at time 0";
    EXPECT_DOUBLE_EQ(probeOf(b)->tint[2], 0.3);
  }
}

TEST_F(Framework, TruncatedStreamGivesALoadError) {
  HostNode *a = add("Probe");
  const std::vector<uint8_t> full = save(a);
  HostNode *b = add("Probe");
  for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{4}, full.size() / 2, full.size() - 1}) {
    SCOPED_TRACE(cut);
    std::string error;
    EXPECT_FALSE(load(b, std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(cut)), LWIO_BINARY, &error));
    EXPECT_FALSE(error.empty());
  }
  std::vector<uint8_t> longer = full;
  longer.push_back(0);
  std::string error;
  EXPECT_FALSE(load(b, longer, LWIO_BINARY, &error)) << "data the node does not read is not its data";
}

TEST_F(Framework, LoadStopsAtTheFirstParameterError) {
  HostNode *a = add("Probe");
  probeOf(a)->mode = 7;
  std::vector<uint8_t> bytes = save(a);
  // Integers take 4 bytes; the first parameter's component count follows.
  bytes[7] = 3; // Value claims three components
  HostNode *b = add("Probe");
  setParam(probeOf(b)->tintParm, {0.9, 0.9, 0.9});
  std::string error;
  EXPECT_FALSE(load(b, bytes, LWIO_BINARY, &error));
  EXPECT_NE(error.find("does not match"), std::string::npos) << error;
  EXPECT_EQ(host.vparms().find(probeOf(b)->tintParm)->value[0], 0.9) << "later parameters are not read";
  EXPECT_EQ(probeOf(b)->mode, 0) << "nor are the integers read before them applied";
}

TEST_F(Framework, AFailedLoadLeavesTheIntegerSettingsAsTheyWere) {
  HostNode *a = add("Probe");
  probeOf(a)->mode = 5;
  probeOf(a)->count = 6;
  const std::vector<uint8_t> full = save(a);
  HostNode *b = add("Probe");
  probeOf(b)->mode = 1;
  probeOf(b)->count = 2;
  // Cut after the first integer, and cut inside the parameters.
  for (std::size_t cut : {std::size_t{2}, full.size() - 1}) {
    SCOPED_TRACE(cut);
    std::string error;
    EXPECT_FALSE(load(b, std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(cut)), LWIO_BINARY, &error));
    EXPECT_EQ(probeOf(b)->mode, 1);
    EXPECT_EQ(probeOf(b)->count, 2);
  }
  std::string error;
  EXPECT_FALSE(load(b, {0x00, 0x05}, LWIO_BINARY, &error));
  EXPECT_EQ(b->instFuncs.load(b->instance, hostsim::LoadStream(std::vector<uint8_t>{0x00, 0x05}).state()),
            std::string(juxs::fw::kBlockDamaged)) << "the module itself says the block is damaged";
  EXPECT_EQ(probeOf(b)->mode, 1);
  ASSERT_TRUE(load(b, full));
  EXPECT_EQ(probeOf(b)->mode, 5);
  EXPECT_EQ(probeOf(b)->count, 6);
}

TEST_F(Framework, CopyLeavesCachedValuesToTheNextNewTime) {
  HostNode *a = add("Probe");
  setParam(probeOf(a)->valueParm, {7.0});
  net->newTime(1, 0.0);
  probeOf(a)->mode = 9;
  HostNode *b = nullptr;
  ASSERT_NO_THROW(b = net->duplicate(a));
  ASSERT_TRUE(b);
  EXPECT_EQ(eval(a, "Value").scalar(), 7.0);
  EXPECT_EQ(eval(b, "Value").scalar(), 1.0) << "the copy evaluates its own cached default";
  EXPECT_EQ(eval(b, "Mode").i, 9) << "integer settings are copied";
  net->newTime(2, 0.1);
  EXPECT_EQ(eval(b, "Value").scalar(), 7.0);
}

TEST_F(Framework, NewTimeReadsAnimatedParameters) {
  HostNode *a = add("Probe");
  hostsim::VParm *v = host.vparms().find(probeOf(a)->valueParm);
  v->env[0].set(0.0, 0.0, hostsim::KeyShape::Linear);
  v->env[0].set(1.0, 10.0, hostsim::KeyShape::Linear);
  net->newTime(15, 0.5);
  EXPECT_DOUBLE_EQ(eval(a, "Value").scalar(), 5.0);
}

TEST_F(Framework, ConnectedInputOverridesTheFallback) {
  HostNode *a = add("Probe");
  hostsim::OutputValue c;
  c.type = CONN_SCALAR;
  c.v[0] = -3.5;
  HostNode *k = net->addConstant(c);
  ASSERT_NO_THROW(net->connect(k, "Value", a, "Value"));
  EXPECT_EQ(eval(a, "Value").scalar(), -3.5);
  EXPECT_DOUBLE_EQ(eval(a, "Tint").v[0], 0.5) << "the unconnected input keeps the cached value";
}

TEST_F(Framework, DestroyOfNullDoesNothing) {
  HostNode *a = add("Probe");
  a->instFuncs.destroy(nullptr);
  EXPECT_EQ(a->instFuncs.copy(nullptr, a->instance), nullptr);
  EXPECT_EQ(a->instFuncs.load(nullptr, nullptr), nullptr);
  net->remove(a);
  EXPECT_EQ(host.vparms().liveCount(), 0u);
  EXPECT_EQ(host.vparms().badHandles(), 0);
}

} // namespace

// ------------------------------------------------------------- descriptions

namespace derived {

namespace fw = juxs::fw;

struct Instance {
  fw::Int a;
  int32_t b;
  fw::Param<double> p;
  fw::Param<fw::Triple> q;
  NodeID node;
  NodeInputID extra;
  NodeOutputID out;
};
fw::Services gServices;
constexpr const char *kBoth[] = {"P", "Q"};
constexpr fw::EnableRule kRule{.controller = "A", .dependants = kBoth};
constexpr fw::ControlHooks kKeepsInstance{.instanceAsData = true};
constexpr fw::Setting kSettings[] = {
    fw::thumbnail("T", 3, nullptr),
    fw::integer("A", JUXS_FIELD(a), 4).input(CONN_INTEGER).control("integer").controlHooks(&kKeepsInstance),
    fw::param("P", LWVP_FLOAT, JUXS_FIELD(p), 0.5)
        .createdPlace(1).input(CONN_SCALAR, "P In").control("float-env").enable(&kRule),
    fw::param("Q", LWVP_COLOR, JUXS_FIELD(q), 1, 2, 3).input(CONN_COLOR).control("color-env").showsOwnValue(),
    fw::integer("B", JUXS_FIELD(b), 5).savedPlace(0).notCopied().control("iBoolean").label("Bee"),
    fw::input("Extra", CONN_VECTOR, JUXS_FIELD(extra)).inputPlace(0),
};
constexpr const char *kGroupMembers[] = {"A", "P"}, *kTabMembers[] = {"G"}, *kGap[] = {"(gap)"}, *kQ[] = {"Q"};
constexpr fw::Group kLayout[] = {
    {.kind = XPTAG_GROUP, .key = "G", .label = "Group", .members = kGroupMembers},
    {.kind = 0, .key = "(gap)"},
    {.kind = XPTAG_TABS, .key = "Tabs", .members = kTabMembers},
};
constexpr fw::Hint kHints[] = {{.tag = XPTAG_DIVADD, .args = kGap, .list = kQ}};
constexpr fw::Description kNode{.record = fw::recordOf<Instance>(), .svc = &gServices,
                                .settings = kSettings, .layout = kLayout, .extra = kHints};
using T = fw::Tables<kNode>;

} // namespace derived

// Ids follow the rows with a control, then the layout (a gap included);
// inputs, parameters and integers each take their own order, explicit places
// first; every reference by key becomes the id of its row; each member holds
// its setting's value, parameter and input.
TEST(Description, DerivesEveryTableFromTheRows) {
  using derived::Instance;
  using derived::T;
  namespace fw = juxs::fw;
  ASSERT_EQ(T::controls.size(), 5u);
  const char *labels[] = {nullptr, "A", "P", "Q", "Bee"};
  for (uint32_t k = 0; k < 5; ++k) {
    EXPECT_EQ(T::controls[k].id, 0x8001 + k);
    if (labels[k]) EXPECT_STREQ(T::controls[k].label, labels[k]);
    else EXPECT_EQ(T::controls[k].label, nullptr);
  }
  EXPECT_EQ(T::controls[0].dataType, nullptr);
  EXPECT_STREQ(T::controls[1].dataType, "integer");
  EXPECT_STREQ(T::controls[3].dataType, "color-env");
  EXPECT_EQ(T::controls[2].offset, offsetof(Instance, p) + offsetof(fw::Param<double>, handle))
      << "a parameter's control edits its handle";
  EXPECT_EQ(T::controls[1].offset, offsetof(Instance, a) + offsetof(fw::Int, value));

  ASSERT_EQ(T::inputs.size(), 4u);
  EXPECT_STREQ(T::inputs[0].name, "Extra");
  EXPECT_STREQ(T::inputs[2].name, "P In");
  EXPECT_EQ(T::inputs[1].offset, offsetof(Instance, a) + offsetof(fw::Int, input));
  EXPECT_EQ(T::inputs[3].offset, offsetof(Instance, q) + offsetof(fw::Param<fw::Triple>, input));
  EXPECT_EQ(T::controls[1].input, 1);
  EXPECT_EQ(T::controls[2].input, 2);
  EXPECT_EQ(T::controls[3].input, -1) << "Q shows its own value while connected";

  ASSERT_EQ(T::ints.size(), 2u);
  EXPECT_EQ(T::ints[0].offset, offsetof(Instance, b));
  EXPECT_FALSE(T::ints[0].copied);
  EXPECT_EQ(T::ints[1].def, 4);
  ASSERT_EQ(T::params.size(), 2u);
  EXPECT_STREQ(T::params[0].channel, "Q");
  EXPECT_EQ(T::params[0].value, offsetof(Instance, q) + offsetof(fw::Param<fw::Triple>, value));
  EXPECT_EQ(T::params[0].def[2], 3.0);
  EXPECT_EQ(T::paramOrder[0], 1) << "saved in row order: P, created second, first";
  EXPECT_EQ(T::paramOrder[1], 0);

  ASSERT_EQ(T::rules.size(), 1u);
  EXPECT_EQ(T::controls[2].enable, &T::rules[0]);
  EXPECT_EQ(T::rules[0].controller, 0x8002u);
  EXPECT_EQ(std::vector<uint32_t>(T::rules[0].dependants.begin(), T::rules[0].dependants.end()),
            (std::vector<uint32_t>{0x8003, 0x8004}));
  ASSERT_EQ(T::layout.size(), 2u) << "the gap takes an id and writes no hint";
  EXPECT_EQ(T::layout[0].key, 0x8006u);
  EXPECT_EQ(std::vector<uint32_t>(T::layout[0].members.begin(), T::layout[0].members.end()),
            (std::vector<uint32_t>{0x8002, 0x8003}));
  EXPECT_EQ(T::layout[1].key, 0x8008u);
  EXPECT_EQ(T::layout[1].members[0], 0x8006u);
  ASSERT_EQ(T::extra.size(), 1u);
  EXPECT_EQ(T::extra[0].args[0], 0x8007u);
  EXPECT_EQ(T::extra[0].list[0], 0x8004u);
  EXPECT_EQ(T::panel.dataControl, 0x8002u);
}
