// Store Material and Get Material: the registry they share, persistence in any
// load order, duplicates, full lists and destroyed nodes. Every test opens its
// own copy of the built module, so identifiers count from 1 and no earlier
// test's nodes are listed.
#include <algorithm>
#include <string>
#include <vector>

#include "nodes/material/material.h"
#include "tests/support/host_fixture.h"

using hostsim::HostNode;
using hostsim::OutputValue;
using juxs::material::GetMaterial;
using juxs::material::StoreMaterial;
using testsupport::instanceOf;

namespace {

class Material : public testsupport::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    net.reset();
    ASSERT_NO_THROW(module = hostsim::Module::open(JUXS_MODULE_PATH));
    net = std::make_unique<hostsim::Network>(host, *module);
  }

  HostNode *store() { return add("Jux Store Material"); }
  HostNode *get() { return add("Jux Get Material"); }
  static StoreMaterial &storeOf(HostNode *n) { return *instanceOf<StoreMaterial>(n); }
  static GetMaterial &getOf(HostNode *n) { return *instanceOf<GetMaterial>(n); }

  std::vector<std::string> items(HostNode *g) {
    hostsim::Panel *p = openPanel(g);
    std::vector<std::string> out;
    for (int32_t i = 0; i < host.panels().popupCount(*p, control(p, "Slot")); ++i)
      out.push_back(host.panels().popupItem(*p, control(p, "Slot"), i));
    return out;
  }
  void choose(HostNode *g, int32_t item) {
    hostsim::Panel *p = openPanel(g);
    ASSERT_NO_THROW(host.panels().editInteger(*p, control(p, "Slot"), item));
  }
  HostNode *scalar(double v) { return net->addConstant(OutputValue{CONN_SCALAR, {v, 0, 0}, 0, true}); }
  // A node's block as the stream holds it: 16-bit integers, then an optional string.
  static std::vector<uint8_t> block(std::initializer_list<int16_t> ints, const char *text = nullptr) {
    hostsim::SaveStream out;
    for (int16_t v : ints) out.state()->writeI2(out.state()->writeData, &v, 1);
    if (text) out.state()->writeStr(out.state()->writeData, text);
    return out.bytes();
  }
};

TEST_F(Material, IdentifiersPositionsAndDeletingTheSecond) {
  HostNode *a = store(), *b = store(), *c = store();
  EXPECT_EQ(storeOf(a).identifier, 1);
  EXPECT_EQ(storeOf(b).identifier, 2);
  EXPECT_EQ(storeOf(c).identifier, 3);
  HostNode *g = get();
  EXPECT_EQ(items(g), (std::vector<std::string>{"(none)", "Store Material (1)", "Store Material (2)",
                                                "Store Material (3)"}));
  ASSERT_NO_THROW(net->connect(scalar(3.0), "Value", c, "Scalar"));
  choose(g, 3);
  EXPECT_EQ(getOf(g).position, 3);
  EXPECT_EQ(getOf(g).identifier, 3);

  net->remove(b);
  EXPECT_EQ(items(g), (std::vector<std::string>{"(none)", "Store Material (1)", "Store Material (3)"}));
  EXPECT_EQ(storeOf(c).identifier, 3);
  // The Get Material keeps its position, now past the list, until chosen again;
  // its identifier still finds the third.
  EXPECT_NE(host.panels().describe(*openPanel(g), "").find("= 3 \"(error)\""), std::string::npos);
  ASSERT_NO_THROW(net->beginRender());
  const OutputValue v = eval(g, "Scalar");
  EXPECT_TRUE(v.set);
  EXPECT_EQ(v.scalar(), 3.0);
  EXPECT_EQ(storeOf(store()).identifier, 4) << "identifiers are never handed out twice";
}

