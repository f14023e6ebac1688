#include "hostsim/scene/scene.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "hostsim/names.h"
#include "hostsim/paths.h"
#include "hostsim/scene/math_nodes.h"
#include "hostsim/scene/node_settings.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

[[noreturn]] void fail(const std::string &path, const std::string &what) {
  throw Error(path.empty() ? what : path + ": " + what);
}

// What the host refuses (a server, a connection, a node's data, an image or
// mesh file), said at the place in the scene that asked for it.
template <class Fn> auto faultAt(const std::string &path, Fn &&fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const Error &e) {
    fail(path, e.what());
  }
}

std::string at(const std::string &path, const std::string &key) { return path.empty() ? key : path + "." + key; }
std::string at(const std::string &path, std::size_t i) { return path + "[" + std::to_string(i) + "]"; }

// A typo in a key would otherwise be ignored without a word.
void onlyKeys(const json &obj, std::initializer_list<const char *> keys, const std::string &path) {
  if (!obj.is_object()) fail(path, "should be an object");
  for (const auto &[k, v] : obj.items()) {
    bool known = false;
    for (const char *allowed : keys) known = known || k == allowed;
    if (!known) fail(path, "unknown key \"" + k + "\"");
  }
}

double number(const json &obj, const char *key, double def, const std::string &path) {
  auto it = obj.find(key);
  if (it == obj.end()) return def;
  if (!it->is_number() || !std::isfinite(it->get<double>())) fail(at(path, key), "should be a number");
  return it->get<double>();
}

int integer(const json &obj, const char *key, int def, const std::string &path, int lo, int hi) {
  auto it = obj.find(key);
  if (it == obj.end()) return def;
  if (!it->is_number_integer()) fail(at(path, key), "should be a whole number");
  int64_t v = 0;
  if (!wholeNumber(*it, v) || v < lo || v > hi)
    fail(at(path, key), "should be from " + std::to_string(lo) + " to " + std::to_string(hi));
  return static_cast<int>(v);
}

bool boolean(const json &obj, const char *key, bool def, const std::string &path) {
  auto it = obj.find(key);
  if (it == obj.end()) return def;
  if (!it->is_boolean()) fail(at(path, key), "should be true or false");
  return it->get<bool>();
}

std::string string(const json &obj, const char *key, const std::string &path, const char *def = nullptr) {
  auto it = obj.find(key);
  if (it == obj.end()) {
    if (def) return def;
    fail(path, std::string("needs \"") + key + "\"");
  }
  if (!it->is_string()) fail(at(path, key), "should be a string");
  return it->get<std::string>();
}

Vec3 vec3(const json &j, const std::string &path) {
  if (!j.is_array() || j.size() != 3) fail(path, "should be three numbers");
  Vec3 v;
  for (int c = 0; c < 3; ++c) {
    if (!j[c].is_number() || !std::isfinite(j[c].get<double>())) fail(path, "should be three numbers");
    v[c] = j[c].get<double>();
  }
  return v;
}

Vec3 vec3(const json &obj, const char *key, const Vec3 &def, const std::string &path) {
  auto it = obj.find(key);
  return it == obj.end() ? def : vec3(*it, at(path, key));
}

const json &object(const json &obj, const char *key, const std::string &path) {
  static const json kEmpty = json::object();
  auto it = obj.find(key);
  if (it == obj.end()) return kEmpty;
  if (!it->is_object()) fail(at(path, key), "should be an object");
  return *it;
}

const json &array(const json &obj, const char *key, const std::string &path) {
  static const json kEmpty = json::array();
  auto it = obj.find(key);
  if (it == obj.end()) return kEmpty;
  if (!it->is_array()) fail(at(path, key), "should be a list");
  return *it;
}

// Every size and radius is refused alike when it is not above 0: a plane of
// width 0 vanishes, a negative box size turns the box inside out.
double positive(double v, const std::string &path) {
  if (!(v > 0)) fail(path, "should be above 0");
  return v;
}

