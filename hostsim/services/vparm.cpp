#include "hostsim/services/vparm.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <string>

namespace hostsim {
namespace {

VParmService *gCurrent = nullptr;

// Keys per component a stream may hold; a larger count is a corrupt stream,
// not a reason to allocate.
constexpr int32_t kMaxKeys = 100000;

constexpr const char *kShortStream = "Variant parameter data ended early.";
constexpr const char *kMismatch = "Variant parameter data does not match the parameter.";
constexpr const char *kBadKeys = "Variant parameter data holds an impossible key count.";

// The type codes the interface publishes: a plain number, percentage,
// distance or angle, each also as three (the vector flag, with or without
// the channel-naming flags), and the two colours.
bool knownType(int32_t type) {
  const int32_t base = type & 0xF0, flags = type & 0x0F;
  if (base >= LWVP_FLOAT && base <= LWVP_ANGLE) return flags == 0 || flags == 1 || flags == 3 || flags == 5;
  return type == LWVP_COLOR || type == LWVP_COLORSIMPLE;
}

std::string hex(int32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
  return buf;
}

// Variant parameters, envelopes and channel groups belong to the host's
// callbacks outside evaluation: evaluation reads the values a node cached at
// newTime. A parameter loads only from the state handed to the load callback
// now running, and saves only to the one handed to the save callback.
constexpr const char *kVParm = "LWVParmFuncs 2";
constexpr const char *kEnv = "Animation Envelopes";
constexpr const char *kChannels = "Channel Info 2";
constexpr const char *kRefused = "The host refused the call (see its checks).";
constexpr const char *kFailed = "The host could not do it (see its checks).";

struct Ops {
  static VParmService &svc() noexcept { return *gCurrent; }
  static VParm *parm(Call &call, LWVParmID id, const char *argument = "the parameter") noexcept {
    return call && call.handle(id, Handle::Parameter, argument) ? svc().findQuiet(id) : nullptr;
  }
  static VParm *parm(const char *function, LWVParmID id) noexcept {
    Call call(kVParm, function, From::HostCallback);
    return parm(call, id);
  }
  static ChanGroup *group(Call &call, LWChanGroupID id, const char *argument, bool nullAllowed) noexcept {
    return call && call.handle(id, Handle::ChannelGroup, argument, nullAllowed) ? reinterpret_cast<ChanGroup *>(id)
                                                                                : nullptr;
  }

