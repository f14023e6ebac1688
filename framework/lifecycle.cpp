#include "framework/lifecycle.h"

#include <cstddef>

#include "framework/panels.h"
#include <cstdlib>
#include <cstring>


namespace juxs::fw {
namespace {

AllocFunc gAlloc = &std::calloc;

template <class T>
const T *lookup(GlobalFunc global, const char *name) {
  return static_cast<const T *>(global(name, GFUSE_TRANSIENT));
}

// Looks up the services of one kind in the host's order; false when a required
// one is missing. Handles found before a failure stay stored.
bool lookupServices(const NodeKind &kind, GlobalFunc global) {
  Services &s = *kind.svc;
  s.global = global;
  s.node = lookup<LWNodeFuncs>(global, LWNODEFUNCS_GLOBAL);
  s.editor = lookup<LWNodeEditorFuncs>(global, LWNODEEDITORFUNCS_GLOBAL);
  s.input = lookup<LWNodeInputFuncs>(global, LWNODEINPUTFUNCS_GLOBAL);
  s.output = lookup<LWNodeOutputFuncs>(global, LWNODEOUTPUTFUNCS_GLOBAL);
  if (!s.node || !s.editor || !s.input || !s.output) return false;

  for (Lookup step : kind.lookups) {
    switch (step) {
    case Lookup::ImageServices:
      s.images = lookup<LWImageList>(global, LWIMAGELIST_GLOBAL);
      s.utility = lookup<LWNodeUtilityFuncs>(global, LWNODEUTILITYFUNCS_GLOBAL);
      s.fileRequest = reinterpret_cast<LWFileActivateFunc>(global(LWFILEACTIVATEFUNC_GLOBAL, GFUSE_TRANSIENT));
      if (!s.images || !s.utility || !s.fileRequest) return false;
      if (FileRequest *r = s.fileRecord) {
        r->local.reqType = FREQ_LOAD;
        r->local.result = 0;
        r->local.title = "Load Clip or Still";
        r->local.fileType = "Images";
        r->local.path = r->path;
        r->local.baseName = r->baseName;
        r->local.fullName = r->fullName;
        r->local.bufLen = FileRequest::kBufferLength;
        r->local.pickName = nullptr;
      }
      break;
    case Lookup::ModelerTest:
      // The modeler has no backdrop and no render time: nodes there fall back
      // to their fixed colours.
      s.systemId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(global(LWSYSTEMID_GLOBAL, GFUSE_TRANSIENT)));
      if ((s.systemId & LWSYS_TYPEBITS) == LWSYS_MODELER) {
        s.backdrop = nullptr;
        s.time = nullptr;
      } else {
        s.backdrop = lookup<LWBackdropInfo>(global, LWBACKDROPINFO_GLOBAL);
        s.time = lookup<LWTimeInfo>(global, LWTIMEINFO_GLOBAL);
        if (!s.backdrop || !s.time) return false;
      }
      break;
    }
  }

  if (kind.usesParams) {
    s.vparm = lookup<LWVParmFuncs>(global, LWVPARMFUNCS_GLOBAL);
    s.envelopes = lookup<LWEnvelopeFuncs>(global, LWENVELOPEFUNCS_GLOBAL);
    if (!s.vparm || !s.envelopes) return false;
  }
  return true;
}

// The parameter at position i of the copy, destroy and persistence order.
const ParamSetting &paramAt(const NodeKind &kind, std::size_t i) {
  return kind.paramOrder.empty() ? kind.params[i] : kind.params[kind.paramOrder[i]];
}

std::size_t paramCount(const NodeKind &kind) {
  return kind.paramOrder.empty() ? kind.params.size() : kind.paramOrder.size();
}

} // namespace

void setAllocator(AllocFunc alloc) noexcept { gAlloc = alloc ? alloc : &std::calloc; }
void *allocZeroed(std::size_t size) noexcept { return gAlloc(1, size); }
void freeRecord(void *record) noexcept { std::free(record); }

