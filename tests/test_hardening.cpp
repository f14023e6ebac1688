// Faults found by trying bad input as a hostile user would: each test here
// failed once. The command is run as a user runs it, so that a crash shows as
// the status a shell would see.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "hostsim/cli/guard.h"
#include "tests/support/image_files.h"
#include "tests/support/scene_fixture.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct Outcome {
  int status; // the exit status, or 128 + the signal that ended it
  std::string out, err;
  int lines() const { return static_cast<int>(std::count(err.begin(), err.end(), '\n')); }
};

// Runs a shell command line; prefix goes before hostsim (a folder change, a limit).
Outcome shell(const std::string &line) {
  const std::string errFile = testing::TempDir() + "hardening_err.txt";
  Outcome r{-1, "", ""};
  if (FILE *p = popen(("(" + line + ") 2>" + errFile).c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
  }
  std::ifstream in(errFile);
  std::stringstream ss;
  ss << in.rdbuf();
  r.err = ss.str();
  return r;
}

Outcome hostsim(const std::string &args, const std::string &prefix = "") {
  return shell(prefix + "exec " + std::string(HOSTSIM_PATH) + " " + args);
}

const std::string kModuleDir = std::filesystem::path(JUXS_MODULE_PATH).parent_path().string();

class Hardening : public testsupport::SceneFixture {
protected:
  std::string path(const std::string &name) const { return (dir / name).string(); }
  std::string file(const std::string &name, const std::string &text) {
    writeFile(name, text);
    return path(name);
  }
  std::string errorOf(const std::string &json) {
    try {
      load(json);
    } catch (const hostsim::Error &e) {
      return e.what();
    }
    return "";
  }
};

// ---------------------------------------------------------------- 1: numbers beyond a double, stray exceptions

TEST_F(Hardening, ANumberTooLargeForADoubleIsAFaultNotAnAbort) {
  const std::string bare = file("big.json", "1e999");
  Outcome r = hostsim("render " + bare + " -o " + path("x.png") + " --module " + JUXS_MODULE_PATH);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.err, "hostsim: " + bare + ": line 1, column 1: the number 1e999 is too large\n");

  const std::string deep = file("deep.json", "{\n  \"camera\": {\"fov\": 60},\n  \"light\": {\"intensity\": -2e400}\n}\n");
  r = hostsim("save " + deep + " -o " + path("y.json") + " --module " + JUXS_MODULE_PATH);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.lines(), 1) << r.err;
  EXPECT_NE(r.err.find("line 3, column 26: the number -2e400 is too large"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(path("y.json")));
}

TEST(Guard, EveryExceptionEndsInOneLineAndStatusTwo) {
  auto stderrOf = [](auto &&command, int &status) {
    testing::internal::CaptureStderr();
    status = hostsim::guarded(command);
    return testing::internal::GetCapturedStderr();
  };
  int status = -1;
  EXPECT_EQ(stderrOf([]() -> int { throw std::bad_alloc(); }, status), "hostsim: out of memory\n");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(stderrOf([]() -> int { throw std::runtime_error("two\nlines"); }, status), "hostsim: two; lines\n");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(stderrOf([]() -> int { throw std::runtime_error("one\r\ntwo\rthree\r\n\n"); }, status),
            "hostsim: one; two; three\n");
  EXPECT_EQ(stderrOf([]() -> int { throw std::runtime_error("\n"); }, status), "hostsim: unknown fault\n");
  EXPECT_EQ(stderrOf([]() -> int { return nlohmann::json::parse("[1").size(); }, status).rfind("hostsim: ", 0), 0u);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(stderrOf([]() -> int { throw 7; }, status), "hostsim: an unknown error stopped the command\n");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(stderrOf([] { return 1; }, status), "");
  EXPECT_EQ(status, 1) << "a command's own status passes through";
}

// ---------------------------------------------------------------- 3: memory

TEST_F(Hardening, AFrameTooLargeForTheMemoryIsRefusedAtOnce) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
  const std::string scene = file("s.json", R"({"image": {"width": 4, "height": 3}})");
  // 16384 x 16384 needs gigabytes; under a 2 GB address-space limit that is
  // known before a single pixel is rendered.
  Outcome r = hostsim("render " + scene + " -o " + path("big.png") + " --size 16384x16384 --module " + JUXS_MODULE_PATH,
                  "ulimit -v 2097152; ");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.lines(), 1) << r.err;
  EXPECT_NE(r.err.find("big.png: a 16384x16384 frame needs about 6144 MB, more than the"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(path("big.png")));
  // The same limit leaves room for a small frame.
  r = hostsim("render " + scene + " -o " + path("small.png") + " --module " + JUXS_MODULE_PATH, "ulimit -v 2097152; ");
  EXPECT_EQ(r.status, 0) << r.err;
}

