// The hostsim command.

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <cmath>

#include "host/lw_host.h"
#include "hostsim/host.h"
#include "hostsim/cli/guard.h"
#include "hostsim/loader.h"
#include "hostsim/names.h"
#include "hostsim/paths.h"
#include "hostsim/network.h"
#include "hostsim/validate.h"
#include "juxs_version.h"

// The Windows build has no renderer, scene files or image files: it lists
// servers, shows panels and validates, and says so of the other commands.
#if JUXS_HOSTSIM_RENDERER
#include <nlohmann/json.hpp>
#include <OpenImageIO/oiioversion.h>
#include <embree3/rtcore_config.h>

#include "hostsim/doc/site.h"
#include "hostsim/render/frame_memory.h"
#include "hostsim/render/image_output.h"
#include "hostsim/render/renderer.h"
#include "hostsim/scene/node_settings.h"
#include "hostsim/scene/ray_budget.h"
#include "hostsim/scene/scene.h"
#endif
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#ifndef JUXS_SOURCE_DIR
#define JUXS_SOURCE_DIR "."
#endif

namespace {

constexpr int kUsageError = 2;

// Every fault a command meets is an Error, reported once, by run(): one line
// naming the file it concerns, "hostsim: FILE: what is wrong", or, for a
// fault of the command line itself, "hostsim: what is wrong"; status 2.
int report(const hostsim::Error &e) {
  const std::string &file = e.file();
  std::fprintf(stderr, "hostsim: %s%s%s\n", file.c_str(), file.empty() ? "" : ": ", hostsim::oneLine(e.what()).c_str());
  return kUsageError;
}

// Which file a fault met in some work is put on: the one the command was
// working on, unless the fault names its own (Blame::Unnamed), or that one
// whatever the fault names (Blame::Always: a scene's faults name a place in
// the scene, and what it refers to is the scene's to fix).
enum class Blame { Unnamed, Always };

template <class Fn>
auto blaming(const std::string &file, Fn &&fn, Blame blame = Blame::Unnamed) -> decltype(fn()) {
  try {
    return fn();
  } catch (const hostsim::Error &e) {
    if (blame == Blame::Unnamed && !e.file().empty()) throw;
    throw hostsim::Error(e.what(), file);
  }
}

#if JUXS_HOSTSIM_RENDERER
// Something taken, but not as the user may think: one line, and the command
// goes on.
void warn(const std::string &file, const std::string &what) {
  std::fprintf(stderr, "hostsim: %s%swarning: %s\n", file.c_str(), file.empty() ? "" : ": ",
               hostsim::oneLine(what).c_str());
}

// Something the user may not expect but that is as meant: one line, once.
void note(const std::string &file, const std::string &what) {
  std::fprintf(stderr, "hostsim: %s%snote: %s\n", file.c_str(), file.empty() ? "" : ": ", hostsim::oneLine(what).c_str());
}

// What the scene's nodes carry from one frame of a render to the next, as
// the host runs them, in words; empty when nothing: per-thread counts and
// held values, the frames counted since the render's start, and the
// module's one random sequence.
std::string stateAcrossFrames(const hostsim::Scene &scene) {
  auto has = [&](const char *server) {
    for (const hostsim::Surface &surface : scene.surfaces)
      for (const hostsim::HostNode *node : surface.nodes)
        if (node->serverName == server) return true;
    return false;
  };
  std::vector<std::string> parts;
  if (has("Jux Counter")) parts.push_back("Counter's counts");
  if (has("Jux Hold Value")) parts.push_back("the values Hold Value holds");
  if (has("Jux Render Info")) parts.push_back("the frames Render Info counts");
  std::string drawers;
  for (const char *server : {"Jux Random", "Jux Ambient Occlusion", "Jux Gaussian Reflections", "Jux Gaussian Refractions"})
    if (has(server)) drawers += (drawers.empty() ? "" : ", ") + std::string(server + 4); // its name, past "Jux "
  if (!drawers.empty()) parts.push_back("where the random sequence stands (" + drawers + ")");
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : ", ") + parts[i];
  return text;
}
#else
// A command or option this build leaves out: said as such, not as unknown.
[[noreturn]] void lacking(const std::string &what) {
  throw hostsim::Error(what + ": not in this build of hostsim, which has no renderer, scene files or image files "
                              "(the Linux build has them)");
}
#endif

