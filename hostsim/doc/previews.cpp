// The preview renders: each node on the standard preview scene, rendered on
// one thread by the hostsim command itself, in a process of its own.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <sstream>
#include <thread>

#include "hostsim/doc/site_parts.h"
#include "hostsim/scene/scene.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace hostsim::doc {

namespace {

// The standard preview: a ball just over a floor under a sky (or before a
// wall), seen from a little above, lit from the upper left.
json previewScene(const json &spec, const json &settings, const std::string &varyNode, const std::string &where) {
  json s;
  s["camera"] = {{"position", {0, 1.15, -3.3}}, {"target", {0, 0.5, 0}}, {"fov", 46}};
  s["image"] = {{"width", kPreviewWidth}, {"height", kPreviewHeight}, {"samples", kPreviewSamples}};
  s["rayRecursionLimit"] = 4;
  s["threads"] = 1;
  s["backdrop"] = {{"zenith", {0.08, 0.16, 0.42}},
                   {"sky", {0.62, 0.74, 0.92}},
                   {"ground", {0.3, 0.27, 0.22}},
                   {"nadir", {0.1, 0.09, 0.08}}};
  s["light"] = {{"direction", {-0.5, -1, 0.7}}, {"color", {1, 0.97, 0.92}}, {"intensity", 1.05}, {"ambient", 0.2},
                {"shadows", true}};
  json images = json::array();
  if (spec.contains("images"))
    for (const auto &img : spec["images"]) images.push_back({{"file", "../images/" + img.get<std::string>()}});
  s["images"] = images;
  json surface = {{"name", "Preview"}};
  if (spec.contains("surface"))
    for (const auto &[k, v] : spec["surface"].items()) surface[k] = v;
  json network = spec.at("network");
  bool found = false;
  for (auto &n : network["nodes"])
    if (n.value("name", "") == varyNode) {
      found = true;
      for (const auto &[k, v] : settings.items()) n["settings"][k] = v;
    }
  if (!found) throw Error(where + ": the preview network has no node \"" + varyNode + "\"");
  surface["network"] = network;
  const bool floor = spec.value("floor", false);
  s["surfaces"] = json::array({{{"name", "Floor"}, {"color", {0.62, 0.6, 0.56}}}, surface});
  s["objects"] = json::array({{{"type", "plane"}, {"surface", floor ? "Preview" : "Floor"}, {"size", {40, 40}}},
                              {{"type", "sphere"}, {"surface", "Preview"}, {"radius", 0.55}, {"position", {0, 0.6, 0}}}});
  // A wall behind the ball that fills the picture above the floor, facing
  // the camera: what is laid over the frame (an image read at the pixel,
  // say) shows from corner to corner.
  if (spec.value("wall", false))
    s["objects"].push_back({{"type", "plane"},
                            {"surface", "Preview"},
                            {"size", {40, 20}},
                            {"position", {0, 5, 2.5}},
                            {"rotation", {0, -90, 0}}});
  return s;
}

} // namespace

std::string settingsCaption(const json &settings) {
  std::string s;
  for (const auto &[k, v] : settings.items()) {
    std::string value = v.is_string() ? "\u201C" + v.get<std::string>() + "\u201D" : v.dump();
    if (v.is_boolean()) value = v.get<bool>() ? "on" : "off";
    if (v.is_array()) { // three numbers, as the panel shows them
      value.clear();
      for (const auto &x : v) value += (value.empty() ? "" : " ") + x.dump();
    }
    s += (s.empty() ? "" : ", ") + k + " " + value;
  }
  return s;
}

namespace {

struct Finished {
  bool ok = false;
  std::string errors; // what the command wrote on stderr
};

// Runs a command with no shell between, its output dropped and its errors
// kept. Throws Error when it cannot be started.
Finished run(const std::vector<std::string> &args) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw Error("cannot make a pipe: " + std::string(std::strerror(errno)));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  std::vector<char *> argv;
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  Finished f;
  if (rc != 0) {
    close(pipeFds[0]);
    throw Error("cannot run " + args[0] + ": " + std::strerror(rc));
  }
  char buf[4096];
  for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) != 0;) {
    if (n > 0) f.errors.append(buf, static_cast<std::size_t>(n));
    else if (errno != EINTR) break;
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (WIFSIGNALED(status)) f.errors += "ended by signal " + std::to_string(WTERMSIG(status)) + "\n";
  return f;
}

