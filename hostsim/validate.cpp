#include "hostsim/validate.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <algorithm>
#include <functional>
#include <optional>
#include <random>
#include <set>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "hostsim/network.h"

namespace hostsim {
namespace {

// Keeps each result, and in a child process also sends it on at once, so
// that the results before a crash reach the report.
class Checker {
public:
  explicit Checker(ValidationReport &r, int fd = -1) : report_(r), fd_(fd) {}
  void check(bool ok, const std::string &what, const std::string &why = "") {
    if (ok) {
      report_.lines.push_back("ok   " + what);
    } else {
      report_.lines.push_back("FAIL " + what + (why.empty() ? "" : ": " + why));
      ++report_.failures;
    }
    send(report_.lines.back() + "\n");
  }

private:
  void send(const std::string &text) {
#ifndef _WIN32
    for (std::size_t at = 0; fd_ >= 0 && at < text.size();) {
      const ssize_t n = write(fd_, text.data() + at, text.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
#else
    (void)text;
#endif
  }
  ValidationReport &report_;
  int fd_;
};

// One check of one node (or of the module, node empty), run with a host of its own.
struct Check {
  std::string node;
  std::string what;
  std::function<void(const Module &, Checker &)> run;
};

std::string inQuotes(const std::string &s) { return "\"" + s + "\""; }

// Each call the module made into a check's host that the host refused is a
// failed check of its own, named; made right after the host, so that it
// reads them once everything else (the nodes' destroy included) is done.
class Refusals {
public:
  Refusals(Host &host, Checker &c, std::string what, bool sayWhenNone = true)
      : host_(host), c_(c), what_(std::move(what)), sayWhenNone_(sayWhenNone) {}
  ~Refusals() {
    std::vector<Violation> v = host_.checks().take();
    if (v.empty() && sayWhenNone_) c_.check(true, what_ + ": calls the host only as the host allows");
    // The same misuse by each node a check makes is one failure, its first node named.
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (v[i].count == 0) continue;
      int nodes = 0;
      for (std::size_t k = i + 1; k < v.size(); ++k)
        if (v[k].callback == v[i].callback && v[k].function == v[i].function && v[k].argument == v[i].argument &&
            v[k].what == v[i].what) {
          ++nodes;
          v[k].count = 0;
        }
      c_.check(false, what_ + ": calls the host only as the host allows",
               v[i].line() + (nodes ? " (and in " + std::to_string(nodes) + " more node" + (nodes > 1 ? "s" : "") + ")" : ""));
    }
  }
  Refusals(const Refusals &) = delete;
  Refusals &operator=(const Refusals &) = delete;

private:
  Host &host_;
  Checker &c_;
  std::string what_;
  bool sayWhenNone_;
};

// What an operation's Error says, or nothing when it succeeds: a check here
// judges what failed rather than stopping at it.
template <class Fn> std::optional<std::string> faultOf(Fn &&fn) {
  try {
    fn();
  } catch (const Error &e) {
    return e.what();
  }
  return std::nullopt;
}

// A node of the server, or null when it cannot be made.
HostNode *tryAdd(Network &net, const std::string &server, std::optional<std::string> *fault = nullptr) {
  HostNode *n = nullptr;
  const auto f = faultOf([&] { n = net.add(server); });
  if (fault) *fault = f;
  return n;
}

void checkTable(const Module &m, Checker &c) {
  const auto &s = m.servers();
  bool paired = s.size() % 2 == 0;
  std::set<ActivateFunc> seen;
  bool distinct = true;
  for (std::size_t i = 0; paired && i < s.size(); i += 2) {
    paired = s[i].className == LWNODE_HCLASS && s[i + 1].className == LWNODE_ICLASS && s[i].name == s[i + 1].name &&
             s[i].userName == s[i + 1].userName && s[i].group == s[i + 1].group && !s[i].userName.empty() &&
             !s[i].group.empty();
    for (const auto *x : {&s[i], &s[i + 1]})
      if (x->activate && !seen.insert(x->activate).second) distinct = false;
  }
  c.check(paired, "server table: each node is a NodeHandler and a NodeInterface record with one name and tags");
  c.check(distinct, "server table: every activation function is distinct");
}

// A handler record filled with a pattern, to see whether an activation wrote to it.
struct HandlerRecord {
  LWInstanceFuncs inst;
  LWItemFuncs item;
  LWRenderFuncs rend;
  LWNodeHandler handler;
  HandlerRecord() {
    std::memset(static_cast<void *>(this), 0x5A, sizeof *this);
    handler.inst = &inst;
    handler.item = &item;
    handler.rend = &rend;
  }
  bool untouched() const {
    HandlerRecord fresh;
    return std::memcmp(&inst, &fresh.inst, sizeof inst) == 0 && std::memcmp(&item, &fresh.item, sizeof item) == 0 &&
           std::memcmp(&rend, &fresh.rend, sizeof rend) == 0 &&
           std::memcmp(static_cast<const void *>(&handler.evaluate), static_cast<const void *>(&fresh.handler.evaluate),
                       sizeof handler.evaluate) == 0;
  }
};

// The handler version the module takes, found as the host finds it (from the
// highest it speaks down); 0 when it takes none.
int32_t handlerVersion(const Module &m, const ServerInfo &s, Host &host) {
  HandlerRecord scratch;
  int32_t taken = 0;
  if (m.activateHandler(s, host.global(), &scratch.handler, &taken) != AFUNC_OK) return 0;
  return taken;
}

void checkVersions(const Module &m, const ServerInfo &s, Checker &c) {
  const std::string who = inQuotes(s.name) + ": ";
  Host host;
  Refusals refusals(host, c, who + "versions");
  const int32_t taken = handlerVersion(m, s, host);
  c.check(taken > 0, who + "takes a handler version the host speaks");
  if (!taken) return;
  for (int32_t version : {0, taken + 1, -1, INT32_MAX}) {
    HandlerRecord rec;
    const int32_t rc = m.activate(s, version, host.global(), &rec.handler);
    c.check(rc == AFUNC_BADVERSION && rec.untouched(),
            who + "a handler activation of version " + std::to_string(version) + " returns 1 and touches nothing",
            "result " + std::to_string(rc) + (rec.untouched() ? "" : ", the record was written"));
  }
  const ServerInfo *iface = m.find(LWNODE_ICLASS, s.name);
  if (!iface || !iface->activate) return;
  Network net(host, m, "Validation");
  HostNode *n = tryAdd(net, s.name);
  if (!n) return;
  // The host counts interface versions up from 1: every one below the one
  // taken must be refused, or the host would settle on it.
  LWInterface found{n->instance, nullptr, nullptr, nullptr};
  int32_t panelVersion = 0;
  const int32_t got = m.activateInterface(*iface, host.global(), &found, &panelVersion);
  c.check(got == AFUNC_OK && panelVersion == LWINTERFACE_VERSION,
          who + "takes panel version " + std::to_string(LWINTERFACE_VERSION) + " and no lower",
          "result " + std::to_string(got) + ", version " + std::to_string(panelVersion));
  for (int32_t version : {0, -1, LWINTERFACE_VERSION + 1, INT32_MAX}) {
    LWInterface local{n->instance, nullptr, nullptr, nullptr};
    const int32_t rc = m.activate(*iface, version, host.global(), &local);
    c.check(rc == AFUNC_BADVERSION && !local.panel,
            who + "a panel activation of version " + std::to_string(version) + " returns 1 and gives no panel",
            "result " + std::to_string(rc));
  }
}

// Each service the module asks for, withheld in turn by the name it asks
// for: the activation either does without it (0, and fills the record) or
// fails with 2 and leaves the record as it was. Nothing is assumed of what a
// node needs: only what it does without a service is judged.
void checkWithheld(const Module &m, const ServerInfo &s, Checker &c) {
  const std::string who = inQuotes(s.name) + ": ";
  std::vector<std::string> asked;
  int32_t version = 0;
  {
    Host names;
    Refusals refusals(names, c, who + "services withheld", false);
    version = handlerVersion(m, s, names);
    for (const std::string &name : names.lookupLog())
      if (std::find(asked.begin(), asked.end(), name) == asked.end()) asked.push_back(name);
  }
  if (!version) return;
  for (const std::string &service : asked) {
    Host host;
    Refusals refusals(host, c, who + "without " + inQuotes(service), false);
    host.withhold(service);
    HandlerRecord rec;
    const int32_t rc = m.activate(s, version, host.global(), &rec.handler);
    bool ok = false;
    std::string why = "result " + std::to_string(rc);
    if (rc == AFUNC_BADGLOBAL) {
      ok = rec.untouched();
      if (!ok) why += ", but the record was written";
    } else if (rc == AFUNC_OK) {
      ok = rec.handler.evaluate && rec.inst.create;
      if (!ok) why += ", and the record was not filled";
    }
    c.check(ok, who + "without " + inQuotes(service) + " the handler activation returns 2 untouched or does without it",
            why);
  }
}

// Loads of blocks no save wrote: empty, random bytes, and 1 MB. A load may
// refuse them; the node must then evaluate and save, and a refused empty
// block must leave it as it was.
void checkHostileLoads(const Module &m, const ServerInfo &s, Checker &c) {
  const std::string who = inQuotes(s.name) + ": ";
  Host host;
  Refusals refusals(host, c, who + "hostile blocks");
  Network net(host, m, "Validation");
  std::mt19937 rng(20261208);
  for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
    const std::string form = mode == LWIO_BINARY ? "binary" : "text";
    std::vector<std::pair<std::string, std::vector<uint8_t>>> blocks = {{"an empty", {}}};
    for (std::size_t size : {1u, 2u, 3u, 7u, 16u, 61u, 256u, 4096u}) {
      std::vector<uint8_t> b(size);
      for (auto &x : b) x = static_cast<uint8_t>(rng());
      blocks.emplace_back("a " + std::to_string(size) + "-byte random", std::move(b));
    }
    std::vector<uint8_t> big(1 << 20);
    for (auto &x : big) x = static_cast<uint8_t>(rng());
    blocks.emplace_back("a 1 MB random", std::move(big));
    blocks.emplace_back("a 1 MB all-0xFF", std::vector<uint8_t>(1 << 20, 0xFF));

    for (const auto &[name, block] : blocks) {
      std::optional<std::string> made;
      HostNode *n = tryAdd(net, s.name, &made);
      if (!n) {
        c.check(false, who + "creates a node", *made);
        return;
      }
      SaveStream before(mode);
      faultOf([&] { net.save(n, before); });
      LoadStream in(block, mode);
      const bool loaded = !faultOf([&] { net.load(n, in); });
      faultOf([&] { net.beginRender(0); });
      net.newTime(1, 0.0);
      LWNodalAccess na = emptyWorldContext();
      for (const auto &out : n->outputs) {
        OutputValue v;
        evaluateOutput(*n, &na, out.get(), v);
      }
      net.endRender();
      SaveStream after(mode);
      const std::optional<std::string> saveFault = faultOf([&] { net.save(n, after); });
      bool ok = !saveFault;
      std::string why = saveFault ? "its save then failed: " + *saveFault : "";
      if (ok && block.empty() && !loaded && after.bytes() != before.bytes()) {
        ok = false;
        why = "the refused load changed the node";
      }
      if (ok) { // what it saves now loads again
        HostNode *again = nullptr;
        const auto fault = faultOf([&] {
          again = net.add(s.name);
          LoadStream back(after.bytes(), mode);
          net.load(again, back);
        });
        ok = !fault;
        if (!ok) why = "its save does not load again: " + *fault;
        if (again) net.remove(again);
      }
      c.check(ok, who + "survives " + name + " " + form + " block" + (loaded ? " (loaded)" : " (refused)"), why);
      net.remove(n);
    }
  }
}

// Sets every control of the node's panel to a value of its kind, as a user
// would, and says what failed.
std::string editEveryControl(Host &host, Panel &p) {
  XPanelService &panels = host.panels();
  std::string failed;
  for (PanelControl &ctl : p.controls) {
    if (!panels.enabled(p, ctl)) continue;
    std::optional<std::string> fault;
    if (ctl.isPopup()) {
      const int32_t n = panels.popupCount(p, ctl);
      for (int32_t i = n - 1; i >= 0 && !fault; --i) fault = faultOf([&] { panels.editInteger(p, ctl, i); });
    } else if (ctl.isInteger()) {
      fault = faultOf([&] { panels.editInteger(p, ctl, ctl.max ? *ctl.max : 1); });
    } else if (ctl.isEnv()) {
      const ControlValue v = panels.value(p, ctl);
      if (v.kind == ControlValue::Param) {
        std::vector<double> values(static_cast<std::size_t>(v.param->components), 0.75);
        fault = faultOf([&] {
          panels.editValues(p, ctl, values, true);
          panels.editValues(p, ctl, values);
        });
      }
    } else if (ctl.dataType == "string") {
      fault = faultOf([&] { panels.editText(p, ctl, "Validated"); });
    }
    if (fault) failed += (failed.empty() ? "" : "; ") + inQuotes(ctl.label) + ": " + *fault;
  }
  return failed;
}

void checkPersistence(const Module &m, const ServerInfo &s, Checker &c) {
  const std::string who = inQuotes(s.name) + ": ";
  Host host;
  Refusals refusals(host, c, who + "save, load, save");
  Network net(host, m, "Validation");
  std::optional<std::string> made;
  HostNode *a = tryAdd(net, s.name, &made);
  c.check(a != nullptr, who + "activates and creates a node", made.value_or(""));
  if (!a) return;
  for (bool edited : {false, true}) {
    if (edited) {
      const ServerInfo *iface = m.find(LWNODE_ICLASS, s.name);
      if (!iface || !iface->activate) break;
      LWInterface local{a->instance, nullptr, nullptr, nullptr};
      if (m.activateInterface(*iface, host.global(), &local) != AFUNC_OK || !local.panel) break;
      editEveryControl(host, *XPanelService::of(local.panel));
    }
    for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
      const std::string form = std::string(mode == LWIO_BINARY ? "binary" : "text") + (edited ? ", after panel edits" : "");
      SaveStream first(mode), second(mode);
      HostNode *b = nullptr;
      const auto fault = faultOf([&] {
        net.save(a, first);
        b = net.add(s.name);
        LoadStream in(first.bytes(), mode);
        net.load(b, in);
        net.save(b, second);
      });
      c.check(!fault && first.bytes() == second.bytes(), who + "save, load, save gives identical " + form + " data",
              fault ? *fault : "the second save differs");
      if (b) net.remove(b);
    }
  }
}

void checkLifecycle(const Module &m, const ServerInfo &s, Checker &c) {
  const std::string who = inQuotes(s.name) + ": ";
  Host host;
  Refusals refusals(host, c, who + "lifecycle");
  Network net(host, m, "Validation");
  const std::size_t parmsBefore = host.vparms().liveCount();
  std::optional<std::string> made;
  HostNode *a = tryAdd(net, s.name, &made);
  c.check(a != nullptr, who + "activates and creates a node", made.value_or(""));
  if (!a) return;
  HostNode *copy = nullptr;
  const auto copyFault = faultOf([&] { copy = net.duplicate(a); });
  c.check(!copyFault, who + "copies", copyFault.value_or(""));
  const auto initFault = faultOf([&] { net.beginRender(0); });
  net.newTime(1, 0.0);
  LWNodalAccess na = emptyWorldContext();
  for (HostNode *n : {a, copy}) {
    if (!n) continue;
    for (const auto &out : n->outputs) {
      OutputValue v;
      evaluateOutput(*n, &na, out.get(), v);
    }
  }
  net.endRender();
  c.check(!initFault, who + "renders an empty world without error", initFault.value_or(""));
  if (copy) net.remove(copy);
  net.remove(a);
  c.check(host.vparms().liveCount() == parmsBefore && host.vparms().badHandles() == 0,
          who + "releases every variant parameter it made, and only those");
}

// Several render threads evaluate one node at once, with thread numbers a
// host hands out: from 0 up to one below the thread count its scene record
// gives, for a render of 16 threads and for one of 1001.
void checkThreads(const Module &m, const ServerInfo &s, Checker &c) {
  const std::string who = inQuotes(s.name) + ": ";
  Host host;
  Refusals refusals(host, c, who + "threads");
  Network net(host, m, "Validation");
  HostNode *n = tryAdd(net, s.name);
  if (!n) return;
  const std::vector<int32_t> few = {0, 1, 2, 3, 7, 15}, many = {16, 64, 999, 1000};
  for (const auto &[numbers, threads] : {std::pair{few, 16}, std::pair{many, 1001}}) {
    host.scene().sceneInfo().numThreads = threads;
    faultOf([&] { net.beginRender(0); });
    net.newTime(1, 0.0);
    std::size_t results = 0;
    for (const auto &out : n->outputs)
      for (const ThreadRun &r : net.evaluateConcurrently(n, out->name, emptyWorldContext(), numbers, 200))
        results += r.values.size();
    net.endRender();
    c.check(results == n->outputs.size() * numbers.size() * 200,
            who + "evaluates on " + std::to_string(numbers.size()) + " threads at once, thread numbers " +
                std::to_string(numbers.front()) + " to " + std::to_string(numbers.back()) + " of " +
                std::to_string(threads));
  }
}

// The panel opened through the interface activation, every control edited
// with value-track and value events, reopened (the same panel), and closed by
// the host when the node goes.
void checkPanel(const Module &m, const ServerInfo &s, Checker &c) {
  const ServerInfo *iface = m.find(LWNODE_ICLASS, s.name);
  if (!iface || !iface->activate) return;
  const std::string who = inQuotes(s.name) + ": ";
  Host host;
  Refusals refusals(host, c, who + "panel");
  Network net(host, m, "Validation");
  HostNode *n = tryAdd(net, s.name);
  if (!n) return;
  LWInterface local{n->instance, nullptr, nullptr, nullptr};
  int32_t rc = m.activateInterface(*iface, host.global(), &local);
  const LWXPanelID first = local.panel;
  rc |= m.activateInterface(*iface, host.global(), &local);
  c.check(rc == AFUNC_OK && first && local.panel == first, who + "opens one panel across activations");
  Panel *p = XPanelService::of(first);
  if (!p) return;
  bool described = !p->controls.empty();
  for (auto &ctl : p->controls) described = described && !ctl.controlType.empty();
  c.check(described, who + "describes every control of its panel");
  std::string hintErrors;
  for (const std::string &e : p->hintErrors) hintErrors += (hintErrors.empty() ? "" : "; ") + e;
  c.check(hintErrors.empty(), who + "hands the host a well-formed hint array", hintErrors);
  host.panels().describe(*p, n->name);
  const std::string failed = editEveryControl(host, *p);
  c.check(failed.empty(), who + "takes an edit of every enabled control", failed);
  host.panels().describe(*p, n->name);
  faultOf([&] { net.beginRender(0); });
  net.newTime(1, 0.0);
  LWNodalAccess na = emptyWorldContext();
  for (const auto &out : n->outputs) {
    OutputValue v;
    evaluateOutput(*n, &na, out.get(), v);
  }
  net.endRender();
  const std::size_t parms = host.vparms().liveCount();
  net.remove(n);
  c.check(host.vparms().liveCount() <= parms && host.vparms().badHandles() == 0,
          who + "closes with its panel when the node is deleted");
}

std::vector<Check> checksOf(const Module &module) {
  std::vector<Check> checks;
  checks.push_back({"", "server table", [](const Module &m, Checker &c) { checkTable(m, c); }});
  using Fn = void (*)(const Module &, const ServerInfo &, Checker &);
  const std::pair<const char *, Fn> perNode[] = {
      {"wrong versions", &checkVersions},    {"services withheld", &checkWithheld},
      {"lifecycle", &checkLifecycle},         {"save, load, save", &checkPersistence},
      {"hostile blocks", &checkHostileLoads}, {"threads", &checkThreads},
      {"panel", &checkPanel},
  };
  for (const ServerInfo &s : module.servers()) {
    if (s.className != LWNODE_HCLASS || !s.activate) continue;
    for (const auto &[what, fn] : perNode)
      checks.push_back({s.name, what, [name = s.name, fn = fn](const Module &m, Checker &c) {
                          if (const ServerInfo *server = m.find(LWNODE_HCLASS, name)) fn(m, *server, c);
                        }});
  }
  return checks;
}

std::string label(const Check &check) { return (check.node.empty() ? "" : inQuotes(check.node) + ": ") + check.what; }

void runHere(const Module &module, const Check &check, ValidationReport &report, int fd = -1) {
  Checker c(report, fd);
  try {
    check.run(module, c);
  } catch (const std::exception &e) {
    c.check(false, label(check), std::string("the host stopped on an exception: ") + e.what());
  }
}

#ifndef _WIN32
// Runs the check in a child process and reads its lines back; a child that
// dies is the failure of that check.
void runIsolated(const Module &module, const Check &check, ValidationReport &report) {
  constexpr unsigned kSeconds = 120;
  int fds[2];
  if (pipe(fds) != 0) {
    runHere(module, check, report);
    return;
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    runHere(module, check, report);
    return;
  }
  if (pid == 0) {
    close(fds[0]);
    alarm(kSeconds);
    ValidationReport mine;
    runHere(module, check, mine, fds[1]);
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    report.lines.push_back(line);
    if (line.rfind("FAIL", 0) == 0) ++report.failures;
    start = end == std::string::npos ? text.size() : end + 1;
  }
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const std::string why = sig == SIGALRM ? "did not finish within " + std::to_string(kSeconds) + " s"
                                           : "crashed (signal " + std::to_string(sig) + ", " + strsignal(sig) + ")";
    report.lines.push_back("FAIL " + label(check) + ": " + why);
    ++report.failures;
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    report.lines.push_back("FAIL " + label(check) + ": ended with status " + std::to_string(WEXITSTATUS(status)));
    ++report.failures;
  }
}
#endif

} // namespace

ValidationReport validateModule(const Module &module, [[maybe_unused]] bool isolate) {
  ValidationReport report;
  for (const Check &check : checksOf(module)) {
#ifndef _WIN32
    if (isolate) {
      runIsolated(module, check, report);
      continue;
    }
#endif
    runHere(module, check, report);
  }
  return report;
}

} // namespace hostsim