double length(const Vec3 &v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// A backdrop colour: [r, g, b], or {"keys": [...]} animated over frames.
void backdropColor(SceneRecords &records, SceneRecords::Slot slot, const json &j, double *rgb, double fps,
                   const std::string &path) {
  if (j.is_array()) {
    const Vec3 v = vec3(j, path);
    for (int c = 0; c < 3; ++c) rgb[c] = v[c];
    return;
  }
  onlyKeys(j, {"keys"}, path);
  const json &keys = array(j, "keys", path);
  if (keys.empty()) fail(at(path, "keys"), "needs at least one key");
  Envelope env[3];
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const std::string kp = at(at(path, "keys"), k);
    onlyKeys(keys[k], {"frame", "value", "shape"}, kp);
    if (!keys[k].contains("frame") || !keys[k].contains("value")) fail(kp, "a key needs \"frame\" and \"value\"");
    const double t = number(keys[k], "frame", 0, kp) / fps;
    const Vec3 v = vec3(keys[k]["value"], at(kp, "value"));
    const std::string shape = string(keys[k], "shape", kp, "linear");
    if (shape != "linear" && shape != "stepped") fail(at(kp, "shape"), "should be \"linear\" or \"stepped\"");
    for (int c = 0; c < 3; ++c) env[c].set(t, v[c], shape == "stepped" ? KeyShape::Stepped : KeyShape::Linear);
  }
  for (int c = 0; c < 3; ++c) {
    rgb[c] = env[c].keys.front().value;
    records.setBackdropKeys(slot, c, env[c]);
  }
}

void readBackdrop(Host &host, const json &doc, double fps) {
  const std::string path = "backdrop";
  const json &b = object(doc, "backdrop", "");
  onlyKeys(b, {"color", "zenith", "sky", "ground", "nadir"}, path);
  SceneRecords &records = host.scene();
  if (b.contains("color")) {
    if (b.size() > 1) fail(path, "is either \"color\" or a gradient, not both");
    double rgb[3];
    backdropColor(records, SceneRecords::kSolid, b["color"], rgb, fps, at(path, "color"));
    records.setSolidBackdrop(rgb);
    return;
  }
  if (b.empty()) {
    const double black[3] = {0, 0, 0};
    records.setSolidBackdrop(black);
    return;
  }
  Gradient g;
  const std::pair<const char *, SceneRecords::Slot> slots[] = {
      {"zenith", SceneRecords::kZenith}, {"sky", SceneRecords::kSky}, {"ground", SceneRecords::kGround}, {"nadir", SceneRecords::kNadir}};
  double *dst[] = {g.zenith, g.sky, g.ground, g.nadir};
  for (int i = 0; i < 4; ++i)
    if (b.contains(slots[i].first)) backdropColor(records, slots[i].second, b[slots[i].first], dst[i], fps, at(path, slots[i].first));
  records.setGradientBackdrop(g);
}

void readCamera(Scene &s, const json &doc) {
  const json &c = object(doc, "camera", "");
  onlyKeys(c, {"position", "target", "fov"}, "camera");
  s.camera.position = vec3(c, "position", s.camera.position, "camera");
  s.camera.target = vec3(c, "target", s.camera.target, "camera");
  s.camera.fov = number(c, "fov", s.camera.fov, "camera");
  if (s.camera.fov <= 0 || s.camera.fov >= 180) fail("camera.fov", "should be between 0 and 180 degrees");
  const Vec3 d{s.camera.target[0] - s.camera.position[0], s.camera.target[1] - s.camera.position[1],
               s.camera.target[2] - s.camera.position[2]};
  if (length(d) == 0) fail("camera", "the target is where the camera is");
  if (std::fabs(d[1]) >= length(d) * (1 - 1e-9)) fail("camera", "looks straight up or down, where its roll is undefined");
}

void readLight(Scene &s, const json &doc) {
  const json &l = object(doc, "light", "");
  onlyKeys(l, {"direction", "color", "intensity", "ambient", "shadows"}, "light");
  Vec3 d = vec3(l, "direction", {-1, -2, 1}, "light");
  const double len = length(d);
  if (len == 0) fail("light.direction", "should not be zero");
  for (double &c : d) c /= len;
  s.light.direction = d;
  s.light.color = vec3(l, "color", s.light.color, "light");
  s.light.intensity = number(l, "intensity", s.light.intensity, "light");
  s.light.ambient = number(l, "ambient", 0.1, "light");
  s.light.shadows = boolean(l, "shadows", true, "light");
}

