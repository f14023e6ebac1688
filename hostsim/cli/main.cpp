// The hostsim command.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/lw_host.h"
#include "hostsim/host.h"
#include "hostsim/cli/guard.h"
#include "hostsim/loader.h"
#include "hostsim/render/frame_memory.h"
#include "hostsim/render/image_output.h"
#include "hostsim/render/renderer.h"
#include "hostsim/scene/scene.h"
#include "hostsim/network.h"
#include "hostsim/validate.h"

namespace {

constexpr int kUsageError = 2;

int usage() {
  std::fprintf(stderr,
               "usage: hostsim servers MODULE\n"
               "       hostsim render SCENE [-o OUT] [--threads N] [--frames A-B] [--size WxH] [COMMON]\n"
               "       hostsim save SCENE -o OUT [COMMON]\n"
               "       hostsim panel MODULE \"SERVER NAME\" [\"OTHER SERVER\"...]\n"
               "       hostsim validate MODULE\n"
               "  servers  list the module's servers and activate each against the stand-in host\n"
               "  panel    create one node of the server and print its panel as a user sees it;\n"
               "           nodes of the other servers are created first, in the same network\n"
               "  validate activate, create, persist, copy, evaluate and destroy every node; exit 1 on a failure\n"
               "  render   render a scene file to OUT (.png, or .hdr for unclamped floats; default SCENE's\n"
               "           name with .png in the current folder); several frames get _NNNN before the extension\n"
               "  save     load a scene and write it again with every node's own saved block\n"
               "COMMON: --module PATH (default: JuxsNodes.p beside hostsim), --file PATH and --cancel\n"
               "        (answers for the file requester, in order; with none left it is cancelled)\n");
  return kUsageError;
}

// One line naming the file and the fault, as every user error ends; a fault
// of the command line itself names no file.
int fail(const std::string &file, const std::string &what) {
  if (file.empty())
    std::fprintf(stderr, "hostsim: %s\n", what.c_str());
  else
    std::fprintf(stderr, "hostsim: %s: %s\n", file.c_str(), what.c_str());
  return kUsageError;
}

std::unique_ptr<hostsim::Module> openModule(const std::string &path, int &status) {
  std::string error;
  auto module = hostsim::Module::open(path, error);
  if (!module) status = fail(path, error);
  return module;
}

std::string activate(const hostsim::ServerInfo &s, hostsim::Host &host, const hostsim::Module &module) {
  if (!s.activate) return "no activation";
  int32_t rc;
  if (s.className == LWNODE_HCLASS) {
    LWInstanceFuncs inst{};
    LWItemFuncs item{};
    LWRenderFuncs rend{};
    LWNodeHandler handler{&inst, &item, &rend, nullptr, nullptr, 0};
    rc = s.activate(LWNODE_HVERSION, host.global(), &handler, module.serverData());
  } else if (s.className == LWNODE_ICLASS) {
    LWInterface local{};
    rc = s.activate(LWNODE_IVERSION, host.global(), &local, module.serverData());
  } else {
    return "not a node server";
  }
  return "activation " + std::to_string(rc) + (rc == AFUNC_OK ? " (ok)" : rc == AFUNC_BADVERSION ? " (bad version)" : rc == AFUNC_BADGLOBAL ? " (missing service)" : "");
}

int servers(const std::string &path) {
  int status = 0;
  auto module = openModule(path, status);
  if (!module) return status;
  hostsim::Host host;
  std::printf("%s: %zu server records\n", path.c_str(), module->servers().size());
  std::printf("%-14s %-34s %-28s %-24s %s\n", "CLASS", "SERVER", "USER NAME", "GROUP", "RESULT");
  for (const auto &s : module->servers())
    std::printf("%-14s %-34s %-28s %-24s %s\n", s.className.c_str(), ("\"" + s.name + "\"").c_str(),
                ("\"" + s.userName + "\"").c_str(), ("\"" + s.group + "\"").c_str(), activate(s, host, *module).c_str());
  return 0;
}

struct Options {
  std::string scene, out, module;
  int threads = 0; // 0: the scene's
  int firstFrame = 0, lastFrame = -1; // empty range: the scene's
  int width = 0, height = 0;
  std::vector<std::pair<bool, std::string>> answers; // file requester: (cancel, path)
};

std::string defaultModule() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (ec ? std::filesystem::path(".") : self.parent_path()) / "JuxsNodes.p";
}