// A call the module made that the host refused is the module's fault: the
// first is named, and the command fails even where it could go on.
void requireNoRefusals(hostsim::Host &host, const std::string &module) {
  blaming(module, [&] { host.checks().requireNone(); });
}

std::unique_ptr<hostsim::Module> openModule(const std::string &path) {
  return blaming(path, [&] { return hostsim::Module::open(path); });
}

std::string activate(const hostsim::ServerInfo &s, hostsim::Host &host, const hostsim::Module &module) {
  if (!s.activate) return "no activation";
  int32_t rc;
  if (s.className == LWNODE_HCLASS) {
    LWInstanceFuncs inst{};
    LWItemFuncs item{};
    LWRenderFuncs rend{};
    LWNodeHandler handler{&inst, &item, &rend, nullptr, nullptr, nullptr};
    rc = module.activateHandler(s, host.global(), &handler);
  } else if (s.className == LWNODE_ICLASS) {
    LWInterface local{};
    rc = module.activateInterface(s, host.global(), &local);
  } else {
    return "not a node server";
  }
  return "activation " + std::to_string(rc) + (rc == AFUNC_OK ? " (ok)" : rc == AFUNC_BADVERSION ? " (bad version)" : rc == AFUNC_BADGLOBAL ? " (missing service)" : "");
}

int servers(const std::string &path) {
  auto module = openModule(path);
  hostsim::Host host;
  std::printf("%s: %zu server records\n", path.c_str(), module->servers().size());
  std::printf("%-14s %-34s %-28s %-24s %s\n", "CLASS", "SERVER", "USER NAME", "GROUP", "RESULT");
  for (const auto &s : module->servers())
    std::printf("%-14s %-34s %-28s %-24s %s\n", s.className.c_str(), ("\"" + s.name + "\"").c_str(),
                ("\"" + s.userName + "\"").c_str(), ("\"" + s.group + "\"").c_str(), activate(s, host, *module).c_str());
  requireNoRefusals(host, path);
  return 0;
}

#if JUXS_HOSTSIM_RENDERER
// Beside hostsim in a build folder; where the install puts it in an installed
// tree (bin/hostsim finds lib/juxsnodes/...).
std::string defaultModule() {
  const std::filesystem::path beside = hostsim::defaultModulePath();
#ifdef JUXS_INSTALLED_MODULE
  const std::filesystem::path installed = (beside.parent_path() / JUXS_INSTALLED_MODULE).lexically_normal();
  std::error_code ec;
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec)) return hostsim::utf8Of(installed);
#endif
  return hostsim::utf8Of(beside);
}

// A mesh budget in MiB that still counts in bytes without overflow: 1 PiB.
constexpr unsigned long long kMaxMeshBudgetMib = 1ull << 30;

// What render and save are given. Values are taken as text and checked here,
// so that each fault keeps its own message.
struct Options {
  std::string scene, out, module;
  std::string threadsText, framesText, sizeText, meshBudgetText;
  bool fullFloat = false;
  bool carryState = false; // render: the user means the module's state to carry across frames
  hostsim::SceneLimits limits;
  int threads = 0;                    // 0: the scene's
  int firstFrame = 0, lastFrame = -1; // empty range: the scene's
  int width = 0, height = 0;
  std::vector<std::string> files;
  std::vector<std::pair<bool, std::string>> answers; // file requester: (cancel, path), in command-line order
};

