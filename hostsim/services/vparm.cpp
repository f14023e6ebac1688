#include "hostsim/services/vparm.h"

#include <algorithm>
#include <cmath>

namespace hostsim {
namespace {

VParmService *gCurrent = nullptr;

// Keys per component a stream may hold; a larger count is a corrupt stream,
// not a reason to allocate.
constexpr int32_t kMaxKeys = 100000;

constexpr const char *kShortStream = "Variant parameter data ended early.";
constexpr const char *kMismatch = "Variant parameter data does not match the parameter.";
constexpr const char *kBadKeys = "Variant parameter data holds an impossible key count.";

bool knownType(int32_t type) {
  switch (type) {
  case LWVP_FLOAT:
  case LWVP_FLOAT3:
  case LWVP_PERCENT:
  case LWVP_DIST:
  case LWVP_ANGLE:
  case LWVP_COLOR:
    return true;
  default:
    return false;
  }
}

struct Ops {
  static VParmService &svc() { return *gCurrent; }

  static LWVParmID create(int32_t type, int32_t) { return reinterpret_cast<LWVParmID>(svc().create(type)); }
  static void destroy(LWVParmID id) {
    if (VParm *p = svc().find(id)) svc().destroy(p);
  }
  static int32_t setup(LWVParmID id, const char *channel, LWChanGroupID group, LWTxtrContextID, LWVParmEventFunc,
                       const char *, void *) {
    VParm *p = svc().find(id);
    if (!p) return 0;
    if (p->group) std::erase(p->group->channels, p);
    p->channel = channel ? channel : "";
    p->group = reinterpret_cast<ChanGroup *>(group);
    if (p->group) p->group->channels.push_back(p);
    return 1;
  }
  static LWError copy(LWVParmID to, LWVParmID from) {
    VParm *dst = svc().find(to);
    VParm *src = svc().find(from);
    if (!dst || !src) return "Unknown variant parameter.";
    if (dst->components != src->components) return kMismatch;
    for (int c = 0; c < 3; ++c) {
      dst->value[c] = src->value[c];
      dst->env[c] = src->env[c];
    }
    return nullptr;
  }
  static LWError load(LWVParmID id, const LWLoadState *ls) {
    VParm *p = svc().find(id);
    if (!p || !ls) return "Unknown variant parameter.";
    return loadVParm(*p, ls);
  }
  static LWError save(LWVParmID id, const LWSaveState *ss) {
    VParm *p = svc().find(id);
    if (!p || !ss) return "Unknown variant parameter.";
    return saveVParm(*p, ss);
  }
  static double getVal(LWVParmID id, LWTime t, LWMicropolID, double *result) {
    VParm *p = svc().find(id);
    if (!p) return 0.0;
    for (int c = 0; c < p->components; ++c)
      if (result) result[c] = p->at(c, t);
    return p->at(0, t);
  }
  static int32_t setVal(LWVParmID id, const double *value) {
    VParm *p = svc().find(id);
    if (!p || !value) return 0;
    for (int c = 0; c < p->components; ++c) p->value[c] = value[c];
    return 1;
  }
  static int32_t getState(LWVParmID id) {
    VParm *p = svc().find(id);
    return p && p->animated() ? LWVPSF_ENV : 0;
  }
  static void setState(LWVParmID id, int32_t state) {
    // Clearing the envelope bit drops the keys; setting it alone adds none.
    VParm *p = svc().find(id);
    if (p && !(state & LWVPSF_ENV))
      for (auto &e : p->env) e.keys.clear();
  }

