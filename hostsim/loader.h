// Opening a module file the way the host does.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/lw_module.h"
#include "host/lw_nodes.h"
#include "host/lw_xpanel.h"
#include "hostsim/error.h"

namespace hostsim {

struct ServerInfo {
  std::string className;
  std::string name;
  std::string userName; // tag 0x00000
  std::string group;    // tag 0x70000
  ActivateFunc activate = nullptr;
};

// This program's own file, as the system knows it (not argv[0], which a
// caller may set to anything); empty when the system cannot say.
std::filesystem::path executablePath();
// The module the host loads when none is named: JuxsNodes.p beside the program.
std::filesystem::path defaultModulePath();

class Module {
public:
  // Opens a module file by path: checks the descriptor words, calls startup
  // and reads the server table. Throws Error naming the file and why.
  static std::unique_ptr<Module> open(const std::string &path);
  // A module already in this process (linked in, or built by a test).
  // Throws Error as open does.
  static std::unique_ptr<Module> fromDescriptor(const ModuleDescriptor *descriptor,
                                                std::string label = "(linked module)");
  ~Module(); // calls shutdown, then unloads

  Module(const Module &) = delete;
  Module &operator=(const Module &) = delete;

  const std::string &label() const { return label_; }
  const ModuleDescriptor &descriptor() const { return *descriptor_; }
  void *serverData() const { return serverData_; }
  const std::vector<ServerInfo> &servers() const { return servers_; }
  const ServerInfo *find(std::string_view className, std::string_view name) const;

  // Activates a server as the host does, trying every class version the host
  // speaks until the server takes one (anything but AFUNC_BADVERSION): node
  // handlers from the highest version down, node interfaces counting up from
  // 1. The version taken lands in accepted. A server without an activation
  // gives AFUNC_BADLOCAL.
  // One activation call at one version, as the host makes it: the module may
  // call the host while it runs.
  int32_t activate(const ServerInfo &server, int32_t version, GlobalFunc global, void *local) const;
  int32_t activateHandler(const ServerInfo &server, GlobalFunc global, LWNodeHandler *handler,
                          int32_t *accepted = nullptr) const;
  int32_t activateInterface(const ServerInfo &server, GlobalFunc global, LWInterface *local,
                            int32_t *accepted = nullptr) const;

private:
  Module() = default;
  void init(const ModuleDescriptor *descriptor); // throws Error

  std::string label_;
  void *handle_ = nullptr; // from dlopen or LoadLibrary, or null for a linked module
  const ModuleDescriptor *descriptor_ = nullptr;
  void *serverData_ = nullptr;
  bool started_ = false;
  std::vector<ServerInfo> servers_;
};

} // namespace hostsim