// The options render and save share.
void addSceneOptions(CLI::App &cmd, Options &o, const CLI::Option *&fileOpt, const CLI::Option *&cancelOpt) {
  cmd.add_option("SCENE", o.scene, "the scene file (JSON; see docs/scene-format.md)")->required();
  cmd.add_option("--module", o.module,
                 "the module file to load (default: JuxsNodes.p beside hostsim, or where the install put it)")
      ->type_name("PATH");
  fileOpt = cmd.add_option("--file", o.files, "the file requester's next answer: this path (repeatable; default: none)")
                ->type_name("PATH")
                ->allow_extra_args(false)
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  cancelOpt = cmd.add_flag("--cancel")->description(
      "the file requester's next answer: cancelled (repeatable; with no answer left, the requester is cancelled)");
  cmd.add_option("--mesh-budget", o.meshBudgetText,
                 "what the scene's OBJ meshes may take in memory together, in MiB; a mesh past it is refused before "
                 "it is read (default: " +
                     std::to_string(hostsim::kMeshBudgetBytes >> 20) + ")")
      ->type_name("MIB");
  cmd.get_formatter()->column_width(24);
}

// Checks the values taken as text; a fault is the command line's.
void checkOptions(Options &o, const CLI::App &cmd, const CLI::Option *fileOpt, const CLI::Option *cancelOpt) {
  auto bad = [](const std::string &what) { throw hostsim::Error(what); };
  // The requester's answers in the order given, --file and --cancel mixed.
  std::size_t nextFile = 0;
  for (const CLI::Option *opt : cmd.parse_order()) {
    if (opt == cancelOpt) o.answers.emplace_back(true, "");
    if (opt == fileOpt && nextFile < o.files.size()) o.answers.emplace_back(false, o.files[nextFile++]);
  }
  if (!o.threadsText.empty()) {
    char *end = nullptr;
    const long n = std::strtol(o.threadsText.c_str(), &end, 10);
    if (*end || n < 1 || n > hostsim::kMaxThreads)
      bad("--threads needs a number from 1 to " + std::to_string(hostsim::kMaxThreads));
    o.threads = static_cast<int>(n);
  }
  if (!o.framesText.empty()) {
    const std::string &v = o.framesText;
    char tail = 0;
    const int n = std::sscanf(v.c_str(), "%d-%d%c", &o.firstFrame, &o.lastFrame, &tail);
    if (n == 1 && std::sscanf(v.c_str(), "%d%c", &o.firstFrame, &tail) == 1)
      o.lastFrame = o.firstFrame;
    else if (n != 2)
      bad("--frames needs A-B or A, not \"" + v + "\"");
    if (o.lastFrame < o.firstFrame) bad("--frames: the last frame is before the first");
  }
  if (!o.sizeText.empty()) {
    char tail = 0;
    if (std::sscanf(o.sizeText.c_str(), "%dx%d%c", &o.width, &o.height, &tail) != 2 || o.width < 1 || o.height < 1 ||
        o.width > 16384 || o.height > 16384)
      bad("--size needs WxH, each from 1 to 16384");
  }
  if (!o.meshBudgetText.empty()) {
    char *end = nullptr;
    errno = 0;
    const unsigned long long mib = std::strtoull(o.meshBudgetText.c_str(), &end, 10);
    if (!std::isdigit(static_cast<unsigned char>(o.meshBudgetText[0])) || *end || errno || mib < 1 || mib > kMaxMeshBudgetMib)
      bad("--mesh-budget needs a number of MiB from 1 to " + std::to_string(kMaxMeshBudgetMib));
    o.limits.meshBytes = static_cast<uint64_t>(mib) << 20;
  }
  if (o.module.empty()) o.module = defaultModule();
}

// The module, the host and the scene, in the order they must go.
struct Session {
  std::unique_ptr<hostsim::Module> module;
  std::unique_ptr<hostsim::Host> host;
  std::unique_ptr<hostsim::Scene> scene;
  ~Session() {
    scene.reset();
    host.reset();
    module.reset();
  }
};

void openSession(const Options &o, Session &s) {
  s.module = openModule(o.module);
  s.host = std::make_unique<hostsim::Host>();
  for (const auto &[cancel, path] : o.answers)
    if (cancel)
      s.host->fileRequester().cancel();
    else
      s.host->fileRequester().answer(path);
  s.scene = blaming(o.scene, [&] { return hostsim::loadScene(*s.host, *s.module, o.scene, o.limits); }, Blame::Always);
  for (const std::string &w : s.scene->warnings) warn(o.scene, w);
  requireNoRefusals(*s.host, o.module);
}