TEST_F(Material, LoadingRaisesTheRunningIdentifierAndRepointsGets) {
  store();
  store();
  HostNode *g = get(), *other = get();
  ASSERT_TRUE(load(g, block({9, 7})));
  ASSERT_TRUE(load(other, block({4, 5})));
  HostNode *x = store();
  EXPECT_EQ(storeOf(x).identifier, 3);

  ASSERT_TRUE(load(x, block({7}, "Seven")));
  EXPECT_EQ(storeOf(x).identifier, 7);
  EXPECT_STREQ(storeOf(x).name, "Seven");
  EXPECT_EQ(getOf(g).position, 3) << "re-pointed to where identifier 7 now sits";
  EXPECT_EQ(getOf(other).position, 4) << "refers to another identifier";
  EXPECT_EQ(storeOf(store()).identifier, 8);

  // A block saved before any identifier was given gets one as it registers.
  HostNode *y = store();
  ASSERT_TRUE(load(y, block({-1}, "Fresh")));
  EXPECT_EQ(storeOf(y).identifier, 10);
  EXPECT_EQ(save(y), block({10}, "Fresh"));
}

TEST_F(Material, TwoStoresWithOneIdentifierResolveToTheEarlier) {
  HostNode *a = store(), *b = store();
  ASSERT_TRUE(load(b, block({1}, "Twin")));
  ASSERT_NO_THROW(net->connect(scalar(1.0), "Value", a, "Scalar"));
  ASSERT_NO_THROW(net->connect(scalar(2.0), "Value", b, "Scalar"));
  HostNode *g = get();
  EXPECT_EQ(items(g), (std::vector<std::string>{"(none)", "Store Material (1)", "Twin"}));
  choose(g, 2);
  EXPECT_EQ(getOf(g).identifier, 1);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(eval(g, "Scalar").scalar(), 1.0);
}

TEST_F(Material, NoneNeverResolvesEvenToAStoreWithIdentifierZero) {
  HostNode *s = store();
  ASSERT_TRUE(load(s, block({0}, "Damaged")));
  ASSERT_NO_THROW(net->connect(scalar(5.0), "Value", s, "Scalar"));
  HostNode *g = get();
  ASSERT_EQ(getOf(g).identifier, 0);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_FALSE(eval(g, "Scalar").set);
}

TEST_F(Material, AStoreFedByItsOwnGetDoesNotRecurseForEver) {
  HostNode *s = store();
  HostNode *g = get();
  choose(g, 1);
  // The host sees no cycle: Get Material's link to its Store Material is the module's own.
  ASSERT_NO_THROW(net->connect(g, "Color", s, "Color"));
  ASSERT_NO_THROW(net->connect(g, "Scalar", s, "Scalar"));
  ASSERT_NO_THROW(net->beginRender());
  const OutputValue c = eval(g, "Color");
  EXPECT_TRUE(c.set);
  EXPECT_EQ(c.v[0], 0.0);
  EXPECT_EQ(eval(s, "Scalar").scalar(), 0.0);
  net->endRender();
}

TEST_F(Material, FullListsRefuseTheSixtyFifth) {
  std::vector<HostNode *> stores, gets;
  for (int i = 0; i < 64; ++i) stores.push_back(store());
  for (int i = 0; i < 64; ++i) gets.push_back(get());
  HostNode *late = store();
  HostNode *refused = get();
  EXPECT_EQ(storeOf(late).identifier, -1);
  std::vector<std::string> names = items(refused);
  EXPECT_EQ(names.size(), 65u);
  EXPECT_EQ(std::count(names.begin(), names.end(), late->name), 0);

  // A freed place does not list the refused one; its next load does.
  net->remove(stores[0]);
  EXPECT_EQ(items(refused).size(), 64u);
  ASSERT_TRUE(load(late, block({-1}, "Late")));
  EXPECT_EQ(storeOf(late).identifier, 65);
  EXPECT_EQ(items(refused).back(), "Late");

  // A refused Get Material is not re-pointed, yet still resolves.
  ASSERT_TRUE(load(gets[0], block({1, 40})));
  ASSERT_TRUE(load(refused, block({1, 40})));
  ASSERT_NO_THROW(net->connect(scalar(5.0), "Value", stores[39], "Scalar"));
  ASSERT_TRUE(load(stores[39], save(stores[39])));
  EXPECT_EQ(getOf(gets[0]).position, 39);
  EXPECT_EQ(getOf(refused).position, 1);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(eval(refused, "Scalar").scalar(), 5.0);
}