// An OBJ file of ten million faces took gigabytes and ended in success:
// meshes are counted before they are read, against a budget for the scene.
TEST_F(Hardening, MeshesPastTheirBudgetAreRefusedBeforeTheyAreRead) {
  constexpr int kTriangles = 3000; // three points of its own each, no normals
  {
    std::ofstream obj(path("m.obj"));
    for (int i = 0; i < kTriangles; ++i) obj << "v " << i << " 0 0\nv " << i << " 1 0\nv " << i << " 0 1\n";
    for (int i = 0; i < kTriangles; ++i) obj << "f " << 3 * i + 1 << " " << 3 * i + 2 << " -1\n";
  }
  const uint64_t one = hostsim::meshBytes(3 * kTriangles, 0, 3 * kTriangles, kTriangles);
  const std::string twice = R"({"surfaces": [{"name": "S"}], "objects": [
      {"type": "mesh", "surface": "S", "file": "m.obj"}, {"name": "again", "type": "mesh", "surface": "S", "file": "m.obj"}]})";
  // Two meshes fit a budget of exactly both, and the second does not fit one byte less.
  hostsim::SceneLimits limits{.meshBytes = 2 * one};
  ASSERT_NO_THROW(scene = hostsim::parseScene(host, *module, twice, path("s.json"), limits));
  EXPECT_EQ(scene->objects[1].mesh.indices.size(), 3u * kTriangles);
  scene.reset();
  limits.meshBytes = 2 * one - 1;
  std::string error;
  try {
    hostsim::parseScene(host, *module, twice, path("s.json"), limits);
  } catch (const hostsim::Error &e) {
    error = e.what();
  }
  EXPECT_EQ(error.rfind("objects[1].file: mesh \"" + path("m.obj") + "\": 3000 triangles would take about 0.", 0), 0u)
      << error;
  EXPECT_NE(error.find(" MiB left for the scene's meshes (--mesh-budget MIB sets what they may take)"), std::string::npos)
      << error;

  // On the command line: one line and status 2, and the budget is the user's to set.
  const std::string scene = file("s.json", twice), module = " --module " + std::string(JUXS_MODULE_PATH);
  Outcome r = hostsim("render " + scene + " -o " + path("x.png") + " --mesh-budget 1" + module);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.lines(), 1) << r.err;
  EXPECT_EQ(r.err.rfind("hostsim: " + scene + ": objects[1].file: mesh", 0), 0u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(path("x.png")));
  r = hostsim("save " + scene + " -o " + path("t.json") + " --mesh-budget 2" + module);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char *bad : {"0", "-1", "1.5", "x", "1073741825", "99999999999999999999999"}) {
    r = hostsim("render " + scene + " --mesh-budget " + bad + module);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.err, "hostsim: --mesh-budget needs a number of MiB from 1 to 1073741824\n") << bad;
  }
}

// ---------------------------------------------------------------- 4: a module is a file

TEST_F(Hardening, AModuleNamedWithoutAFolderIsTheFileInTheCurrentFolder) {
  Outcome r = hostsim("servers JuxsNodes.p", "cd '" + kModuleDir + "' && ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"Jux Sqrt\""), std::string::npos) << r.out;
  // A library on the system's search path is not a module file here.
  r = hostsim("servers libc.so.6", "cd '" + dir.string() + "' && ");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("hostsim: libc.so.6: not a loadable module (", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find("_mod_descrip"), std::string::npos) << "the system's libc was opened: " << r.err;
}

// ---------------------------------------------------------------- 5: whole numbers that do not fit

TEST_F(Hardening, WholeNumbersOutOfRangeAreFaultsNamingTheKey) {
  EXPECT_EQ(errorOf(R"({"frames": {"first": 18446744073709551615}})"), "frames.first: should be from -100000 to 100000");
  EXPECT_EQ(errorOf(R"({"image": {"samples": 9223372036854775808}})"), "image.samples: should be from 1 to 4096");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [
      {"name": "k", "host": "Integer", "value": 18446744073709551615}]}}]})"),
            "surfaces[0].network.nodes[0].value: is out of the 32-bit range");
  const std::string counter = R"({"surfaces": [{"name": "S", "network": {"nodes": [
      {"name": "c", "server": "Jux Counter", "settings": {"Mode": %s}}]}}]})";
  auto withMode = [&](const char *v) {
    std::string s = counter;
    s.replace(s.find("%s"), 2, v);
    return s;
  };
  EXPECT_EQ(errorOf(withMode("4294967296")), "surfaces[0].network.nodes[0].settings.Mode: \"Mode\" has no item 4294967296");
  EXPECT_EQ(errorOf(withMode("18446744073709551615")),
            "surfaces[0].network.nodes[0].settings.Mode: \"Mode\" has no item 18446744073709551615");
  EXPECT_EQ(errorOf(withMode("1")), "");
}

