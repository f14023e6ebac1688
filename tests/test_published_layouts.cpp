// The built module against a host made of nothing but the published records:
// every service is a bare array of 8-byte slots laid out by slot number, so a
// call through the wrong slot lands in a trap that names it. The module is
// loaded from its file and driven as the host drives it: create, save, load,
// panel, input events and evaluate.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/lw_host.h"

namespace {

using Slot = void *;
template <class F>
Slot slot(F f) {
  return reinterpret_cast<Slot>(f);
}
template <class F>
F call(Slot s) {
  return reinterpret_cast<F>(s);
}

// ------------------------------------------------------------ what the host saw

struct Seen {
  std::vector<std::pair<std::string, int>> traps; // (record, slot) of every slot that should not have been called
  std::vector<std::string> lookups;
  int color3[3] = {-1, -1, -1};
  int arrayColorCalls = 0;
  int previewType = -1;
  std::string groupName;
  Slot groupParent = nullptr;
  std::vector<std::pair<int32_t, std::string>> inputs, outputs;
  NodeInputEvent inputEvent = nullptr;
  std::vector<std::string> channels;
  std::map<Slot, double> parmValues;
  int parmsDestroyed = 0;
  std::vector<double> written; // doubles through the save state's double slot
  double loaded = 0;
  double result = NAN;
  bool connected = false;
  int panelType = 0;
  std::vector<Slot> hints;
  std::vector<std::vector<Slot>> describe;
  void *viewInst = nullptr, *panelData = nullptr;
  int refreshes = 0;
  std::vector<std::pair<std::string, void *>> updates;
};
Seen gSeen;

template <int Record, int Index>
void trap() {
  static const char *const kNames[] = {"NodeFuncs", "NodeEditorFuncs", "NodeInputFuncs",  "NodeOutputFuncs",
                                       "LWVParmFuncs", "Animation Envelopes", "LWXPanel", "LWSaveState",
                                       "LWLoadState"};
  gSeen.traps.emplace_back(kNames[Record], Index);
}
template <int Record, std::size_t... I>
void fillTraps(Slot *table, std::index_sequence<I...>) {
  ((table[I] = slot(&trap<Record, static_cast<int>(I)>)), ...);
}
template <int Record, std::size_t N>
void traps(Slot (&table)[N]) {
  fillTraps<Record>(table, std::make_index_sequence<N>{});
}

// ------------------------------------------------------------ the host's records

Slot gNode = reinterpret_cast<Slot>(0x1000), gChanGroup = reinterpret_cast<Slot>(0x2000);
Slot gNodeFuncs[7], gEditor[24], gInputs[12], gOutputs[12], gVParms[15], gEnvelopes[20], gXPanel[14];
int gNextHandle = 0x5000;

Slot handle() { return reinterpret_cast<Slot>(static_cast<uintptr_t>(gNextHandle += 0x10)); }

void buildHost() {
  gSeen = Seen{};
  traps<0>(gNodeFuncs);
  gNodeFuncs[2] = slot(+[](Slot) { return gChanGroup; });
  gNodeFuncs[3] = slot(+[](Slot, int32_t *) { ++gSeen.arrayColorCalls; });
  gNodeFuncs[4] = slot(+[](Slot, int32_t r, int32_t g, int32_t b) {
    gSeen.color3[0] = r;
    gSeen.color3[1] = g;
    gSeen.color3[2] = b;
  });
  gNodeFuncs[5] = slot(+[](Slot, int32_t type) { gSeen.previewType = type; });
  traps<1>(gEditor);
  traps<2>(gInputs);
  gInputs[0] = slot(+[](Slot, int32_t type, const char *name, NodeInputEvent event) {
    gSeen.inputs.emplace_back(type, name);
    gSeen.inputEvent = event;
    return handle();
  });
  gInputs[2] = slot(+[](Slot, void *na, void *value) -> int32_t {
    EXPECT_NE(na, nullptr);
    if (!gSeen.connected) return 0;
    *static_cast<double *>(value) = 16.0;
    return 1;
  });
  gInputs[3] = slot(+[](Slot) -> int32_t { return gSeen.connected ? 1 : 0; });
  traps<3>(gOutputs);
  gOutputs[0] = slot(+[](Slot, int32_t type, const char *name) {
    gSeen.outputs.emplace_back(type, name);
    return handle();
  });
  gOutputs[2] = slot(+[](Slot, void *result) { gSeen.result = *static_cast<double *>(result); });
  traps<4>(gVParms);
  gVParms[0] = slot(+[](int32_t type, int32_t texture) {
    EXPECT_EQ(type, 0x10);
    EXPECT_EQ(texture, -1);
    Slot p = handle();
    gSeen.parmValues[p] = 0;
    return p;
  });
  gVParms[1] = slot(+[](Slot) { ++gSeen.parmsDestroyed; });
  gVParms[2] = slot(+[](Slot, const char *name, Slot group, Slot, Slot, Slot, Slot) {
    gSeen.channels.emplace_back(name);
    EXPECT_EQ(group, reinterpret_cast<Slot>(0x3000));
  });
  gVParms[3] = slot(+[](Slot to, Slot from) -> const char * {
    gSeen.parmValues[to] = gSeen.parmValues[from];
    return nullptr;
  });
  // Load and save go through the stream's double slot, the last of the record.
  gVParms[4] = slot(+[](Slot p, const Slot *ls) -> const char * {
    double v = 0;
    if (call<int32_t (*)(Slot, double *, int32_t)>(ls[15])(ls[1], &v, 1) != 1) return "short";
    gSeen.parmValues[p] = v;
    return nullptr;
  });
  gVParms[5] = slot(+[](Slot p, const Slot *ss) -> const char * {
    const double v = gSeen.parmValues[p];
    call<void (*)(Slot, const double *, int32_t)>(ss[15])(ss[1], &v, 1);
    return nullptr;
  });
  gVParms[6] = slot(+[](Slot p, double, Slot mp, double *result) {
    EXPECT_EQ(mp, nullptr);
    result[0] = gSeen.parmValues[p];
    return result[0];
  });
  gVParms[7] = slot(+[](Slot p, double *v) -> int32_t {
    gSeen.parmValues[p] = v[0];
    return 1;
  });
  traps<5>(gEnvelopes);
  gEnvelopes[2] = slot(+[](Slot parent, const char *name) {
    gSeen.groupParent = parent;
    gSeen.groupName = name;
    return reinterpret_cast<Slot>(0x3000);
  });
  traps<6>(gXPanel);
  const int32_t version = 1;
  gXPanel[0] = nullptr;
  std::memcpy(&gXPanel[0], &version, sizeof version); // an int32_t, then 4 bytes of padding
  gXPanel[1] = nullptr;                            // no drawing functions needed here
  gXPanel[2] = slot(+[](int32_t type, Slot controls) {
    gSeen.panelType = type;
    EXPECT_EQ(controls, nullptr);
    return reinterpret_cast<Slot>(0x7000);
  });
  gXPanel[4] = slot(+[](Slot, const Slot *data, Slot get, Slot set) {
    EXPECT_NE(get, nullptr);
    EXPECT_NE(set, nullptr);
    // 24-byte entries: (vid with 4 bytes of padding, name, data type), ended by vid 0.
    for (const Slot *e = data; *reinterpret_cast<const uint32_t *>(e) != 0; e += 3)
      gSeen.describe.push_back({e[0], e[1], e[2]});
  });
  gXPanel[5] = slot(+[](Slot, uint32_t id, const Slot *hints) {
    EXPECT_EQ(id, 0u);
    std::size_t n = 0;
    while (hints[n] && n < 4096) {
      // Read by shape alone, as a host that knows no tag would.
      const auto tag = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hints[n]));
      EXPECT_EQ(tag >> 24, 0x3Du) << "word " << n;
      n += 1 + (tag & 0x7F);
      if (tag & 0x80)
        while (hints[n++]) {
        }
    }
    gSeen.hints.assign(hints, hints + n + 1);
  });
  gXPanel[7] = slot(+[](Slot, uint32_t id, void *data) {
    if (id == 0) gSeen.panelData = data;
  });
  gXPanel[10] = slot(+[](Slot, void *inst) { gSeen.viewInst = inst; });
  gXPanel[11] = slot(+[](Slot) { ++gSeen.refreshes; });
}