TEST_F(Material, SaveAndReloadInEitherOrder) {
  store(); // takes position 1 when loaded first
  HostNode *s = store();
  HostNode *root = add("Jux Sqrt");
  hostsim::Panel *p = openPanel(root);
  ASSERT_NO_THROW(host.panels().editValues(*p, control(p, "Input"), {16.0}));
  ASSERT_NO_THROW(net->connect(root, "Out", s, "Scalar"));
  choose(get(), 2);

  struct Order {
    std::vector<std::size_t> sequence;
    int32_t position; // where the Get Material's popup ends up
  };
  // Loaded after the Get Material, the chosen Store Material re-points it to
  // its new place; loaded before, the Get Material keeps its saved position.
  const Order orders[] = {{{3, 1, 2, 0}, 1}, {{0, 1, 2, 3}, 2}};
  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    SCOPED_TRACE(mode);
    hostsim::SavedNetwork saved;
    ASSERT_NO_THROW(net->saveAll(saved, mode));
    ASSERT_EQ(saved.nodes.size(), 4u);
    ASSERT_EQ(saved.connections.size(), 1u);
    for (const Order &o : orders) {
      while (!net->nodes().empty()) net->remove(net->nodes().back());
      std::vector<HostNode *> nodes;
      ASSERT_NO_THROW(nodes = net->loadAll(saved, o.sequence));
      ASSERT_EQ(nodes.size(), 4u);
      EXPECT_EQ(getOf(nodes[3]).identifier, 2);
      EXPECT_EQ(getOf(nodes[3]).position, o.position);
      ASSERT_NO_THROW(net->beginRender());
      EXPECT_EQ(eval(nodes[3], "Scalar").scalar(), 4.0);
      net->endRender();
    }
  }
}

TEST_F(Material, ADuplicateIsNotListed) {
  HostNode *a = store();
  hostsim::Panel *p = openPanel(a);
  ASSERT_NO_THROW(host.panels().editText(*p, control(p, "Name"), "Marble"));
  HostNode *g = get();
  EXPECT_EQ(items(g), (std::vector<std::string>{"(none)", "Marble"})) << "renamed at once";
  choose(g, 1);

  HostNode *copy = net->duplicate(a);
  ASSERT_TRUE(copy);
  EXPECT_STREQ(storeOf(copy).name, "Marble");
  EXPECT_EQ(storeOf(copy).identifier, 2) << "its own, not the source's";
  EXPECT_EQ(items(g), (std::vector<std::string>{"(none)", "Marble"}));

  HostNode *gcopy = net->duplicate(g);
  ASSERT_TRUE(gcopy);
  EXPECT_EQ(getOf(gcopy).position, 1);
  EXPECT_EQ(getOf(gcopy).identifier, 1);
  // Only the listed Get Material follows a Store Material that registers again.
  store();
  net->remove(a);
  ASSERT_TRUE(load(copy, block({1}, "Marble")));
  EXPECT_EQ(getOf(g).position, 2);
  EXPECT_EQ(getOf(gcopy).position, 1);
}

// Under the address sanitizer a read of a freed Store Material fails the run.
TEST_F(Material, ADestroyedStoreIsNeverEvaluated) {
  HostNode *s = store();
  ASSERT_NO_THROW(net->connect(scalar(2.0), "Value", s, "Color"));
  HostNode *listed = get();
  choose(listed, 1);
  HostNode *copied = net->duplicate(listed);
  for (int i = 0; i < 63; ++i) get();
  HostNode *refused = get();
  ASSERT_TRUE(load(refused, block({1, 1})));
  const std::vector<HostNode *> gets = {listed, copied, refused};

  ASSERT_NO_THROW(net->beginRender());
  for (HostNode *g : gets) EXPECT_EQ(eval(g, "Color").v[1], 2.0) << g->name;
  net->remove(s);
  for (HostNode *g : gets)
    for (const char *out : {"Color", "Scalar", "Vector", "Integer"}) EXPECT_FALSE(eval(g, out).set) << g->name << out;
  net->endRender();

  // Copied over, a Store Material is unlisted and as good as gone.
  HostNode *t = store(), *source = store();
  HostNode *g = get();
  choose(g, 1);
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_TRUE(eval(g, "Color").set);
  ASSERT_EQ(t->instFuncs.copy(t->instance, source->instance), nullptr);
  EXPECT_FALSE(eval(g, "Color").set);
}