int render(Options &o) {
  if (o.out.empty()) o.out = std::filesystem::path(o.scene).stem().string() + ".png";
  blaming(o.out, [&] { hostsim::checkPictureTarget(o.out); });
  if (o.fullFloat && !hostsim::hasFloatChoice(o.out)) throw hostsim::Error("--float is for .exr and .tif pictures", o.out);
  Session s;
  openSession(o, s);
  hostsim::Scene &scene = *s.scene;
  // Refused up front: running out of memory would end the render, minutes
  // in, with nothing written.
  const int width = o.width ? o.width : scene.width, height = o.width ? o.height : scene.height;
  const uint64_t need = hostsim::frameBytes(width, height), have = hostsim::availableBytes();
  if (need > have)
    throw hostsim::Error("a " + std::to_string(width) + "x" + std::to_string(height) + " frame needs about " +
                             std::to_string(need >> 20) + " MB, more than the " + std::to_string(have >> 20) +
                             " MB this process can get; render it smaller",
                         o.out);
  for (const std::string &w : blaming(o.scene, [&] { return hostsim::rayWarnings(scene, *s.host, *s.module); }))
    warn(o.scene, w);
  hostsim::RenderOptions ro;
  ro.threads = o.threads ? o.threads : scene.threads;
  ro.firstFrame = o.lastFrame >= o.firstFrame ? o.firstFrame : scene.firstFrame;
  ro.lastFrame = o.lastFrame >= o.firstFrame ? o.lastFrame : scene.lastFrame;
  ro.progress = true;
  // A frame of a longer render is not the frame rendered alone; said once,
  // unless the user has said that the carrying over is meant.
  if (const std::string state = stateAcrossFrames(scene); ro.lastFrame > ro.firstFrame && !o.carryState && !state.empty())
    note(o.scene, "frames " + std::to_string(ro.firstFrame) + "-" + std::to_string(ro.lastFrame) +
                      " are one render, as in the host, and what the module keeps carries over from each frame to the "
                      "next: " +
                      state +
                      "; so a frame here differs from a render of that frame alone, which starts afresh "
                      "(--carry-state: this is meant, and no note is needed)");
  hostsim::PictureOptions po;
  po.fullFloat = o.fullFloat;
  // A picture's fault names the picture; any other is the scene's.
  blaming(o.scene, [&] {
    hostsim::Renderer renderer(scene, *s.host);
    if (o.width) {
      renderer.setSize(o.width, o.height);
      s.host->scene().sceneInfo().frameWidth = o.width;
      s.host->scene().sceneInfo().frameHeight = o.height;
    }
    const bool several = ro.lastFrame > ro.firstFrame;
    const auto stats = renderer.render(ro, [&](int frame, const hostsim::FrameBuffer &fb) {
      const std::string path = several ? hostsim::framePath(o.out, frame) : o.out;
      // A picture that could not be written ends the render there.
      hostsim::writeImage(path, fb, po);
      std::printf("hostsim: wrote %s\n", path.c_str());
      std::fflush(stdout);
    });
    std::fprintf(stderr,
                 "hostsim: %d frame%s of %dx%d at %d sample%s a pixel on %d thread%s in %.2f s: %llu samples, "
                 "%llu rays cast, %llu traced, %.0f samples/s\n",
                 stats.frames, stats.frames == 1 ? "" : "s", renderer.width(), renderer.height(), scene.samples,
                 scene.samples == 1 ? "" : "s", ro.threads, ro.threads == 1 ? "" : "s", stats.seconds,
                 static_cast<unsigned long long>(stats.samples), static_cast<unsigned long long>(stats.raysCast),
                 static_cast<unsigned long long>(stats.raysTraced),
                 stats.seconds > 0 ? stats.samples / stats.seconds : 0.0);
  });
  requireNoRefusals(*s.host, o.module);
  return 0;
}