  static LWVParmID create(int32_t type, int32_t texType) noexcept {
    Call call(kVParm, "create", From::HostCallback);
    if (!call || !call.known(knownType(type), "the type code", [&] { return hex(type) + " is not a parameter type code"; }) ||
        !call.known(texType >= LWVPDT_NOTXTR && texType <= LWVPDT_DISPLACEMENT, "the texture type",
                    [&] { return std::to_string(texType) + " is not a texture type (-1 for none, 0 to 4)"; }))
      return nullptr;
    return call.answer(nullptr, [&] { return reinterpret_cast<LWVParmID>(svc().create(type)); });
  }
  static void destroy(LWVParmID id) noexcept {
    if (VParm *p = parm("destroy", id)) svc().destroy(p);
  }
  // The channel is named and placed in a channel group; this host makes no
  // texture contexts, so a parameter has none.
  static void setup(LWVParmID id, const char *channel, LWChanGroupID groupId, LWTxtrContextID context,
                    LWVParmEventFunc, const char *, void *) noexcept {
    Call call(kVParm, "setup", From::HostCallback);
    VParm *p = parm(call, id);
    ChanGroup *g = p ? group(call, groupId, "the channel group", false) : nullptr;
    if (!g || !call.pointer(channel, "the channel name") ||
        !call.known(!context, "the texture context", "this host made no texture context"))
      return;
    call.perform([&] {
      // What may fail (no memory) first: the name, and room at the end of the
      // group's list. A node's group holds a handful: its own room, not one
      // allocation per doubling.
      std::string name = channel;
      auto &list = g->channels;
      if (list.size() == list.capacity()) list.reserve(std::max(kInlineChannels, 2 * list.size()));
      if (p->group) std::erase(p->group->channels, p);
      p->channel = std::move(name);
      p->group = g;
      list.push_back(p);
    });
  }
  static LWError copy(LWVParmID to, LWVParmID from) noexcept {
    Call call(kVParm, "copy", From::HostCallback);
    VParm *dst = parm(call, to, "the destination");
    VParm *src = dst ? parm(call, from, "the source") : nullptr;
    if (!src) return kRefused;
    if (!call.known(dst->components == src->components, "the source", [&] {
          return "a parameter of " + std::to_string(src->components) + " values copied into one of " +
                 std::to_string(dst->components);
        }))
      return kMismatch;
    return call.answer(kFailed, [&]() -> LWError {
      // The keys copied whole before any changes: a failed copy leaves the
      // destination as it was.
      Envelope env[3] = {src->env[0], src->env[1], src->env[2]};
      for (int c = 0; c < 3; ++c) {
        dst->value[c] = src->value[c];
        dst->env[c] = std::move(env[c]);
      }
      return nullptr;
    });
  }
  static LWError load(LWVParmID id, const LWLoadState *ls) noexcept {
    Call call(kVParm, "load", From::HostCallback);
    VParm *p = parm(call, id);
    if (!p || !call.loadState(ls, "the load state")) return kRefused;
    return call.answer(kFailed, [&] { return loadVParm(*p, ls); });
  }
  static LWError save(LWVParmID id, const LWSaveState *ss) noexcept {
    Call call(kVParm, "save", From::HostCallback);
    VParm *p = parm(call, id);
    if (!p || !call.saveState(ss, "the save state")) return kRefused;
    return saveVParm(*p, ss);
  }
  static double getVal(LWVParmID id, LWTime t, LWMicropolID, double *result) noexcept {
    Call call(kVParm, "getVal", From::HostCallback);
    VParm *p = parm(call, id);
    if (!p || !call.pointer(result, "the result")) return 0.0;
    for (int c = 0; c < p->components; ++c) result[c] = p->at(c, t);
    return p->at(0, t);
  }
  // The static value; keys, where a component has them, still decide.
  static int32_t setVal(LWVParmID id, double *value) noexcept {
    Call call(kVParm, "setVal", From::HostCallback);
    VParm *p = parm(call, id);
    if (!p || !call.pointer(value, "the value")) return 0;
    for (int c = 0; c < p->components; ++c) p->value[c] = value[c];
    return p->components;
  }
  static int32_t getState(LWVParmID id) noexcept {
    VParm *p = parm("getState", id);
    return p && p->animated() ? LWVPSF_ENV : 0;
  }
  static void setState(LWVParmID id, int32_t state) noexcept {
    // Clearing the envelope bit drops the keys; setting it alone adds none.
    VParm *p = parm("setState", id);
    if (p && !(state & LWVPSF_ENV))
      for (auto &e : p->env) e.keys.clear();
  }

  // The stand-in host has no envelope or texture editor to open, no
  // micropolygons and no textures.
  static void editEnv(LWVParmID id) noexcept { parm("editEnv", id); }
  static void editTex(LWVParmID id) noexcept { parm("editTex", id); }
  static void initMP(LWMicropolID) noexcept { Call call(kVParm, "initMP", From::AnyCallback); }
  // A parameter's keys are its own, not envelopes of the envelope service.
  static void getEnv(LWVParmID id, LWEnvelopeID envs[3]) noexcept {
    Call call(kVParm, "getEnv", From::HostCallback);
    if (parm(call, id) && call.pointer(envs, "the envelopes")) envs[0] = envs[1] = envs[2] = nullptr;
  }
  static LWTextureID getTex(LWVParmID id) noexcept {
    parm("getTex", id);
    return nullptr;
  }