TEST_F(Material, GetEvaluatesTheStoreInputsInItsOwnContext) {
  HostNode *s = store();
  for (const char *out : {"Color", "Scalar", "Vector", "Integer"}) {
    const OutputValue v = eval(s, out);
    EXPECT_TRUE(v.set) << out;
    EXPECT_EQ(v.v[0] + v.v[1] + v.v[2] + v.i, 0.0) << out;
  }
  // A network upstream of the Store Material that reads the sample's pixel.
  HostNode *pixel = net->addHostNode("Pixel", {{"X", CONN_SCALAR}, {"Y", CONN_VECTOR}},
                                     [](LWNodalAccess *na, const hostsim::NodeOutput *o, OutputValue *out) {
                                       out->v[0] = o->name == "X" ? na->sx : 0.0;
                                       out->v[2] = o->name == "Y" ? na->sy : 0.0;
                                       out->set = true;
                                     });
  ASSERT_NO_THROW(net->connect(pixel, "X", s, "Scalar"));
  ASSERT_NO_THROW(net->connect(pixel, "X", s, "Integer"));
  ASSERT_NO_THROW(net->connect(pixel, "Y", s, "Vector"));
  HostNode *g = get();
  EXPECT_EQ(items(g).size(), 2u);

  ASSERT_NO_THROW(net->beginRender());
  EXPECT_FALSE(eval(g, "Scalar").set) << "nothing chosen";
  choose(g, 1);
  EXPECT_FALSE(eval(g, "Scalar").set) << "a choice waits for the next render start";
  ASSERT_NO_THROW(net->beginRender());
  LWNodalAccess na = hostsim::emptyWorldContext();
  na.sx = 7;
  na.sy = 11;
  EXPECT_EQ(net->evaluate(g, "Scalar", na).scalar(), 7.0);
  EXPECT_EQ(net->evaluate(g, "Integer", na).i, 7);
  EXPECT_EQ(net->evaluate(g, "Vector", na).v[2], 11.0);
  na.sx = 9;
  EXPECT_EQ(net->evaluate(g, "Scalar", na).scalar(), 9.0);

  choose(g, 0);
  EXPECT_EQ(getOf(g).position, 0);
  EXPECT_EQ(getOf(g).identifier, 0);
  EXPECT_EQ(net->evaluate(g, "Scalar", na).scalar(), 9.0) << "still this render's choice";
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_FALSE(net->evaluate(g, "Scalar", na).set);
}

TEST_F(Material, NamesAreCutToFitWithoutSplittingACharacter) {
  const std::string cutInE = std::string(254, 'a') + "\xC3\xA9";         // 'é' across the 255-byte limit
  const std::string cutInEuro = std::string(253, 'a') + "\xE2\x82\xAC"; // '€' across it
  const std::string fits = std::string(253, 'a') + "\xC3\xA9";          // ends exactly at the limit
  HostNode *named = nullptr;
  ASSERT_NO_THROW(named = net->add("Jux Store Material", cutInE));
  ASSERT_TRUE(named);
  EXPECT_EQ(std::string(storeOf(named).name), std::string(254, 'a')) << "from the host";

  HostNode *s = store();
  hostsim::Panel *p = openPanel(s);
  ASSERT_NO_THROW(host.panels().editText(*p, control(p, "Name"), cutInEuro));
  EXPECT_EQ(std::string(storeOf(s).name), std::string(253, 'a')) << "from the panel";

  for (const std::string &name : {cutInE, cutInEuro, fits})
    for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
      hostsim::SaveStream out(mode);
      const int16_t id = 4;
      out.state()->writeI2(out.state()->writeData, &id, 1);
      out.state()->writeStr(out.state()->writeData, name.c_str());
      ASSERT_TRUE(load(s, out.bytes(), mode));
      const std::string want = name == fits ? fits : name.substr(0, name.find_first_not_of('a'));
      EXPECT_EQ(std::string(storeOf(s).name), want) << "from the stream";
    }
  EXPECT_EQ(save(s), block({4}, fits.c_str()));

  // A host whose string read fills the buffer and leaves off the terminator.
  LWLoadState ls{};
  ls.readI2 = [](void *, int16_t *v, int32_t) -> int32_t {
    *v = 4;
    return 1;
  };
  ls.readStr = [](void *, char *buf, int32_t max) -> int32_t {
    std::fill(buf, buf + max, 'z');
    return max;
  };
  ASSERT_EQ(s->instFuncs.load(s->instance, &ls), nullptr);
  EXPECT_EQ(std::string(storeOf(s).name), std::string(255, 'z'));
}