// Parses the options after the subcommand; a fault gives one line and false.
bool parseOptions(int argc, char **argv, bool render, Options &o, int &status) {
  auto bad = [&](const std::string &what) {
    status = fail("", what);
    return false;
  };
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string &v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "-o" || a == "--output") {
      if (!value(o.out)) return bad(a + " needs a file name");
    } else if (a == "--module") {
      if (!value(o.module)) return bad("--module needs a path");
    } else if (a == "--file") {
      if (!value(v)) return bad("--file needs a path");
      o.answers.emplace_back(false, v);
    } else if (a == "--cancel") {
      o.answers.emplace_back(true, "");
    } else if (render && a == "--threads") {
      char *end = nullptr;
      if (!value(v) || (o.threads = static_cast<int>(std::strtol(v.c_str(), &end, 10))) < 1 ||
          o.threads > hostsim::kMaxThreads || *end)
        return bad("--threads needs a number from 1 to " + std::to_string(hostsim::kMaxThreads));
    } else if (render && a == "--frames") {
      char tail = 0;
      if (!value(v)) return bad("--frames needs A-B or A");
      const int n = std::sscanf(v.c_str(), "%d-%d%c", &o.firstFrame, &o.lastFrame, &tail);
      if (n == 1 && std::sscanf(v.c_str(), "%d%c", &o.firstFrame, &tail) == 1)
        o.lastFrame = o.firstFrame;
      else if (n != 2)
        return bad("--frames needs A-B or A, not \"" + v + "\"");
      if (o.lastFrame < o.firstFrame) return bad("--frames: the last frame is before the first");
    } else if (render && a == "--size") {
      char tail = 0;
      if (!value(v) || std::sscanf(v.c_str(), "%dx%d%c", &o.width, &o.height, &tail) != 2 || o.width < 1 ||
          o.height < 1 || o.width > 16384 || o.height > 16384)
        return bad("--size needs WxH, each from 1 to 16384");
    } else if (!a.empty() && a[0] == '-') {
      return bad("unknown option " + a);
    } else if (o.scene.empty()) {
      o.scene = a;
    } else {
      return bad("one scene at a time");
    }
  }
  if (o.scene.empty()) return bad("no scene given");
  if (o.module.empty()) o.module = defaultModule();
  return true;
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

bool openSession(const Options &o, Session &s, int &status) {
  s.module = openModule(o.module, status);
  if (!s.module) return false;
  s.host = std::make_unique<hostsim::Host>();
  for (const auto &[cancel, path] : o.answers)
    if (cancel)
      s.host->fileRequester().cancel();
    else
      s.host->fileRequester().answer(path);
  try {
    s.scene = hostsim::loadScene(*s.host, *s.module, o.scene);
  } catch (const hostsim::SceneError &e) {
    status = fail(o.scene, e.what());
    return false;
  }
  return true;
}

int render(int argc, char **argv) {
  Options o;
  int status = 0;
  if (!parseOptions(argc, argv, true, o, status)) return status;
  if (o.out.empty()) o.out = std::filesystem::path(o.scene).stem().string() + ".png";
  if (!hostsim::knownImageType(o.out)) return fail(o.out, "unknown picture type: use .png or .hdr");
  Session s;
  if (!openSession(o, s, status)) return status;
  hostsim::Scene &scene = *s.scene;
  // Refused up front: running out of memory would end the render, minutes
  // in, with nothing written.
  const int width = o.width ? o.width : scene.width, height = o.width ? o.height : scene.height;
  const uint64_t need = hostsim::frameBytes(width, height), have = hostsim::availableBytes();
  if (need > have)
    return fail(o.out, "a " + std::to_string(width) + "x" + std::to_string(height) + " frame needs about " +
                           std::to_string(need >> 20) + " MB, more than the " + std::to_string(have >> 20) +
                           " MB this process can get; render it smaller");
  hostsim::RenderOptions ro;
  ro.threads = o.threads ? o.threads : scene.threads;
  ro.firstFrame = o.lastFrame >= o.firstFrame ? o.firstFrame : scene.firstFrame;
  ro.lastFrame = o.lastFrame >= o.firstFrame ? o.lastFrame : scene.lastFrame;
  ro.progress = true;
  try {
    hostsim::Renderer renderer(scene, *s.host);
    if (o.width) {
      renderer.setSize(o.width, o.height);
      s.host->scene().sceneInfo().frameWidth = o.width;
      s.host->scene().sceneInfo().frameHeight = o.height;
    }
    const bool several = ro.lastFrame > ro.firstFrame;
    std::string writeError;
    const auto stats = renderer.render(ro, [&](int frame, const hostsim::FrameBuffer &fb) {
      const std::string path = several ? hostsim::framePath(o.out, frame) : o.out;
      if (!writeError.empty()) return;
      if (hostsim::writeImage(path, fb, writeError))
        std::printf("hostsim: wrote %s\n", path.c_str());
      std::fflush(stdout);
    });
    if (!writeError.empty()) return fail(o.out, writeError);
    std::fprintf(stderr,
                 "hostsim: %d frame%s of %dx%d at %d sample%s a pixel on %d thread%s in %.2f s: %llu samples, "
                 "%llu rays cast, %llu traced, %.0f samples/s\n",
                 stats.frames, stats.frames == 1 ? "" : "s", renderer.width(), renderer.height(), scene.samples,
                 scene.samples == 1 ? "" : "s", ro.threads, ro.threads == 1 ? "" : "s", stats.seconds,
                 static_cast<unsigned long long>(stats.samples), static_cast<unsigned long long>(stats.raysCast),
                 static_cast<unsigned long long>(stats.raysTraced),
                 stats.seconds > 0 ? stats.samples / stats.seconds : 0.0);
  } catch (const hostsim::SceneError &e) {
    return fail(o.scene, e.what());
  }
  return 0;
}