  // ---- "Animation Envelopes"
  static HostEnvelope *env(Call &call, LWEnvelopeID id, const char *argument = "the envelope") noexcept {
    return call && call.handle(id, Handle::Envelope, argument) ? svc().findEnvelope(id) : nullptr;
  }
  static HostEnvelope *env(const char *function, LWEnvelopeID id) noexcept {
    Call call(kEnv, function, From::HostCallback);
    return env(call, id);
  }
  static LWEnvelopeID createEnv(LWChanGroupID groupId, const char *name, int32_t type) noexcept {
    Call call(kEnv, "create", From::HostCallback);
    if (!call) return nullptr;
    ChanGroup *g = group(call, groupId, "the channel group", true);
    if ((groupId && !g) || !call.pointer(name, "the name") ||
        !call.known(type >= LWET_FLOAT && type <= LWET_ANGLE, "the envelope type",
                    [&] { return std::to_string(type) + " is not an envelope type (2 to 5)"; }))
      return nullptr;
    return call.answer(nullptr, [&] { return reinterpret_cast<LWEnvelopeID>(svc().createEnvelope(g, name, type)); });
  }
  static void destroyEnv(LWEnvelopeID id) noexcept {
    if (HostEnvelope *e = env("destroy", id)) svc().destroyEnvelope(e);
  }
  static LWError copyEnv(LWEnvelopeID to, LWEnvelopeID from) noexcept {
    Call call(kEnv, "copy", From::HostCallback);
    HostEnvelope *dst = env(call, to, "the destination");
    HostEnvelope *src = dst ? env(call, from, "the source") : nullptr;
    if (!src) return kRefused;
    return call.answer(kFailed, [&] {
      dst->keys = src->keys; // a vector's copy: whole, or the destination as it was
      ++dst->age;
      return LWError{};
    });
  }
  static LWError loadEnv(LWEnvelopeID id, const LWLoadState *ls) noexcept {
    Call call(kEnv, "load", From::HostCallback);
    HostEnvelope *e = env(call, id);
    if (!e || !call.loadState(ls, "the load state")) return kRefused;
    return call.answer(kFailed, [&] {
      VParm holder;
      if (LWError err = loadVParm(holder, ls)) return err;
      e->keys = std::move(holder.env[0]);
      e->value = holder.value[0];
      ++e->age;
      return LWError{};
    });
  }
  static LWError saveEnv(LWEnvelopeID id, const LWSaveState *ss) noexcept {
    Call call(kEnv, "save", From::HostCallback);
    HostEnvelope *e = env(call, id);
    if (!e || !call.saveState(ss, "the save state")) return kRefused;
    return call.answer(kFailed, [&] {
      VParm holder;
      holder.value[0] = e->value;
      holder.env[0] = e->keys;
      return saveVParm(holder, ss);
    });
  }
  static double evaluateEnv(LWEnvelopeID id, LWTime t) noexcept {
    const HostEnvelope *e = env("evaluate", id);
    return e ? (e->keys.keys.empty() ? e->value : e->keys.at(t)) : 0.0;
  }
  static int32_t editEnvelope(LWChanGroupID groupId, LWEnvelopeID id, int32_t, void *) noexcept {
    Call call(kEnv, "edit", From::HostCallback);
    if (call && (!groupId || group(call, groupId, "the channel group", true))) env(call, id);
    return 0;
  }
  static int32_t envAge(LWEnvelopeID id) noexcept {
    const HostEnvelope *e = env("envAge", id);
    return e ? e->age : 0;
  }
  // Keyframes are known by their position in time order, counting from 1: an
  // id stays good until keys are added or removed before it.
  static LWEnvKeyframeID keyId(std::size_t index) noexcept { return reinterpret_cast<LWEnvKeyframeID>(index + 1); }
  static bool keyIndex(const HostEnvelope *e, LWEnvKeyframeID key, std::size_t &index) noexcept {
    const auto i = reinterpret_cast<uintptr_t>(key);
    if (!e || i == 0 || i > e->keys.keys.size()) return false;
    index = i - 1;
    return true;
  }
  static LWEnvKeyframeID findIn(const HostEnvelope *e, LWTime t) noexcept {
    for (std::size_t i = 0; i < e->keys.keys.size(); ++i)
      if (e->keys.keys[i].time == t) return keyId(i);
    return nullptr;
  }
  static LWEnvKeyframeID createKey(LWEnvelopeID id, LWTime t, double value) noexcept {
    Call call(kEnv, "createKey", From::HostCallback);
    HostEnvelope *e = env(call, id);
    if (!e || !call.known(std::isfinite(t), "the time", "a key needs a finite time")) return nullptr;
    return call.answer(nullptr, [&] {
      e->keys.set(t, value, KeyShape::Linear);
      ++e->age;
      return findIn(e, t);
    });
  }
  static void destroyKey(LWEnvelopeID id, LWEnvKeyframeID key) noexcept {
    Call call(kEnv, "destroyKey", From::HostCallback);
    HostEnvelope *e = env(call, id);
    std::size_t i = 0;
    if (!e || !call.known(keyIndex(e, key, i), "the key", "not a key of this envelope")) return;
    e->keys.keys.erase(e->keys.keys.begin() + static_cast<std::ptrdiff_t>(i));
    ++e->age;
  }
  static LWEnvKeyframeID findKey(LWEnvelopeID id, LWTime t) noexcept {
    const HostEnvelope *e = env("findKey", id);
    return e ? findIn(e, t) : nullptr;
  }
  static LWEnvKeyframeID nextKey(LWEnvelopeID id, LWEnvKeyframeID key) noexcept {
    const HostEnvelope *e = env("nextKey", id);
    if (!e) return nullptr;
    std::size_t i;
    if (!key) return e->keys.keys.empty() ? nullptr : keyId(0);
    return keyIndex(e, key, i) && i + 1 < e->keys.keys.size() ? keyId(i + 1) : nullptr;
  }
  static LWEnvKeyframeID prevKey(LWEnvelopeID id, LWEnvKeyframeID key) noexcept {
    const HostEnvelope *e = env("prevKey", id);
    if (!e) return nullptr;
    std::size_t i;
    if (!key) return e->keys.keys.empty() ? nullptr : keyId(e->keys.keys.size() - 1);
    return keyIndex(e, key, i) && i > 0 ? keyId(i - 1) : nullptr;
  }
  // The key tags' values are not published; no tag is understood.
  static int32_t keySet(LWEnvelopeID id, LWEnvKeyframeID, LWKeyTag, void *) noexcept {
    env("keySet", id);
    return 0;
  }
  static int32_t keyGet(LWEnvelopeID id, LWEnvKeyframeID, LWKeyTag, void *) noexcept {
    env("keyGet", id);
    return 0;
  }
  static int32_t setEnvEvent(LWEnvelopeID id, LWEnvEventFunc, void *) noexcept {
    env("setEnvEvent", id);
    return 0;
  }
  static int32_t egSet(LWEnvelopeID id, LWChanGroupID, int32_t, void *) noexcept {
    env("egSet", id);
    return 0;
  }
  static int32_t egGet(LWEnvelopeID id, LWChanGroupID, int32_t, void *) noexcept {
    env("egGet", id);
    return 0;
  }