int save(Options &o) {
  Session s;
  openSession(o, s);
  blaming(o.out, [&] { hostsim::saveScene(*s.scene, *s.host, o.out); }, Blame::Always);
  requireNoRefusals(*s.host, o.module);
  std::printf("hostsim: wrote %s\n", o.out.c_str());
  return 0;
}
#endif // JUXS_HOSTSIM_RENDERER

// What the panel command is given.
struct PanelOptions {
  std::string module, server;
  std::vector<std::string> others;
  std::string settings;            // --set: applied first, as a scene's node settings give them
  std::vector<std::string> images; // --image: loaded, the last picked in the "Image" popup
  std::string thumbnail;           // --thumbnail: where the drawn thumbnail goes
};

#if JUXS_HOSTSIM_RENDERER
// The thumbnail as the panel draws it: display values, written through the
// picture output by way of the linear values that encode to them.
void writeThumbnail(const std::string &out, const hostsim::DrawArea &area) {
  hostsim::FrameBuffer fb;
  fb.width = area.width;
  fb.height = area.height;
  fb.rgb.resize(area.rgb.size());
  for (std::size_t i = 0; i < area.rgb.size(); ++i) {
    const float c = area.rgb[i] / 255.0f;
    fb.rgb[i] = c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
  }
  hostsim::writeImage(out, fb);
}
#endif

// A node's inputs and outputs as a scene names them, with their types.
std::string connectionsText(const hostsim::HostNode &node) {
  std::string text;
  auto list = [&](const char *title, const auto &connectors) {
    text += std::string("  ") + title + ":";
    if (connectors.empty()) text += " none";
    for (std::size_t i = 0; i < connectors.size(); ++i)
      text += std::string(i ? "," : "") + " \"" + connectors[i]->name + "\" (" +
              hostsim::connectionTypeName(connectors[i]->type) + ")";
    text += "\n";
  };
  list("inputs", node.inputs);
  list("outputs", node.outputs);
  return text;
}

