// Node networks. Module nodes made through their NodeHandler server,
// host nodes (constants), connections with the host's conversions, node
// persistence, and the render lifecycle that drives them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "hostsim/error.h"
#include "hostsim/host.h"
#include "hostsim/loader.h"
#include "hostsim/services/node_services.h"
#include "hostsim/services/streams.h"

namespace hostsim {

// A shading context with the defaults of an empty world: rays hit nothing,
// traces see the backdrop. Renderers and tests overwrite what they need.
LWNodalAccess emptyWorldContext();

// A network as a scene keeps it: each module node's server, name and
// persisted block, and the connections between those nodes. Host nodes and
// their connections are not part of it.
struct SavedNode {
  std::string server;
  std::string name; // as it was when saved
  std::vector<uint8_t> block;
};
struct SavedConnection {
  std::size_t from; // index into SavedNetwork::nodes
  std::string output;
  std::size_t to;
  std::string input;
};
struct SavedNetwork {
  int32_t ioMode = LWIO_BINARY;
  std::vector<SavedNode> nodes;
  std::vector<SavedConnection> connections;
};

// What one render thread saw while others evaluated beside it.
struct ThreadRun {
  int32_t threadNum = 0;
  std::vector<OutputValue> values; // in evaluation order
};

class Network {
public:
  Network(Host &host, const Module &module, std::string name = "Surface");
  ~Network(); // destroys every node
  Network(const Network &) = delete;
  Network &operator=(const Network &) = delete;

  Host &host() { return host_; }
  const Module &module() const { return module_; }
  ChanGroup *group() const { return group_; }

  // A module node: activates the server's handler and creates an instance.
  // The node is named as the host names new nodes, or with name when given
  // (one read from a scene, say; keeping it unique is the caller's part).
  // Throws Error when the server is unknown or its node cannot be made.
  HostNode *add(const std::string &serverName, const std::string &name = {});
  // A host node with the given outputs, evaluated by fn.
  HostNode *addHostNode(const std::string &kind, const std::vector<std::pair<std::string, ConnectionType>> &outputs,
                        std::function<void(LWNodalAccess *, const NodeOutput *, OutputValue *)> fn);
  // A host node with one output "Value" that always gives value.
  HostNode *addConstant(const OutputValue &value);
  // The host's duplicate: a new node of the same server, then copy. Throws
  // Error, leaving no new node, when either fails.
  HostNode *duplicate(HostNode *source);
  // Deletes a node of this network (any other pointer is ignored). It costs
  // what the node's own connections cost, whatever the network's size.
  void remove(HostNode *node);

  // Throws Error for a missing node, output or input, and for a cycle.
  void connect(HostNode *from, const std::string &output, HostNode *to, const std::string &input);
  // Whether connecting from to to would make a cycle: whether from is to, or
  // takes what to delivers.
  bool wouldCycle(const HostNode *from, const HostNode *to) const;
  // False when the input was not connected.
  bool disconnect(HostNode *to, const std::string &input);

  HostNode *find(const std::string &name) const;
  // The names of the module's node servers, in table order.
  std::vector<std::string> serverNames() const;
  // Its nodes, in the order made.
  using NodeList = LinkedList<HostNode, &HostNode::inNetwork>;
  const NodeList &nodes() const { return nodes_; }

  // One node's block, written by the module's save and read by its load. A
  // load fails on the module's error, on a stream that ran short, and on data
  // the node left unread. Both throw Error saying why.
  void save(HostNode *node, SaveStream &out);
  void load(HostNode *node, LoadStream &in);

  // Every module node, in network order, with its block and connections.
  // Throws Error naming the node whose save failed.
  void saveAll(SavedNetwork &out, int32_t ioMode = LWIO_BINARY);
  // Recreates a saved network here: creates and loads each node in the given
  // order (indices into saved.nodes; empty: saved order), then connects them.
  // Returns the new nodes in saved order; on failure removes what it made
  // and throws Error.
  std::vector<HostNode *> loadAll(const SavedNetwork &saved, std::span<const std::size_t> order = {});

  // Render lifecycle: init on every module node, newTime per frame, evaluate
  // per sample and output, cleanup at the end. beginRender initialises every
  // node, then throws Error naming the first whose init failed; the network
  // renders (and needs its endRender) either way.
  void beginRender(int32_t mode = 0);
  void newTime(LWFrame frame, LWTime time);
  void endRender();
  bool rendering() const { return rendering_; }
  // render threads, concurrently
  OutputValue evaluate(HostNode *node, const std::string &output, LWNodalAccess &na) const;
  // Evaluates node's output count times on each of several threads at once,
  // one thread per entry of threadNums (any numbers, as a host might hand
  // out), each on its own copy of na carrying that thread number. prepare, if
  // given, adjusts a thread's context before its sample-th evaluation; it runs
  // on the render threads, concurrently. Results come in threadNums order.
  std::vector<ThreadRun> evaluateConcurrently(HostNode *node, const std::string &output, const LWNodalAccess &na,
                                              const std::vector<int32_t> &threadNums, int count,
                                              const std::function<void(LWNodalAccess &, int sample)> &prepare = {}) const;

private:
  HostNode *makeNode(const std::string &serverName, const std::string &userName, const std::string &name = {});
  void notify(HostNode *node, NodeInput *input, int32_t eventKind);

  Host &host_;
  const Module &module_;
  ChanGroup *group_ = nullptr;
  NodeList nodes_; // owned: made by makeNode, deleted by remove
  uint64_t made_ = 0;
  bool rendering_ = false;
  // The contexts evaluateConcurrently handed out, kept until the next render.
  mutable std::vector<std::unique_ptr<LWNodalAccess>> handedContexts_;
};

} // namespace hostsim
