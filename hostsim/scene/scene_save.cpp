// Saving a scene: the document as read, with every module node's block as
// its own save writes it in place of its settings and keys, and paths
// relative to the new file's folder.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "hostsim/scene/scene.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

std::string relativeTo(const std::string &file, const std::string &dir) {
  const fs::path abs = fs::absolute(file).lexically_normal();
  const fs::path rel = abs.lexically_relative(fs::absolute(dir).lexically_normal());
  return rel.empty() ? abs.generic_string() : rel.generic_string();
}

} // namespace

std::string sceneText(Scene &scene, Host &host, const std::string &path) {
  std::string outDir = fs::path(path).parent_path().string();
  if (outDir.empty()) outDir = ".";
  json doc = scene.document;
  ImageList &images = host.images();
  const std::string loadDir = images.baseDir();
  // Image references inside node blocks are written relative to the new file, too.
  images.setBaseDir(outDir);
  struct Restore {
    ImageList &images;
    std::string dir;
    ~Restore() { images.setBaseDir(dir); }
  } restore{images, loadDir};

  json list = json::array();
  for (const Image *img : images.images()) list.push_back({{"name", img->name}, {"file", images.referenceFor(*img)}});
  if (list.empty())
    doc.erase("images");
  else
    doc["images"] = list;

  for (std::size_t i = 0; i < scene.surfaces.size(); ++i) {
    Surface &surface = scene.surfaces[i];
    if (surface.nodes.empty()) continue;
    json &nodes = doc["surfaces"][i]["network"]["nodes"];
    for (std::size_t k = 0; k < surface.nodes.size(); ++k) {
      HostNode *n = surface.nodes[k];
      if (!n->isModuleNode()) continue;
      SaveStream out(LWIO_BINARY);
      try {
        surface.network->save(n, out);
      } catch (const Error &e) {
        throw Error("surfaces[" + std::to_string(i) + "].network.nodes[" + std::to_string(k) + "]: its save failed: " +
                    e.what());
      }
      json &entry = nodes[k];
      entry.erase("settings");
      entry.erase("keys");
      entry["data"] = base64Encode(out.bytes());
    }
  }
  for (std::size_t i = 0; i < scene.objects.size(); ++i)
    if (scene.objects[i].shape == Shape::Mesh) doc["objects"][i]["file"] = relativeTo(scene.objects[i].meshPath, outDir);
  try {
    return doc.dump(2) + "\n";
  } catch (const json::exception &e) {
    throw Error("cannot write the scene: " + jsonMessage(e)); // text that is not UTF-8, say
  }
}

void saveScene(Scene &scene, Host &host, const std::string &path) {
  const std::string text = sceneText(scene, host, path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out || !(out << text) || !out.flush()) throw Error(std::string("cannot write the scene: ") + std::strerror(errno));
}

} // namespace hostsim
