#include "hostsim/scene/math_nodes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "hostsim/names.h"

namespace hostsim {
namespace {

using json = nlohmann::ordered_json;

constexpr double kLargest = std::numeric_limits<double>::max();

// A renderer shows what a user's arithmetic gives, never a NaN pixel: a NaN
// counts as 0, and an infinity or an overflow as the largest finite number
// of its sign. Every input a math node reads and every result it gives goes
// through here.
double finite(double x) { return std::isnan(x) ? 0.0 : std::clamp(x, -kLargest, kLargest); }

enum class ScalarOp { Add, Subtract, Multiply, Divide, Minimum, Maximum, Absolute, Floor, Modulo };
const std::vector<std::string> kScalarOps{"Add",     "Subtract", "Multiply", "Divide", "Minimum",
                                          "Maximum", "Absolute", "Floor",    "Modulo"};

enum class VectorOp { Add, Subtract, Scale, Dot, Cross, Length, Normalize };
const std::vector<std::string> kVectorOps{"Add", "Subtract", "Scale", "Dot", "Cross", "Length", "Normalize"};

const char *const kScalarMath = "Scalar Math";
const char *const kVectorMath = "Vector Math";
const char *const kVectorComponents = "Vector Components";
const char *const kMakeVector = "Make Vector";
const char *const kObjectSpace = "Object Space";

double scalarMath(ScalarOp op, double a, double b) {
  switch (op) {
  case ScalarOp::Add:
    return a + b;
  case ScalarOp::Subtract:
    return a - b;
  case ScalarOp::Multiply:
    return a * b;
  case ScalarOp::Divide:
    return b == 0 ? 0.0 : a / b;
  case ScalarOp::Minimum:
    return std::min(a, b);
  case ScalarOp::Maximum:
    return std::max(a, b);
  case ScalarOp::Absolute:
    return std::fabs(a);
  case ScalarOp::Floor:
    return std::floor(a);
  case ScalarOp::Modulo: {
    // Floored: the result takes B's sign, so a pattern repeats across 0
    // without a mirrored copy.
    if (b == 0) return 0.0;
    double r = std::fmod(a, b);
    if (r != 0 && (r < 0) != (b < 0)) r += b;
    return r == b ? 0.0 : r; // a tiny negative A plus B rounds to B itself
  }
  }
  return 0.0;
}

using V3 = std::array<double, 3>;

// Scaled by its largest component first, so that neither squaring a huge
// component overflows nor squaring a tiny one underflows to a zero length.
double largest(const V3 &v) { return std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])}); }

double vectorLength(const V3 &v) {
  const double m = largest(v);
  if (m == 0) return 0.0;
  const double x = v[0] / m, y = v[1] / m, z = v[2] / m;
  return m * std::sqrt(x * x + y * y + z * z);
}

// The zero vector has no direction: it stays the zero vector.
V3 normalized(const V3 &v) {
  const double m = largest(v);
  if (m == 0) return {0, 0, 0};
  const V3 u{v[0] / m, v[1] / m, v[2] / m};
  const double l = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  return {u[0] / l, u[1] / l, u[2] / l};
}

// An input of a math node and what it gives while unconnected.
struct Input {
  const NodeInput *in = nullptr;
  V3 value{0, 0, 0};

  // render threads, concurrently
  V3 read(LWNodalAccess *na) const {
    V3 v = value;
    if (in->source) {
      OutputValue out;
      evaluateOutput(*in->source->node, na, in->source, out);
      convertValue(out, in->type, v.data());
    }
    for (double &c : v) c = finite(c);
    return v;
  }
};

void setScalar(OutputValue *out, double x) {
  out->v[0] = finite(x);
  out->set = true;
}

void setVector(OutputValue *out, const V3 &v) {
  for (int c = 0; c < 3; ++c) out->v[c] = finite(v[c]);
  out->set = true;
}

[[noreturn]] void fail(const std::string &path, const std::string &what) { throw Error(path + ": " + what); }

// A math node's settings: each input's value while unconnected, by the
// input's name, and the node's own choices ("Operation", "Object").
class Settings {
public:
  Settings(const json &settings, const std::string &path, std::vector<std::string> known)
      : settings_(settings), path_(path), known_(std::move(known)) {
    if (settings_.is_null()) return;
    if (!settings_.is_object()) fail(path_, "should be an object of input names and values");
    for (const auto &[key, value] : settings_.items())
      if (std::find(known_.begin(), known_.end(), key) == known_.end())
        fail(path_ + "." + key, "this node has no setting \"" + key + "\"" + nameHint(key, known_));
  }