void instanceUpdate(const char *cls, void *inst) { gSeen.updates.emplace_back(cls, inst); }

// The names this build asks for; every other name is absent.
void *global(const char *name, int32_t) {
  gSeen.lookups.emplace_back(name);
  const std::string n = name;
  if (n == "NodeFuncs") return gNodeFuncs;
  if (n == "NodeEditorFuncs") return gEditor;
  if (n == LWNODEINPUTFUNCS_GLOBAL) return gInputs;
  if (n == "NodeOutputFuncs") return gOutputs;
  if (n == "LWVParmFuncs 2") return gVParms;
  if (n == "Animation Envelopes") return gEnvelopes;
  if (n == "LWXPanel") return gXPanel;
  if (n == "Instance Update") return reinterpret_cast<void *>(&instanceUpdate);
  return nullptr;
}

// Streams: the double slot (15) and the data word (1); every other slot traps.
struct Stream {
  Slot words[16];
  std::vector<double> values;
  std::size_t next = 0;
};
Stream makeSave() {
  Stream s{};
  traps<7>(s.words);
  s.words[0] = nullptr; // ioMode 0: binary
  s.words[15] = slot(+[](Slot data, const double *v, int32_t n) {
    auto *self = static_cast<Stream *>(data);
    self->values.insert(self->values.end(), v, v + n);
  });
  return s;
}
Stream makeLoad(std::vector<double> values) {
  Stream s{};
  traps<8>(s.words);
  s.words[0] = nullptr;
  s.values = std::move(values);
  s.words[15] = slot(+[](Slot data, double *v, int32_t n) -> int32_t {
    auto *self = static_cast<Stream *>(data);
    for (int32_t i = 0; i < n; ++i) {
      if (self->next >= self->values.size()) return -1;
      v[i] = self->values[self->next++];
    }
    return n;
  });
  return s;
}

