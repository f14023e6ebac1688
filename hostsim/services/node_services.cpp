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

// The node services a module calls. Each checks the call first (see
// hostsim/checks.h): node functions, input and output creation and the walks
// over a node's inputs and outputs belong to the host's callbacks outside
// evaluation; evaluating an input and setting the output value to evaluate,
// with the sample's own context and value handle; the connected test to any
// callback (a panel shows whether an input is connected).
constexpr const char *kNodeFuncs = "NodeFuncs";
constexpr const char *kInputFuncs = "NodeInputFuncs";
constexpr const char *kOutputFuncs = "NodeOutputFuncs";

bool knownType(ConnectionType t) { return t >= CONN_COLOR && t <= CONN_TYPE_COUNT; }
std::string notAType(ConnectionType t) { return std::to_string(t) + " is not a connection type"; }

struct Ops {
  // A call on a node outside evaluation: the node one this host made.
  static HostNode *node(Call &call, NodeID n) noexcept {
    return call && call.handle(n, Handle::Node, "the node") ? nodeOf(n) : nullptr;
  }
  static HostNode *node(const char *service, const char *function, NodeID n) noexcept {
    Call call(service, function, From::HostCallback);
    return node(call, n);
  }
  static NodeInput *input(Call &call, NodeInputID id, const char *argument = "the input") noexcept {
    return call && call.input(id, argument) ? reinterpret_cast<NodeInput *>(id) : nullptr;
  }
  static NodeOutput *output(Call &call, NodeOutputID id, const char *argument = "the output") noexcept {
    return call && call.handle(id, Handle::Output, argument) ? reinterpret_cast<NodeOutput *>(id) : nullptr;
  }

