#include "hostsim/services/node_services.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace hostsim {
namespace {

HostNode *nodeOf(NodeID id) { return reinterpret_cast<HostNode *>(id); }

// Host conversions between connection types:
//   Color -> Vector and Vector -> Color: component by component.
//   Scalar or Integer -> Color or Vector: the value in all three components.
//   Color -> Scalar: luminance, 0.2126 R + 0.7152 G + 0.0722 B (Rec. 709), so
//     that a colour drives a scalar by how bright it looks.
//   Vector -> Scalar: the vector's length.
//   Integer -> Scalar: exactly.
//   Scalar -> Integer: rounded to the nearest integer (halves away from zero),
//     clamped to the 32-bit range; NaN gives 0.
//   Color or Vector -> Integer: their scalar, then as Scalar -> Integer.
double toScalar(const OutputValue &v) {
  switch (v.type) {
  case CONN_COLOR:
    return 0.2126 * v.v[0] + 0.7152 * v.v[1] + 0.0722 * v.v[2];
  case CONN_VECTOR:
    return std::sqrt(v.v[0] * v.v[0] + v.v[1] * v.v[1] + v.v[2] * v.v[2]);
  case CONN_INTEGER:
    return v.i;
  default:
    return v.v[0];
  }
}

int32_t toInteger(double x) {
  if (std::isnan(x)) return 0;
  const double r = std::round(x);
  if (r <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (r >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(r);
}

struct Ops {
  static const char *nodeName(NodeID n) { return n ? nodeOf(n)->name.c_str() : nullptr; }
  static const char *serverUserName(NodeID n) { return n ? nodeOf(n)->userName.c_str() : nullptr; }
  static LWChanGroupID chanGrp(NodeID n) { return n ? reinterpret_cast<LWChanGroupID>(nodeOf(n)->group) : nullptr; }
  static void setNodeColor(NodeID n, int32_t rgb[3]) {
    if (!n || !rgb) return;
    for (int c = 0; c < 3; ++c) nodeOf(n)->color[c] = rgb[c];
  }
  static void setNodeColor3(NodeID n, int32_t r, int32_t g, int32_t b) {
    if (!n) return;
    HostNode *node = nodeOf(n);
    node->color[0] = r;
    node->color[1] = g;
    node->color[2] = b;
  }
  static void setNodePreviewType(NodeID n, int32_t type) {
    if (n) nodeOf(n)->previewType = type;
  }
  static void updateNodePreview(NodeID n) {
    if (n) ++nodeOf(n)->previewUpdates;
  }

  static NodeInputID createInput(NodeID n, ConnectionType type, const char *name, NodeInputEvent event) {
    if (!n || !name) return nullptr;
    return reinterpret_cast<NodeInputID>(nodeOf(n)->addInput(type, name, event));
  }
  static void destroyInput(NodeID n, NodeInputID id) {
    if (!n) return;
    auto &inputs = nodeOf(n)->inputs;
    const auto it = std::find_if(inputs.begin(), inputs.end(), [id](const auto &in) { return in.get() == reinterpret_cast<NodeInput *>(id); });
    if (it == inputs.end()) return;
    if ((*it)->source) --(*it)->source->node->feeds; // its connection goes with it
    inputs.erase(it);
  }
  static int32_t evaluateInput(NodeInputID id, LWNodalAccess *na, void *value) {
    auto *in = reinterpret_cast<NodeInput *>(id);
    if (!in || !in->source || !value) return 0;
    OutputValue out;
    evaluateOutput(*in->source->node, na, in->source, out);
    convertValue(out, in->type, value);
    return 1;
  }
  static int32_t check(NodeInputID id) {
    auto *in = reinterpret_cast<NodeInput *>(id);
    return in && in->source ? 1 : 0;
  }

  // Walks over a node's inputs or outputs: positions count from 1, and an id
  // that is not the node's has none.
  template <class List, class T>
  static int32_t indexIn(const List &list, const T *item) {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i].get() == item) return static_cast<int32_t>(i + 1);
    return 0;
  }
  template <class List>
  static auto *atIndex(const List &list, int32_t index) {
    return index >= 1 && static_cast<std::size_t>(index) <= list.size() ? list[static_cast<std::size_t>(index - 1)].get()
                                                                          : nullptr;
  }
  static NodeInput *inputOf(NodeInputID id) { return reinterpret_cast<NodeInput *>(id); }
  static NodeInputID inputId(NodeInput *in) { return reinterpret_cast<NodeInputID>(in); }
  static NodeInputID firstInput(NodeID n) { return n ? inputId(atIndex(nodeOf(n)->inputs, 1)) : nullptr; }
  static NodeInputID nextInput(NodeInputID id) {
    NodeInput *in = inputOf(id);
    if (!in || !in->node) return nullptr;
    return inputId(atIndex(in->node->inputs, indexIn(in->node->inputs, in) + 1));
  }
  static NodeInputID previousInput(NodeInputID id) {
    NodeInput *in = inputOf(id);
    if (!in || !in->node) return nullptr;
    const int32_t i = indexIn(in->node->inputs, in);
    return i > 1 ? inputId(atIndex(in->node->inputs, i - 1)) : nullptr;
  }
  static int32_t numInputs(NodeID n) { return n ? static_cast<int32_t>(nodeOf(n)->inputs.size()) : 0; }
  static NodeInputID inputByIndex(NodeID n, int32_t index) {
    return n ? inputId(atIndex(nodeOf(n)->inputs, index)) : nullptr;
  }
  static int32_t inputIndex(NodeID n, NodeInputID id) { return n ? indexIn(nodeOf(n)->inputs, inputOf(id)) : 0; }
  // The host's own disconnect: the input hears of it as from the editor.
  static void disconnectInput(NodeID n, NodeInputID id) {
    NodeInput *in = inputOf(id);
    if (!n || !in || indexIn(nodeOf(n)->inputs, in) == 0 || !in->source) return;
    --in->source->node->feeds;
    in->source = nullptr;
    if (in->event && nodeOf(n)->instance) in->event(nodeOf(n)->instance, id, NIE_DISCONNECT, 0);
  }
  static NodeID inputNode(NodeInputID id) {
    NodeInput *in = inputOf(id);
    return in ? reinterpret_cast<NodeID>(in->node) : nullptr;
  }

  static NodeOutputID createOutput(NodeID n, ConnectionType type, const char *name) {
    if (!n || !name) return nullptr;
    return reinterpret_cast<NodeOutputID>(nodeOf(n)->addOutput(type, name));
  }
  static void destroyOutput(NodeID n, NodeOutputID id) {
    if (n)
      std::erase_if(nodeOf(n)->outputs, [id](const auto &o) { return o.get() == reinterpret_cast<NodeOutput *>(id); });
  }
  static void setValue(NodeValue value, void *result) {
    auto *out = reinterpret_cast<OutputValue *>(value);
    if (!out || !result) return;
    if (out->type == CONN_INTEGER) {
      out->i = *static_cast<const int32_t *>(result);
    } else {
      const auto *d = static_cast<const double *>(result);
      const int n = out->type == CONN_SCALAR ? 1 : 3;
      for (int c = 0; c < n; ++c) out->v[c] = d[c];
    }
    out->set = true;
  }
  static void *getValue(NodeValue value) {
    auto *out = reinterpret_cast<OutputValue *>(value);
    if (!out) return nullptr;
    return out->type == CONN_INTEGER ? static_cast<void *>(&out->i) : static_cast<void *>(out->v);
  }
  static ConnectionType getType(NodeValue value) {
    auto *out = reinterpret_cast<OutputValue *>(value);
    return out ? out->type : NOT_DEFINED;
  }
  static NodeOutput *outputOf(NodeOutputID id) { return reinterpret_cast<NodeOutput *>(id); }
  static NodeOutputID outputId(NodeOutput *o) { return reinterpret_cast<NodeOutputID>(o); }
  static NodeOutputID firstOutput(NodeID n) { return n ? outputId(atIndex(nodeOf(n)->outputs, 1)) : nullptr; }
  static NodeOutputID nextOutput(NodeOutputID id) {
    NodeOutput *o = outputOf(id);
    if (!o || !o->node) return nullptr;
    return outputId(atIndex(o->node->outputs, indexIn(o->node->outputs, o) + 1));
  }
  static NodeOutputID previousOutput(NodeOutputID id) {
    NodeOutput *o = outputOf(id);
    if (!o || !o->node) return nullptr;
    const int32_t i = indexIn(o->node->outputs, o);
    return i > 1 ? outputId(atIndex(o->node->outputs, i - 1)) : nullptr;
  }
  static int32_t numOutputs(NodeID n) { return n ? static_cast<int32_t>(nodeOf(n)->outputs.size()) : 0; }
  static NodeOutputID outputByIndex(NodeID n, int32_t index) {
    return n ? outputId(atIndex(nodeOf(n)->outputs, index)) : nullptr;
  }
  static int32_t outputIndex(NodeID n, NodeOutputID id) { return n ? indexIn(nodeOf(n)->outputs, outputOf(id)) : 0; }
  static NodeID outputNode(NodeOutputID id) {
    NodeOutput *o = outputOf(id);
    return o ? reinterpret_cast<NodeID>(o->node) : nullptr;
  }
};

} // namespace