int32_t activateHandler(const NodeKind &kind, const HandlerCallbacks &cb, int32_t version, GlobalFunc global,
                        void *local) noexcept {
  if (version != LWNODE_HVERSION) return AFUNC_BADVERSION;
  auto *handler = static_cast<LWNodeHandler *>(local);
  // A record we cannot fill is refused like a version we do not know.
  if (!global || !handler || !handler->inst || !handler->rend) return AFUNC_BADVERSION;
  if (!lookupServices(kind, global)) return AFUNC_BADGLOBAL;

  handler->inst->priv = reinterpret_cast<void *>(global);
  handler->inst->create = cb.create;
  handler->inst->destroy = cb.destroy;
  handler->inst->copy = cb.copy;
  handler->inst->load = cb.load;
  handler->inst->save = cb.save;
  handler->rend->init = cb.init;
  handler->rend->cleanup = cb.cleanup;
  handler->rend->newTime = cb.newTime;
  handler->evaluate = kind.evaluate;
  return AFUNC_OK;
}

LWInstance createInstance(const NodeKind &kind, NodeInputEvent inputEvent, void *priv, void *context,
                          LWError *error) noexcept {
  const Services &s = *kind.svc;
  void *inst = allocZeroed(kind.size);
  if (!inst) {
    if (error) *error = kAllocFailed;
    return nullptr;
  }
  auto node = static_cast<NodeID>(context);
  field<NodeID>(inst, kind.nodeOffset) = node;

  if (kind.previewOff) s.node->setNodePreviewType(node, NPT_OFF);
  s.node->setNodeColor3(node, 164, 50, 10);

  for (const IntSetting &i : kind.ints) field<int32_t>(inst, i.offset) = i.def;
  for (const ParamSetting &p : kind.params) std::memcpy(&field<double>(inst, p.value), p.def, sizeof(double) * componentsOf(p.type));
  if (kind.onDefaults) kind.onDefaults(inst, priv);

  if (kind.usesParams && kind.groupOffset != kNoField) {
    LWChanGroupID group = s.envelopes->createGroup(s.node->chanGrp(node), kind.envGroup);
    field<LWChanGroupID>(inst, kind.groupOffset) = group;
    for (const ParamSetting &p : kind.params) {
      LWVParmID parm = s.vparm->create(p.type, -1);
      if (parm) {
        s.vparm->setup(parm, p.channel, group, nullptr, nullptr, nullptr, nullptr);
        s.vparm->setVal(parm, &field<double>(inst, p.value));
      }
      field<LWVParmID>(inst, p.handle) = parm;
    }
  }
  for (const Port &in : kind.inputs) field<NodeInputID>(inst, in.offset) = s.input->create(node, in.type, in.name, inputEvent);
  for (const Port &out : kind.outputs) field<NodeOutputID>(inst, out.offset) = s.output->create(node, out.type, out.name);
  if (kind.onCreated) kind.onCreated(inst);
  return inst;
}

void destroyInstance(const NodeKind &kind, LWInstance inst) noexcept {
  if (!inst) return;
  if (kind.beforeDestroy) kind.beforeDestroy(inst);
  for (std::size_t i = 0; i < paramCount(kind); ++i) {
    LWVParmID parm = field<LWVParmID>(inst, paramAt(kind, i).handle);
    if (parm) kind.svc->vparm->destroy(parm);
  }
  freeRecord(inst);
}

LWError copyInstance(const NodeKind &kind, LWInstance to, LWInstance from) noexcept {
  if (!to || !from || to == from) return nullptr;
  for (const IntSetting &i : kind.ints)
    if (i.copied) field<int32_t>(to, i.offset) = field<int32_t>(from, i.offset);
  for (std::size_t i = 0; i < paramCount(kind); ++i) {
    const ParamSetting &p = paramAt(kind, i);
    LWVParmID dst = field<LWVParmID>(to, p.handle), src = field<LWVParmID>(from, p.handle);
    if (dst && src) kind.svc->vparm->copy(dst, src);
  }
  if (kind.afterCopy) kind.afterCopy(to, from);
  return nullptr;
}

