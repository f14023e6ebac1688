#include "hostsim/loader.h"

#include <dlfcn.h>

#include <cstdio>

namespace hostsim {
namespace {

// A table longer than this has lost its terminator; stop before reading
// memory that is not the module's.
constexpr int kMaxServers = 4096;

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
  return buf;
}

} // namespace

std::unique_ptr<Module> Module::open(const std::string &path, std::string &error) {
  // A module is a file: a bare name is the one in the current folder, never a
  // library of that name found on the system's search path.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  // RTLD_LOCAL: each module keeps its own symbols, as the host loads them.
  void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *message = dlerror();
    std::string why = message ? message : "";
    // The loader's message starts with the path, which the caller names anyway.
    if (why.rfind(file + ": ", 0) == 0) why.erase(0, file.size() + 2);
    error = "not a loadable module (" + (why.empty() ? std::string("unknown error") : why) + ")";
    return nullptr;
  }
  dlerror();
  auto *descriptor = static_cast<const ModuleDescriptor *>(dlsym(handle, "_mod_descrip"));
  if (!descriptor) {
    dlclose(handle);
    error = "not a module: it exports no _mod_descrip";
    return nullptr;
  }
  std::unique_ptr<Module> m(new Module);
  m->label_ = path;
  m->handle_ = handle;
  if (!m->init(descriptor, error)) return nullptr;
  return m;
}

std::unique_ptr<Module> Module::fromDescriptor(const ModuleDescriptor *descriptor, std::string &error,
                                               std::string label) {
  if (!descriptor) {
    error = "no module descriptor";
    return nullptr;
  }
  std::unique_ptr<Module> m(new Module);
  m->label_ = std::move(label);
  if (!m->init(descriptor, error)) return nullptr;
  return m;
}

bool Module::init(const ModuleDescriptor *d, std::string &error) {
  descriptor_ = d;
  if (d->sysSync != MOD_SYSSYNC) {
    error = "wrong synchronisation word " + hex(d->sysSync) + " (expected " + hex(MOD_SYSSYNC) + ")";
    return false;
  }
  if (d->sysVersion != MOD_SYSVER) {
    error = "unsupported descriptor version " + std::to_string(d->sysVersion) + " (expected " +
            std::to_string(MOD_SYSVER) + ")";
    return false;
  }
  if (d->sysMachine != MOD_MACHINE) {
    error = "wrong machine word " + hex(d->sysMachine) + " (expected " + hex(MOD_MACHINE) + ")";
    return false;
  }
  if (!d->startup) {
    error = "the descriptor has no startup function";
    return false;
  }
  serverData_ = d->startup();
  if (!serverData_) {
    error = "startup failed (it returned null)";
    return false;
  }
  started_ = true;
  if (!d->serverDefs) {
    error = "the descriptor has no server table";
    return false;
  }
  for (int i = 0;; ++i) {
    if (i == kMaxServers) {
      error = "the server table has no terminating record within " + std::to_string(kMaxServers) + " records";
      return false;
    }
    const ServerRecord &r = d->serverDefs[i];
    if (!r.className && !r.name && !r.activate && !r.tagInfo) break;
    if (!r.className || !r.name) {
      error = "server record " + std::to_string(i + 1) + " has no class or no name";
      return false;
    }
    ServerInfo info{r.className, r.name, "", "", r.activate};
    for (int t = 0; r.tagInfo && r.tagInfo[t].string && t < 64; ++t) {
      if (r.tagInfo[t].tag == SRVTAG_USERNAME) info.userName = r.tagInfo[t].string;
      if (r.tagInfo[t].tag == SRVTAG_NODEGROUP) info.group = r.tagInfo[t].string;
    }
    servers_.push_back(std::move(info));
  }
  return true;
}

Module::~Module() {
  if (started_ && descriptor_->shutdown) descriptor_->shutdown(serverData_);
  if (handle_) dlclose(handle_);
}

int32_t Module::activateHandler(const ServerInfo &s, GlobalFunc global, LWNodeHandler *handler,
                                int32_t *accepted) const {
  int32_t rc = AFUNC_BADLOCAL;
  for (int32_t v = LWNODECLASS_VERSION_SDK96; s.activate && v >= LWNODECLASS_VERSION_FIRST; --v) {
    rc = s.activate(v, global, handler, serverData_);
    if (rc != AFUNC_BADVERSION) {
      if (accepted) *accepted = v;
      break;
    }
  }
  return rc;
}

int32_t Module::activateInterface(const ServerInfo &s, GlobalFunc global, LWInterface *local,
                                  int32_t *accepted) const {
  int32_t rc = AFUNC_BADLOCAL;
  for (int32_t v = 1; s.activate && v <= LWINTERFACE_VERSION; ++v) {
    rc = s.activate(v, global, local, serverData_);
    if (rc != AFUNC_BADVERSION) {
      if (accepted) *accepted = v;
      break;
    }
  }
  return rc;
}

const ServerInfo *Module::find(std::string_view className, std::string_view name) const {
  for (const ServerInfo &s : servers_)
    if (s.className == className && s.name == name) return &s;
  return nullptr;
}

} // namespace hostsim