  static const char *nodeName(NodeID n) noexcept {
    HostNode *node = Ops::node(kNodeFuncs, "nodeName", n);
    return node ? node->name.c_str() : nullptr;
  }
  static const char *serverUserName(NodeID n) noexcept {
    HostNode *node = Ops::node(kNodeFuncs, "serverUserName", n);
    return node ? node->userName.c_str() : nullptr;
  }
  static LWChanGroupID chanGrp(NodeID n) noexcept {
    HostNode *node = Ops::node(kNodeFuncs, "chanGrp", n);
    return node ? reinterpret_cast<LWChanGroupID>(node->group) : nullptr;
  }
  static void setNodeColor(NodeID n, int32_t rgb[3]) noexcept {
    Call call(kNodeFuncs, "setNodeColor", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    if (!node || !call.pointer(rgb, "the colour")) return;
    for (int c = 0; c < 3; ++c) node->color[c] = rgb[c];
  }
  static void setNodeColor3(NodeID n, int32_t r, int32_t g, int32_t b) noexcept {
    HostNode *node = Ops::node(kNodeFuncs, "setNodeColor3", n);
    if (!node) return;
    node->color[0] = r;
    node->color[1] = g;
    node->color[2] = b;
  }
  static void setNodePreviewType(NodeID n, int32_t type) noexcept {
    Call call(kNodeFuncs, "setNodePreviewType", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    if (node && call.known(type >= NPT_RENDER && type <= NPT_OFF, "the preview type",
                           [&] { return std::to_string(type) + " is not a preview type (0 rendered, 1 custom, 2 off)"; }))
      node->previewType = type;
  }
  static void updateNodePreview(NodeID n) noexcept {
    if (HostNode *node = Ops::node(kNodeFuncs, "UpdateNodePreview", n)) ++node->previewUpdates;
  }

  static NodeInputID createInput(NodeID n, ConnectionType type, const char *name, NodeInputEvent event) noexcept {
    Call call(kInputFuncs, "create", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    if (!node || !call.known(knownType(type), "the connection type", [&] { return notAType(type); }) ||
        !call.pointer(name, "the name"))
      return nullptr;
    return call.answer(nullptr, [&] { return reinterpret_cast<NodeInputID>(node->addInput(type, name, event)); });
  }
  static void destroyInput(NodeID n, NodeInputID id) noexcept {
    Call call(kInputFuncs, "destroy", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    NodeInput *in = node ? input(call, id) : nullptr;
    if (!in) return;
    auto &inputs = node->inputs;
    const auto it = std::find_if(inputs.begin(), inputs.end(), [in](const auto &i) { return i.get() == in; });
    if (!call.known(it != inputs.end(), "the input", "an input of another node")) return;
    inputs.erase(it); // its connection goes with it
  }
  // An input of the evaluating node's own, evaluated in its own sample: the
  // usual call, told without a look-up. Render threads make it for every
  // input of every node they evaluate, so the Call that names a fault is made
  // apart, when this test fails.
  static bool ownInput(const Frame *f, NodeInputID id) noexcept { return f && f->node && f->node->inputPlaces.holds(id); }
  [[gnu::noinline]] static bool checkedEvaluate(NodeInputID id, LWNodalAccess *na, void *value) noexcept {
    Call call(kInputFuncs, "evaluate", From::Evaluate);
    return input(call, id) && call.context(na, "the shading context") && call.pointer(value, "the value buffer");
  }

  // render threads, concurrently
  static int32_t evaluateInput(NodeInputID id, LWNodalAccess *na, void *value) noexcept {
    const Frame *f = Frame::top();
    const bool usual = f && na == f->context && value && f->callback == Callback::Evaluate && ownInput(f, id);
    if (!usual && !checkedEvaluate(id, na, value)) return 0;
    const auto *in = reinterpret_cast<const NodeInput *>(id);
    return in->source ? evaluateSource(*in, na, value) : 0;
  }
  // Apart, so that an input left unconnected (most are) costs no more than
  // its check.
  [[gnu::noinline]] static int32_t evaluateSource(const NodeInput &in, LWNodalAccess *na, void *value) noexcept {
    OutputValue out;
    evaluateOutput(*in.source->node, na, in.source, out);
    convertValue(out, in.type, value);
    return 1;
  }
  [[gnu::noinline]] static bool checkedInput(const char *function, NodeInputID id) noexcept {
    Call call(kInputFuncs, function, From::AnyCallback);
    return input(call, id);
  }
  static int32_t check(NodeInputID id) noexcept {
    if (!ownInput(Frame::top(), id) && !checkedInput("check", id)) return 0;
    return reinterpret_cast<NodeInput *>(id)->source ? 1 : 0;
  }

  // Walks over a node's inputs or outputs: positions count from 1, and an id
  // that is not the node's has none.
  template <class List, class T>
  static int32_t indexIn(const List &list, const T *item) noexcept {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i].get() == item) return static_cast<int32_t>(i + 1);
    return 0;
  }
  template <class List>
  static auto *atIndex(const List &list, int32_t index) noexcept {
    return index >= 1 && static_cast<std::size_t>(index) <= list.size() ? list[static_cast<std::size_t>(index - 1)].get()
                                                                          : nullptr;
  }
  static NodeInputID inputId(NodeInput *in) noexcept { return reinterpret_cast<NodeInputID>(in); }
  static NodeInputID firstInput(NodeID n) noexcept {
    HostNode *node = Ops::node(kInputFuncs, "first", n);
    return node ? inputId(atIndex(node->inputs, 1)) : nullptr;
  }
  static NodeInputID nextInput(NodeInputID id) noexcept {
    Call call(kInputFuncs, "next", From::HostCallback);
    NodeInput *in = input(call, id);
    return in ? inputId(atIndex(in->node->inputs, indexIn(in->node->inputs, in) + 1)) : nullptr;
  }
  static NodeInputID previousInput(NodeInputID id) noexcept {
    Call call(kInputFuncs, "previous", From::HostCallback);
    NodeInput *in = input(call, id);
    if (!in) return nullptr;
    const int32_t i = indexIn(in->node->inputs, in);
    return i > 1 ? inputId(atIndex(in->node->inputs, i - 1)) : nullptr;
  }
  static int32_t numInputs(NodeID n) noexcept {
    HostNode *node = Ops::node(kInputFuncs, "numInputs", n);
    return node ? static_cast<int32_t>(node->inputs.size()) : 0;
  }
  static NodeInputID inputByIndex(NodeID n, int32_t index) noexcept {
    HostNode *node = Ops::node(kInputFuncs, "byIndex", n);
    return node ? inputId(atIndex(node->inputs, index)) : nullptr;
  }
  static int32_t inputIndex(NodeID n, NodeInputID id) noexcept {
    Call call(kInputFuncs, "getIndex", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    NodeInput *in = node ? input(call, id) : nullptr;
    return in ? indexIn(node->inputs, in) : 0;
  }
  // The host's own disconnect: the input hears of it as from the editor.
  static void disconnectInput(NodeID n, NodeInputID id) noexcept {
    Call call(kInputFuncs, "disconnect", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    NodeInput *in = node ? input(call, id) : nullptr;
    if (!in || !call.known(indexIn(node->inputs, in) != 0, "the input", "an input of another node") || !in->source)
      return;
    detachSource(*in);
    if (in->event && node->instance) {
      CallbackScope scope(Callback::InputEvent, node);
      in->event(node->instance, id, NIE_DISCONNECT, 0);
    }
  }
  static NodeID inputNode(NodeInputID id) noexcept {
    Call call(kInputFuncs, "node", From::HostCallback);
    NodeInput *in = input(call, id);
    return in ? reinterpret_cast<NodeID>(in->node) : nullptr;
  }

  static NodeOutputID createOutput(NodeID n, ConnectionType type, const char *name) noexcept {
    Call call(kOutputFuncs, "create", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    if (!node || !call.known(knownType(type), "the connection type", [&] { return notAType(type); }) ||
        !call.pointer(name, "the name"))
      return nullptr;
    return call.answer(nullptr, [&] { return reinterpret_cast<NodeOutputID>(node->addOutput(type, name)); });
  }
  static void destroyOutput(NodeID n, NodeOutputID id) noexcept {
    Call call(kOutputFuncs, "destroy", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    NodeOutput *out = node ? output(call, id) : nullptr;
    if (out && call.known(out->node == node, "the output", "an output of another node"))
      std::erase_if(node->outputs, [out](const auto &o) { return o.get() == out; });
  }
  // render threads, concurrently
  static OutputValue *value(Call &call, NodeValue value) noexcept {
    return call && call.value(value, "the output value") ? reinterpret_cast<OutputValue *>(value) : nullptr;
  }
  [[gnu::noinline]] static bool checkedSet(NodeValue handle, void *result) noexcept {
    Call call(kOutputFuncs, "setValue", From::Evaluate);
    return value(call, handle) && call.pointer(result, "the result");
  }
  static void setValue(NodeValue handle, void *result) noexcept {
    const Frame *f = evaluateFrame();
    if (!(f && handle == f->value && result) && !checkedSet(handle, result)) return;
    auto *out = reinterpret_cast<OutputValue *>(handle);
    if (out->type == CONN_INTEGER) {
      out->i = *static_cast<const int32_t *>(result);
    } else {
      const auto *d = static_cast<const double *>(result);
      const int n = out->type == CONN_SCALAR ? 1 : 3;
      for (int c = 0; c < n; ++c) out->v[c] = d[c];
    }
    out->set = true;
  }
  static void *getValue(NodeValue handle) noexcept {
    Call call(kOutputFuncs, "getValue", From::Evaluate);
    OutputValue *out = value(call, handle);
    if (!out) return nullptr;
    return out->type == CONN_INTEGER ? static_cast<void *>(&out->i) : static_cast<void *>(out->v);
  }
  static ConnectionType getType(NodeValue handle) noexcept {
    Call call(kOutputFuncs, "getType", From::Evaluate);
    OutputValue *out = value(call, handle);
    return out ? out->type : NOT_DEFINED;
  }
  static NodeOutputID outputId(NodeOutput *o) noexcept { return reinterpret_cast<NodeOutputID>(o); }
  static NodeOutputID firstOutput(NodeID n) noexcept {
    HostNode *node = Ops::node(kOutputFuncs, "first", n);
    return node ? outputId(atIndex(node->outputs, 1)) : nullptr;
  }
  static NodeOutputID nextOutput(NodeOutputID id) noexcept {
    Call call(kOutputFuncs, "next", From::HostCallback);
    NodeOutput *o = output(call, id);
    return o ? outputId(atIndex(o->node->outputs, indexIn(o->node->outputs, o) + 1)) : nullptr;
  }
  static NodeOutputID previousOutput(NodeOutputID id) noexcept {
    Call call(kOutputFuncs, "previous", From::HostCallback);
    NodeOutput *o = output(call, id);
    if (!o) return nullptr;
    const int32_t i = indexIn(o->node->outputs, o);
    return i > 1 ? outputId(atIndex(o->node->outputs, i - 1)) : nullptr;
  }
  static int32_t numOutputs(NodeID n) noexcept {
    HostNode *node = Ops::node(kOutputFuncs, "numOutputs", n);
    return node ? static_cast<int32_t>(node->outputs.size()) : 0;
  }
  static NodeOutputID outputByIndex(NodeID n, int32_t index) noexcept {
    HostNode *node = Ops::node(kOutputFuncs, "byIndex", n);
    return node ? outputId(atIndex(node->outputs, index)) : nullptr;
  }
  static int32_t outputIndex(NodeID n, NodeOutputID id) noexcept {
    Call call(kOutputFuncs, "getIndex", From::HostCallback);
    HostNode *node = Ops::node(call, n);
    NodeOutput *o = node ? output(call, id) : nullptr;
    return o ? indexIn(node->outputs, o) : 0;
  }
  static NodeID outputNode(NodeOutputID id) noexcept {
    Call call(kOutputFuncs, "node", From::HostCallback);
    NodeOutput *o = output(call, id);
    return o ? reinterpret_cast<NodeID>(o->node) : nullptr;
  }
};

} // namespace

void attachSource(NodeInput &in, NodeOutput &out) {
  in.source = &out;
  out.targets.pushBack(&in);
}

void detachSource(NodeInput &in) {
  if (!in.source) return;
  in.source->targets.erase(&in);
  in.source = nullptr;
}

void ReleasePlace::operator()(NodeInput *in) const {
  detachSource(*in);
  if (in->node->checks) in->node->checks->destroyed(in);
  in->node->inputPlaces.release(in);
}
void ReleasePlace::operator()(NodeOutput *out) const {
  // An input it fed is left unconnected, never holding an output that is gone.
  while (NodeInput *in = out->targets.front()) detachSource(*in);
  if (out->node->checks) out->node->checks->destroyed(out);
  out->node->outputPlaces.release(out);
}

HostNode::~HostNode() {
  // Its inputs and outputs go first (its lists), then the node itself.
  inputs.clear();
  outputs.clear();
  if (checks) checks->destroyed(this);
}

// Each step that may fail (no memory) comes before the input is in the list,
// and one that fails gives its place back and takes it out of the book: the
// node is left as it was.
NodeInput *HostNode::addInput(ConnectionType type, const char *name, NodeInputEvent event) {
  NodeInputPtr in(inputPlaces.make());
  in->node = this;
  in->type = type;
  in->name = name;
  in->event = event;
  if (checks) checks->made(in.get(), Handle::Input, this);
  // A node has a handful: the node's own room, not one allocation per doubling.
  if (inputs.empty()) inputs.reserve(kInlineInputs);
  inputs.push_back(std::move(in));
  return inputs.back().get();
}

NodeOutput *HostNode::addOutput(ConnectionType type, const char *name) {
  NodeOutputPtr out(outputPlaces.make());
  out->node = this;
  out->type = type;
  out->name = name;
  if (checks) checks->made(out.get(), Handle::Output, this);
  if (outputs.empty()) outputs.reserve(kInlineOutputs);
  outputs.push_back(std::move(out));
  return outputs.back().get();
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

void evaluateOutput(HostNode &node, LWNodalAccess *na, const NodeOutput *output, OutputValue &out) noexcept {
  out = OutputValue{};
  out.type = output->type;
  // A host node evaluates as a module node does: inside the sample's evaluate.
  CallbackScope scope(&node, na, &out);
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
  node_.nodeName = handed(&Ops::nodeName);
  node_.serverUserName = handed(&Ops::serverUserName);
  node_.chanGrp = handed(&Ops::chanGrp);
  node_.setNodeColor = handed(&Ops::setNodeColor);
  node_.setNodeColor3 = handed(&Ops::setNodeColor3);
  node_.setNodePreviewType = handed(&Ops::setNodePreviewType);
  node_.updateNodePreview = handed(&Ops::updateNodePreview);
  // The stand-in host has no node editor of its own to hand out: its
  // editor record is whole, for modules that check the service, but empty.
  editor_ = LWNodeEditorFuncs{};
  input_.create = handed(&Ops::createInput);
  input_.destroy = handed(&Ops::destroyInput);
  input_.evaluate = handed(&Ops::evaluateInput);
  input_.check = handed(&Ops::check);
  input_.first = handed(&Ops::firstInput);
  input_.next = handed(&Ops::nextInput);
  input_.previous = handed(&Ops::previousInput);
  input_.numInputs = handed(&Ops::numInputs);
  input_.byIndex = handed(&Ops::inputByIndex);
  input_.getIndex = handed(&Ops::inputIndex);
  input_.disconnect = handed(&Ops::disconnectInput);
  input_.node = handed(&Ops::inputNode);
  output_.create = handed(&Ops::createOutput);
  output_.destroy = handed(&Ops::destroyOutput);
  output_.setValue = handed(&Ops::setValue);
  output_.getValue = handed(&Ops::getValue);
  output_.getType = handed(&Ops::getType);
  output_.first = handed(&Ops::firstOutput);
  output_.next = handed(&Ops::nextOutput);
  output_.previous = handed(&Ops::previousOutput);
  output_.numOutputs = handed(&Ops::numOutputs);
  output_.byIndex = handed(&Ops::outputByIndex);
  output_.getIndex = handed(&Ops::outputIndex);
  output_.node = handed(&Ops::outputNode);
}

} // namespace hostsim