// ---------------------------------------------------------------- 6: messages

TEST_F(Hardening, AFolderIsNamedAsAFolderAndOptionErrorsCarryOnePrefix) {
  std::filesystem::create_directories(dir / "folder.json");
  Outcome r = hostsim("render " + path("folder.json") + " --module " + JUXS_MODULE_PATH);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "hostsim: " + path("folder.json") + ": is a folder, not a scene file\n");

  std::filesystem::create_directories(dir / "mesh.obj");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S"}], "objects": [{"type": "mesh", "surface": "S", "file": "mesh.obj"}]})"),
            "objects[0].file: mesh \"" + path("mesh.obj") + "\" is a folder, not an OBJ file");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S"}], "objects": [{"type": "mesh", "surface": "S", "file": "/dev/zero"}]})"),
            "objects[0].file: mesh \"/dev/zero\" is a character device, not an OBJ file")
      << "a device that never ends is refused, not read until memory runs out";

  // Command-line faults: one line, one "hostsim:" prefix, the command named once.
  r = hostsim("render " + path("folder.json") + " --bogus");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("hostsim: render: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("--bogus"), std::string::npos) << r.err;
  r = hostsim("save " + path("folder.json"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("hostsim: save: --output is required", 0), 0u) << r.err;
  for (const Outcome &o : {hostsim("render " + path("folder.json") + " --bogus"), r}) {
    EXPECT_EQ(o.err.find("hostsim: hostsim"), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
}

// ---------------------------------------------------------------- 7: files that are not files

// A named pipe waits for a writer when it is opened, for good, and a device
// may never end: every file hostsim reads is asked what it is before it is
// opened. Each command runs under a time limit, so that a hang fails the test
// (status 124) instead of stopping the suite.
TEST_F(Hardening, ANamedPipeOrADeviceIsRefusedWhereverAFileIsRead) {
  const std::string pipe = path("pipe.png");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
  const std::string module = " --module " + std::string(JUXS_MODULE_PATH);
  auto limited = [](const std::string &args) { return shell("timeout 30 " + std::string(HOSTSIM_PATH) + " " + args); };
  auto render = [&](const std::string &scene) { return limited("render " + scene + " -o " + path("out.png") + module); };
  auto expectRefused = [](const Outcome &r, const std::string &what) {
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.lines(), 1) << r.err;
    EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
  };
  // As a scene's image, and as a character device.
  expectRefused(render(file("pipe.json", R"({"images": [{"file": "pipe.png"}]})")),
                "images[0]: cannot open image \"" + pipe + "\": it is a named pipe, not a file");
  expectRefused(render(file("zero.json", R"({"images": [{"file": "/dev/zero"}]})")),
                "images[0]: cannot open image \"/dev/zero\": it is a character device, not a file");
  // As the image reference in a node's block: a Pixel Image saved with a
  // picture of that name, which is a pipe when the scene is read again.
  ASSERT_TRUE(testsupport::writeTestImage(path("pic.png"), 1, 1, 3, {0.5f, 0.5f, 0.5f}));
  file("node.json", R"({"images": [{"file": "pic.png"}], "surfaces": [{"name": "S", "network": {"nodes": [
      {"name": "pixels", "server": "Jux Pixel Image", "settings": {"Image": "pic"}}]}}]})");
  Outcome r = limited("save " + path("node.json") + " -o " + path("saved.json") + module);
  ASSERT_EQ(r.status, 0) << r.err;
  auto saved = nlohmann::json::parse(std::ifstream(path("saved.json")));
  saved.erase("images"); // the block alone names it
  std::filesystem::remove(path("pic.png"));
  ASSERT_EQ(::mkfifo(path("pic.png").c_str(), 0600), 0);
  std::ofstream(path("saved.json")) << saved.dump();
  // The node then has no image, as for any picture the host cannot read, and
  // the command says so.
  for (const char *command : {"render ", "save "}) {
    r = limited(command + path("saved.json") + " -o " + path(command[0] == 'r' ? "out.png" : "again.json") + module);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.rfind("hostsim: " + path("saved.json") + ": warning: surfaces[0].network.nodes[0].data: cannot open "
                          "image \"" + path("pic.png") + "\": it is a named pipe, not a file; the node has no image\n", 0),
              0u)
        << r.err;
  }
  // As a mesh, the scene itself and the module.
  expectRefused(render(file("mesh.json", R"({"surfaces": [{"name": "S"}],
      "objects": [{"type": "mesh", "surface": "S", "file": "pipe.png"}]})")),
                "objects[0].file: mesh \"" + pipe + "\" is a named pipe, not an OBJ file");
  expectRefused(render(pipe), "hostsim: " + pipe + ": is a named pipe, not a scene file");
  expectRefused(limited("servers " + pipe), "it is a named pipe");
}

} // namespace