  // A group is made under a parent group, or at the top with none.
  static LWChanGroupID createGroup(LWChanGroupID parentId, const char *name) noexcept {
    Call call(kEnv, "createGroup", From::HostCallback);
    if (!call) return nullptr;
    ChanGroup *parent = group(call, parentId, "the parent group", true);
    if ((parentId && !parent) || !call.pointer(name, "the name")) return nullptr;
    return call.answer(nullptr, [&] { return reinterpret_cast<LWChanGroupID>(svc().createGroup(parent, name)); });
  }
  static void destroyGroup(LWChanGroupID id) noexcept {
    Call call(kEnv, "destroyGroup", From::HostCallback);
    if (ChanGroup *g = group(call, id, "the channel group", false)) svc().destroyGroup(g);
  }

  // ---- "Channel Info 2": a parameter's channel is the parameter itself. A
  // null parent group is the top of the hierarchy.
  static ChanGroup *parentOf(Call &call, LWChanGroupID id) noexcept {
    if (!id) return &svc().root();
    return group(call, id, "the parent group", false);
  }
  static VParm *channelOf(const char *function, LWChannelID id) noexcept {
    Call call(kChannels, function, From::HostCallback);
    return parm(call, reinterpret_cast<LWVParmID>(id), "the channel");
  }
  static LWChanGroupID nextGroup(LWChanGroupID parentId, LWChanGroupID id) noexcept {
    Call call(kChannels, "nextGroup", From::HostCallback);
    ChanGroup *p = call ? parentOf(call, parentId) : nullptr;
    if (!p || (id && !group(call, id, "the group", false))) return nullptr;
    if (!id) return reinterpret_cast<LWChanGroupID>(p->children.front());
    const ChanGroup *g = reinterpret_cast<ChanGroup *>(id);
    return g->parent == p ? reinterpret_cast<LWChanGroupID>(g->siblings.next) : nullptr;
  }
  static LWChannelID nextChannel(LWChanGroupID parentId, LWChannelID channel) noexcept {
    Call call(kChannels, "nextChannel", From::HostCallback);
    ChanGroup *p = call ? parentOf(call, parentId) : nullptr;
    if (!p || (channel && !parm(call, reinterpret_cast<LWVParmID>(channel), "the channel"))) return nullptr;
    auto &list = p->channels;
    if (!channel) return list.empty() ? nullptr : reinterpret_cast<LWChannelID>(list.front());
    for (std::size_t i = 0; i + 1 < list.size(); ++i)
      if (reinterpret_cast<LWChannelID>(list[i]) == channel) return reinterpret_cast<LWChannelID>(list[i + 1]);
    return nullptr;
  }
  static const char *groupName(LWChanGroupID id) noexcept {
    Call call(kChannels, "groupName", From::HostCallback);
    const ChanGroup *g = group(call, id, "the group", false);
    return g ? g->name.c_str() : nullptr;
  }
  static LWChanGroupID groupParent(LWChanGroupID id) noexcept {
    Call call(kChannels, "groupParent", From::HostCallback);
    const ChanGroup *g = group(call, id, "the group", false);
    if (!g) return nullptr;
    return g->parent == &svc().root() ? nullptr : reinterpret_cast<LWChanGroupID>(g->parent);
  }
  static const char *channelName(LWChannelID id) noexcept {
    const VParm *p = channelOf("channelName", id);
    return p ? p->channel.c_str() : nullptr;
  }
  static LWChanGroupID channelParent(LWChannelID id) noexcept {
    const VParm *p = channelOf("channelParent", id);
    return p ? reinterpret_cast<LWChanGroupID>(p->group) : nullptr;
  }
  static int32_t channelType(LWChannelID id) noexcept {
    const VParm *p = channelOf("channelType", id);
    if (!p) return 0;
    switch (p->type & 0xF0) {
    case LWVP_PERCENT:
      return LWET_PERCENT;
    case LWVP_DIST:
      return LWET_DISTANCE;
    case LWVP_ANGLE:
      return LWET_ANGLE;
    default:
      return LWET_FLOAT;
    }
  }
  static double channelEvaluate(LWChannelID id, LWTime t) noexcept {
    const VParm *p = channelOf("channelEvaluate", id);
    return p ? p->at(0, t) : 0.0;
  }
  static LWEnvelopeID channelEnvelope(LWChannelID id) noexcept {
    channelOf("channelEnvelope", id);
    return nullptr;
  }
  // No channel events and no channel servers in the stand-in host.
  static int32_t setChannelEvent(LWChannelID id, LWChanEventFunc, void *) noexcept {
    channelOf("setChannelEvent", id);
    return 0;
  }
  static const char *server(LWChannelID id, const char *, int32_t) noexcept {
    channelOf("server", id);
    return nullptr;
  }
  static uint32_t serverFlags(LWChannelID id, const char *, int32_t) noexcept {
    channelOf("serverFlags", id);
    return 0;
  }
  static LWInstance serverInstance(LWChannelID id, const char *, int32_t) noexcept {
    channelOf("serverInstance", id);
    return nullptr;
  }
  static int32_t serverApply(LWChannelID id, const char *, const char *, int32_t) noexcept {
    channelOf("serverApply", id);
    return 0;
  }
  static void serverRemove(LWChannelID id, const char *, const char *, LWInstance) noexcept { channelOf("serverRemove", id); }
};

// A group going: its parameters stay, without a group, and it and the groups
// under it leave the book.
void detachChannels(ChanGroup &g, Checks &checks) {
  for (VParm *p : g.channels) p->group = nullptr;
  g.channels.clear();
  for (ChanGroup *c : g.children) detachChannels(*c, checks);
  checks.destroyed(&g);
}

} // namespace

// A group goes with the groups under it, newest first.
ChanGroup::~ChanGroup() {
  while (ChanGroup *c = children.back()) {
    children.erase(c);
    c->home->release(c, static_cast<GroupPlaces::Block *>(c->block));
  }
}

std::string ChanGroup::path() const {
  if (!parent || !parent->parent) return name;
  return parent->path() + "/" + name;
}

ChanGroup *ChanGroup::child(const std::string &n) const {
  for (ChanGroup *c : children)
    if (c->name == n) return c;
  return nullptr;
}

double Envelope::at(double t) const noexcept {
  if (keys.empty()) return 0.0;
  if (t <= keys.front().time) return keys.front().value;
  if (t >= keys.back().time) return keys.back().value;
  auto next = std::upper_bound(keys.begin(), keys.end(), t, [](double x, const Key &k) { return x < k.time; });
  const Key &a = *(next - 1), &b = *next;
  if (a.shape == KeyShape::Stepped || b.time <= a.time) return a.value;
  const double f = (t - a.time) / (b.time - a.time);
  return a.value + (b.value - a.value) * f;
}

void Envelope::set(double time, double value, KeyShape shape) {
  auto it = std::lower_bound(keys.begin(), keys.end(), time, [](const Key &k, double x) { return k.time < x; });
  if (it != keys.end() && it->time == time)
    *it = {time, value, shape};
  else
    keys.insert(it, {time, value, shape});
}

bool VParm::animated() const noexcept {
  for (int c = 0; c < components; ++c)
    if (!env[c].keys.empty()) return true;
  return false;
}

double VParm::at(int c, double t) const noexcept { return env[c].keys.empty() ? value[c] : env[c].at(t); }

VParmService::VParmService(Checks &checks) : checks_(checks) {
  funcs_.create = handed(&Ops::create);
  funcs_.destroy = handed(&Ops::destroy);
  funcs_.setup = handed(&Ops::setup);
  funcs_.copy = handed(&Ops::copy);
  funcs_.load = handed(&Ops::load);
  funcs_.save = handed(&Ops::save);
  funcs_.getVal = handed(&Ops::getVal);
  funcs_.setVal = handed(&Ops::setVal);
  funcs_.getState = handed(&Ops::getState);
  funcs_.setState = handed(&Ops::setState);
  funcs_.editEnv = handed(&Ops::editEnv);
  funcs_.editTex = handed(&Ops::editTex);
  funcs_.initMP = handed(&Ops::initMP);
  funcs_.getEnv = handed(&Ops::getEnv);
  funcs_.getTex = handed(&Ops::getTex);
  envFuncs_.create = handed(&Ops::createEnv);
  envFuncs_.destroy = handed(&Ops::destroyEnv);
  envFuncs_.createGroup = handed(&Ops::createGroup);
  envFuncs_.destroyGroup = handed(&Ops::destroyGroup);
  envFuncs_.copy = handed(&Ops::copyEnv);
  envFuncs_.load = handed(&Ops::loadEnv);
  envFuncs_.save = handed(&Ops::saveEnv);
  envFuncs_.evaluate = handed(&Ops::evaluateEnv);
  envFuncs_.edit = handed(&Ops::editEnvelope);
  envFuncs_.envAge = handed(&Ops::envAge);
  envFuncs_.createKey = handed(&Ops::createKey);
  envFuncs_.destroyKey = handed(&Ops::destroyKey);
  envFuncs_.findKey = handed(&Ops::findKey);
  envFuncs_.nextKey = handed(&Ops::nextKey);
  envFuncs_.prevKey = handed(&Ops::prevKey);
  envFuncs_.keySet = handed(&Ops::keySet);
  envFuncs_.keyGet = handed(&Ops::keyGet);
  envFuncs_.setEnvEvent = handed(&Ops::setEnvEvent);
  envFuncs_.egSet = handed(&Ops::egSet);
  envFuncs_.egGet = handed(&Ops::egGet);
  channels_.nextGroup = handed(&Ops::nextGroup);
  channels_.nextChannel = handed(&Ops::nextChannel);
  channels_.groupName = handed(&Ops::groupName);
  channels_.channelName = handed(&Ops::channelName);
  channels_.groupParent = handed(&Ops::groupParent);
  channels_.channelParent = handed(&Ops::channelParent);
  channels_.channelType = handed(&Ops::channelType);
  channels_.channelEvaluate = handed(&Ops::channelEvaluate);
  channels_.channelEnvelope = handed(&Ops::channelEnvelope);
  channels_.setChannelEvent = handed(&Ops::setChannelEvent);
  channels_.server = handed(&Ops::server);
  channels_.serverFlags = handed(&Ops::serverFlags);
  channels_.serverInstance = handed(&Ops::serverInstance);
  channels_.serverApply = handed(&Ops::serverApply);
  channels_.serverRemove = handed(&Ops::serverRemove);
  root_.name = "";
}

VParmService::~VParmService() {
  if (gCurrent == this) gCurrent = nullptr;
}

void VParmService::makeCurrent() { gCurrent = this; }

ChanGroup *VParmService::createGroup(ChanGroup *parent, std::string name) {
  ChanGroup *p = parent ? parent : &root_;
  GroupPlaces::Block *block = nullptr;
  ChanGroup *g = groupPlaces_.make(&block);
  g->home = &groupPlaces_;
  g->block = block;
  g->name = std::move(name); // a module's name arrives as a new string: no second copy
  g->parent = p;
  // Booked before it joins its parent: when booking fails (no memory), the
  // place goes back and nothing else changed.
  try {
    checks_.made(g, Handle::ChannelGroup);
  } catch (...) {
    groupPlaces_.release(g, block);
    throw;
  }
  p->children.pushBack(g);
  return g;
}

void VParmService::destroyGroup(ChanGroup *group) {
  if (!group || group == &root_ || !group->parent) return;
  detachChannels(*group, checks_);
  group->parent->children.erase(group);
  groupPlaces_.release(group, static_cast<GroupPlaces::Block *>(group->block));
}

VParm *VParmService::create(int32_t type) {
  if (!knownType(type)) return nullptr;
  if (failCreates_ > 0) {
    --failCreates_;
    return nullptr;
  }
  // addBlock keeps room in openBlocks_ for every block: this push cannot fail.
  if (openBlocks_.empty()) openBlocks_.push_back(addBlock());
  ParmBlock *block = openBlocks_.back();
  VParm *p = block->make();
  p->type = type;
  p->components = (type & 0x0F) ? 3 : 1; // 0x11 and 0x51 hold three
  try {
    checks_.made(p, Handle::Parameter);
  } catch (...) { // no memory to book it: its place is free again
    block->release(static_cast<std::size_t>(block->indexOf(p)));
    throw;
  }
  if (block->full()) openBlocks_.pop_back();
  ++liveParms_;
  return p;
}

std::size_t VParmService::slotOf(uintptr_t block) const {
  const uint64_t h = static_cast<uint64_t>(block / kBlockBytes) * 0x9E3779B97F4A7C15ull;
  return static_cast<std::size_t>(h >> 32) & (blockTable_.size() - 1);
}

// Everything that may fail (no memory) is made before anything changes: a
// block is in the list exactly when the table finds it.
VParmService::ParmBlock *VParmService::addBlock() {
  auto block = std::make_unique<ParmBlock>();
  ParmBlock *added = block.get();
  const std::size_t blocks = parmBlocks_.size() + 1;
  std::vector<ParmBlock *> table;
  if (blockTable_.size() < 2 * blocks) table.assign(std::bit_ceil(std::max<std::size_t>(16, 4 * blocks)), nullptr);
  // Room for every block among the open ones, so that neither create nor
  // destroy can fail to list a block with a free place.
  openBlocks_.reserve(blocks);
  parmBlocks_.push_back(std::move(block));
  if (!table.empty()) {
    blockTable_.swap(table);
    for (const auto &b : parmBlocks_) insertBlock(b.get());
  } else {
    insertBlock(added);
  }
  return added;
}

void VParmService::insertBlock(ParmBlock *block) noexcept {
  std::size_t i = slotOf(reinterpret_cast<uintptr_t>(block));
  while (blockTable_[i]) i = (i + 1) & (blockTable_.size() - 1);
  blockTable_[i] = block;
}

std::pair<VParmService::ParmBlock *, std::ptrdiff_t> VParmService::placeOf(const void *p) const {
  if (blockTable_.empty()) return {nullptr, -1};
  const uintptr_t block = reinterpret_cast<uintptr_t>(p) & ~uintptr_t{kBlockBytes - 1};
  for (std::size_t i = slotOf(block); blockTable_[i]; i = (i + 1) & (blockTable_.size() - 1))
    if (reinterpret_cast<uintptr_t>(blockTable_[i]) == block) {
      const std::ptrdiff_t at = blockTable_[i]->indexOf(p);
      return {at >= 0 ? blockTable_[i] : nullptr, at};
    }
  return {nullptr, -1};
}

void VParmService::destroy(VParm *parm) {
  const auto [block, i] = placeOf(parm);
  if (!block) return;
  if (parm->group) std::erase(parm->group->channels, parm);
  checks_.destroyed(parm);
  if (block->full()) openBlocks_.push_back(block);
  block->release(static_cast<std::size_t>(i));
  --liveParms_;
}

HostEnvelope *VParmService::createEnvelope(ChanGroup *group, const std::string &name, int32_t type) {
  auto e = std::make_unique<HostEnvelope>();
  e->name = name;
  e->group = group;
  e->type = type;
  HostEnvelope *raw = e.get();
  Booking booked(checks_, raw, Handle::Envelope);
  envelopes_.emplace(raw, std::move(e));
  booked.keep();
  return raw;
}

void VParmService::destroyEnvelope(HostEnvelope *e) {
  checks_.destroyed(e);
  envelopes_.erase(e);
}

HostEnvelope *VParmService::findEnvelope(LWEnvelopeID id) {
  auto it = envelopes_.find(reinterpret_cast<HostEnvelope *>(id));
  return it == envelopes_.end() ? nullptr : it->second.get();
}

VParm *VParmService::findQuiet(LWVParmID id) {
  const auto [block, i] = placeOf(id);
  return block ? block->get(static_cast<std::size_t>(i)) : nullptr;
}

VParm *VParmService::find(LWVParmID id) {
  if (VParm *p = findQuiet(id)) return p;
  ++badHandles_;
  return nullptr;
}

// Layout: component count (I4), then per component its value (DP), key count
// (I4) and keys (time DP, value DP, shape I2).
LWError saveVParm(const VParm &p, const LWSaveState *ss) {
  const int32_t n = p.components;
  ss->writeI4(ss->writeData, &n, 1);
  for (int c = 0; c < n; ++c) {
    ss->writeDP(ss->writeData, &p.value[c], 1);
    const auto count = static_cast<int32_t>(p.env[c].keys.size());
    ss->writeI4(ss->writeData, &count, 1);
    for (const Key &k : p.env[c].keys) {
      const double tv[2] = {k.time, k.value};
      const auto shape = static_cast<int16_t>(k.shape);
      ss->writeDP(ss->writeData, tv, 2);
      ss->writeI2(ss->writeData, &shape, 1);
    }
  }
  return nullptr;
}

LWError loadVParm(VParm &p, const LWLoadState *ls) {
  int32_t n = 0;
  if (ls->readI4(ls->readData, &n, 1) != 1) return kShortStream;
  if (n != p.components) return kMismatch;
  double value[3] = {0, 0, 0};
  Envelope env[3];
  for (int c = 0; c < n; ++c) {
    int32_t count = 0;
    if (ls->readDP(ls->readData, &value[c], 1) != 1 || ls->readI4(ls->readData, &count, 1) != 1)
      return kShortStream;
    if (count < 0 || count > kMaxKeys) return kBadKeys;
    for (int32_t k = 0; k < count; ++k) {
      double tv[2];
      int16_t shape = 0;
      if (ls->readDP(ls->readData, tv, 2) != 2 || ls->readI2(ls->readData, &shape, 1) != 1) return kShortStream;
      if (!std::isfinite(tv[0])) return kBadKeys;
      env[c].set(tv[0], tv[1], shape == 1 ? KeyShape::Stepped : KeyShape::Linear);
    }
  }
  // Only a complete read replaces the parameter.
  for (int c = 0; c < n; ++c) {
    p.value[c] = value[c];
    p.env[c] = std::move(env[c]);
  }
  return nullptr;
}

} // namespace hostsim
