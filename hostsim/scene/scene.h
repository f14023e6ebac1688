// Scene files. A scene is JSON: camera, image, frames, backdrop,
// light, images, surfaces with node networks, and objects. Loading builds the
// networks in the host (module nodes through their servers, settings through
// their panels, persisted blocks through their own load); saving writes every
// module node's block as its own save wrote it. docs/scene-format.md
// describes the format.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostsim/error.h"
#include "hostsim/network.h"
#include "hostsim/scene/base64.h"
#include "hostsim/scene/geometry.h"

namespace hostsim {

// A fault in a scene is an Error whose message says where
// ("surfaces[1].network.nodes[0]") and what.

// Render threads at most, as many as nodes keep per-thread state for (the
// context's thread number indexes it).
constexpr int kMaxThreads = 64;
// The deepest ray recursion a scene may ask for.
constexpr int kMaxRecursionLimit = 64;

struct Camera {
  Vec3 position{0, 0, -5};
  Vec3 target{0, 0, 0};
  double fov = 60.0; // horizontal, degrees
};

struct Light {
  Vec3 direction{0, -1, 0}; // the way its rays travel, unit length
  Vec3 color{1, 1, 1};
  double intensity = 1.0;
  double ambient = 0.0; // uniform light from everywhere, as a fraction of the light's colour
  bool shadows = true;
};

// The inputs of a surface's root node, in this order.
enum SurfaceChannel {
  kChannelColor,
  kChannelLuminosity,
  kChannelDiffuse,
  kChannelReflection,
  kChannelTransparency,
  kChannelRefractionIndex,
  kChannelNormal,
  kChannelCount
};

struct Surface {
  std::string name;
  Vec3 color{0.8, 0.8, 0.8};
  double luminosity = 0.0, diffuse = 1.0, reflection = 0.0, transparency = 0.0, refractionIndex = 1.0;

  std::unique_ptr<Network> network;
  HostNode *root = nullptr;          // the host node "Surface", whose inputs drive the channels
  const NodeInput *channels[kChannelCount] = {}; // each root input, resolved once
  std::vector<HostNode *> nodes;     // in the order of the scene's node list
};

enum class Shape { Sphere, Plane, Box, Mesh };

struct Object {
  std::string name;
  Shape shape = Shape::Sphere;
  int surface = 0;
  Transform transform;
  // Spheres: world centre and radius. Everything else: the world mesh.
  Vec3 centre{0, 0, 0};
  double radius = 1.0;
  Mesh mesh;
  std::string meshPath; // resolved path of an OBJ file
};

struct Scene {
  std::string file; // as given
  std::string dir;  // folder that relative paths start from
  Camera camera;
  int width = 320, height = 240, samples = 1;
  int firstFrame = 1, lastFrame = 1;
  double fps = 30.0;
  int recursionLimit = 8;
  int threads = 1;
  Light light;
  std::vector<Surface> surfaces;
  std::vector<Object> objects;
  nlohmann::ordered_json document; // as read, for saving
  // What was taken with a warning while reading, one line each, "where: what".
  std::vector<std::string> warnings;

  double timeOf(int frame) const { return frame / fps; }
};

// What a scene may take while it is read, refused before it is taken.
struct SceneLimits {
  uint64_t meshBytes = kMeshBudgetBytes; // every mesh of the scene together (meshBytes())
};

// Reads a scene into the host: sets the scene and backdrop records, replaces
// the image list with the scene's images, builds the networks. Throws Error. The host must be active
// and outlive the scene; so must the module.
std::unique_ptr<Scene> loadScene(Host &host, const Module &module, const std::string &path,
                                 const SceneLimits &limits = {});
std::unique_ptr<Scene> parseScene(Host &host, const Module &module, const std::string &text, const std::string &path,
                                  const SceneLimits &limits = {});

// Writes the scene with each module node's persisted block (the binary
// stream, base64) in place of its settings and keys; paths are written
// relative to the new file's folder. Throws Error.
void saveScene(Scene &scene, Host &host, const std::string &path);
std::string sceneText(Scene &scene, Host &host, const std::string &path);

// JSON text as a scene reads it; a fault is an Error saying where
// ("line 1, column 12: ...") in the words a scene's faults use.
nlohmann::ordered_json parseJson(const std::string &text);

// The JSON library's message without its "[json.exception.type_error.302] "
// prefix, as scene faults quote it.
std::string jsonMessage(const nlohmann::json::exception &e);

// A whole number of a scene as a signed 64-bit value; false for anything else,
// including unsigned numbers beyond its range (which would otherwise wrap).
bool wholeNumber(const nlohmann::ordered_json &value, int64_t &out);

} // namespace hostsim