int panel(const PanelOptions &o) {
  const std::string &path = o.module;
  const std::string &server = o.server;
#if !JUXS_HOSTSIM_RENDERER
  // --set reads settings as a scene file gives them; --image and --thumbnail read and write pictures.
  for (const auto &[given, option] : {std::pair{!o.settings.empty(), "--set"}, {!o.images.empty(), "--image"},
                                      {!o.thumbnail.empty(), "--thumbnail"}})
    if (given) lacking(std::string("panel ") + option);
#endif
  auto module = openModule(path);
  const hostsim::ServerInfo *iface = module->find(LWNODE_ICLASS, server);
  if (!module->find(LWNODE_HCLASS, server)) {
    std::vector<std::string> names;
    for (const auto &s : module->servers())
      if (s.className == LWNODE_HCLASS) names.push_back(s.name);
    throw hostsim::Error("no node server \"" + server + "\"" + hostsim::nameHint(server, names), path);
  }
  const bool hasPanel = iface && iface->activate;
  if (!hasPanel && (!o.settings.empty() || !o.images.empty() || !o.thumbnail.empty()))
    throw hostsim::Error("\"" + server + "\" has no panel", path);
  hostsim::Host host;
#if JUXS_HOSTSIM_RENDERER
  if (!o.thumbnail.empty()) {
    if (std::filesystem::path(o.thumbnail).extension() != ".png")
      throw hostsim::Error("a thumbnail is written as .png", o.thumbnail);
    // Checked before any work, as render checks its picture.
    blaming(o.thumbnail, [&] { hostsim::checkPictureTarget(o.thumbnail); });
  }
  for (const std::string &file : o.images) blaming(file, [&] { host.images().load(file); }, Blame::Always);
#endif
  hostsim::Network net(host, *module);
  hostsim::HostNode *node = blaming(path, [&] {
    for (const std::string &other : o.others) net.add(other);
    return net.add(server);
  });
  // A node without a panel still has the names a scene connects by.
  if (!hasPanel) {
    std::printf("No panel for \"%s\" (%s)\n", node->name.c_str(), server.c_str());
    std::fputs(connectionsText(*node).c_str(), stdout);
    requireNoRefusals(host, path);
    return 0;
  }
#if JUXS_HOSTSIM_RENDERER
  if (!o.settings.empty()) {
    const nlohmann::ordered_json settings = blaming("--set", [&] { return hostsim::parseJson(o.settings); });
    std::vector<std::string> warnings;
    blaming(path, [&] { hostsim::applySettings(host, *module, node, settings, "--set", warnings); });
    for (const std::string &w : warnings) warn("", w);
  }
#endif
  LWInterface local{node->instance, nullptr, nullptr, nullptr};
  const int32_t rc = module->activateInterface(*iface, host.global(), &local);
  if (rc != AFUNC_OK)
    throw hostsim::Error("activating the panel of \"" + server + "\" failed with result " + std::to_string(rc), path);
  if (!local.panel) throw hostsim::Error("\"" + server + "\" gave no panel", path);
  hostsim::Panel *p = hostsim::XPanelService::of(local.panel);
  if (!o.images.empty()) {
    hostsim::PanelControl *c = p->control("Image");
    if (!c || !c->isPopup()) throw hostsim::Error("\"" + server + "\" has no \"Image\" popup", path);
    blaming(path, [&] { host.panels().editInteger(*p, *c, static_cast<int32_t>(host.images().images().size())); });
  }
  std::fputs(host.panels().describe(*p, "Panel of \"" + node->name + "\" (" + server + ")").c_str(), stdout);
  // What a scene connects by name.
  std::fputs(connectionsText(*node).c_str(), stdout);
  // A hint array the host cannot read is the module's fault: said, and failed.
  requireNoRefusals(host, path);
#if JUXS_HOSTSIM_RENDERER
  if (!o.thumbnail.empty()) {
    const hostsim::PanelControl *t = nullptr;
    for (const auto &c : p->controls)
      if (c.draw) t = &c;
    if (!t) throw hostsim::Error("\"" + server + "\" draws no thumbnail", path);
    const auto [w, h] = hostsim::XPanelService::thumbnailSize(*t);
    blaming(o.thumbnail, [&] { writeThumbnail(o.thumbnail, host.panels().drawThumbnail(*p, *t, w, h)); }, Blame::Always);
    std::printf("hostsim: wrote %s (%dx%d)\n", o.thumbnail.c_str(), w, h);
  }
#endif
  requireNoRefusals(host, path);
  return 0;
}

int validate(const std::string &path) {
  auto module = openModule(path);
  const hostsim::ValidationReport r = hostsim::validateModule(*module);
  for (const auto &line : r.lines) std::printf("%s\n", line.c_str());
  std::size_t checks = 0;
  for (const auto &line : r.lines) checks += line.rfind("ok", 0) == 0 || line.rfind("FAIL", 0) == 0;
  std::printf("%s: %zu checks, %d failed\n", path.c_str(), checks, r.failures);
  return r.failures ? 1 : 0;
}

