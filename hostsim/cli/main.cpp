// The hostsim command.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "host/lw_host.h"
#include "hostsim/host.h"
#include "hostsim/loader.h"
#include "hostsim/network.h"
#include "hostsim/validate.h"

namespace {

constexpr int kUsageError = 2;

int usage() {
  std::fprintf(stderr,
               "usage: hostsim servers MODULE\n"
               "       hostsim panel MODULE \"SERVER NAME\"\n"
               "       hostsim validate MODULE\n"
               "  servers  list the module's servers and activate each against the stand-in host\n"
               "  panel    create one node of the server and print its panel as a user sees it\n"
               "  validate activate, create, persist, copy, evaluate and destroy every node; exit 1 on a failure\n");
  return kUsageError;
}

// One line naming the file and the fault, as every user error ends.
int fail(const std::string &file, const std::string &what) {
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

int panel(const std::string &path, const std::string &server) {
  int status = 0;
  auto module = openModule(path, status);
  if (!module) return status;
  const hostsim::ServerInfo *iface = module->find(LWNODE_ICLASS, server);
  if (!module->find(LWNODE_HCLASS, server)) return fail(path, "no node server \"" + server + "\"");
  if (!iface || !iface->activate) return fail(path, "\"" + server + "\" has no panel");
  hostsim::Host host;
  hostsim::Network net(host, *module);
  std::string error;
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

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  const std::string cmd = argv[1];
  if (cmd == "servers" && argc == 3) return servers(argv[2]);
  if (cmd == "panel" && argc == 4) return panel(argv[2], argv[3]);
  if (cmd == "validate" && argc == 3) return validate(argv[2]);
  if (cmd == "-h" || cmd == "--help") {
    usage();
    return 0;
  }
  return usage();
}
