// Facts measured by what a node does rather than by what its panel shows:
// which input takes the place of which setting, and what each mode of a node
// with per-thread history does.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>

#include "hostsim/doc/site_parts.h"
#include "hostsim/host.h"
#include "hostsim/network.h"
#include "hostsim/scene/node_settings.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace hostsim::doc {

namespace {

// ------------------------------------------------------------ the probe world

// Where a probe's rays go: every ray the node casts, traces or shades is
// written down (so that a count of rays is part of what it does) and answered
// by a world whose distances and colours change with the ray's direction and
// origin, with a window where rays hit nothing, so that a setting that moves
// rays changes the answer. The ray functions take no context: one probe runs
// at a time, on this thread, and finds its log here.
std::vector<double> *gRayLog = nullptr;

// A ray the log has no room for is the host's failure of the call: the probe
// that made it fails, with the rest of its checks.
void logRay(const char *function, double kind, const double o[3], const double d[3], double eta,
            int32_t mode) noexcept {
  if (!gRayLog) return;
  serve("the shading context", function, [&] {
    gRayLog->insert(gRayLog->end(), {kind, o[0], o[1], o[2], d[0], d[1], d[2], eta, static_cast<double>(mode)});
  });
}
bool misses(const double d[3]) noexcept { return d[0] + d[2] > 0.3 * std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]); }
double distanceOf(const double o[3], const double d[3]) noexcept {
  return 0.35 + 0.9 * (1.2 + d[0]) + 0.4 * std::fabs(d[1]) + 0.05 * o[0];
}
void colourOf(const double d[3], double eta, double c[3]) noexcept {
  c[0] = 0.5 + 0.45 * d[0];
  c[1] = 0.5 + 0.45 * d[1];
  c[2] = 0.3 + 0.2 * d[2] + 0.1 * eta;
}
const double kBackdrop[3] = {0.3, 0.45, 0.7};

double probeCast(const double o[3], const double d[3]) noexcept {
  logRay("rayCast", 1, o, d, 0, 0);
  return misses(d) ? -1.0 : distanceOf(o, d);
}
double probeTraceMode(const double o[3], const double d[3], double c[3], const double eta, const int32_t mode) noexcept {
  logRay("rayTraceMode", 2, o, d, eta, mode);
  if (misses(d)) {
    std::copy(kBackdrop, kBackdrop + 3, c);
    return -1.0;
  }
  colourOf(d, eta, c);
  return distanceOf(o, d);
}
double probeTrace(const double o[3], const double d[3], double c[3]) noexcept { return probeTraceMode(o, d, c, 1.0, 0); }
double probeShade(const double o[3], const double d[3], LWShaderAccess *sa) noexcept {
  logRay("rayShade", 3, o, d, 0, 0);
  if (misses(d)) return -1.0;
  if (sa) colourOf(d, 1.0, sa->color);
  return distanceOf(o, d);
}

// The shading contexts a probe evaluates in: a camera ray's hit, and a hit
// one deep reached through a sampled ray, where nodes that stop sampling
// below a depth do so.
std::vector<LWNodalAccess> probeContexts() {
  LWNodalAccess na = emptyWorldContext();
  const double p[3] = {0.1, 0.2, 0.3}, dir[3] = {0.24, -0.8, 0.55}, n[3] = {0.1, 0.99, 0.05};
  const double dl = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
  const double nl = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (int k = 0; k < 3; ++k) {
    na.wPos[k] = na.oPos[k] = p[k];
    na.rayDir[k] = dir[k] / dl;
    na.raySource[k] = p[k] - 2.0 * na.rayDir[k];
    na.gNorm[k] = na.wNorm[k] = na.wNorm0[k] = n[k] / nl;
  }
  na.rayLength = 2.0;
  na.spotSize = 0.004;
  na.sx = 37;
  na.sy = 21;
  na.flags = LWRT_CAMERA;
  na.rayCast = handed(&probeCast);
  na.rayTrace = handed(&probeTrace);
  na.rayTraceMode = handed(&probeTraceMode);
  na.rayShade = handed(&probeShade);
  LWNodalAccess deep = na;
  deep.bounces = 1;
  deep.flags = LWRT_SAMPLEDRAY;
  return {na, deep};
}

// ------------------------------------------------------------------ runs

// What a probe does to a node before it is evaluated: settings applied
// through its panel, in order, at most one input connected to a constant,
// and inputs fed a value that changes at every read.
struct Probe {
  std::vector<json> settings;
  std::string input; // empty: none connected
  OutputValue value;
  std::vector<std::string> fed;
};