#if JUXS_HOSTSIM_RENDERER
int doc(hostsim::doc::SiteOptions &o) {
  o.log = stderr;
  const auto t0 = std::chrono::steady_clock::now();
  // The site writer's faults name their file (a description, a picture,
  // the module) themselves; the site's folder is seldom the one at fault.
  const hostsim::doc::SiteReport report = hostsim::doc::writeSite(o);
  std::printf("hostsim: wrote %d node pages, an index and %d preview renders to %s in %.1f s\n", report.pages,
              report.pictures, o.out.c_str(), std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  return 0;
}
#endif

// The release, and the commit it was built from when built from a checkout.
std::string versionText() {
  std::string text = std::string("hostsim ") + JUXS_VERSION;
  if (*JUXS_COMMIT) text += std::string(" (commit ") + JUXS_COMMIT + ")";
#if JUXS_HOSTSIM_RENDERER
  return text + ", the stand-in host of JuxsNodes (OpenImageIO " + OIIO_VERSION_STRING + ", Embree " +
         RTC_VERSION_STRING + ", CLI11 " + CLI11_VERSION + ")";
#else
  return text + ", the stand-in host of JuxsNodes, without renderer, scene or image files (CLI11 " + CLI11_VERSION + ")";
#endif
}

int run(int argc, char **argv) {
  CLI::App app("The stand-in host of the JuxsNodes module: loads the module as the host does, "
               "lists and checks its servers, shows node panels"
#if JUXS_HOSTSIM_RENDERER
               ", and renders scene files.",
#else
               " (this build has no renderer).",
#endif
               "hostsim");
  app.set_version_flag("--version", versionText(), "print the version and exit");
  app.set_help_flag("-h,--help", "print this help and exit");
  app.require_subcommand(1);
  app.fallthrough(false);
  // On Windows too, a word that starts with / is a path, never an option.
  app.allow_windows_style_options(false);
  app.footer("hostsim COMMAND --help lists a command's options and their defaults.");
  app.get_formatter()->column_width(24);

  std::string modulePath;
  CLI::App *serversCmd = app.add_subcommand("servers", "list the module's servers and activate each against the stand-in host");
  serversCmd->add_option("MODULE", modulePath, "the module file")->required();

#if JUXS_HOSTSIM_RENDERER
  Options ro;
  const CLI::Option *renderFile = nullptr, *renderCancel = nullptr;
  CLI::App *renderCmd = app.add_subcommand(
      "render", "render a scene file to a picture; several frames get _NNNN before the extension");
  addSceneOptions(*renderCmd, ro, renderFile, renderCancel);
  renderCmd->add_option("-o,--output", ro.out,
                        "the picture: .png (8-bit, sRGB-encoded), .exr (OpenEXR, linear, half float), "
                        ".hdr (Radiance, linear) or .tif (16-bit, sRGB-encoded) (default: SCENE's name with .png, "
                        "in the current folder)")
      ->type_name("OUT");
  renderCmd->add_flag("--float", ro.fullFloat, "write .exr and .tif as linear 32-bit float (default: off)");
  renderCmd->add_option("--threads", ro.threadsText,
                        "render threads, 1 to " + std::to_string(hostsim::kMaxThreads) + " (default: the scene's)")
      ->type_name("N");
  renderCmd->add_option("--frames", ro.framesText, "the frames to render, A-B or A (default: the scene's)")
      ->type_name("A-B");
  renderCmd->add_flag("--carry-state", ro.carryState,
                      "say that the module's state (counts, held values, frames counted, the random sequence) is meant "
                      "to carry over from frame to frame, as it always does in one render, so that no note says it "
                      "(default: off)");
  renderCmd->add_option("--size", ro.sizeText, "the picture's size in pixels, each side 1 to 16384 (default: the scene's)")
      ->type_name("WxH");

  Options so;
  const CLI::Option *saveFile = nullptr, *saveCancel = nullptr;
  CLI::App *saveCmd = app.add_subcommand("save", "load a scene and write it again with every node's own saved block");
  addSceneOptions(*saveCmd, so, saveFile, saveCancel);
  saveCmd->add_option("-o,--output", so.out, "the scene file to write")->type_name("OUT")->required();
#endif

  PanelOptions po;
  CLI::App *panelCmd = app.add_subcommand("panel", "create one node of the server and print its panel as a user sees "
                                                   "it; nodes of the other servers are created first, in the same network");
  panelCmd->add_option("MODULE", po.module, "the module file")->required();
  panelCmd->add_option("SERVER", po.server, "the node's server name, such as \"Jux Pixel Image\"")->required();
  panelCmd->add_option("OTHERS", po.others, "servers of nodes to create first");
  panelCmd->add_option("--set", po.settings, "settings applied first, as a scene gives them: '{\"Ranged\": false}'")
      ->type_name("SETTINGS");
  panelCmd->add_option("--image", po.images, "a picture loaded into the host's image list (repeatable); the last "
                                             "one loaded is picked in the node's \"Image\" popup")
      ->type_name("FILE")
      ->allow_extra_args(false);
  panelCmd->add_option("--thumbnail", po.thumbnail, "write the node's drawn thumbnail to OUT.png")->type_name("OUT.png");

#if JUXS_HOSTSIM_RENDERER
  hostsim::doc::SiteOptions docOpts;
  docOpts.sourceDir = JUXS_SOURCE_DIR;
  docOpts.hostsim = hostsim::utf8Of(hostsim::executablePath());
  CLI::App *docCmd = app.add_subcommand("doc", "write the node reference: a page per node with its panel, a preview "
                                               "render and its facts, all read from the module");
  docCmd->add_option("MODULE", docOpts.module, "the module file")->required();
  docCmd->add_option("-o,--output", docOpts.out, "the site's folder")->type_name("DIR")->required();
  docCmd->add_option("--source", docOpts.sourceDir, "the repository, for the node descriptions and example pictures "
                                                    "(default: the one hostsim was built from)")
      ->type_name("DIR");
#else
  // Listed, so that each says what this build lacks instead of being unknown.
  std::vector<CLI::App *> absent;
  for (const char *name : {"render", "save", "doc"})
    absent.push_back(app.add_subcommand(name, "not in this build: no renderer, scene or image files")->allow_extras());
#endif

  CLI::App *validateCmd = app.add_subcommand(
      "validate", "activate, create, persist, copy, evaluate and destroy every node; exit 1 on a failure");
  validateCmd->add_option("MODULE", modulePath, "the module file")->required();

  if (argc < 2) {
    std::fputs(app.help().c_str(), stderr);
    return kUsageError;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    // Name the command whose options were wrong, and where its help is.
    const std::vector<CLI::App *> cmds = app.get_subcommands();
    const std::string name = cmds.empty() ? "" : cmds.front()->get_name();
    std::string what = e.what();
    if (what.size() > 1 && !std::isupper(static_cast<unsigned char>(what[1])))
      what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    if (name.empty() && argv[1][0] != '-')
      what = "unknown command \"" + std::string(argv[1]) + "\"";
    return report(hostsim::Error((name.empty() ? "" : name + ": ") + what + " (hostsim " +
                                 (name.empty() ? "" : name + " ") + "--help lists the " +
                                 (name.empty() ? "commands" : "options") + ")"));
  }

  try {
    if (serversCmd->parsed()) return servers(modulePath);
    if (validateCmd->parsed()) return validate(modulePath);
    if (panelCmd->parsed()) return panel(po);
#if JUXS_HOSTSIM_RENDERER
    if (docCmd->parsed()) return doc(docOpts);
    if (renderCmd->parsed()) {
      checkOptions(ro, *renderCmd, renderFile, renderCancel);
      return render(ro);
    }
    if (saveCmd->parsed()) {
      checkOptions(so, *saveCmd, saveFile, saveCancel);
      return save(so);
    }
#else
    for (const CLI::App *cmd : absent)
      if (cmd->parsed()) lacking(cmd->get_name());
#endif
    throw hostsim::Error("no command given (hostsim --help lists them)");
  } catch (const hostsim::Error &e) {
    return report(e);
  }
}

} // namespace

int main(int argc, char **argv) {
  // Whatever escapes a command still ends in one line and status 2.
  return hostsim::guarded([&] {
#ifdef _WIN32
    // Paths are UTF-8 everywhere in hostsim; Windows hands a program its
    // arguments in the ANSI code page, which cannot hold every file name.
    std::vector<std::string> args;
    int count = 0;
    if (wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
      for (int i = 0; i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string &a = args.emplace_back(n > 1 ? n - 1 : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, a.data(), n, nullptr, nullptr);
      }
      LocalFree(wide);
    }
    std::vector<char *> utf8;
    for (std::string &a : args) utf8.push_back(a.data());
    utf8.push_back(nullptr);
    if (!args.empty()) return run(count, utf8.data());
#endif
    return run(argc, argv);
  });
}