// A long session as a user has one, round by round: a Store Material made
// and chosen, saved, its block loaded into another, saved again, both
// deleted. Two identifiers a round: past round 32,767 they no longer fit in
// 15 bits, and every one must still come back from its own 16 saved bits as
// it went, and still be found.
TEST_F(Material, ALongSessionsIdentifiersSurviveTheirSixteenSavedBits) {
  HostNode *g = get();
  for (int round = 1; round <= 33000; ++round) {
    HostNode *s = store();
    choose(g, 1);
    const std::vector<uint8_t> first = save(s);
    HostNode *t = store();
    ASSERT_TRUE(load(t, first));
    ASSERT_EQ(save(t), first) << "round " << round;
    ASSERT_EQ(storeOf(t).identifier, storeOf(s).identifier) << "round " << round;
    net->remove(s);
    ASSERT_NO_THROW(net->beginRender());
    ASSERT_TRUE(eval(g, "Scalar").set) << "round " << round << ": the Get Material lost identifier "
                                       << storeOf(t).identifier;
    net->endRender();
    net->remove(t);
  }
}

// Networks of Store Materials each fed its own value, saved whole, deleted
// and loaded again.
class MaterialNetwork : public Material {
protected:
  // A Store Material fed value (the square root of its square: a node that
  // is saved with the network, as a constant is not) and a Get Material
  // that chooses it by its name.
  HostNode *pairFed(double value, const std::vector<uint8_t> &storeBlock = {}) {
    HostNode *s = store();
    if (!storeBlock.empty()) {
      EXPECT_TRUE(load(s, storeBlock));
    }
    HostNode *root = add("Jux Sqrt");
    hostsim::Panel *p = openPanel(root);
    EXPECT_NO_THROW(host.panels().editValues(*p, control(p, "Input"), {value * value}));
    EXPECT_NO_THROW(net->connect(root, "Out", s, "Scalar"));
    HostNode *g = get();
    const std::vector<std::string> names = items(g);
    const auto it = std::find(names.begin(), names.end(), storeOf(s).name);
    EXPECT_NE(it, names.end());
    choose(g, static_cast<int32_t>(it - names.begin()));
    EXPECT_EQ(getOf(g).identifier, storeOf(s).identifier);
    return s;
  }
  // Saves every node, deletes them all, loads them in the order saved or the
  // reverse; the Get Materials, in the order saved, fetch wanted. (A load in
  // reverse lists the nodes in reverse for the next save.)
  void expectEachGetFetchesItsOwn(const std::vector<double> &wanted, bool reversed) {
    hostsim::SavedNetwork saved;
    ASSERT_NO_THROW(net->saveAll(saved, LWIO_BINARY));
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < saved.nodes.size(); ++i) order.push_back(reversed ? saved.nodes.size() - 1 - i : i);
    while (!net->nodes().empty()) net->remove(net->nodes().back());
    std::vector<HostNode *> nodes;
    ASSERT_NO_THROW(nodes = net->loadAll(saved, order));
    ASSERT_EQ(nodes.size(), saved.nodes.size());
    std::vector<HostNode *> gets;
    for (HostNode *n : nodes)
      if (n->serverName == "Jux Get Material") gets.push_back(n);
    ASSERT_EQ(gets.size(), wanted.size());
    ASSERT_NO_THROW(net->beginRender());
    for (std::size_t i = 0; i < gets.size(); ++i)
      EXPECT_EQ(eval(gets[i], "Scalar").scalar(), wanted[i])
          << "Get Material " << i << " with identifier " << getOf(gets[i]).identifier;
    net->endRender();
  }
};

