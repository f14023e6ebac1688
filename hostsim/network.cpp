#include "hostsim/network.h"

#include <algorithm>
#include <latch>
#include <thread>

namespace hostsim {
namespace {

// An empty world's ray functions: nothing is hit, traces see the backdrop.
double emptyCast(const double *, const double *) { return -1.0; }

double emptyShade(const double *, const double *, LWShaderAccess *) { return -1.0; }

double emptyTrace(const double *, const double direction[3], double color[3]) {
  if (Host *h = Host::active(); h && color && direction) h->scene().backdropColor(direction, color);
  return -1.0;
}

double emptyTraceMode(const double *position, const double direction[3], double color[3], const double,
                      const int32_t) {
  return emptyTrace(position, direction, color);
}

// No lights either.
int32_t emptyIlluminate(LWItemID, const double *, double *, double *) { return 0; }

// Random numbers from a generator of each thread's own.
float emptyRandom(RandomFloatData) {
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
  na.illuminate = &emptyIlluminate;
  na.rayTrace = &emptyTrace;
  na.rayCast = &emptyCast;
  na.rayShade = &emptyShade;
  na.rayTraceMode = &emptyTraceMode;
  na.randomFloat = &emptyRandom;
  return na;
}

Network::Network(Host &host, const Module &module, std::string name) : host_(host), module_(module) {
  group_ = host_.vparms().createGroup(nullptr, name);
}

Network::~Network() {
  if (rendering_) endRender();
  while (!nodes_.empty()) remove(nodes_.back().get());
  host_.vparms().destroyGroup(group_);
}

HostNode *Network::makeNode(const std::string &serverName, const std::string &userName, const std::string &name) {
  auto node = std::make_unique<HostNode>();
  node->serverName = serverName;
  node->userName = userName;
  node->name = name.empty() ? host_.uniqueNodeName(userName) : name;
  node->group = host_.vparms().createGroup(group_, node->name);
  nodes_.push_back(std::move(node));
  return nodes_.back().get();
}

HostNode *Network::add(const std::string &serverName, std::string *error, const std::string &name) {
  const ServerInfo *server = module_.find(LWNODE_HCLASS, serverName);
  if (!server) {
    if (error) *error = "unknown node server \"" + serverName + "\"";
    return nullptr;
  }
  if (!server->activate) {
    if (error) *error = "node server \"" + serverName + "\" has no activation";
    return nullptr;
  }
  HostNode *node = makeNode(serverName, server->userName.empty() ? serverName : server->userName, name);
  node->handler.inst = &node->instFuncs;
  node->handler.item = &node->itemFuncs;
  node->handler.rend = &node->rendFuncs;
  const int32_t rc = module_.activateHandler(*server, host_.global(), &node->handler);
  LWError failure = nullptr;
  if (rc == AFUNC_OK && node->instFuncs.create)
    node->instance = node->instFuncs.create(node->instFuncs.priv, reinterpret_cast<void *>(node), &failure);
  if (!node->instance) {
    if (error) {
      if (rc != AFUNC_OK)
        *error = "activating \"" + serverName + "\" failed with result " + std::to_string(rc);
      else
        *error = "creating \"" + serverName + "\" failed: " + (failure ? failure : "no instance");
    }
    host_.vparms().destroyGroup(node->group);
    nodes_.pop_back();
    return nullptr;
  }
  return node;
}

HostNode *Network::addHostNode(const std::string &kind,
                               const std::vector<std::pair<std::string, ConnectionType>> &outputs,
                               std::function<void(LWNodalAccess *, const NodeOutput *, OutputValue *)> fn) {
  HostNode *node = makeNode(kind, kind);
  for (const auto &[name, type] : outputs) {
    auto out = std::make_unique<NodeOutput>();
    out->node = node;
    out->name = name;
    out->type = type;
    node->outputs.push_back(std::move(out));
  }
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

HostNode *Network::duplicate(HostNode *source, std::string *error) {
  if (!source || !source->isModuleNode()) {
    if (error) *error = "only module nodes can be duplicated";
    return nullptr;
  }
  HostNode *copy = add(source->serverName, error);
  if (copy && copy->instFuncs.copy) {
    if (LWError e = copy->instFuncs.copy(copy->instance, source->instance)) {
      if (error) *error = std::string("copy failed: ") + e;
    }
  }
  return copy;
}

void Network::notify(HostNode *node, NodeInput *input, int32_t eventKind) {
  // A connection tells the type of the output now feeding the input.
  const ConnectionType type = eventKind == NIE_CONNECT && input->source ? input->source->type : 0;
  if (input->event && node->instance)
    input->event(node->instance, reinterpret_cast<NodeInputID>(input), eventKind, type);
}

void Network::remove(HostNode *node) {
  auto it = std::find_if(nodes_.begin(), nodes_.end(), [node](const auto &n) { return n.get() == node; });
  if (it == nodes_.end()) return;
  // Downstream inputs lose their connection first and hear that the node
  // feeding them is gone.
  for (auto &other : nodes_) {
    if (other.get() == node) continue;
    for (auto &in : other->inputs)
      if (in->source && in->source->node == node) {
        in->source = nullptr;
        notify(other.get(), in.get(), NIE_INPUTNODEDESTROY);
      }
  }
  host_.panels().destroyPanelsOf(node->instance);
  if (node->isModuleNode() && node->instFuncs.destroy) node->instFuncs.destroy(node->instance);
  host_.vparms().destroyGroup(node->group);
  nodes_.erase(it);
}

bool Network::dependsOn(const HostNode *node, const HostNode *upstream) const {
  if (node == upstream) return true;
  for (const auto &in : node->inputs)
    if (in->source && dependsOn(in->source->node, upstream)) return true;
  return false;
}

bool Network::connect(HostNode *from, const std::string &output, HostNode *to, const std::string &input,
                      std::string *error) {
  auto fail = [&](const std::string &why) {
    if (error) *error = why;
    return false;
  };
  if (!from || !to) return fail("no such node");
  NodeOutput *out = from->output(output);
  if (!out) return fail("node \"" + from->name + "\" has no output \"" + output + "\"");
  NodeInput *in = to->input(input);
  if (!in) return fail("node \"" + to->name + "\" has no input \"" + input + "\"");
  // A cycle would make evaluation recurse for ever.
  if (dependsOn(from, to)) return fail("connecting \"" + from->name + "\" to \"" + to->name + "\" would make a cycle");
  if (in->source) disconnect(to, input);
  in->source = out;
  notify(to, in, NIE_CONNECT);
  return true;
}

bool Network::disconnect(HostNode *to, const std::string &input) {
  NodeInput *in = to ? to->input(input) : nullptr;
  if (!in || !in->source) return false;
  in->source = nullptr;
  notify(to, in, NIE_DISCONNECT);
  return true;
}

HostNode *Network::find(const std::string &name) const {
  for (const auto &n : nodes_)
    if (n->name == name) return n.get();
  return nullptr;
}

bool Network::save(HostNode *node, SaveStream &out, std::string *error) {
  if (!node || !node->isModuleNode()) return true;
  if (!node->instFuncs.save) return true;
  if (LWError e = node->instFuncs.save(node->instance, out.state())) {
    if (error) *error = e;
    return false;
  }
  return true;
}

bool Network::load(HostNode *node, LoadStream &in, std::string *error) {
  if (!node || !node->isModuleNode() || !node->instFuncs.load) return true;
  LWError e = node->instFuncs.load(node->instance, in.state());
  std::string why;
  if (e)
    why = e;
  else if (in.failed())
    why = "the node's data ended early or is malformed";
  else if (!in.atEnd())
    why = "the node left " + std::to_string(in.remaining()) + " bytes of its data unread";
  if (why.empty()) return true;
  if (error) *error = "loading \"" + node->name + "\": " + why;
  return false;
}

bool Network::saveAll(SavedNetwork &out, int32_t ioMode, std::string *error) {
  out = SavedNetwork{};
  out.ioMode = ioMode;
  std::vector<const HostNode *> saved;
  auto indexOf = [&saved](const HostNode *n) {
    return static_cast<std::size_t>(std::find(saved.begin(), saved.end(), n) - saved.begin());
  };
  for (auto &n : nodes_) {
    if (!n->isModuleNode()) continue;
    SaveStream stream(ioMode);
    std::string why;
    if (!save(n.get(), stream, &why)) {
      if (error) *error = "saving \"" + n->name + "\": " + why;
      return false;
    }
    out.nodes.push_back(SavedNode{n->serverName, n->name, stream.bytes()});
    saved.push_back(n.get());
  }
  for (const HostNode *to : saved)
    for (const auto &in : to->inputs)
      if (in->source && indexOf(in->source->node) < saved.size())
        out.connections.push_back(SavedConnection{indexOf(in->source->node), in->source->name, indexOf(to), in->name});
  return true;
}

std::vector<HostNode *> Network::loadAll(const SavedNetwork &saved, std::span<const std::size_t> order,
                                         std::string *error) {
  const std::size_t count = saved.nodes.size();
  std::vector<std::size_t> sequence(order.begin(), order.end());
  if (order.empty())
    for (std::size_t i = 0; i < count; ++i) sequence.push_back(i);
  std::vector<HostNode *> made(count, nullptr);
  auto fail = [&](const std::string &why) {
    if (error) *error = why;
    for (HostNode *n : made)
      if (n) remove(n);
    return std::vector<HostNode *>{};
  };
  if (sequence.size() != count) return fail("the load order names " + std::to_string(sequence.size()) + " of " +
                                            std::to_string(count) + " nodes");
  for (std::size_t i : sequence) {
    if (i >= count || made[i]) return fail("the load order is not a permutation of the saved nodes");
    std::string why;
    made[i] = add(saved.nodes[i].server, &why);
    if (!made[i]) return fail(why);
    LoadStream stream(saved.nodes[i].block, saved.ioMode);
    if (!load(made[i], stream, &why)) return fail(why);
  }
  for (const SavedConnection &c : saved.connections) {
    std::string why;
    if (c.from >= count || c.to >= count) return fail("a connection names a node that was not saved");
    if (!connect(made[c.from], c.output, made[c.to], c.input, &why)) return fail(why);
  }
  return made;
}

bool Network::beginRender(int32_t mode, std::string *error) {
  if (rendering_) endRender();
  rendering_ = true;
  bool ok = true;
  for (auto &n : nodes_)
    if (n->isModuleNode() && n->rendFuncs.init)
      if (LWError e = n->rendFuncs.init(n->instance, mode); e && ok) {
        ok = false;
        if (error) *error = "\"" + n->name + "\": " + e;
      }
  return ok;
}

void Network::newTime(LWFrame frame, LWTime time) {
  host_.scene().setTime(frame, time);
  for (auto &n : nodes_)
    if (n->isModuleNode() && n->rendFuncs.newTime) n->rendFuncs.newTime(n->instance, frame, time);
}

void Network::endRender() {
  for (auto &n : nodes_)
    if (n->isModuleNode() && n->rendFuncs.cleanup) n->rendFuncs.cleanup(n->instance);
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
  // Held until every thread exists, so that their evaluations overlap.
  std::latch go(1);
  {
    std::vector<std::jthread> threads;
    try {
      for (ThreadRun &run : runs)
        threads.emplace_back([&, r = &run] {
          LWNodalAccess mine = na;
          mine.threadNum = r->threadNum;
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