  // The value of an input of type type, or def when not set.
  V3 value(const std::string &name, ConnectionType type, V3 def) const {
    const json *j = find(name);
    if (!j) return def;
    const std::string at = path_ + "." + name;
    if (type == CONN_SCALAR) {
      if (!j->is_number() || !std::isfinite(j->get<double>())) fail(at, "should be a number");
      return {j->get<double>(), 0, 0};
    }
    if (!j->is_array() || j->size() != 3) fail(at, "should be three numbers");
    V3 v;
    for (std::size_t c = 0; c < 3; ++c) {
      if (!(*j)[c].is_number() || !std::isfinite((*j)[c].get<double>())) fail(at, "should be three numbers");
      v[c] = (*j)[c].get<double>();
    }
    return v;
  }

  std::string text(const std::string &name, const std::string &def) const {
    const json *j = find(name);
    if (!j) return def;
    if (!j->is_string()) fail(path_ + "." + name, "should be a string");
    return j->get<std::string>();
  }

  // Where the item the setting name gives stands in items; the first by default.
  std::size_t choice(const std::string &name, const std::vector<std::string> &items) const {
    const std::string given = text(name, items.front());
    const auto it = std::find(items.begin(), items.end(), given);
    if (it == items.end()) fail(path_ + "." + name, "no " + name + " \"" + given + "\"" + nameHint(given, items));
    return static_cast<std::size_t>(it - items.begin());
  }

private:
  const json *find(const std::string &name) const {
    if (!settings_.is_object()) return nullptr;
    const auto it = settings_.find(name);
    return it == settings_.end() ? nullptr : &*it;
  }
  const json &settings_;
  std::string path_;
  std::vector<std::string> known_;
};

// The node's inputs, each with its value while unconnected.
Input input(HostNode *node, const Settings &s, const char *name, ConnectionType type, V3 def = {0, 0, 0}) {
  return Input{node->addInput(type, name), s.value(name, type, def)};
}

HostNode *scalarMathNode(Network &net, const json &settings, const std::string &path) {
  const Settings s(settings, path, {"Operation", "A", "B"});
  const auto op = static_cast<ScalarOp>(s.choice("Operation", kScalarOps));
  // B starts where it changes nothing: A times 1, A plus 0; A modulo 1 is
  // A's fraction.
  const bool byOne = op == ScalarOp::Multiply || op == ScalarOp::Divide || op == ScalarOp::Modulo;
  HostNode *node = net.addHostNode(kScalarMath, {{"Result", CONN_SCALAR}}, nullptr);
  const Input a = input(node, s, "A", CONN_SCALAR), b = input(node, s, "B", CONN_SCALAR, {byOne ? 1.0 : 0.0, 0, 0});
  const bool unary = op == ScalarOp::Absolute || op == ScalarOp::Floor;
  node->hostEvaluate = [op, a, b, unary](LWNodalAccess *na, const NodeOutput *, OutputValue *out) {
    // What an operation does not use is not evaluated.
    setScalar(out, scalarMath(op, a.read(na)[0], unary ? 0.0 : b.read(na)[0]));
  };
  return node;
}

HostNode *vectorMathNode(Network &net, const json &settings, const std::string &path) {
  const Settings s(settings, path, {"Operation", "A", "B", "Factor"});
  const auto op = static_cast<VectorOp>(s.choice("Operation", kVectorOps));
  const bool scalarResult = op == VectorOp::Dot || op == VectorOp::Length;
  HostNode *node = net.addHostNode(kVectorMath, {{"Result", scalarResult ? CONN_SCALAR : CONN_VECTOR}}, nullptr);
  const Input a = input(node, s, "A", CONN_VECTOR), b = input(node, s, "B", CONN_VECTOR);
  const Input factor = input(node, s, "Factor", CONN_SCALAR, {1, 0, 0});
  node->hostEvaluate = [op, a, b, factor](LWNodalAccess *na, const NodeOutput *, OutputValue *out) {
    const V3 x = a.read(na);
    switch (op) {
    case VectorOp::Add:
    case VectorOp::Subtract: {
      const V3 y = b.read(na);
      const double sign = op == VectorOp::Add ? 1.0 : -1.0;
      setVector(out, {x[0] + sign * y[0], x[1] + sign * y[1], x[2] + sign * y[2]});
      break;
    }
    case VectorOp::Scale: {
      const double k = factor.read(na)[0];
      setVector(out, {x[0] * k, x[1] * k, x[2] * k});
      break;
    }
    case VectorOp::Dot: {
      const V3 y = b.read(na);
      setScalar(out, x[0] * y[0] + x[1] * y[1] + x[2] * y[2]);
      break;
    }
    case VectorOp::Cross: {
      const V3 y = b.read(na);
      setVector(out, {x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2], x[0] * y[1] - x[1] * y[0]});
      break;
    }
    case VectorOp::Length:
      setScalar(out, vectorLength(x));
      break;
    case VectorOp::Normalize:
      setVector(out, normalized(x));
      break;
    }
  };
  return node;
}