void ReleasePlace::operator()(NodeInput *in) const { in->node->inputPlaces.release(in); }
void ReleasePlace::operator()(NodeOutput *out) const { out->node->outputPlaces.release(out); }

NodeInput *HostNode::addInput(ConnectionType type, const char *name, NodeInputEvent event) {
  NodeInput *in = inputPlaces.make();
  in->node = this;
  in->type = type;
  in->name = name;
  in->event = event;
  // A node has a handful: the node's own room, not one allocation per doubling.
  if (inputs.empty()) inputs.reserve(kInlineInputs);
  inputs.emplace_back(in);
  return in;
}

NodeOutput *HostNode::addOutput(ConnectionType type, const char *name) {
  NodeOutput *out = outputPlaces.make();
  out->node = this;
  out->type = type;
  out->name = name;
  if (outputs.empty()) outputs.reserve(kInlineOutputs);
  outputs.emplace_back(out);
  return out;
}

NodeInput *HostNode::input(const std::string &n) const {
  for (auto &in : inputs)
    if (in->name == n) return in.get();
  return nullptr;
}

NodeOutput *HostNode::output(const std::string &n) const {
  for (auto &out : outputs)
    if (out->name == n) return out.get();
  return nullptr;
}

std::vector<std::string> HostNode::inputNames() const {
  std::vector<std::string> names;
  for (const auto &in : inputs) names.push_back(in->name);
  return names;
}