LWError loadInstance(const NodeKind &kind, LWInstance inst, const LWLoadState *ls) noexcept {
  if (!inst || !ls) return nullptr;
  // The node's own settings are read aside first: a block that ends early
  // or is damaged before the parameters leaves the node as it was.
  int32_t ints[kMaxIntSettings];
  const std::size_t count = kind.ints.size() < kMaxIntSettings ? kind.ints.size() : kMaxIntSettings;
  for (std::size_t i = 0; i < count; ++i) {
    int16_t v = 0;
    if (ls->readI2(ls->readData, &v, 1) != 1) return kBlockDamaged;
    ints[i] = v; // sign-extended, as saved
  }
  alignas(std::max_align_t) unsigned char staged[kMaxItemBytes] = {};
  const StagedInts stagedInts{kind.ints.first(count), ints};
  for (const ItemSlot &item : kind.items)
    if (LWError e = item.codec->load(item, stagedInts, ls, staged + item.staged)) return e;
  // Parameters belong to the host and each reads its own part of the block
  // from the host's stream. The first that fails ends the load with its
  // error: those before it keep what they read (the host tells its user
  // the load failed), the later ones and the node's own settings stay as
  // they were. The cached values follow the parameters either way.
  // A kind without parameters may not have looked the service up at all.
  for (std::size_t i = 0; i < paramCount(kind); ++i) {
    LWVParmID parm = field<LWVParmID>(inst, paramAt(kind, i).handle);
    LWError e = parm ? kind.svc->vparm->load(parm, ls) : kParamMissing;
    if (e) {
      refreshParams(kind, inst, 0.0);
      return e;
    }
  }
  for (std::size_t i = 0; i < count; ++i) field<int32_t>(inst, kind.ints[i].offset) = ints[i];
  for (const ItemSlot &item : kind.items) item.codec->apply(item, inst, staged + item.staged);
  if (kind.afterLoad) kind.afterLoad(inst);
  refreshParams(kind, inst, 0.0);
  return nullptr;
}

LWError saveInstance(const NodeKind &kind, LWInstance inst, const LWSaveState *ss) noexcept {
  if (!inst || !ss) return nullptr;
  for (const IntSetting &i : kind.ints) {
    // The low 16 bits; loading sign-extends them again.
    const auto v = static_cast<int16_t>(static_cast<uint16_t>(field<int32_t>(inst, i.offset)));
    ss->writeI2(ss->writeData, &v, 1);
  }
  for (const ItemSlot &item : kind.items)
    if (LWError e = item.codec->save(item, inst, ss)) return e;
  for (std::size_t i = 0; i < paramCount(kind); ++i) {
    LWVParmID parm = field<LWVParmID>(inst, paramAt(kind, i).handle);
    if (!parm) return kParamMissing;
    if (LWError e = kind.svc->vparm->save(parm, ss)) return e;
  }
  return nullptr;
}

void refreshParams(const NodeKind &kind, void *inst, LWTime t) noexcept {
  for (const ParamSetting &p : kind.params) {
    LWVParmID parm = field<LWVParmID>(inst, p.handle);
    if (!parm) continue;
    double v[3] = {0.0, 0.0, 0.0};
    kind.svc->vparm->getVal(parm, t, nullptr, v);
    std::memcpy(&field<double>(inst, p.value), v, sizeof(double) * componentsOf(p.type));
  }
}

int32_t inputEvent(const NodeKind &kind, void *inst, int32_t eventKind) noexcept {
  const Services &s = *kind.svc;
  if (inst && kind.panelOffset != kNoField && s.xpanel)
    if (LWXPanelID panel = field<LWXPanelID>(inst, kind.panelOffset)) s.xpanel->viewRefresh(panel);
  if (s.instUpdate && eventKind == NIE_INPUTNODEDESTROY) s.instUpdate(LWNODE_HCLASS, inst);
  return 1;
}

LWError initInstance(const NodeKind &kind, LWInstance inst, int32_t mode) noexcept {
  if (inst)
    for (LWError (*start)(void *) noexcept : kind.rowStarts)
      if (LWError e = start(inst)) return e;
  return kind.init ? kind.init(inst, mode) : nullptr;
}

namespace {

LWError loadText(const ItemSlot &item, const StagedInts &, const LWLoadState *ls, void *staged) noexcept {
  char *text = static_cast<char *>(staged);
  const auto room = static_cast<int32_t>(item.bytes);
  const int32_t n = ls->readStr(ls->readData, text, room);
  if (n < 0) return kBlockDamaged;
  text[item.bytes - 1] = '\0';
  if (n == room - 1) dropSplitCharacter(text, static_cast<std::size_t>(n));
  return nullptr;
}
void applyText(const ItemSlot &item, void *inst, const void *staged) noexcept {
  copyText(&field<char>(inst, item.offset), item.bytes, static_cast<const char *>(staged));
}
LWError saveText(const ItemSlot &item, const void *inst, const LWSaveState *ss) noexcept {
  ss->writeStr(ss->writeData, &field<char>(inst, item.offset));
  return nullptr;
}

} // namespace

const ItemCodec kTextCodec{&loadText, &applyText, &saveText};
void noCleanup(LWInstance) noexcept {}

} // namespace juxs::fw