// A value that changes at every read, for the inputs of other types than the
// setting a probe asks about: what Take Samples combines, In of Hold Value
// while its Mode is probed. What the node does with them then shows. Whole
// numbers are left to the probe settings: they choose modes and counts, under
// which a setting may show or not.
OutputValue varying(ConnectionType type, int n) {
  auto at = [](int k) { return -0.5 + 0.37 * (k % 7); };
  OutputValue v;
  v.type = type;
  v.set = true;
  v.v[0] = at(n);
  v.v[1] = type == CONN_SCALAR ? at(n) : at(n + 2);
  v.v[2] = type == CONN_SCALAR ? at(n) : at(n + 4);
  v.i = n % 5;
  return v;
}

bool holdsSameType(const std::string &controlType, ConnectionType t) {
  if (controlType == "iBoolean" || controlType == "integer" || controlType == "iChoice" || controlType == "iPopChoice")
    return t == CONN_INTEGER;
  if (controlType == "float-env" || controlType == "percent-env" || controlType == "distance-env" ||
      controlType == "angle-env")
    return t == CONN_SCALAR;
  if (controlType == "color-env") return t == CONN_COLOR;
  if (controlType == "float3-env" || controlType == "distance3-env") return t == CONN_VECTOR;
  return false;
}

struct ProbeSetup {
  const Module &module;
  std::string server, where;
  std::vector<std::string> images; // loaded first, in order
};

void loadImages(Host &host, const ProbeSetup &s) {
  for (const auto &file : s.images) prefixed(file + ": ", [&] { host.images().load(file); });
}

// Everything the node does under a probe, in order: each output's value at
// three evaluations in each context, with the rays it made for each.
std::vector<double> behaviour(const ProbeSetup &s, const Probe &probe) {
  Host host;
  loadImages(host, s);
  host.scene().setSolidBackdrop(kBackdrop);
  Network net(host, s.module);
  HostNode *node = net.add(s.server);
  std::vector<std::string> warnings;
  for (const json &settings : probe.settings) applySettings(host, s.module, node, settings, s.where, warnings);
  // Each fed input counts its own reads, from its own place in the list, so
  // that no two keep step (a bound that always reads its least value bounds
  // nothing).
  int place = 0;
  for (const auto &in : node->inputs) {
    ++place;
    if (in->name == probe.input) {
      net.connect(net.addConstant(probe.value), "Value", node, in->name);
      continue;
    }
    if (std::find(probe.fed.begin(), probe.fed.end(), in->name) == probe.fed.end()) continue;
    const ConnectionType type = in->type;
    HostNode *feed =
        net.addHostNode("Probe", {{"Value", type}},
                        [reads = place, type](LWNodalAccess *, const NodeOutput *, OutputValue *out) mutable {
                          *out = varying(type, reads++);
                        });
    net.connect(feed, "Value", node, in->name);
  }
  std::vector<double> log;
  gRayLog = &log;
  struct Unlog {
    ~Unlog() { gRayLog = nullptr; }
  } unlog;
  net.beginRender();
  host.scene().setTime(1, 0.0);
  net.newTime(1, 0.0);
  for (LWNodalAccess na : probeContexts())
    for (const auto &out : node->outputs)
      for (int k = 0; k < 3; ++k) {
        const OutputValue v = net.evaluate(node, out->name, na);
        log.insert(log.end(), {v.set ? 1.0 : 0.0, v.v[0], v.v[1], v.v[2], static_cast<double>(v.i)});
      }
  net.endRender();
  prefixed(s.where + ": \"" + s.server + "\": ", [&] { host.checks().requireNone(); });
  return log;
}