std::vector<std::string> HostNode::outputNames() const {
  std::vector<std::string> names;
  for (const auto &out : outputs) names.push_back(out->name);
  return names;
}

void evaluateOutput(HostNode &node, LWNodalAccess *na, const NodeOutput *output, OutputValue &out) {
  out = OutputValue{};
  out.type = output->type;
  if (node.isModuleNode())
    node.handler.evaluate(node.instance, na, reinterpret_cast<NodeOutputID>(const_cast<NodeOutput *>(output)),
                          reinterpret_cast<NodeValue>(&out));
  else if (node.hostEvaluate)
    node.hostEvaluate(na, output, &out);
  // An output its node did not set passes on zero of its type: a connected
  // input always receives a defined value.
}

void convertValue(const OutputValue &from, ConnectionType to, void *buffer) {
  if (to == CONN_INTEGER) {
    *static_cast<int32_t *>(buffer) = from.type == CONN_INTEGER ? from.i : toInteger(toScalar(from));
    return;
  }
  auto *d = static_cast<double *>(buffer);
  if (to == CONN_SCALAR) {
    d[0] = toScalar(from);
    return;
  }
  if (from.type == CONN_COLOR || from.type == CONN_VECTOR) {
    for (int c = 0; c < 3; ++c) d[c] = from.v[c];
  } else {
    const double s = toScalar(from);
    for (int c = 0; c < 3; ++c) d[c] = s;
  }
}

NodeServices::NodeServices() {
  node_.nodeName = &Ops::nodeName;
  node_.serverUserName = &Ops::serverUserName;
  node_.chanGrp = &Ops::chanGrp;
  node_.setNodeColor = &Ops::setNodeColor;
  node_.setNodeColor3 = &Ops::setNodeColor3;
  node_.setNodePreviewType = &Ops::setNodePreviewType;
  node_.updateNodePreview = &Ops::updateNodePreview;
  // The stand-in host has no node editor of its own to hand out: its
  // editor record is whole, for modules that check the service, but empty.
  editor_ = LWNodeEditorFuncs{};
  input_.create = &Ops::createInput;
  input_.destroy = &Ops::destroyInput;
  input_.evaluate = &Ops::evaluateInput;
  input_.check = &Ops::check;
  input_.first = &Ops::firstInput;
  input_.next = &Ops::nextInput;
  input_.previous = &Ops::previousInput;
  input_.numInputs = &Ops::numInputs;
  input_.byIndex = &Ops::inputByIndex;
  input_.getIndex = &Ops::inputIndex;
  input_.disconnect = &Ops::disconnectInput;
  input_.node = &Ops::inputNode;
  output_.create = &Ops::createOutput;
  output_.destroy = &Ops::destroyOutput;
  output_.setValue = &Ops::setValue;
  output_.getValue = &Ops::getValue;
  output_.getType = &Ops::getType;
  output_.first = &Ops::firstOutput;
  output_.next = &Ops::nextOutput;
  output_.previous = &Ops::previousOutput;
  output_.numOutputs = &Ops::numOutputs;
  output_.byIndex = &Ops::outputByIndex;
  output_.getIndex = &Ops::outputIndex;
  output_.node = &Ops::outputNode;
}

} // namespace hostsim