void readImages(Host &host, const json &doc) {
  const json &images = array(doc, "images", "");
  for (std::size_t i = 0; i < images.size(); ++i) {
    const std::string path = at("images", i);
    onlyKeys(images[i], {"name", "file"}, path);
    const std::string file = string(images[i], "file", path);
    const std::string name = string(images[i], "name", path, "");
    faultAt(path, [&] { host.images().load(file, name); });
  }
}

const char *const kChannelNames[kChannelCount] = {"Color", "Luminosity", "Diffuse", "Reflection", "Transparency",
                                                  "Refraction Index", "Normal"};
const ConnectionType kChannelTypes[kChannelCount] = {CONN_COLOR, CONN_SCALAR, CONN_SCALAR, CONN_SCALAR,
                                                     CONN_SCALAR, CONN_SCALAR, CONN_VECTOR};

// Host nodes: constants, spot info and the math nodes.
HostNode *addHostNode(Scene &s, Network &net, const std::string &kind, const json &node, const std::string &path) {
  const std::vector<std::string> &math = mathNodeKinds();
  if (std::find(math.begin(), math.end(), kind) != math.end()) {
    if (node.contains("value")) fail(path, "a math node takes \"settings\", not \"value\"");
    return addMathNode(net, s, kind, node.contains("settings") ? node["settings"] : json(), path);
  }
  // Only the math nodes have settings; the others are known by their value alone.
  auto noSettings = [&] {
    if (node.contains("settings")) fail(path, "a \"" + kind + "\" node has no settings");
  };
  auto constant = [&](ConnectionType type) {
    noSettings();
    OutputValue v;
    v.type = type;
    if (!node.contains("value")) fail(path, "a constant needs \"value\"");
    const json &value = node["value"];
    if (type == CONN_INTEGER) {
      if (!value.is_number_integer()) fail(at(path, "value"), "should be a whole number");
      int64_t i = 0;
      if (!wholeNumber(value, i) || i < INT32_MIN || i > INT32_MAX) fail(at(path, "value"), "is out of the 32-bit range");
      v.i = static_cast<int32_t>(i);
    } else if (type == CONN_SCALAR) {
      v.v[0] = number(node, "value", 0, path);
    } else {
      const Vec3 x = vec3(value, at(path, "value"));
      for (int c = 0; c < 3; ++c) v.v[c] = x[c];
    }
    return net.addConstant(v);
  };
  if (kind == "Color") return constant(CONN_COLOR);
  if (kind == "Scalar") return constant(CONN_SCALAR);
  if (kind == "Vector") return constant(CONN_VECTOR);
  if (kind == "Integer") return constant(CONN_INTEGER);
  if (kind == "Spot Info") {
    noSettings();
    if (node.contains("value")) fail(path, "spot info takes no \"value\"");
    enum { kPosition, kNormal, kGeometricNormal, kRaySource, kDistance, kRayDepth, kPixelX, kPixelY };
    HostNode *n = net.addHostNode("Spot Info",
                                  {{"Position", CONN_VECTOR},
                                   {"Normal", CONN_VECTOR},
                                   {"Geometric Normal", CONN_VECTOR},
                                   {"Ray Source", CONN_VECTOR},
                                   {"Distance", CONN_SCALAR},
                                   {"Ray Depth", CONN_INTEGER},
                                   {"Pixel X", CONN_INTEGER},
                                   {"Pixel Y", CONN_INTEGER}},
                                  nullptr);
    // Outputs are told apart by position, resolved here once, not by name per sample.
    std::vector<const NodeOutput *> outs;
    for (auto &o : n->outputs) outs.push_back(o.get());
    n->hostEvaluate = [outs](LWNodalAccess *na, const NodeOutput *o, OutputValue *out) {
      auto copy = [out](const double *v) {
        for (int c = 0; c < 3; ++c) out->v[c] = v[c];
      };
      if (o == outs[kPosition]) copy(na->wPos);
      else if (o == outs[kNormal]) copy(na->wNorm);
      else if (o == outs[kGeometricNormal]) copy(na->gNorm);
      else if (o == outs[kRaySource]) copy(na->raySource);
      else if (o == outs[kDistance]) out->v[0] = na->rayLength;
      else if (o == outs[kRayDepth]) out->i = na->bounces;
      else if (o == outs[kPixelX]) out->i = na->sx;
      else if (o == outs[kPixelY]) out->i = na->sy;
      else return;
      out->set = true;
    };
    return n;
  }
  std::vector<std::string> kinds{"Color", "Scalar", "Vector", "Integer", "Spot Info"};
  kinds.insert(kinds.end(), math.begin(), math.end());
  fail(at(path, "host"), "unknown host node \"" + kind + "\"" + nameHint(kind, kinds));
}