// The command's own words for what went wrong: its lines, without the
// "hostsim: SCENE: " each starts with.
std::string complaint(const std::string &errors, const std::string &scene) {
  std::istringstream in(errors);
  std::string line, said;
  const std::string prefix = "hostsim: " + scene + ": ";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
    said += (said.empty() ? "" : "; ") + line;
  }
  return said.empty() ? "hostsim render failed and said nothing" : said;
}

} // namespace

// Each preview is rendered by `hostsim render SCENE -o PICTURE`, the command
// the page names, in a process of its own: so the picture is exactly what a
// reader gets from the scene file, whatever ran before it. Within one process
// the module's state carries from one render to the next (its one random
// sequence above all), and unloading the module between renders would count
// on the system loader really letting it go, which it need not do (a unique
// symbol or a thread-local destructor keeps a library loaded). The renders
// run side by side, one a core: each is one thread.
void renderPreviews(const SiteOptions &o, std::vector<NodeFacts> &all, const std::vector<json> &specs,
                    SiteReport &report) {
  struct Job {
    std::string where, stem, scene, picture;
    Finished done;
    double seconds = 0;
    bool ran = false;
  };
  std::vector<Job> jobs;
  for (std::size_t n = 0; n < all.size(); ++n) {
    NodeFacts &f = all[n];
    const json &spec = specs[n];
    const std::string where = f.description.file + ": preview";
    if (o.hostsim.empty()) throw Error(where + ": no hostsim command to render it with");
    std::string vary = spec.value("vary", "");
    if (vary.empty())
      for (const auto &node : spec.at("network").at("nodes"))
        if (node.value("server", "") == f.server) {
          vary = node.value("name", "");
          break;
        }
    if (vary.empty()) throw Error(where + ": no node of \"" + f.server + "\" in the preview network");
    std::vector<json> variations;
    if (spec.contains("variations"))
      for (const auto &v : spec["variations"]) variations.push_back(v);
    if (variations.empty()) variations.push_back(json::object());
    for (std::size_t i = 0; i < variations.size(); ++i) {
      const std::string stem = f.slug + "/preview" + (variations.size() > 1 ? "-" + std::to_string(i + 1) : "");
      json scene;
      try {
        scene = previewScene(spec, variations[i], vary, where);
      } catch (const json::exception &e) {
        // The reader's checks should leave the library nothing to object
        // to; should one slip through, it is still the description's fault.
        throw Error(f.description.file + ": preview block: " + jsonMessage(e));
      }
      writeText(o.out, stem + ".json", scene.dump(2) + "\n", report);
      jobs.push_back({where, stem, (fs::path(o.out) / (stem + ".json")).string(),
                      (fs::path(o.out) / (stem + ".png")).string(), {}, 0, false});
      const std::string caption = settingsCaption(variations[i]);
      f.previews.push_back({caption.empty() ? "As set up in the scene file" : caption, stem + ".png", stem + ".json"});
    }
  }

  // After a render fails no more start: the site is not written anyway.
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    for (std::size_t j; !failed && (j = next++) < jobs.size();) {
      Job &job = jobs[j];
      const auto t0 = std::chrono::steady_clock::now();
      try {
        job.done = run({o.hostsim, "render", job.scene, "-o", job.picture, "--module", o.module});
      } catch (const Error &e) {
        job.done = {false, e.what()};
      }
      job.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      job.ran = true;
      if (!job.done.ok) failed = true;
    }
  };
  {
    std::vector<std::jthread> workers;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 1; i < std::min<std::size_t>(cores, jobs.size()); ++i) workers.emplace_back(work);
    work();
  }
  for (const Job &job : jobs) {
    if (!job.ran) continue; // after a failure, which comes first or later in the list
    if (!job.done.ok)
      throw Error(job.where + " (written as " + job.stem + ".json): " + complaint(job.done.errors, job.scene));
    // A preview shows its scene as written: a warning is a slip.
    if (job.done.errors.find(": warning: ") != std::string::npos)
      throw Error(job.where + " (written as " + job.stem + ".json): " + complaint(job.done.errors, job.scene));
    if (o.log) std::fprintf(o.log, "hostsim: rendered %s.png in %.2f s\n", job.stem.c_str(), job.seconds);
    report.files.push_back(job.stem + ".png");
    ++report.pictures;
  }
}

} // namespace hostsim::doc
