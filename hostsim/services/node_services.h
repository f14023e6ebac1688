// "NodeFuncs", "NodeEditorFuncs", "NodeInputFuncs" (under both its names) and
// "NodeOutputFuncs": the
// node records the host keeps, and the type conversions between connections.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/lw_nodes.h"
#include "hostsim/checks.h"
#include "hostsim/services/linked_list.h"
#include "hostsim/services/places.h"

namespace hostsim {

struct ChanGroup;
struct HostNode;
struct NodeOutput;

struct NodeInput { // NodeInputID points here
  HostNode *node = nullptr;
  ConnectionType type = NOT_DEFINED;
  std::string name;
  NodeInputEvent event = nullptr;
  // The connected output, or null. Set and cleared only through attachSource
  // and detachSource, which keep the output's list of the inputs it feeds.
  NodeOutput *source = nullptr;
  Links<NodeInput> feeding; // among the inputs its source feeds
};

struct NodeOutput { // NodeOutputID points here
  HostNode *node = nullptr;
  ConnectionType type = NOT_DEFINED;
  std::string name;
  // The inputs it feeds, in the order connected: a node removed tells these,
  // and no walk over the network's other inputs is needed.
  LinkedList<NodeInput, &NodeInput::feeding> targets;
};

// Connects in to out (in must be unconnected), or cuts in's connection.
void attachSource(NodeInput &in, NodeOutput &out);
void detachSource(NodeInput &in);

// Gives an input or output back to its node's places (see HostNode); its
// connections go with it.
struct ReleasePlace {
  void operator()(NodeInput *in) const;
  void operator()(NodeOutput *out) const;
};
using NodeInputPtr = std::unique_ptr<NodeInput, ReleasePlace>;
using NodeOutputPtr = std::unique_ptr<NodeOutput, ReleasePlace>;
// A node's inputs (the most of any node is 19) and outputs (7), in order.
constexpr std::size_t kInlineInputs = 24, kInlineOutputs = 8;
using NodeInputList = std::vector<NodeInputPtr, RoomAllocator<NodeInputPtr, kInlineInputs>>;
using NodeOutputList = std::vector<NodeOutputPtr, RoomAllocator<NodeOutputPtr, kInlineOutputs>>;

// The value an output delivers during one evaluation (NodeValue points here).
struct OutputValue {
  ConnectionType type = NOT_DEFINED;
  double v[3] = {0, 0, 0};
  int32_t i = 0;
  bool set = false;
  double scalar() const { return v[0]; }
};

// A node of a network: a module node evaluates through its handler, a host
// node through its own function. NodeID points here. A node stays where it
// was made: its inputs and outputs live in its own places.
struct HostNode {
  HostNode() = default;
  ~HostNode();
  HostNode(const HostNode &) = delete;
  HostNode &operator=(const HostNode &) = delete;

  std::string name;       // unique in the host, "Sqrt (1)"
  std::string serverName; // the module server, or the host node's kind
  std::string userName;
  // The book its handles are kept in (the node, its inputs and outputs).
  Checks *checks = nullptr;
  ChanGroup *group = nullptr;
  int32_t color[3] = {0, 0, 0};
  int32_t previewType = 0;
  int previewUpdates = 0;
  // Its place among the nodes of its network, and the network's count of
  // the nodes it made when it made this one: the network's order.
  Links<HostNode> inNetwork;
  const void *network = nullptr;
  uint64_t serial = 0;
  // Where the inputs and outputs below live: a node's handful in places of
  // its own, not an allocation each, at addresses that hold while they exist
  // (NodeInputID and NodeOutputID), and their lists in room of its own.
  // Declared first, so gone last.
  Places<NodeInput, kInlineInputs> inputPlaces;
  Places<NodeOutput, kInlineOutputs> outputPlaces;
  InlineRoom<NodeInputPtr, kInlineInputs> inputRoom;
  InlineRoom<NodeOutputPtr, kInlineOutputs> outputRoom;
  NodeInputList inputs{RoomAllocator<NodeInputPtr, kInlineInputs>(&inputRoom)};
  NodeOutputList outputs{RoomAllocator<NodeOutputPtr, kInlineOutputs>(&outputRoom)};

  // Module nodes.
  LWInstanceFuncs instFuncs{};
  LWItemFuncs itemFuncs{};
  LWRenderFuncs rendFuncs{};
  LWNodeHandler handler{};
  LWInstance instance = nullptr;
  // Host nodes. render threads, concurrently; it throws nothing, as it runs
  // inside the module's input evaluation
  std::function<void(LWNodalAccess *, const NodeOutput *, OutputValue *)> hostEvaluate;

  bool isModuleNode() const { return handler.evaluate != nullptr; }
  // A new input or output at the end of the node's list. Throws when the
  // host has no memory for it, leaving the node as it was.
  NodeInput *addInput(ConnectionType type, const char *name, NodeInputEvent event = nullptr);
  NodeOutput *addOutput(ConnectionType type, const char *name);
  NodeInput *input(const std::string &name) const;
  NodeOutput *output(const std::string &name) const;
  // Their names, in order, for a user who named one that is not there.
  std::vector<std::string> inputNames() const;
  std::vector<std::string> outputNames() const;
};

// Fills out with what node delivers on output in the context na.
// render threads, concurrently
void evaluateOutput(HostNode &node, LWNodalAccess *na, const NodeOutput *output, OutputValue &out) noexcept;

// Converts a value between connection types (see node_services.cpp for the
// rules) into a buffer of the destination type.
void convertValue(const OutputValue &from, ConnectionType to, void *buffer);

class NodeServices {
public:
  NodeServices();
  const LWNodeFuncs *nodeFuncs() const { return &node_; }
  const LWNodeEditorFuncs *editorFuncs() const { return &editor_; }
  const LWNodeInputFuncs *inputFuncs() const { return &input_; }
  const LWNodeOutputFuncs *outputFuncs() const { return &output_; }

private:
  LWNodeFuncs node_{};
  LWNodeEditorFuncs editor_{};
  LWNodeInputFuncs input_{};
  LWNodeOutputFuncs output_{};
};

} // namespace hostsim