// A surface's nodes by their names in the scene, "Surface" its root.
using NodesByName = std::map<std::string, HostNode *>;

// What a node asks of its panel, applied once every node of the scene exists.
struct PanelWork {
  HostNode *node = nullptr;
  const json *settings = nullptr, *keys = nullptr;
  std::string path;
};

void readNodes(Scene &s, Surface &surface, Host &host, const json &network, const std::string &path,
               NodesByName &byName, std::vector<PanelWork> &work) {
  onlyKeys(network, {"nodes", "connections"}, path);
  Network &net = *surface.network;
  byName["Surface"] = surface.root;
  const json &nodes = array(network, "nodes", path);
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const std::string np = at(at(path, "nodes"), i);
    const json &node = nodes[i];
    onlyKeys(node, {"name", "server", "host", "value", "settings", "keys", "data"}, np);
    const std::string name = string(node, "name", np);
    if (byName.count(name)) fail(at(np, "name"), "\"" + name + "\" is used twice in this network");
    HostNode *n = nullptr;
    if (node.contains("server") == node.contains("host")) fail(np, "needs either \"server\" or \"host\"");
    if (node.contains("host")) {
      if (node.contains("keys") || node.contains("data")) fail(np, "a host node has no keys or data");
      n = addHostNode(s, net, string(node, "host", np), node, np);
    } else {
      if (node.contains("value")) fail(np, "a module node takes \"settings\", not \"value\"");
      const std::string server = string(node, "server", np);
      n = faultAt(at(np, "server"), [&] { return net.add(server); });
      // A block is loaded as soon as its node exists, as the host loads a
      // scene: a Store Material takes its saved identifier before the next
      // node is created, and nodes created after it number on from there.
      if (node.contains("data")) {
        std::vector<uint8_t> bytes;
        if (!node["data"].is_string() || !base64Decode(node["data"].get<std::string>(), bytes))
          fail(at(np, "data"), "should be base64 text");
        LoadStream in(bytes, LWIO_BINARY);
        host.images().takeFailedLoad();
        faultAt(at(np, "data"), [&] { net.load(n, in); });
        // The host loads an image a block names that is not in the list; one
        // it cannot read leaves the node without it, which is said.
        if (const std::string why = host.images().takeFailedLoad(); !why.empty())
          s.warnings.push_back(at(np, "data") + ": " + why + "; the node has no image");
      }
      if (node.contains("settings") || node.contains("keys"))
        work.push_back({n, node.contains("settings") ? &node["settings"] : nullptr,
                        node.contains("keys") ? &node["keys"] : nullptr, np});
    }
    byName[name] = n;
    surface.nodes.push_back(n);
  }
}