bool same(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Each probe runs in a copy of this process made for it (fork): every probe
// then starts from the same module state, the random sequence included, so
// that two probes that do the same thing give the same numbers, and none
// leaves anything behind for the next. The copy has only the thread that
// made it; the site writer starts no other (a library's idle pool may wait
// beside it), and a copy that waits on a lock no thread there will release
// is stopped rather than waited for.
std::vector<double> isolated(const ProbeSetup &s, const Probe &probe) {
  int fds[2];
  if (pipe(fds) != 0) throw Error(s.where + ": cannot make a pipe: " + std::strerror(errno));
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    throw Error(s.where + ": cannot start a probe: " + std::strerror(errno));
  }
  if (pid == 0) {
    close(fds[0]);
    std::string reply;
    try {
      const std::vector<double> b = behaviour(s, probe);
      reply = "B" + std::string(reinterpret_cast<const char *>(b.data()), b.size() * sizeof(double));
    } catch (const std::exception &e) {
      reply = std::string("E") + e.what();
    }
    for (std::size_t at = 0; at < reply.size();) {
      const ssize_t n = write(fds[1], reply.data() + at, reply.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string reply;
  char buf[8192];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool late = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfd{fds[0], POLLIN, 0};
    const int ready = left.count() > 0 ? poll(&pfd, 1, static_cast<int>(left.count())) : 0;
    if (ready == 0) {
      late = true;
      kill(pid, SIGKILL);
      break;
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n == 0) break;
    if (n > 0)
      reply.append(buf, static_cast<std::size_t>(n));
    else if (errno != EINTR)
      break;
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (late) throw Error(s.where + ": a probe of \"" + s.server + "\" did not finish in 60 s");
  if (WIFSIGNALED(status))
    throw Error(s.where + ": \"" + s.server + "\" crashed while probed (signal " + std::to_string(WTERMSIG(status)) +
                ")");
  if (reply.empty() || (reply[0] != 'B' && reply[0] != 'E'))
    throw Error(s.where + ": a probe of \"" + s.server + "\" ended without an answer");
  if (reply[0] == 'E') throw Error(reply.substr(1));
  std::vector<double> b((reply.size() - 1) / sizeof(double));
  std::memcpy(b.data(), reply.data() + 1, b.size() * sizeof(double));
  return b;
}

// Runs probes from one module state: in this process while the node does the
// same twice in a row (most nodes draw no random numbers, or start the
// sequence again when made), else each in a copy of the process of its own.
class Prober {
public:
  struct Unsteady {}; // the node did not do the same twice here
  explicit Prober(const ProbeSetup &s) : s_(s) {}
  bool forked = false;

  std::vector<double> run(const Probe &probe) {
    if (!forked) {
      std::vector<double> once = behaviour(s_, probe);
      if (!same(once, behaviour(s_, probe))) throw Unsteady{};
      return once;
    }
    std::vector<double> once = isolated(s_, probe);
    if (!checked_ && !same(once, isolated(s_, probe)))
      throw Error(s_.where + ": \"" + s_.server +
                  "\" does not do the same twice from the same state; its inputs "
                  "cannot be measured");
    checked_ = true;
    return once;
  }

private:
  const ProbeSetup &s_;
  bool checked_ = false;
};

// A value other than v for a control, in panel units, as a scene gives it,
// and the same value as the matching input carries it.
struct Other {
  json setting;
  OutputValue input;
};

Other otherValue(XPanelService &panels, Panel &p, const PanelControl &c, ConnectionType inputType) {
  Other o;
  o.input.type = inputType;
  o.input.set = true;
  const ControlValue v = panels.value(p, c);
  if (v.kind == ControlValue::Integer) {
    int32_t x = v.integer;
    if (c.controlType == "iBoolean")
      x = x ? 0 : 1;
    else if (c.isPopup())
      x = x == 0 ? 1 : 0;
    else {
      x = x == 0 ? 1 : x / 2;
      if (c.min && x < *c.min) x = v.integer + 1;
    }
    o.setting = x;
    o.input.i = x;
    for (double &d : o.input.v) d = x;
    return o;
  }
  const double scale = XPanelService::panelScale(c.controlType);
  // A direction that is only longer would point the same way; an angle of
  // 0 turns by an eighth (a small turn may move within one colour of an image).
  const bool vector = c.controlType == "float3-env" || c.controlType == "distance3-env";
  const double nudge[3] = {0.5, 0.25, -0.125}, fromZero = c.controlType == "angle-env" ? 45 : 0.5;
  std::vector<double> shown;
  for (int i = 0; i < v.param->components; ++i) {
    const double x = v.param->value[i] * scale;
    shown.push_back(vector ? x + nudge[i] : x != 0 ? x / 2 : fromZero);
  }
  o.setting = shown.size() == 1 ? json(shown[0]) : json(shown);
  for (std::size_t i = 0; i < 3; ++i) o.input.v[i] = shown[std::min(i, shown.size() - 1)] / scale;
  o.input.i = static_cast<int32_t>(std::lround(shown[0]));
  return o;
}

std::string keyOf(const Panel &p, const PanelControl &c) {
  int n = 0;
  for (const auto &k : p.controls) n += k.label == c.label;
  return n > 1 || c.label.empty() ? hexId(c.id) : c.label;
}

} // namespace

// Which input takes the place of which setting, by what the node does: the
// node with the input connected to a value other than the setting's must do
// exactly what it does with the setting at that value, and that must differ
// from what it does with the setting as it was (else the probe could not
// tell). Each setting is probed under the first of the description's probes
// (settings, and inputs fed a changing value) in which changing it changes
// what the node does.
void measureOverrides(const Module &module, const SiteOptions &o, NodeFacts &f, const json &facts) {
  if (!f.hasPanel) return;
  ProbeSetup setup{module, f.server, f.description.file + ": facts", {}};
  if (facts.contains("images"))
    for (const auto &img : facts["images"])
      setup.images.push_back((fs::path(o.sourceDir) / "examples" / "images" / img.get<std::string>()).string());
  struct Base {
    json settings = json::object();
    std::vector<std::string> feed; // not probed here: a setting that shows while one is fed is not its
  };
  std::vector<Base> bases;
  if (facts.contains("probes"))
    for (const auto &b : facts["probes"]) {
      Base base;
      if (b.contains("settings")) base.settings = b["settings"];
      if (b.contains("feed"))
        for (const auto &name : b["feed"]) base.feed.push_back(name.get<std::string>());
      bases.push_back(base);
    }
  if (bases.empty()) bases.emplace_back();

  // What each probe needs of the panel is read first, in this process; the
  // probes themselves then run from one module state.
  struct Case {
    std::size_t control;
    json changed;                                            // the setting at another value
    std::vector<std::pair<std::string, OutputValue>> inputs; // each that may take its place, at that value
    std::vector<std::string> fed;                            // the inputs of other types but whole numbers
  };
  std::vector<std::vector<Case>> cases(bases.size());
  std::vector<bool> typed(f.controls.size(), false); // an input of its type exists
  for (std::size_t b = 0; b < bases.size(); ++b) {
    Host host;
    loadImages(host, setup);
    Network net(host, module);
    HostNode *node = net.add(f.server);
    std::vector<std::string> warnings;
    const std::string at = f.description.file + ": facts.probes[" + std::to_string(b) + "]";
    applySettings(host, module, node, bases[b].settings, at + ".settings", warnings);
    if (!warnings.empty()) throw Error(warnings.front());
    for (const auto &name : bases[b].feed)
      if (!node->input(name)) throw Error(at + ".feed: \"" + f.server + "\" has no input \"" + name + "\"");
    Panel &p = openPanel(host, module, node, at);
    XPanelService &panels = host.panels();
    for (std::size_t k = 0; k < p.controls.size(); ++k) {
      const PanelControl &c = p.controls[k];
      for (const auto &in : node->inputs) typed[k] = typed[k] || holdsSameType(c.controlType, in->type);
      if (c.dataType.empty() || !panels.enabled(p, c) || panels.value(p, c).kind == ControlValue::None) continue;
      Case cs{k, {}, {}, {}};
      for (const auto &in : node->inputs) {
        const auto &feed = bases[b].feed;
        if (std::find(feed.begin(), feed.end(), in->name) != feed.end()) {
          cs.fed.push_back(in->name);
          continue;
        }
        if (!holdsSameType(c.controlType, in->type)) {
          if (in->type != CONN_INTEGER) cs.fed.push_back(in->name);
          continue;
        }
        const Other other = otherValue(panels, p, c, in->type);
        cs.changed = {{keyOf(p, c), other.setting}};
        cs.inputs.push_back({in->name, other.input});
      }
      if (!cs.inputs.empty()) cases[b].push_back(cs);
    }
  }

  // Every input that takes each setting's place. An input must do so in
  // every probe where the setting shows: in one alone it may only happen to
  // do the same (A for B where the mode asks whether A equals B).
  auto measure = [&](Prober &prober) {
    std::vector<std::vector<std::string>> takers(f.controls.size());
    std::map<std::pair<std::size_t, std::vector<std::string>>, std::vector<double>> plains;
    for (std::size_t k = 0; k < f.controls.size(); ++k) {
      bool seen = false;
      for (std::size_t b = 0; b < bases.size(); ++b) {
        const auto cs = std::find_if(cases[b].begin(), cases[b].end(), [&](const Case &c) { return c.control == k; });
        if (cs == cases[b].end() || (seen && takers[k].empty())) continue;
        auto plain = plains.find({b, cs->fed});
        if (plain == plains.end())
          plain = plains.emplace(std::make_pair(b, cs->fed), prober.run({{bases[b].settings}, "", {}, cs->fed})).first;
        const std::vector<double> set = prober.run({{bases[b].settings, cs->changed}, "", {}, cs->fed});
        if (same(set, plain->second)) continue;
        std::vector<std::string> here;
        for (const auto &[name, value] : cs->inputs)
          if ((!seen || std::find(takers[k].begin(), takers[k].end(), name) != takers[k].end()) &&
              same(prober.run({{bases[b].settings}, name, value, cs->fed}), set))
            here.push_back(name);
        takers[k] = here;
        seen = true;
      }
      if (typed[k] && !seen)
        throw Error(setup.where + ": \"" + f.controls[k].label + "\" (" + hexId(f.controls[k].id) +
                    ") is disabled, or changing it changes nothing \"" + f.server +
                    "\" does, in each of its probes "
                    "(\"facts\": {\"probes\": [...]}), so which input takes its place cannot be measured");
    }
    return takers;
  };
  Prober prober(setup);
  std::vector<std::vector<std::string>> takers;
  try {
    takers = measure(prober);
  } catch (const Prober::Unsteady &) {
    prober.forked = true;
    takers = measure(prober);
  }
  for (std::size_t k = 0; k < f.controls.size(); ++k) {
    ControlFact &c = f.controls[k];
    for (const auto &name : takers[k]) {
      c.overriddenBy += (c.overriddenBy.empty() ? "" : ", ") + name;
      for (auto &port : f.inputs)
        if (port.name == name) port.overrides += (port.overrides.empty() ? "" : ", ") + c.name;
    }
  }
}

namespace {

// One evaluation of a mode probe: the values the node was given, and what it
// did with them.
struct Step {
  double count = 0; // restart: the thread's count with the increase added
  double a = 0, previousA = 0, b = 0;
  bool happened = false; // restart: the count started over; hold: the value was held
};

struct Condition {
  const char *words;
  std::function<bool(const Step &)> holds;
};

const std::vector<Condition> &conditions(bool count) {
  static const std::vector<Condition> withCount = {
      {"never", [](const Step &) { return false; }},
      {"at every evaluation", [](const Step &) { return true; }},
      {"the count equals A", [](const Step &s) { return s.count == s.a; }},
      {"the count is greater than A", [](const Step &s) { return s.count > s.a; }},
      {"the count is less than A", [](const Step &s) { return s.count < s.a; }},
      {"the count is greater than or equal to A", [](const Step &s) { return s.count >= s.a; }},
      {"the count is less than or equal to A", [](const Step &s) { return s.count <= s.a; }},
      {"A has not changed since the thread's previous evaluation", [](const Step &s) { return s.a == s.previousA; }},
      {"A has changed since the thread's previous evaluation", [](const Step &s) { return s.a != s.previousA; }},
      {"A equals B", [](const Step &s) { return s.a == s.b; }},
      {"A differs from B", [](const Step &s) { return s.a != s.b; }},
      {"A is greater than B", [](const Step &s) { return s.a > s.b; }},
      {"A is less than B", [](const Step &s) { return s.a < s.b; }},
      {"A is greater than or equal to B", [](const Step &s) { return s.a >= s.b; }},
      {"A is less than or equal to B", [](const Step &s) { return s.a <= s.b; }},
  };
  // Without a count, the conditions on A and B alone.
  static const std::vector<Condition> withoutCount = [] {
    std::vector<Condition> c;
    for (const auto &k : withCount)
      if (std::string(k.words).find("count") == std::string::npos) c.push_back(k);
    return c;
  }();
  return count ? withCount : withoutCount;
}

} // namespace

// What each item of a node's "Mode" popup does, by evaluation: the node is
// fed A and B (and, to hold, a new In at every evaluation) from a fixed
// sequence that meets every condition both ways, and the mode is worded by
// the one condition that says exactly when the count started over (or the
// value was held). A mode that no condition words, or that two do, stops the
// site: the page would have to guess.
void measureModes(const Module &module, NodeFacts &f, const std::string &kind) {
  const std::string where = f.description.file + ": modes";
  const bool restart = kind == "restart";
  if (!restart && kind != "hold") throw Error(where + ": \"" + kind + "\" is neither \"restart\" nor \"hold\"");
  Host host;
  int32_t items = 0;
  std::vector<std::string> labels;
  {
    Network net(host, module);
    HostNode *node = net.add(f.server);
    Panel &p = openPanel(host, module, node, where);
    PanelControl *mode = p.control("Mode");
    if (!mode || !mode->isPopup()) throw Error(where + ": \"" + f.server + "\" has no \"Mode\" popup");
    items = host.panels().popupCount(p, *mode);
    for (int32_t i = 0; i < items; ++i) labels.push_back(host.panels().popupItem(p, *mode, i));
  }
  // A and B from a small set, so that they are often equal, often not, and
  // A often what it was; each render short, so that counts stay in A's range.
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  constexpr int kRenders = 40, kSteps = 12;
  std::vector<std::vector<double>> as(kRenders), bs(kRenders);
  for (int r = 0; r < kRenders; ++r)
    for (int t = 0; t < kSteps; ++t) {
      const double previous = t ? as[r].back() : 0;
      as[r].push_back(t && next(3) == 0 ? previous : static_cast<double>(next(5)));
      bs[r].push_back(static_cast<double>(next(5)));
    }

  bool firstGivesStart = true;
  for (int32_t m = 0; m < items; ++m) {
    const std::string at = where + ": \"" + labels[m] + "\"";
    double a = 0, b = 0, in = 0; // what the feeding nodes give; they outlive none of it
    Network net(host, module);
    HostNode *node = net.add(f.server);
    std::vector<std::string> warnings;
    json settings = {{"Mode", m}};
    if (restart) settings.update({{"Start Value", 0}, {"Increase Value", 1}});
    applySettings(host, module, node, settings, at, warnings);
    auto feed = [&](const std::string &input, const double &value) {
      HostNode *source = net.addHostNode("Probe", {{"Value", CONN_SCALAR}},
                                         [&value](LWNodalAccess *, const NodeOutput *, OutputValue *out) {
                                           out->type = CONN_SCALAR;
                                           out->set = true;
                                           out->v[0] = out->v[1] = out->v[2] = value;
                                         });
      prefixed(at + ": ", [&] { net.connect(source, "Value", node, input); });
    };
    feed("A", a);
    feed("B", b);
    if (!restart) feed("In", in);
    const std::string output = node->outputs.empty() ? "" : node->outputs.front()->name;
    std::vector<Step> steps;
    for (int r = 0; r < kRenders; ++r) {
      net.beginRender();
      host.scene().setTime(1, 0.0);
      net.newTime(1, 0.0);
      LWNodalAccess na = emptyWorldContext();
      double previous = 0, previousA = 0;
      for (int t = 0; t < kSteps; ++t) {
        a = as[r][t];
        b = bs[r][t];
        in = 1000 + 20 * r + t;
        const double out = net.evaluate(node, output, na).scalar();
        if (t == 0) {
          // The first evaluation of a render starts the count, or takes In.
          firstGivesStart = firstGivesStart && out == (restart ? 0 : in);
        } else {
          Step s{previous + 1, a, previousA, b, false};
          if (restart ? out == 0 : out == previous)
            s.happened = true;
          else if (out != (restart ? previous + 1 : in))
            throw Error(at + ": gave " + std::to_string(out) + ", neither " + (restart ? "a count" : "In") + " nor " +
                        (restart ? "a count started over" : "the value held"));
          steps.push_back(s);
        }
        previous = out;
        previousA = a;
      }
      net.endRender();
    }
    prefixed(at + ": ", [&] { host.checks().requireNone(); });
    std::vector<const char *> fits;
    for (const auto &c : conditions(restart))
      if (std::all_of(steps.begin(), steps.end(), [&](const Step &s) { return c.holds(s) == s.happened; }))
        fits.push_back(c.words);
    if (fits.size() != 1)
      throw Error(at + ": " + (fits.empty() ? "no condition" : "more than one condition") + " words what it does");
    f.modes.push_back({m, labels[m], fits.front()});
  }
  f.modesHeading = restart ? "The count starts over from Start Value when" : "The value is held (In is not taken) when";
  if (restart)
    f.modesNote = "Each evaluation first adds Increase Value to the count of the render thread evaluating it; the "
                  "count then starts over when the mode's condition holds.";
  else
    f.modesNote = "At each evaluation the node keeps the value it holds for the render thread evaluating it when the "
                  "mode's condition holds, and takes In otherwise.";
  if (firstGivesStart)
    f.modesNote += restart ? " A thread's first evaluation in a render gives Start Value, whatever the mode."
                           : " A thread's first evaluation in a render takes In, whatever the mode.";
}

} // namespace hostsim::doc