HostNode *vectorComponentsNode(Network &net, const json &settings, const std::string &path) {
  const Settings s(settings, path, {"Vector"});
  HostNode *node =
      net.addHostNode(kVectorComponents, {{"X", CONN_SCALAR}, {"Y", CONN_SCALAR}, {"Z", CONN_SCALAR}}, nullptr);
  const Input v = input(node, s, "Vector", CONN_VECTOR);
  // Outputs are told apart by position, resolved here once, not by name per sample.
  const std::array<const NodeOutput *, 3> outs{node->outputs[0].get(), node->outputs[1].get(), node->outputs[2].get()};
  node->hostEvaluate = [v, outs](LWNodalAccess *na, const NodeOutput *o, OutputValue *out) {
    const auto c = std::find(outs.begin(), outs.end(), o);
    if (c != outs.end()) setScalar(out, v.read(na)[static_cast<std::size_t>(c - outs.begin())]);
  };
  return node;
}

HostNode *makeVectorNode(Network &net, const json &settings, const std::string &path) {
  const Settings s(settings, path, {"X", "Y", "Z"});
  HostNode *node = net.addHostNode(kMakeVector, {{"Vector", CONN_VECTOR}}, nullptr);
  const Input x = input(node, s, "X", CONN_SCALAR), y = input(node, s, "Y", CONN_SCALAR),
              z = input(node, s, "Z", CONN_SCALAR);
  node->hostEvaluate = [x, y, z](LWNodalAccess *na, const NodeOutput *, OutputValue *out) {
    setVector(out, {x.read(na)[0], y.read(na)[0], z.read(na)[0]});
  };
  return node;
}

// The inverse of a named object's transform, found once the objects are read.
using Matrix = std::array<double, 12>;

HostNode *objectSpaceNode(Network &net, Scene &scene, const json &settings, const std::string &path) {
  const Settings s(settings, path, {"Position", "Object"});
  HostNode *node = net.addHostNode(kObjectSpace, {{"Position", CONN_VECTOR}}, nullptr);
  const Input p = input(node, s, "Position", CONN_VECTOR);
  const std::string object = s.text("Object", "");
  if (object.empty()) {
    // The object being shaded: its inverse's linear part is the context's
    // world-to-object matrix, and the hit's own position is known on both
    // sides, which places the rest.
    node->hostEvaluate = [p](LWNodalAccess *na, const NodeOutput *, OutputValue *out) {
      const V3 w = p.read(na);
      const double d[3] = {w[0] - na->wPos[0], w[1] - na->wPos[1], w[2] - na->wPos[2]};
      V3 r;
      for (int i = 0; i < 3; ++i)
        r[i] = na->oPos[i] + na->oXfrm[i * 3] * d[0] + na->oXfrm[i * 3 + 1] * d[1] + na->oXfrm[i * 3 + 2] * d[2];
      setVector(out, r);
    };
    return node;
  }
  auto inverse = std::make_shared<Matrix>(Transform{}.inverse());
  node->hostEvaluate = [p, inverse](LWNodalAccess *na, const NodeOutput *, OutputValue *out) {
    setVector(out, transformPoint(*inverse, p.read(na)));
  };
  const std::string at = path + ".Object";
  scene.afterObjects.push_back([object, at, inverse](const Scene &sc) {
    const Object *found = nullptr;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < sc.objects.size(); ++i) {
      const Object &o = sc.objects[i];
      names.push_back(o.name);
      if (o.name != object) continue;
      // Two objects of one name would leave the user guessing which is meant.
      if (found) fail(at, "more than one object is named \"" + object + "\"");
      found = &o;
    }
    if (!found) fail(at, "no object \"" + object + "\"" + nameHint(object, names));
    *inverse = found->transform.inverse();
  });
  return node;
}

} // namespace

const std::vector<std::string> &mathNodeKinds() {
  static const std::vector<std::string> kKinds{kScalarMath, kVectorMath, kVectorComponents, kMakeVector, kObjectSpace};
  return kKinds;
}

HostNode *addMathNode(Network &net, Scene &scene, const std::string &kind, const json &settings,
                      const std::string &path) {
  const std::string at = path + ".settings";
  if (kind == kScalarMath) return scalarMathNode(net, settings, at);
  if (kind == kVectorMath) return vectorMathNode(net, settings, at);
  if (kind == kVectorComponents) return vectorComponentsNode(net, settings, at);
  if (kind == kMakeVector) return makeVectorNode(net, settings, at);
  if (kind == kObjectSpace) return objectSpaceNode(net, scene, settings, at);
  throw Error(path + ".host: \"" + kind + "\" is not a math node");
}

} // namespace hostsim
