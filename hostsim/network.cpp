#include "hostsim/network.h"

#include <algorithm>
#include <latch>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "hostsim/names.h"

namespace hostsim {
namespace {

// An empty world's ray functions: nothing is hit, traces see the backdrop.
// Like every context's, they work on the sample being evaluated.
bool evaluating(const char *function) noexcept {
  Call call("the shading context", function, From::Evaluate);
  return static_cast<bool>(call);
}

double emptyCast(const double *, const double *) noexcept {
  evaluating("rayCast");
  return -1.0;
}

double emptyShade(const double *, const double *, LWShaderAccess *) noexcept {
  evaluating("rayShade");
  return -1.0;
}

double backdropSeen(const double direction[3], double color[3]) noexcept {
  if (Host *h = Host::active(); h && color && direction) h->scene().backdropColor(direction, color);
  return -1.0;
}

double emptyTrace(const double *, const double direction[3], double color[3]) noexcept {
  return evaluating("rayTrace") ? backdropSeen(direction, color) : -1.0;
}

double emptyTraceMode(const double *, const double direction[3], double color[3], const double, const int32_t) noexcept {
  return evaluating("rayTraceMode") ? backdropSeen(direction, color) : -1.0;
}

// No lights either.
int32_t emptyIlluminate(LWItemID, const double *, double *, double *) noexcept {
  evaluating("illuminate");
  return 0;
}

// Random numbers from a generator of each thread's own.
float emptyRandom(RandomFloatData) noexcept {
  if (!evaluating("randomFloat")) return 0.0f;
  thread_local uint64_t x = 0x9E3779B97F4A7C15ull;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return static_cast<float>((x >> 40) * (1.0 / 16777216.0));
}

} // namespace

LWNodalAccess emptyWorldContext() {
  LWNodalAccess na{};
  na.gNorm[1] = na.wNorm[1] = na.wNorm0[1] = 1.0;
  na.raySource[2] = -1.0;
  na.rayDir[2] = 1.0;
  na.rayLength = 1.0;
  na.spotSize = 0.001;
  na.cosine = 1.0;
  na.incomingEta = 1.0;
  for (int i = 0; i < 9; i += 4) na.oXfrm[i] = na.wXfrm[i] = 1.0;
  na.illuminate = handed(&emptyIlluminate);
  na.rayTrace = handed(&emptyTrace);
  na.rayCast = handed(&emptyCast);
  na.rayShade = handed(&emptyShade);
  na.rayTraceMode = handed(&emptyTraceMode);
  na.randomFloat = handed(&emptyRandom);
  return na;
}

Network::Network(Host &host, const Module &module, std::string name) : host_(host), module_(module) {
  group_ = host_.vparms().createGroup(nullptr, name);
}

Network::~Network() {
  if (rendering_) endRender();
  while (!nodes_.empty()) remove(nodes_.back());
  host_.vparms().destroyGroup(group_);
}

HostNode *Network::makeNode(const std::string &serverName, const std::string &userName, const std::string &name) {
  auto node = std::make_unique<HostNode>();
  node->serverName = serverName;
  node->userName = userName;
  node->name = name.empty() ? host_.uniqueNodeName(userName) : name;
  node->checks = &host_.checks();
  node->network = this;
  node->serial = ++made_;
  host_.checks().made(node.get(), Handle::Node, node.get());
  node->group = host_.vparms().createGroup(group_, node->name);
  nodes_.pushBack(node.get());
  return node.release();
}

HostNode *Network::add(const std::string &serverName, const std::string &name) {
  const ServerInfo *server = module_.find(LWNODE_HCLASS, serverName);
  if (!server) throw Error("unknown node server \"" + serverName + "\"" + nameHint(serverName, serverNames()));
  if (!server->activate) throw Error("node server \"" + serverName + "\" has no activation");
  HostNode *node = makeNode(serverName, server->userName.empty() ? serverName : server->userName, name);
  node->handler.inst = &node->instFuncs;
  node->handler.item = &node->itemFuncs;
  node->handler.rend = &node->rendFuncs;
  const int32_t rc = module_.activateHandler(*server, host_.global(), &node->handler);
  LWError failure = nullptr;
  if (rc == AFUNC_OK && node->instFuncs.create) {
    CallbackScope scope(Callback::Create, node);
    node->instance = node->instFuncs.create(node->instFuncs.priv, reinterpret_cast<void *>(node), &failure);
  }
  if (node->instance) host_.checks().made(node->instance, Handle::Instance, node);
  if (!node->instance) {
    const std::string why = rc != AFUNC_OK
                                ? "activating \"" + serverName + "\" failed with result " + std::to_string(rc)
                                : "creating \"" + serverName + "\" failed: " + (failure ? failure : "no instance");
    host_.vparms().destroyGroup(node->group);
    nodes_.erase(node);
    delete node;
    throw Error(why);
  }
  return node;
}

HostNode *Network::addHostNode(const std::string &kind,
                               const std::vector<std::pair<std::string, ConnectionType>> &outputs,
                               std::function<void(LWNodalAccess *, const NodeOutput *, OutputValue *)> fn) {
  HostNode *node = makeNode(kind, kind);
  for (const auto &[name, type] : outputs) node->addOutput(type, name.c_str());
  node->hostEvaluate = std::move(fn);
  return node;
}

HostNode *Network::addConstant(const OutputValue &value) {
  return addHostNode("Constant", {{"Value", value.type}}, [value](LWNodalAccess *, const NodeOutput *, OutputValue *out) {
    out->v[0] = value.v[0];
    out->v[1] = value.v[1];
    out->v[2] = value.v[2];
    out->i = value.i;
    out->set = true;
  });
}

HostNode *Network::duplicate(HostNode *source) {
  if (!source || !source->isModuleNode()) throw Error("only module nodes can be duplicated");
  HostNode *copy = add(source->serverName);
  if (copy->instFuncs.copy) {
    LWError e;
    {
      CallbackScope scope(Callback::Copy, copy);
      e = copy->instFuncs.copy(copy->instance, source->instance);
    }
    if (e) {
      // A copy that failed is no copy: it goes, and the caller hears why.
      const std::string why = std::string("copy failed: ") + e;
      remove(copy);
      throw Error(why);
    }
  }
  return copy;
}

void Network::notify(HostNode *node, NodeInput *input, int32_t eventKind) {
  // A connection tells the type of the output now feeding the input.
  const ConnectionType type = eventKind == NIE_CONNECT && input->source ? input->source->type : 0;
  if (input->event && node->instance) {
    CallbackScope scope(Callback::InputEvent, node);
    input->event(node->instance, reinterpret_cast<NodeInputID>(input), eventKind, type);
  }
}

namespace {

// Where an input stands among its node's inputs.
std::size_t positionOf(const NodeInput *in) {
  const auto &list = in->node->inputs;
  return static_cast<std::size_t>(
      std::find_if(list.begin(), list.end(), [in](const auto &i) { return i.get() == in; }) - list.begin());
}

} // namespace

void Network::remove(HostNode *node) {
  if (!node || node->network != this) return;
  // Downstream inputs lose their connection first and hear that the node
  // feeding them is gone, in the network's order, as the editor tells them.
  std::vector<NodeInput *> fed;
  for (const auto &out : node->outputs)
    for (NodeInput *in : out->targets) fed.push_back(in);
  std::sort(fed.begin(), fed.end(), [](const NodeInput *a, const NodeInput *b) {
    return a->node != b->node ? a->node->serial < b->node->serial : positionOf(a) < positionOf(b);
  });
  for (NodeInput *in : fed) {
    // One told before may have taken an input of its own away.
    if (!host_.checks().live(in, Handle::Input) || !in->source || in->source->node != node) continue;
    detachSource(*in);
    notify(in->node, in, NIE_INPUTNODEDESTROY);
  }
  host_.panels().destroyPanelsOf(node->instance);
  if (node->isModuleNode() && node->instFuncs.destroy) {
    CallbackScope scope(Callback::Destroy, node);
    node->instFuncs.destroy(node->instance);
  }
  host_.checks().destroyed(node->instance);
  host_.vparms().destroyGroup(node->group);
  nodes_.erase(node);
  delete node; // its inputs' connections go with it (those its destroy left)
}

// Searched from both ends at once, a node of each in turn, up from from and
// down from to: a long chain costs what its shorter side holds, whichever
// way it was built, and a node reached twice is walked once.
bool Network::wouldCycle(const HostNode *from, const HostNode *to) const {
  if (from == to) return true;
  std::vector<const HostNode *> up{from}, down{to};
  std::unordered_set<const HostNode *> seenUp{from}, seenDown{to};
  for (std::size_t u = 0, d = 0; u < up.size() && d < down.size();) {
    for (const auto &in : up[u++]->inputs)
      if (const HostNode *n = in->source ? in->source->node : nullptr) {
        if (seenDown.count(n)) return true;
        if (seenUp.insert(n).second) up.push_back(n);
      }
    for (const auto &out : down[d++]->outputs)
      for (const NodeInput *in : out->targets) {
        if (seenUp.count(in->node)) return true;
        if (seenDown.insert(in->node).second) down.push_back(in->node);
      }
  }
  return false;
}

void Network::connect(HostNode *from, const std::string &output, HostNode *to, const std::string &input) {
  if (!from || !to) throw Error("no such node");
  NodeOutput *out = from->output(output);
  if (!out) throw Error("node \"" + from->name + "\" has no output \"" + output + "\"" + nameHint(output, from->outputNames()));
  NodeInput *in = to->input(input);
  if (!in) throw Error("node \"" + to->name + "\" has no input \"" + input + "\"" + nameHint(input, to->inputNames()));
  // A cycle would make evaluation recurse for ever.
  if (wouldCycle(from, to)) throw Error("connecting \"" + from->name + "\" to \"" + to->name + "\" would make a cycle");
  if (in->source) disconnect(to, input);
  attachSource(*in, *out);
  notify(to, in, NIE_CONNECT);
}

bool Network::disconnect(HostNode *to, const std::string &input) {
  NodeInput *in = to ? to->input(input) : nullptr;
  if (!in || !in->source) return false;
  detachSource(*in);
  notify(to, in, NIE_DISCONNECT);
  return true;
}

std::vector<std::string> Network::serverNames() const {
  std::vector<std::string> names;
  for (const ServerInfo &s : module_.servers())
    if (s.className == LWNODE_HCLASS) names.push_back(s.name);
  return names;
}

HostNode *Network::find(const std::string &name) const {
  for (HostNode *n : nodes_)
    if (n->name == name) return n;
  return nullptr;
}

void Network::save(HostNode *node, SaveStream &out) {
  if (!node || !node->isModuleNode()) return;
  if (!node->instFuncs.save) return;
  LWError e;
  {
    SaveScope scope(out, node);
    e = node->instFuncs.save(node->instance, scope.state());
  }
  if (out.outOfMemory()) throw Error("the host ran out of memory for the node's data");
  if (e) throw Error(e);
}

void Network::load(HostNode *node, LoadStream &in) {
  if (!node || !node->isModuleNode() || !node->instFuncs.load) return;
  LWError e;
  {
    LoadScope scope(in, node);
    e = node->instFuncs.load(node->instance, scope.state());
  }
  std::string why;
  // A read the host had no memory for is why, whatever the node made of it.
  if (in.outOfMemory())
    why = "the host ran out of memory reading the node's data";
  else if (e)
    why = e;
  else if (in.failed())
    why = "the node's data ended early or is malformed";
  else if (!in.atEnd())
    why = "the node left " + std::to_string(in.remaining()) + " bytes of its data unread";
  if (!why.empty()) throw Error("loading \"" + node->name + "\": " + why);
}

void Network::saveAll(SavedNetwork &out, int32_t ioMode) {
  out = SavedNetwork{};
  out.ioMode = ioMode;
  std::vector<const HostNode *> saved;
  std::unordered_map<const HostNode *, std::size_t> indexOf;
  saved.reserve(nodes_.size());
  out.nodes.reserve(nodes_.size());
  for (HostNode *n : nodes_) {
    if (!n->isModuleNode()) continue;
    SaveStream stream(ioMode);
    try {
      save(n, stream);
    } catch (const Error &e) {
      throw Error("saving \"" + n->name + "\": " + e.what());
    }
    out.nodes.push_back(SavedNode{n->serverName, n->name, stream.take()});
    indexOf[n] = saved.size();
    saved.push_back(n);
  }
  for (std::size_t k = 0; k < saved.size(); ++k)
    for (const auto &in : saved[k]->inputs)
      if (const auto from = in->source ? indexOf.find(in->source->node) : indexOf.end(); from != indexOf.end())
        out.connections.push_back(SavedConnection{from->second, in->source->name, k, in->name});
}

std::vector<HostNode *> Network::loadAll(const SavedNetwork &saved, std::span<const std::size_t> order) {
  const std::size_t count = saved.nodes.size();
  std::vector<std::size_t> sequence(order.begin(), order.end());
  if (order.empty())
    for (std::size_t i = 0; i < count; ++i) sequence.push_back(i);
  std::vector<HostNode *> made(count, nullptr);
  if (sequence.size() != count)
    throw Error("the load order names " + std::to_string(sequence.size()) + " of " + std::to_string(count) + " nodes");
  try {
    for (std::size_t i : sequence) {
      if (i >= count || made[i]) throw Error("the load order is not a permutation of the saved nodes");
      made[i] = add(saved.nodes[i].server);
      LoadStream stream(saved.nodes[i].block, saved.ioMode);
      load(made[i], stream);
    }
    for (const SavedConnection &c : saved.connections) {
      if (c.from >= count || c.to >= count) throw Error("a connection names a node that was not saved");
      connect(made[c.from], c.output, made[c.to], c.input);
    }
  } catch (const Error &) {
    // All or nothing: what was made goes.
    for (HostNode *n : made)
      if (n) remove(n);
    throw;
  }
  return made;
}

void Network::beginRender(int32_t mode) {
  if (rendering_) endRender();
  rendering_ = true;
  handedContexts_.clear();
  // Every node is initialised, as the host does, before the first fault is told.
  std::string first;
  for (HostNode *n : nodes_)
    if (n->isModuleNode() && n->rendFuncs.init) {
      CallbackScope scope(Callback::Init, n);
      if (LWError e = n->rendFuncs.init(n->instance, mode); e && first.empty()) first = "\"" + n->name + "\": " + e;
    }
  if (!first.empty()) throw Error(first);
}

void Network::newTime(LWFrame frame, LWTime time) {
  host_.scene().setTime(frame, time);
  for (HostNode *n : nodes_)
    if (n->isModuleNode() && n->rendFuncs.newTime) {
      CallbackScope scope(Callback::NewTime, n);
      n->rendFuncs.newTime(n->instance, frame, time);
    }
}

void Network::endRender() {
  for (HostNode *n : nodes_)
    if (n->isModuleNode() && n->rendFuncs.cleanup) {
      CallbackScope scope(Callback::Cleanup, n);
      n->rendFuncs.cleanup(n->instance);
    }
  rendering_ = false;
}

OutputValue Network::evaluate(HostNode *node, const std::string &output, LWNodalAccess &na) const {
  OutputValue v;
  const NodeOutput *out = node ? node->output(output) : nullptr;
  if (out) evaluateOutput(*node, &na, out, v);
  return v;
}

std::vector<ThreadRun> Network::evaluateConcurrently(HostNode *node, const std::string &output, const LWNodalAccess &na,
                                                    const std::vector<int32_t> &threadNums, int count,
                                                    const std::function<void(LWNodalAccess &, int)> &prepare) const {
  std::vector<ThreadRun> runs(threadNums.size());
  const NodeOutput *out = node ? node->output(output) : nullptr;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    runs[i].threadNum = threadNums[i];
    runs[i].values.resize(out ? static_cast<std::size_t>(std::max(count, 0)) : 0);
  }
  // Each thread's context is the host's until the next render starts: a
  // module that kept one past its evaluate reaches the host's refusal, not
  // memory that is gone.
  std::vector<LWNodalAccess *> contexts;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    handedContexts_.push_back(std::make_unique<LWNodalAccess>(na));
    contexts.push_back(handedContexts_.back().get());
    contexts.back()->threadNum = threadNums[i];
  }
  // Held until every thread exists, so that their evaluations overlap.
  std::latch go(1);
  {
    std::vector<std::jthread> threads;
    try {
      for (std::size_t i = 0; i < runs.size(); ++i)
        threads.emplace_back([&, r = &runs[i], &mine = *contexts[i]] {
          go.wait();
          for (std::size_t k = 0; k < r->values.size(); ++k) {
            if (prepare) prepare(mine, static_cast<int>(k));
            evaluateOutput(*node, &mine, out, r->values[k]);
          }
        });
    } catch (...) {
      go.count_down(); // let the threads already started finish before they are joined
      throw;
    }
    go.count_down();
  } // joins
  return runs;
}

} // namespace hostsim