int save(int argc, char **argv) {
  Options o;
  int status = 0;
  if (!parseOptions(argc, argv, false, o, status)) return status;
  if (o.out.empty()) return fail("", "save needs -o OUT");
  Session s;
  if (!openSession(o, s, status)) return status;
  try {
    hostsim::saveScene(*s.scene, *s.host, o.out);
  } catch (const hostsim::SceneError &e) {
    return fail(o.out, e.what());
  }
  std::printf("hostsim: wrote %s\n", o.out.c_str());
  return 0;
}

int panel(const std::string &path, const std::string &server, const std::vector<std::string> &others) {
  int status = 0;
  auto module = openModule(path, status);
  if (!module) return status;
  const hostsim::ServerInfo *iface = module->find(LWNODE_ICLASS, server);
  if (!module->find(LWNODE_HCLASS, server)) return fail(path, "no node server \"" + server + "\"");
  if (!iface || !iface->activate) return fail(path, "\"" + server + "\" has no panel");
  hostsim::Host host;
  hostsim::Network net(host, *module);
  std::string error;
  for (const std::string &other : others)
    if (!net.add(other, &error)) return fail(path, error);
  hostsim::HostNode *node = net.add(server, &error);
  if (!node) return fail(path, error);
  LWInterface local{node->instance, nullptr, nullptr, nullptr};
  const int32_t rc = iface->activate(LWNODE_IVERSION, host.global(), &local, module->serverData());
  if (rc != AFUNC_OK) return fail(path, "activating the panel of \"" + server + "\" failed with result " + std::to_string(rc));
  if (!local.panel) return fail(path, "\"" + server + "\" gave no panel");
  hostsim::Panel *p = hostsim::XPanelService::of(local.panel);
  std::fputs(host.panels().describe(*p, "Panel of \"" + node->name + "\" (" + server + ")").c_str(), stdout);
  return 0;
}

int validate(const std::string &path) {
  int status = 0;
  auto module = openModule(path, status);
  if (!module) return status;
  const hostsim::ValidationReport r = hostsim::validateModule(*module);
  for (const auto &line : r.lines) std::printf("%s\n", line.c_str());
  std::printf("%s: %d check(s) failed\n", path.c_str(), r.failures);
  return r.failures ? 1 : 0;
}

int run(int argc, char **argv) {
  if (argc < 2) return usage();
  const std::string cmd = argv[1];
  if (cmd == "servers" && argc == 3) return servers(argv[2]);
  if (cmd == "render") return render(argc, argv);
  if (cmd == "save") return save(argc, argv);
  if (cmd == "panel" && argc >= 4) return panel(argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
  if (cmd == "validate" && argc == 3) return validate(argv[2]);
  if (cmd == "-h" || cmd == "--help") {
    usage();
    return 0;
  }
  return usage();
}

} // namespace

int main(int argc, char **argv) {
  return hostsim::guarded([&] { return run(argc, argv); });
}