void readConnections(Surface &surface, const json &network, const std::string &path, const NodesByName &byName) {
  Network &net = *surface.network;
  const json &connections = array(network, "connections", path);
  // Each input takes one connection; in the editor a second one replaces the
  // first, which a scene file would do without a word.
  std::map<const NodeInput *, std::string> sourceOf;
  for (std::size_t i = 0; i < connections.size(); ++i) {
    const std::string cp = at(at(path, "connections"), i);
    const json &c = connections[i];
    onlyKeys(c, {"from", "output", "to", "input"}, cp);
    const std::string from = string(c, "from", cp), output = string(c, "output", cp);
    const std::string to = string(c, "to", cp), input = string(c, "input", cp);
    auto find = [&](const std::string &name, const char *key) {
      auto it = byName.find(name);
      if (it == byName.end()) {
        std::vector<std::string> names;
        for (const auto &[known, node] : byName) names.push_back(known);
        fail(at(cp, key), "no node \"" + name + "\" in this network" + nameHint(name, names));
      }
      return it->second;
    };
    HostNode *a = find(from, "from");
    HostNode *b = find(to, "to");
    if (!a->output(output))
      fail(at(cp, "output"), "node \"" + from + "\" has no output \"" + output + "\"" + nameHint(output, a->outputNames()));
    if (!b->input(input))
      fail(at(cp, "input"), "node \"" + to + "\" has no input \"" + input + "\"" + nameHint(input, b->inputNames()));
    // Said here in the scene's own names; the network knows only the host's.
    if (net.wouldCycle(a, b)) fail(cp, "connecting \"" + from + "\" to \"" + to + "\" would make a cycle");
    const std::string source = "\"" + from + "\" output \"" + output + "\"";
    if (auto it = sourceOf.find(b->input(input)); it != sourceOf.end())
      fail(cp, "input \"" + input + "\" of \"" + to + "\" is connected twice: from " + it->second + " and from " + source);
    sourceOf[b->input(input)] = source + " (connections[" + std::to_string(i) + "])";
    faultAt(cp, [&] { net.connect(a, output, b, input); });
  }
}

// Networks are built in three steps, each over every surface before the
// next, so that no order in the file matters: the nodes (and their blocks),
// then their settings and keys, which may name nodes of any surface (a Get
// Material names a Store Material), then the connections, as the settings
// were made on panels whose inputs were still free.
void readSurfaces(Scene &s, Host &host, const Module &module, const json &doc) {
  const json &surfaces = array(doc, "surfaces", "");
  std::vector<NodesByName> names(surfaces.size());
  std::vector<PanelWork> work;
  for (std::size_t i = 0; i < surfaces.size(); ++i) {
    const std::string path = at("surfaces", i);
    const json &j = surfaces[i];
    onlyKeys(j, {"name", "color", "luminosity", "diffuse", "reflection", "transparency", "refractionIndex", "network"}, path);
    Surface surface;
    surface.name = string(j, "name", path);
    for (const Surface &other : s.surfaces)
      if (other.name == surface.name) fail(at(path, "name"), "surface \"" + surface.name + "\" is defined twice");
    surface.color = vec3(j, "color", surface.color, path);
    surface.luminosity = number(j, "luminosity", surface.luminosity, path);
    surface.diffuse = number(j, "diffuse", surface.diffuse, path);
    surface.reflection = number(j, "reflection", surface.reflection, path);
    surface.transparency = number(j, "transparency", surface.transparency, path);
    surface.refractionIndex = number(j, "refractionIndex", surface.refractionIndex, path);
    if (surface.refractionIndex <= 0) fail(at(path, "refractionIndex"), "should be above 0");
    surface.network = std::make_unique<Network>(host, module, surface.name);
    surface.root = surface.network->addHostNode("Surface", {}, nullptr);
    for (int c = 0; c < kChannelCount; ++c) surface.channels[c] = surface.root->addInput(kChannelTypes[c], kChannelNames[c]);
    s.surfaces.push_back(std::move(surface));
    readNodes(s, s.surfaces.back(), host, object(j, "network", path), at(path, "network"), names[i], work);
  }
  std::vector<NodeSettings> settings;
  for (const PanelWork &w : work)
    if (w.settings) settings.push_back({w.node, w.settings, at(w.path, "settings")});
  std::vector<std::vector<std::string>> said;
  applySettings(host, module, settings, said);
  // Warnings node by node, as the file has them: settings, then keys.
  for (std::size_t i = 0, k = 0; i < work.size(); ++i) {
    if (work[i].settings) s.warnings.insert(s.warnings.end(), said[k].begin(), said[k].end()), ++k;
    if (work[i].keys) applyKeys(host, module, work[i].node, *work[i].keys, s.fps, at(work[i].path, "keys"), s.warnings);
  }
  for (std::size_t i = 0; i < surfaces.size(); ++i)
    readConnections(s.surfaces[i], object(surfaces[i], "network", at("surfaces", i)), at(at("surfaces", i), "network"),
                    names[i]);
}