// A scene that carries identifier 32,767, the highest its 16 bits hold as a
// positive number: the Store Materials made after it in the session save
// past it, and each Get Material still fetches its own after save and load.
TEST_F(MaterialNetwork, StoresMadeAfterIdentifier32767KeepTheirGets) {
  pairFed(1.0, block({32767}, "Loaded"));
  for (double v : {2.0, 3.0, 4.0}) pairFed(v);
  expectEachGetFetchesItsOwn({1.0, 2.0, 3.0, 4.0}, false);
  // The loaded scene goes on: one more, and all of them again.
  pairFed(5.0);
  expectEachGetFetchesItsOwn({1.0, 2.0, 3.0, 4.0, 5.0}, true);
}

// Identifiers 5 and 65,541 have the same 16 bits. In one session that hands
// out identifiers up to 65,541 while one with identifier 5 is listed, the
// two must not be saved alike, or after loading both Get Materials fetch the
// earlier Store Material.
TEST_F(MaterialNetwork, NoTwoListedStoresShareTheirSixteenSavedBits) {
  pairFed(1.0, block({5}, "Five"));
  for (int i = 6; i <= 65540; ++i) {
    HostNode *s = store();
    const int32_t id = storeOf(s).identifier;
    ASSERT_TRUE((id & 0xFFFF) != 5 && (id & 0xFFFF) != 0xFFFF && (id & 0xFFFF) != 0) << "handed out " << id;
    net->remove(s);
  }
  HostNode *next = pairFed(2.0);
  EXPECT_NE(save(next), block({5}, storeOf(next).name)) << "identifier " << storeOf(next).identifier;
  expectEachGetFetchesItsOwn({1.0, 2.0}, false);
  expectEachGetFetchesItsOwn({1.0, 2.0}, true);

  // A loaded identifier stays as loaded, even one that is listed already:
  // the Get Materials of its scene refer to it.
  const auto isStore = [](const HostNode *n) { return n->serverName == "Jux Store Material"; };
  HostNode *loaded = *std::find_if(net->nodes().begin(), net->nodes().end(), isStore);
  HostNode *twin = store();
  ASSERT_TRUE(load(twin, save(loaded)));
  EXPECT_EQ(storeOf(twin).identifier, storeOf(loaded).identifier);
  // One loaded just ahead of the count is skipped when the count reaches
  // it: what is handed out shares its 16 bits with no listed Store Material.
  HostNode *ahead = store();
  const int32_t counted = storeOf(ahead).identifier;
  ASSERT_TRUE(load(ahead, block({static_cast<int16_t>(counted + 1)}, "Ahead")));
  const int32_t fresh = storeOf(store()).identifier;
  int32_t sharing = 0;
  for (HostNode *n : net->nodes())
    if (isStore(n) && (storeOf(n).identifier & 0xFFFF) == (fresh & 0xFFFF)) ++sharing;
  EXPECT_EQ(sharing, 1) << "identifier " << fresh << ", loaded ahead " << counted + 1;
}

