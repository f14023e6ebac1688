#include "hostsim/loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/auxv.h>
#endif

#include <cstdio>
#include <filesystem>

#include "hostsim/callbacks.h"
#include "hostsim/paths.h"

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

Error notLoadable(const std::string &path, const std::string &why) {
  return Error("not a loadable module (" + (why.empty() ? std::string("unknown error") : why) + ")", path);
}

#ifdef _WIN32
std::string utf8FromWide(const wchar_t *w, int n) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, w, n, nullptr, 0, nullptr, nullptr);
  std::string s(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, w, n, s.data(), size, nullptr, nullptr);
  return s;
}

// The system's own text for an error code, without its line break.
std::string systemMessage(DWORD code) {
  wchar_t *text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  std::string s = n ? utf8FromWide(text, static_cast<int>(n)) : std::string();
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  // Some texts name the file as an insert ("%1 is not a valid Win32 application").
  for (std::size_t at; (at = s.find("%1")) != std::string::npos;) s.replace(at, 2, "the file");
  return "error " + std::to_string(code) + (s.empty() ? "" : ": " + s);
}

// Throws Error naming the file and the system's reason when it cannot be loaded.
void *openLibrary(const std::string &path) {
  // No message box for a file that is not a DLL: the caller reports it.
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  // A module is a file: a bare name is the one in the current folder, never a
  // DLL of that name on the search path. The DLL's own folder is searched for
  // what it imports, not the program's.
  std::error_code ec;
  const std::filesystem::path file = std::filesystem::absolute(pathFromUtf8(path), ec);
  HMODULE h = LoadLibraryExW((ec ? pathFromUtf8(path) : file).wstring().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD code = GetLastError();
  SetThreadErrorMode(oldMode, nullptr);
  if (!h) throw notLoadable(path, systemMessage(code));
  return reinterpret_cast<void *>(h);
}
void *findSymbol(void *handle, const char *name) {
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void *handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
// Throws Error naming the file and the system's reason when it cannot be loaded.
void *openLibrary(const std::string &path) {
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
    throw notLoadable(path, why);
  }
  return handle;
}
void *findSymbol(void *handle, const char *name) {
  dlerror();
  return dlsym(handle, name);
}
void closeLibrary(void *handle) { dlclose(handle); }
#endif

} // namespace

std::filesystem::path executablePath() {
  std::error_code ec;
#ifdef _WIN32
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2); // cut short: ask again with room
  }
  const std::filesystem::path self(buf);
#else
  // The name the program was started by, as the kernel handed it over;
  // relative to the folder it was started in, which the host never leaves.
  const char *name = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
  if (!name || !*name) return {};
  const std::filesystem::path self = std::filesystem::absolute(pathFromUtf8(name), ec);
  if (ec) return {};
#endif
  // A link to the program stands for the program: the module lies beside the file itself.
  std::filesystem::path real = std::filesystem::weakly_canonical(self, ec);
  return ec ? self : real;
}

std::filesystem::path defaultModulePath() {
  const std::filesystem::path self = executablePath();
  return (self.empty() ? std::filesystem::path(".") : self.parent_path()) / "JuxsNodes.p";
}

std::unique_ptr<Module> Module::open(const std::string &path) {
  // Said plainly, before the system loader words it as a missing shared object.
  std::error_code ec;
  const auto kind = std::filesystem::status(pathFromUtf8(path), ec).type();
  if (kind == std::filesystem::file_type::not_found) throw notLoadable(path, "no such file");
  if (const std::string what = notAFile(pathFromUtf8(path)); !what.empty()) throw notLoadable(path, "it is " + what);
  void *handle = openLibrary(path);
  auto *descriptor = static_cast<const ModuleDescriptor *>(findSymbol(handle, "_mod_descrip"));
  if (!descriptor) {
    closeLibrary(handle);
    throw Error("not a module: it exports no _mod_descrip", path);
  }
  std::unique_ptr<Module> m(new Module);
  m->label_ = path;
  m->handle_ = handle;
  try {
    m->init(descriptor);
  } catch (const Error &e) {
    throw Error(e.what(), path);
  }
  return m;
}

std::unique_ptr<Module> Module::fromDescriptor(const ModuleDescriptor *descriptor, std::string label) {
  if (!descriptor) throw Error("no module descriptor", label);
  std::unique_ptr<Module> m(new Module);
  m->label_ = std::move(label);
  try {
    m->init(descriptor);
  } catch (const Error &e) {
    throw Error(e.what(), m->label_);
  }
  return m;
}

void Module::init(const ModuleDescriptor *d) {
  descriptor_ = d;
  if (d->sysSync != MOD_SYSSYNC) {
    throw Error("wrong synchronisation word " + hex(d->sysSync) + " (expected " + hex(MOD_SYSSYNC) + ")");
  }
  if (d->sysVersion != MOD_SYSVER) {
    throw Error("unsupported descriptor version " + std::to_string(d->sysVersion) + " (expected " +
            std::to_string(MOD_SYSVER) + ")");
  }
  if (d->sysMachine != MOD_MACHINE) {
    throw Error("wrong machine word " + hex(d->sysMachine) + " (expected " + hex(MOD_MACHINE) + ")");
  }
  if (!d->startup) {
    throw Error("the descriptor has no startup function");
  }
  serverData_ = d->startup();
  if (!serverData_) {
    throw Error("startup failed (it returned null)");
  }
  started_ = true;
  if (!d->serverDefs) {
    throw Error("the descriptor has no server table");
  }
  for (int i = 0;; ++i) {
    if (i == kMaxServers) {
      throw Error("the server table has no terminating record within " + std::to_string(kMaxServers) + " records");
    }
    const ServerRecord &r = d->serverDefs[i];
    if (!r.className && !r.name && !r.activate && !r.tagInfo) break;
    if (!r.className || !r.name) {
      throw Error("server record " + std::to_string(i + 1) + " has no class or no name");
    }
    ServerInfo info{r.className, r.name, "", "", r.activate};
    for (int t = 0; r.tagInfo && r.tagInfo[t].string && t < 64; ++t) {
      if (r.tagInfo[t].tag == SRVTAG_USERNAME) info.userName = r.tagInfo[t].string;
      if (r.tagInfo[t].tag == SRVTAG_NODEGROUP) info.group = r.tagInfo[t].string;
    }
    servers_.push_back(std::move(info));
  }
}

Module::~Module() {
  if (started_ && descriptor_->shutdown) descriptor_->shutdown(serverData_);
  if (handle_) closeLibrary(handle_);
}

int32_t Module::activate(const ServerInfo &s, int32_t version, GlobalFunc global, void *local) const {
  if (!s.activate) return AFUNC_BADLOCAL;
  CallbackScope scope(s.className == LWNODE_ICLASS ? Callback::InterfaceActivation : Callback::HandlerActivation,
                      nullptr, s.name.c_str());
  return s.activate(version, global, local, serverData_);
}

int32_t Module::activateHandler(const ServerInfo &s, GlobalFunc global, LWNodeHandler *handler,
                                int32_t *accepted) const {
  int32_t rc = AFUNC_BADLOCAL;
  for (int32_t v = LWNODECLASS_VERSION_SDK96; s.activate && v >= LWNODECLASS_VERSION_FIRST; --v) {
    rc = activate(s, v, global, handler);
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
    rc = activate(s, v, global, local);
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
