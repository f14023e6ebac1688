// Scene files as a hostile user might write them: a scene is read or refused
// with a fault, never a crash; what is read renders a tiny frame, and its
// save reads again and saves the same text.
//
// Scenes are read as if they lay in the examples folder, so the example
// scenes' meshes and images are found. Inputs that name paths outside it
// (absolute, "..", devices) are skipped: a device that never ends would hang
// any reader, which is the system's doing, not the scene reader's.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "hostsim/render/renderer.h"
#include "hostsim/scene/scene.h"

namespace {

const std::string kScenePath = std::string(JUXS_EXAMPLES_DIR) + "/fuzzed.json";

void watchAll(hostsim::Scene &scene) {
  for (hostsim::Surface &s : scene.surfaces)
    for (hostsim::HostNode *n : s.nodes) fuzz::budget::watch(n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::beginInput();
  const std::string text(reinterpret_cast<const char *>(data), size);
  for (const char *outside : {"..", "\"/", "\\/", "dev", "proc", "sys"})
    if (text.find(outside) != std::string::npos) return 0;

  hostsim::Host host;
  std::unique_ptr<hostsim::Scene> scene;
  try {
    scene = hostsim::parseScene(host, fuzz::module(), text, kScenePath);
  } catch (const hostsim::Error &) {
    fuzz::requireNoRefusals(host);
    return 0;
  }
  fuzz::budget::reset(200000);
  watchAll(*scene);
  scene->samples = std::min(scene->samples, 2);
  try {
    hostsim::Renderer renderer(*scene, host);
    renderer.setSize(4, 3);
    hostsim::RenderOptions options;
    options.threads = 1;
    options.firstFrame = options.lastFrame = scene->firstFrame;
    renderer.render(options, nullptr);
  } catch (const hostsim::Error &) {
    // a node's init may refuse to render; the scene must still save
  }

  std::string saved;
  try {
    saved = hostsim::sceneText(*scene, host, kScenePath);
  } catch (const hostsim::Error &e) {
    fuzz::fault(std::string("a scene that was read does not save: ") + e.what());
  }
  scene.reset();
  try {
    scene = hostsim::parseScene(host, fuzz::module(), saved, kScenePath);
  } catch (const hostsim::Error &e) {
    fuzz::fault(std::string("the saved scene does not read again: ") + e.what() + "\n" + saved);
  }
  if (hostsim::sceneText(*scene, host, kScenePath) != saved) fuzz::fault("save, read, save gives other text:\n" + saved);
  scene.reset();
  fuzz::requireNoRefusals(host);
  return 0;
}