// A damaged block, here an identifier and no name, leaves the Store Material
// as it was: its identifier, its name, its place, and the Get Materials that
// follow it.
TEST_F(Material, ADamagedStoreBlockChangesNothing) {
  HostNode *s = store(), *other = store();
  HostNode *g = get();
  choose(g, 2);
  ASSERT_TRUE(load(s, block({9}, "Nine")));
  ASSERT_TRUE(load(other, block({5}, "Five")));
  ASSERT_EQ(getOf(g).identifier, 2);
  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    const std::vector<uint8_t> damaged =
        mode == LWIO_BINARY ? std::vector<uint8_t>{0x00, 0x05} : std::vector<uint8_t>{'5', '\n', '"', 'x'};
    std::string error;
    EXPECT_FALSE(load(s, damaged, mode, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(storeOf(s).identifier, 9);
    EXPECT_EQ(std::string(storeOf(s).name), "Nine");
  }
  EXPECT_EQ(items(g), (std::vector<std::string>{"(none)", "Nine", "Five"}));
  EXPECT_EQ(getOf(g).position, 2) << "no Get Material re-pointed";
  std::string error;
  EXPECT_FALSE(load(g, block({1}), LWIO_BINARY, &error));
  EXPECT_EQ(getOf(g).position, 2);
  EXPECT_EQ(getOf(g).identifier, 2);
}

// The host's evaluation of one node, counted. Past a bound it stops calling
// the node, so that a network that would run for hours fails the test instead.
struct CountedNode {
  static inline int calls = 0;
  static inline void (*original)(LWInstance, LWNodalAccess *, NodeOutputID, NodeValue) = nullptr;
  static void evaluate(LWInstance inst, LWNodalAccess *na, NodeOutputID out, NodeValue value) {
    if (++calls <= 1000) original(inst, na, out, value);
  }
  static void wrap(HostNode *n) {
    calls = 0;
    if (n->handler.evaluate == &evaluate) return;
    original = n->handler.evaluate;
    n->handler.evaluate = &evaluate;
  }
};

// A Get Material fetches a Store Material fed by a Random whose two inputs
// both come from that same Get Material: each turn of the loop doubles the
// work, so it is cut at its first turn.
TEST_F(Material, ALoopWithFanOutThroughGetMaterialIsCutAtItsFirstTurn) {
  HostNode *s = store();
  HostNode *g = get();
  HostNode *random = add("Jux Random");
  ASSERT_NO_THROW(net->connect(random, "Out", s, "Scalar"));
  ASSERT_NO_THROW(net->connect(g, "Scalar", random, "Min"));
  ASSERT_NO_THROW(net->connect(g, "Scalar", random, "Max"));
  choose(g, 1);
  ASSERT_NO_THROW(net->beginRender());
  CountedNode::wrap(random);
  const OutputValue v = eval(g, "Scalar");
  EXPECT_EQ(CountedNode::calls, 1) << "the Random once; its inputs' fetch of the same Store Material sets nothing";
  EXPECT_TRUE(v.set);
  EXPECT_EQ(v.scalar(), 0.0) << "a random number between the zeros the cut fetches pass on";

  // Two Store Materials, each fed through the other's Get Material: every
  // Store Material is fetched at most once on the way in.
  HostNode *s2 = store();
  HostNode *g2 = get();
  HostNode *random2 = add("Jux Random");
  ASSERT_NO_THROW(net->connect(random2, "Out", s2, "Scalar"));
  ASSERT_NO_THROW(net->connect(g, "Scalar", random2, "Min"));
  ASSERT_NO_THROW(net->connect(g, "Scalar", random2, "Max"));
  ASSERT_TRUE(net->disconnect(random, "Min"));
  ASSERT_NO_THROW(net->connect(g2, "Scalar", random, "Max"));
  choose(g2, 2);
  ASSERT_NO_THROW(net->beginRender());
  CountedNode::wrap(random);
  for (HostNode *n : {g, g2}) eval(n, "Scalar");
  EXPECT_LE(CountedNode::calls, 3);
}

// Nesting that is no loop still goes through: a Get Material inside the
// network of another Store Material delivers its own.
TEST_F(Material, NestedFetchesOfDifferentStoresStillDeliver) {
  HostNode *inner = store(), *outer = store();
  ASSERT_NO_THROW(net->connect(scalar(4.0), "Value", inner, "Scalar"));
  HostNode *gInner = get(), *gOuter = get();
  choose(gInner, 1);
  choose(gOuter, 2);
  ASSERT_NO_THROW(net->connect(gInner, "Scalar", outer, "Scalar"));
  ASSERT_NO_THROW(net->beginRender());
  EXPECT_EQ(eval(gOuter, "Scalar").scalar(), 4.0);
  // And on several threads at once, each with its own record of what it fetches.
  const auto runs = net->evaluateConcurrently(gOuter, "Scalar", hostsim::emptyWorldContext(), {0, 1, 2, 3, 200}, 50);
  for (const auto &run : runs)
    for (const OutputValue &v : run.values) EXPECT_EQ(v.scalar(), 4.0) << "thread " << run.threadNum;
}

} // namespace