void readObjects(Scene &s, const json &doc, const SceneLimits &limits) {
  const json &objects = array(doc, "objects", "");
  uint64_t meshBytesLeft = limits.meshBytes;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const std::string path = at("objects", i);
    const json &j = objects[i];
    onlyKeys(j, {"name", "type", "surface", "radius", "size", "file", "position", "rotation", "scale"}, path);
    Object o;
    o.name = string(j, "name", path, ("object " + std::to_string(i + 1)).c_str());
    const std::string surface = string(j, "surface", path);
    o.surface = -1;
    for (std::size_t k = 0; k < s.surfaces.size(); ++k)
      if (s.surfaces[k].name == surface) o.surface = static_cast<int>(k);
    if (o.surface < 0) fail(at(path, "surface"), "no surface \"" + surface + "\"");
    o.transform.position = vec3(j, "position", o.transform.position, path);
    o.transform.rotation = vec3(j, "rotation", o.transform.rotation, path);
    if (j.contains("scale")) {
      if (j["scale"].is_number()) {
        const double k = number(j, "scale", 1, path);
        o.transform.scale = {k, k, k};
      } else {
        o.transform.scale = vec3(j["scale"], at(path, "scale"));
      }
      // A negative scale mirrors; only zero flattens the object away.
      if (j["scale"].is_number()) {
        if (o.transform.scale[0] == 0) fail(at(path, "scale"), "should not be 0");
      } else {
        for (std::size_t k = 0; k < 3; ++k)
          if (o.transform.scale[k] == 0) fail(at(at(path, "scale"), k), "should not be 0");
      }
    }
    const std::string type = string(j, "type", path);
    auto unused = [&](std::initializer_list<const char *> keys) {
      for (const char *k : keys)
        if (j.contains(k)) fail(at(path, k), "does not apply to a " + type);
    };
    if (type == "sphere") {
      unused({"size", "file"});
      const Vec3 &k = o.transform.scale;
      if (k[0] != k[1] || k[1] != k[2]) fail(at(path, "scale"), "a sphere takes one scale for all three axes");
      o.shape = Shape::Sphere;
      o.radius = positive(number(j, "radius", 1.0, path), at(path, "radius")) * std::fabs(k[0]);
      o.centre = o.transform.position;
    } else if (type == "plane" || type == "box") {
      unused({"radius", "file"});
      if (type == "plane") {
        o.shape = Shape::Plane;
        const json size = j.value("size", json::array({1.0, 1.0}));
        if (!size.is_array() || size.size() != 2 || !size[0].is_number() || !size[1].is_number())
          fail(at(path, "size"), "should be two numbers, width and depth");
        const double width = positive(size[0].get<double>(), at(at(path, "size"), 0));
        const double depth = positive(size[1].get<double>(), at(at(path, "size"), 1));
        o.mesh = makePlane(width, depth);
      } else {
        o.shape = Shape::Box;
        Vec3 size = vec3(j, "size", {1, 1, 1}, path);
        for (std::size_t k = 0; k < 3; ++k) positive(size[k], at(at(path, "size"), k));
        o.mesh = makeBox(size);
      }
      o.mesh.transform(o.transform);
    } else if (type == "mesh") {
      unused({"radius", "size"});
      o.shape = Shape::Mesh;
      fs::path file(string(j, "file", path));
      if (file.is_relative()) file = fs::path(s.dir) / file;
      o.meshPath = fs::absolute(file).lexically_normal().string();
      uint64_t taken = 0;
      o.mesh = faultAt(at(path, "file"), [&] { return readObj(o.meshPath, meshBytesLeft, &taken); });
      meshBytesLeft -= taken;
      o.mesh.transform(o.transform);
    } else {
      fail(at(path, "type"), "unknown object type \"" + type + "\" (sphere, plane, box or mesh)");
    }
    s.objects.push_back(std::move(o));
  }
}