class PublishedLayouts : public ::testing::Test {
protected:
  void SetUp() override {
    handle_ = dlopen(JUXS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(handle_) << dlerror();
    descriptor_ = static_cast<const unsigned char *>(dlsym(handle_, "_mod_descrip"));
    ASSERT_TRUE(descriptor_);
    buildHost();
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }
  uint32_t word32(std::size_t offset) const {
    uint32_t v;
    std::memcpy(&v, descriptor_ + offset, 4);
    return v;
  }
  Slot word(std::size_t offset) const {
    Slot v;
    std::memcpy(&v, descriptor_ + offset, 8);
    return v;
  }
  // The activation of a server, by the 32-byte records of the table.
  Slot activation(const std::string &cls, const std::string &name) const {
    const auto *table = static_cast<const Slot *>(word(32));
    for (std::size_t i = 0; table[4 * i] || table[4 * i + 1]; ++i)
      if (cls == static_cast<const char *>(table[4 * i]) && name == static_cast<const char *>(table[4 * i + 1]))
        return table[4 * i + 2];
    return nullptr;
  }

  void *handle_ = nullptr;
  const unsigned char *descriptor_ = nullptr;
};

using Activate = int32_t (*)(int32_t, void *(*)(const char *, int32_t), void *, void *);

TEST_F(PublishedLayouts, CreateSaveLoadPanelAndEvaluate) {
  ASSERT_EQ(word32(0), 0x04121994u);
  ASSERT_EQ(word32(4), 3u);
  ASSERT_EQ(word32(8), 0x300u);
  void *serverData = call<void *(*)()>(word(16))();

  // Handler: the host's three records, and sentinels where the module must not write.
  Slot inst[7] = {}, item[3] = {}, rend[3] = {};
  Slot *const sentinel = reinterpret_cast<Slot *>(0x51);
  Slot handler[6] = {inst, item, rend, nullptr, sentinel, sentinel};
  auto activate = call<Activate>(activation("NodeHandler", "Jux Sqrt"));
  ASSERT_TRUE(activate);
  int32_t taken = 0, rc = AFUNC_BADVERSION;
  for (int32_t v = 3; v >= 1 && rc == AFUNC_BADVERSION; --v) rc = activate(taken = v, &global, handler, serverData);
  ASSERT_EQ(rc, AFUNC_OK);
  EXPECT_EQ(taken, LWNODE_HVERSION);
  const std::vector<std::string> lookups = {"NodeFuncs", "NodeEditorFuncs", LWNODEINPUTFUNCS_GLOBAL,
                                            "NodeOutputFuncs", "LWVParmFuncs 2", "Animation Envelopes"};
  EXPECT_EQ(gSeen.lookups, lookups);
  EXPECT_EQ(handler[4], sentinel);
  EXPECT_EQ(handler[5], sentinel);
  EXPECT_EQ(inst[6], nullptr) << "no description line";
  ASSERT_TRUE(inst[1] && inst[2] && inst[5] && inst[4] && handler[3] && rend[2]);

  // Create.
  const char *error = nullptr;
  using Create = void *(*)(Slot, Slot, const char **);
  void *a = call<Create>(inst[1])(inst[0], gNode, &error);
  ASSERT_TRUE(a) << (error ? error : "");
  EXPECT_EQ(gSeen.color3[0], 164);
  EXPECT_EQ(gSeen.color3[1], 50);
  EXPECT_EQ(gSeen.color3[2], 10);
  EXPECT_EQ(gSeen.previewType, 2);
  EXPECT_EQ(gSeen.groupName, "Sqrt");
  EXPECT_EQ(gSeen.groupParent, gChanGroup);
  EXPECT_EQ(gSeen.channels, std::vector<std::string>{"Input"});
  EXPECT_EQ(gSeen.inputs, (std::vector<std::pair<int32_t, std::string>>{{2, "In"}}));
  EXPECT_EQ(gSeen.outputs, (std::vector<std::pair<int32_t, std::string>>{{2, "Out"}}));
  ASSERT_EQ(gSeen.parmValues.size(), 1u);
  EXPECT_EQ(gSeen.parmValues.begin()->second, 1.0);

  // Save, then load into a second node.
  Stream out = makeSave();
  out.words[1] = &out;
  EXPECT_EQ(call<const char *(*)(void *, Slot *)>(inst[5])(a, out.words), nullptr);
  EXPECT_EQ(out.values, std::vector<double>{1.0});
  void *b = call<Create>(inst[1])(inst[0], gNode, &error);
  ASSERT_TRUE(b);
  Stream in = makeLoad({9.0});
  in.words[1] = &in;
  EXPECT_EQ(call<const char *(*)(void *, Slot *)>(inst[4])(b, in.words), nullptr);

  // Evaluate on a shading context of the published size: unconnected, the
  // loaded value; connected, what the input delivers.
  using Evaluate = void (*)(void *, void *, Slot, Slot);
  alignas(8) unsigned char na[656] = {};
  const int32_t thread = 3;
  std::memcpy(na + 520, &thread, 4);
  call<Evaluate>(handler[3])(b, na, reinterpret_cast<Slot>(0x9000), reinterpret_cast<Slot>(0x9100));
  EXPECT_EQ(gSeen.result, 3.0);
  gSeen.connected = true;
  call<Evaluate>(handler[3])(b, na, reinterpret_cast<Slot>(0x9000), reinterpret_cast<Slot>(0x9100));
  EXPECT_EQ(gSeen.result, 4.0);

  // Panel: counted up to the interface version, as the host does.
  auto activatePanel = call<Activate>(activation("NodeInterface", "Jux Sqrt"));
  ASSERT_TRUE(activatePanel);
  Slot local[4] = {a, nullptr, sentinel, sentinel};
  gSeen.lookups.clear();
  rc = AFUNC_BADVERSION;
  for (int32_t v = 1; v <= 4 && rc == AFUNC_BADVERSION; ++v) rc = activatePanel(taken = v, &global, local, serverData);
  ASSERT_EQ(rc, AFUNC_OK);
  EXPECT_EQ(taken, 4);
  EXPECT_EQ(gSeen.lookups, (std::vector<std::string>{"Instance Update", "LWXPanel"}));
  EXPECT_EQ(local[1], reinterpret_cast<Slot>(0x7000));
  EXPECT_EQ(local[2], nullptr);
  EXPECT_EQ(local[3], nullptr);
  EXPECT_EQ(gSeen.panelType, 1);
  EXPECT_EQ(gSeen.viewInst, a);
  EXPECT_EQ(gSeen.panelData, a);
  ASSERT_EQ(gSeen.describe.size(), 1u);
  EXPECT_EQ(*reinterpret_cast<uint32_t *>(&gSeen.describe[0][0]), 0x8001u);
  EXPECT_STREQ(static_cast<const char *>(gSeen.describe[0][1]), "Input");
  EXPECT_STREQ(static_cast<const char *>(gSeen.describe[0][2]), "float-env");
  // The hint array, word by word.
  auto w = [](uintptr_t v) { return reinterpret_cast<Slot>(v); };
  const std::vector<Slot> &h = gSeen.hints;
  ASSERT_EQ(h.size(), 14u);
  EXPECT_EQ(h[0], w(0x3D000F01)); // change notification, its callback
  EXPECT_NE(h[1], nullptr);
  EXPECT_EQ(h[2], w(0x3D000D03)); // add: control, class, value
  EXPECT_EQ(h[3], w(0x8001));
  EXPECT_STREQ(static_cast<const char *>(h[4]), "float-env");
  EXPECT_EQ(h[5], w(0x8001));
  EXPECT_EQ(h[6], w(0x3D000B03)); // label: id, text, 0
  EXPECT_EQ(h[7], w(0x8001));
  EXPECT_STREQ(static_cast<const char *>(h[8]), "Input");
  EXPECT_EQ(h[9], nullptr);
  EXPECT_EQ(h[10], w(0x3D001302)); // destroy notification: callback, 0
  EXPECT_NE(h[11], nullptr);
  EXPECT_EQ(h[12], nullptr);
  EXPECT_EQ(h[13], nullptr); // the end

  // Input events: the loss of the upstream node tells the host; every event
  // refreshes the panel.
  ASSERT_TRUE(gSeen.inputEvent);
  EXPECT_EQ(gSeen.inputEvent(a, nullptr, NIE_CONNECT, CONN_SCALAR), 1);
  EXPECT_EQ(gSeen.inputEvent(a, nullptr, NIE_DISCONNECT, 0), 1);
  EXPECT_TRUE(gSeen.updates.empty());
  EXPECT_EQ(gSeen.inputEvent(a, nullptr, NIE_INPUTNODEDESTROY, 0), 1);
  ASSERT_EQ(gSeen.updates.size(), 1u);
  EXPECT_EQ(gSeen.updates[0], (std::pair<std::string, void *>{"NodeHandler", a}));
  EXPECT_EQ(gSeen.refreshes, 3);

  // Destroy frees the parameters.
  call<void (*)(void *)>(inst[2])(a);
  call<void (*)(void *)>(inst[2])(b);
  EXPECT_EQ(gSeen.parmsDestroyed, 2);
  EXPECT_EQ(gSeen.arrayColorCalls, 0);
  EXPECT_TRUE(gSeen.traps.empty()) << gSeen.traps.front().first << " slot " << gSeen.traps.front().second;
  call<void (*)(void *)>(word(24))(serverData);
}

} // namespace