  static LWChanGroupID createGroup(LWChanGroupID parent, const char *name) {
    return reinterpret_cast<LWChanGroupID>(
        svc().createGroup(reinterpret_cast<ChanGroup *>(parent), name ? name : ""));
  }
  static void destroyGroup(LWChanGroupID group) { svc().destroyGroup(reinterpret_cast<ChanGroup *>(group)); }
  static LWChanGroupID findGroup(LWChanGroupID parent, const char *name) {
    ChanGroup *p = parent ? reinterpret_cast<ChanGroup *>(parent) : &svc().root();
    return reinterpret_cast<LWChanGroupID>(name ? p->child(name) : nullptr);
  }
  static LWChanGroupID nextGroup(LWChanGroupID parent, LWChanGroupID group) {
    ChanGroup *p = parent ? reinterpret_cast<ChanGroup *>(parent) : &svc().root();
    auto &kids = p->children;
    if (!group) return kids.empty() ? nullptr : reinterpret_cast<LWChanGroupID>(kids.front().get());
    for (std::size_t i = 0; i + 1 < kids.size(); ++i)
      if (kids[i].get() == reinterpret_cast<ChanGroup *>(group)) return reinterpret_cast<LWChanGroupID>(kids[i + 1].get());
    return nullptr;
  }
  static const char *groupName(LWChanGroupID group) {
    return group ? reinterpret_cast<ChanGroup *>(group)->name.c_str() : nullptr;
  }
  static LWChanGroupID groupParent(LWChanGroupID group) {
    if (!group) return nullptr;
    ChanGroup *parent = reinterpret_cast<ChanGroup *>(group)->parent;
    return parent == &svc().root() ? nullptr : reinterpret_cast<LWChanGroupID>(parent);
  }
};

void detachChannels(ChanGroup &g) {
  for (VParm *p : g.channels) p->group = nullptr;
  g.channels.clear();
  for (auto &c : g.children) detachChannels(*c);
}

} // namespace

std::string ChanGroup::path() const {
  if (!parent || !parent->parent) return name;
  return parent->path() + "/" + name;
}

ChanGroup *ChanGroup::child(const std::string &n) const {
  for (auto &c : children)
    if (c->name == n) return c.get();
  return nullptr;
}

double Envelope::at(double t) const {
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

bool VParm::animated() const {
  for (int c = 0; c < components; ++c)
    if (!env[c].keys.empty()) return true;
  return false;
}

double VParm::at(int c, double t) const { return env[c].keys.empty() ? value[c] : env[c].at(t); }

VParmService::VParmService() {
  funcs_.create = &Ops::create;
  funcs_.destroy = &Ops::destroy;
  funcs_.setup = &Ops::setup;
  funcs_.copy = &Ops::copy;
  funcs_.load = &Ops::load;
  funcs_.save = &Ops::save;
  funcs_.getVal = &Ops::getVal;
  funcs_.setVal = &Ops::setVal;
  funcs_.getState = &Ops::getState;
  funcs_.setState = &Ops::setState;
  envFuncs_.createGroup = &Ops::createGroup;
  envFuncs_.destroyGroup = &Ops::destroyGroup;
  envFuncs_.findGroup = &Ops::findGroup;
  envFuncs_.nextGroup = &Ops::nextGroup;
  envFuncs_.groupName = &Ops::groupName;
  envFuncs_.groupParent = &Ops::groupParent;
  root_.name = "";
}

VParmService::~VParmService() {
  if (gCurrent == this) gCurrent = nullptr;
}

void VParmService::makeCurrent() { gCurrent = this; }

ChanGroup *VParmService::createGroup(ChanGroup *parent, const std::string &name) {
  ChanGroup *p = parent ? parent : &root_;
  auto g = std::make_unique<ChanGroup>();
  g->name = name;
  g->parent = p;
  p->children.push_back(std::move(g));
  return p->children.back().get();
}

void VParmService::destroyGroup(ChanGroup *group) {
  if (!group || group == &root_ || !group->parent) return;
  detachChannels(*group);
  std::erase_if(group->parent->children, [group](const auto &c) { return c.get() == group; });
}

VParm *VParmService::create(int32_t type) {
  if (!knownType(type)) return nullptr;
  if (failCreates_ > 0) {
    --failCreates_;
    return nullptr;
  }
  auto p = std::make_unique<VParm>();
  p->type = type;
  p->components = (type & 0x0F) ? 3 : 1; // 0x11 and 0x51 hold three
  VParm *raw = p.get();
  live_.emplace(raw, std::move(p));
  return raw;
}

void VParmService::destroy(VParm *parm) {
  auto it = live_.find(parm);
  if (it == live_.end()) return;
  if (parm->group) std::erase(parm->group->channels, parm);
  live_.erase(it);
}

VParm *VParmService::find(LWVParmID id) {
  auto it = live_.find(reinterpret_cast<VParm *>(id));
  if (it != live_.end()) return it->second.get();
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