// Get Material finds a Store Material by its name, and with two of one name
// every Get finds the first listed: a second is most likely a slip (a copied
// node not renamed), and otherwise unreachable by name.
void warnOfRepeatedMaterialNames(Scene &s, Host &host, const Module &module) {
  std::map<std::string, std::string> firstAt; // name to where it was first listed
  for (std::size_t i = 0; i < s.surfaces.size(); ++i)
    for (std::size_t k = 0; k < s.surfaces[i].nodes.size(); ++k) {
      HostNode *node = s.surfaces[i].nodes[k];
      if (node->serverName != "Jux Store Material") continue;
      const std::string where = at(at(at("surfaces", i), "network.nodes"), k);
      Panel &panel = openPanel(host, module, node, where);
      const PanelControl *name = panel.control("Name");
      if (!name) continue;
      const std::string text = host.panels().value(panel, *name).text;
      const auto [first, isNew] = firstAt.emplace(text, where);
      if (!isNew)
        s.warnings.push_back(where + ": a Store Material named \"" + text + "\" is already listed at " + first->second +
                             "; every Get Material that chooses \"" + text + "\" finds that first one");
    }
}

// A place in the text, "line L, column C: ".
std::string whereAt(const std::string &text, std::size_t pos) {
  const auto lineStart = text.rfind('\n', pos);
  const std::size_t line = 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<long>(pos), '\n'));
  const std::size_t column = pos - (lineStart == std::string::npos ? 0 : lineStart + 1) + 1;
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
}

// Where a literal first appears in the text, "line L, column C: ", or nothing.
std::string whereIs(const std::string &text, const std::string &literal) {
  const auto pos = literal.empty() ? std::string::npos : text.find(literal);
  return pos == std::string::npos ? "" : whereAt(text, pos);
}

// Where a key is written as a key for the n-th time, "line L, column C: ",
// or nothing (a key written with escapes is not found as it reads).
std::string keyPlace(const std::string &text, const std::string &key, int n) {
  const std::string quoted = "\"" + key + "\"";
  for (std::size_t pos = text.find(quoted); pos != std::string::npos; pos = text.find(quoted, pos + 1)) {
    const std::size_t after = text.find_first_not_of(" \t\r\n", pos + quoted.size());
    if (after != std::string::npos && text[after] == ':' && --n == 0) return whereAt(text, pos);
  }
  return "";
}

json parseDocument(const std::string &text) {
  // A key written twice in one object keeps only its last value, so which
  // one counts would hang on the order they are written in: refused.
  std::vector<std::set<std::string>> open;
  std::map<std::string, int> written;
  const json::parser_callback_t keysOnce = [&](int, json::parse_event_t event, json &parsed) {
    if (event == json::parse_event_t::object_start) {
      open.emplace_back();
    } else if (event == json::parse_event_t::object_end) {
      open.pop_back();
    } else if (event == json::parse_event_t::key) {
      const std::string key = parsed.get<std::string>();
      const int n = ++written[key];
      if (!open.back().insert(key).second)
        fail("", keyPlace(text, key, n) + "\"" + key + "\" is written twice in one object; only one value can hold");
    }
    return true;
  };
  try {
    return json::parse(text, keysOnce);
  } catch (const json::parse_error &e) {
    // "[json.exception.parse_error.101] parse error at line 3, column 5: ..." loses its prefix.
    std::string what = e.what();
    const auto pos = what.find("line ");
    fail("", pos == std::string::npos ? jsonMessage(e) : what.substr(pos));
  } catch (const json::out_of_range &e) {
    // A number beyond a double's range: the library names the literal, not its place.
    std::string what = jsonMessage(e);
    std::string literal;
    if (const auto q = what.find('\''); q != std::string::npos && what.back() == '\'')
      literal = what.substr(q + 1, what.size() - q - 2);
    fail("", whereIs(text, literal) + (literal.empty() ? what : "the number " + literal + " is too large"));
  } catch (const json::exception &e) {
    fail("", jsonMessage(e));
  }
}

std::unique_ptr<Scene> readScene(Host &host, const Module &module, const std::string &text, const std::string &file,
                                 const SceneLimits &limits) {
  json doc = parseDocument(text);
  if (!doc.is_object()) fail("", "a scene is a JSON object");
  onlyKeys(doc, {"camera", "image", "frames", "rayRecursionLimit", "threads", "backdrop", "light", "images", "surfaces", "objects"}, "");

  auto s = std::make_unique<Scene>();
  s->file = file;
  s->dir = fs::path(file).parent_path().string();
  if (s->dir.empty()) s->dir = ".";
  readCamera(*s, doc);
  const json &image = object(doc, "image", "");
  onlyKeys(image, {"width", "height", "samples"}, "image");
  s->width = integer(image, "width", s->width, "image", 1, 16384);
  s->height = integer(image, "height", s->height, "image", 1, 16384);
  s->samples = integer(image, "samples", s->samples, "image", 1, 4096);
  const json &frames = object(doc, "frames", "");
  onlyKeys(frames, {"first", "last", "fps"}, "frames");
  s->firstFrame = integer(frames, "first", s->firstFrame, "frames", -100000, 100000);
  s->lastFrame = integer(frames, "last", s->firstFrame, "frames", -100000, 100000);
  if (s->lastFrame < s->firstFrame) fail("frames.last", "is before the first frame");
  s->fps = number(frames, "fps", s->fps, "frames");
  if (s->fps <= 0) fail("frames.fps", "should be above 0");
  s->recursionLimit = integer(doc, "rayRecursionLimit", s->recursionLimit, "", 0, kMaxRecursionLimit);
  s->threads = integer(doc, "threads", s->threads, "", 1, kMaxThreads);
  readLight(*s, doc);

  LWSceneInfo &info = host.scene().sceneInfo();
  host.scene().setSceneName(fs::path(file).stem().string(), file);
  info.frameStart = s->firstFrame;
  info.frameEnd = s->lastFrame;
  info.frameStep = 1;
  info.framesPerSecond = s->fps;
  info.frameWidth = s->width;
  info.frameHeight = s->height;
  info.minSamplesPerPixel = info.maxSamplesPerPixel = s->samples;
  info.recursionDepth = s->recursionLimit;
  info.numThreads = s->threads;
  host.scene().setTime(s->firstFrame, s->timeOf(s->firstFrame));
  readBackdrop(host, doc, s->fps);

  host.images().clear(); // a scene brings its own images
  host.images().setBaseDir(s->dir);
  readImages(host, doc);
  readSurfaces(*s, host, module, doc);
  warnOfRepeatedMaterialNames(*s, host, module);
  readObjects(*s, doc, limits);
  for (const auto &bind : s->afterObjects) bind(*s);
  s->document = std::move(doc);
  return s;
}

} // namespace

json parseJson(const std::string &text) { return parseDocument(text); }

// The library's message without its "[json.exception.type_error.302] " prefix.
std::string jsonMessage(const nlohmann::json::exception &e) {
  std::string what = e.what();
  if (what.rfind("[json.exception.", 0) == 0)
    if (const auto end = what.find("] "); end != std::string::npos) what.erase(0, end + 2);
  return what;
}

bool wholeNumber(const json &value, int64_t &out) {
  if (value.is_number_unsigned()) {
    const auto u = value.get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) return false;
    out = static_cast<int64_t>(u);
    return true;
  }
  if (!value.is_number_integer()) return false;
  out = value.get<int64_t>();
  return true;
}

std::unique_ptr<Scene> parseScene(Host &host, const Module &module, const std::string &text, const std::string &file,
                                  const SceneLimits &limits) {
  try {
    return readScene(host, module, text, file, limits);
  } catch (const json::exception &e) {
    // The checks above should leave the library nothing to object to; if one
    // slips through it is still a fault in the scene, not a crash.
    fail("", jsonMessage(e));
  }
}

std::unique_ptr<Scene> loadScene(Host &host, const Module &module, const std::string &path, const SceneLimits &limits) {
  if (const std::string kind = notAFile(pathFromUtf8(path)); !kind.empty()) fail("", "is " + kind + ", not a scene file");
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("", std::string("cannot open the scene: ") + std::strerror(errno));
  std::stringstream text;
  text << in.rdbuf();
  return parseScene(host, module, text.str(), path, limits);
}

} // namespace hostsim
