// Scene files: what a user can get wrong, meshes, and saving through the
// module's own persistence. The command is run as a user runs it.
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "hostsim/render/image_output.h"
#include "tests/support/thrown.h"
#include "hostsim/render/progress.h"
#include "tests/support/image_files.h"
#include "tests/support/scene_fixture.h"

namespace {

using hostsim::Error;

class Scenes : public testsupport::SceneFixture {
protected:
  std::string errorOf(const std::string &json) {
    try {
      load(json);
    } catch (const Error &e) {
      return e.what();
    }
    return "(no error)";
  }
};

TEST_F(Scenes, FaultsNameWhereAndWhat) {
  EXPECT_EQ(errorOf("{\n  \"camera\": {\n    \"fov\": 50,\n  }\n}").rfind("line 4, column 3:", 0), 0u);
  EXPECT_EQ(errorOf(R"({"camera": {"fvo": 50}})"), "camera: unknown key \"fvo\"");
  EXPECT_EQ(errorOf(R"({"image": {"width": -3}})"), "image.width: should be from 1 to 16384");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [{"name": "x", "server": "Jux Nothing"}]}}]})")
                .rfind("surfaces[0].network.nodes[0].server: unknown node server \"Jux Nothing\" (there are \"Jux ", 0),
            0u);
  const std::string noOutput = errorOf(R"({"surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "i", "server": "Jux Render Info"}],
      "connections": [{"from": "i", "output": "Render Z", "to": "Surface", "input": "Color"}]}}]})");
  EXPECT_EQ(noOutput.rfind("surfaces[0].network.connections[0].output: node \"i\" has no output \"Render Z\" (", 0), 0u)
      << noOutput;
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "k", "host": "Scalar", "value": 1}],
      "connections": [{"from": "k", "output": "Value", "to": "Surface", "input": "Colour"}]}}]})"),
            "surfaces[0].network.connections[0].input: node \"Surface\" has no input \"Colour\" (did you mean \"Color\"?)");
  EXPECT_EQ(errorOf(R"({"objects": [{"type": "sphere", "surface": "Nowhere"}]})"),
            "objects[0].surface: no surface \"Nowhere\"");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S"}], "objects": [{"type": "sphere", "surface": "S", "scale": [1, 2, 1]}]})"),
            "objects[0].scale: a sphere takes one scale for all three axes");
  EXPECT_NE(errorOf(R"({"images": [{"file": "gone.png"}]})").find("images[0]: cannot open image"), std::string::npos);
  EXPECT_NE(errorOf(R"({"surfaces": [{"name": "S"}], "objects": [{"type": "mesh", "surface": "S", "file": "gone.obj"}]})")
                .find("objects[0].file: cannot open mesh"),
            std::string::npos);
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [{"name": "i", "server": "Jux Render Info", "data": "@@"}]}}]})"),
            "surfaces[0].network.nodes[0].data: should be base64 text");
  // A block the node leaves unread is a fault, not ignored.
  EXPECT_NE(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [{"name": "i", "server": "Jux Render Info", "data": "AAE="}]}}]})")
                .find("left 2 bytes of its data unread"),
            std::string::npos);
}

TEST_F(Scenes, ObjMeshesFanTheirFacesAndKeepTheirNormals) {
  writeFile("quad.obj", "# a quad and a triangle\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 0 0 -1\n"
                        "f 1//1 2//1 3//1 4//1\nf -4 -3 -2\n");
  hostsim::Mesh m;
  ASSERT_NO_THROW(m = hostsim::readObj((dir / "quad.obj").string()));
  EXPECT_EQ(m.indices.size(), 9u);
  ASSERT_EQ(m.normals.size(), m.positions.size());
  EXPECT_EQ(m.normals[2], -1.0f);
  EXPECT_EQ(m.normals[m.normals.size() - 1], 0.0f); // corners without a normal
  writeFile("bad.obj", "v 0 0 0\nv 1 0 0\nf 1 2 7\n");
  const std::string error = testsupport::thrownBy([&] { hostsim::readObj((dir / "bad.obj").string()); });
  EXPECT_NE(error.find("line 3: face corner \"7\" names no vertex"), std::string::npos) << error;

  // Seen from the front, the quad is hit where it stands after its transform.
  load(R"({"surfaces": [{"name": "S"}],
           "objects": [{"type": "mesh", "surface": "S", "file": "quad.obj", "position": [0, 0, 3], "scale": 2}]})");
  hostsim::Worker w;
  w.renderer = &render();
  LWNodalAccess na = renderer->context(w);
  const hostsim::SampleScope scope(na, w);
  const testsupport::InEvaluate evaluating(na);
  const double from[3] = {1, 1, 0}, ahead[3] = {0, 0, 1};
  EXPECT_NEAR(na.rayCast(from, ahead), 3.0, 1e-5);
}

// Save, load, save: the second file is the first, byte for byte. The scene
// holds one node of every server the module has, so each node's own save and
// load are in the loop.
TEST_F(Scenes, SaveLoadSaveGivesTheSameFile) {
  nlohmann::json nodes = nlohmann::json::array();
  for (const auto &s : module->servers())
    if (s.className == LWNODE_HCLASS) nodes.push_back({{"name", s.name}, {"server", s.name}});
  nodes.push_back({{"name", "spot"}, {"host", "Spot Info"}});
  nodes.push_back({{"name", "red"}, {"host", "Color"}, {"value", {1, 0, 0}}});
  auto doc = nlohmann::json::parse(R"({
    "backdrop": {"zenith": [0, 0, 1], "sky": {"keys": [{"frame": 1, "value": [1, 1, 1]}]}},
    "surfaces": [{"name": "All", "network": {"nodes": [],
      "connections": [{"from": "red", "output": "Value", "to": "Surface", "input": "Color"}]}}],
    "objects": [{"type": "sphere", "surface": "All"}]})");
  doc["surfaces"][0]["network"]["nodes"] = nodes;
  const std::string image = (dir / "pic.png").string();
  doc["images"] = {{{"file", "pic.png"}, {"name", "Picture"}}};
  ASSERT_TRUE(testsupport::writeTestImage(image, 1, 1, 3, {0.1f, 0.2f, 0.3f}));
  load(doc.dump());
  const std::string first = hostsim::sceneText(*scene, host, (dir / "saved.json").string());
  writeFile("saved.json", first);
  scene.reset();
  scene = hostsim::loadScene(host, *module, (dir / "saved.json").string());
  EXPECT_EQ(hostsim::sceneText(*scene, host, (dir / "saved.json").string()), first);
  // Every module node carries its block, and no settings.
  const auto saved = nlohmann::json::parse(first);
  int blocks = 0;
  for (const auto &n : saved["surfaces"][0]["network"]["nodes"])
    if (n.contains("server")) {
      EXPECT_TRUE(n.contains("data"));
      ++blocks;
    }
  EXPECT_EQ(blocks, static_cast<int>(nodes.size()) - 2);
  EXPECT_EQ(saved["images"][0]["file"], "pic.png");
}

// A node set up as a user sets it up in its panel drives a surface channel,
// and its keys animate the picture.
TEST_F(Scenes, SettingsAndKeysGoThroughTheNodesPanel) {
  hostsim::Scene &s = load(R"({
    "camera": {"position": [0, 0, -3], "target": [0, 0, 0], "fov": 30},
    "image": {"width": 3, "height": 3}, "frames": {"first": 1, "last": 3, "fps": 1},
    "light": {"ambient": 0, "shadows": false},
    "surfaces": [{"name": "Lamp", "color": [1, 1, 1], "diffuse": 0, "network": {
      "nodes": [{"name": "root", "server": "Jux Sqrt", "settings": {"Input": 0.25}},
                {"name": "fade", "server": "Jux Sqrt", "keys": {"0x8001": [{"frame": 1, "value": 4}, {"frame": 3, "value": 36}]}}],
      "connections": [{"from": "root", "output": "Out", "to": "Surface", "input": "Luminosity"}]}}],
    "objects": [{"type": "box", "surface": "Lamp", "size": [10, 10, 1], "position": [0, 0, 1]}]})");
  hostsim::HostNode *fade = s.surfaces[0].nodes[1];
  std::vector<float> centre;
  std::vector<double> faded;
  hostsim::RenderOptions ro;
  ro.firstFrame = 1;
  ro.lastFrame = 3;
  render().render(ro, [&](int, const hostsim::FrameBuffer &fb) {
    centre.push_back(fb.pixel(1, 1)[0]);
    hostsim::Worker w;
    w.renderer = renderer.get();
    LWNodalAccess na = renderer->context(w);
    const hostsim::SampleScope scope(na, w);
    faded.push_back(s.surfaces[0].network->evaluate(fade, "Out", na).v[0]);
  });
  EXPECT_EQ(centre, (std::vector<float>{0.5f, 0.5f, 0.5f}));
  ASSERT_EQ(faded.size(), 3u);
  EXPECT_DOUBLE_EQ(faded[0], 2.0);
  EXPECT_DOUBLE_EQ(faded[1], std::sqrt(20.0));
  EXPECT_DOUBLE_EQ(faded[2], 6.0);

  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [
      {"name": "q", "server": "Jux Sqrt", "settings": {"Inptu": 2}}]}}]})"),
            "surfaces[0].network.nodes[0].settings.Inptu: no control \"Inptu\" (the panel has \"Input\")");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [
      {"name": "q", "server": "Jux Sqrt", "settings": {"Input": "two"}}]}}]})"),
            "surfaces[0].network.nodes[0].settings.Input: should be a number or a list of numbers");
  EXPECT_NE(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [
      {"name": "q", "server": "Jux Render Info", "settings": {"X": 1}}]}}]})")
                .find("has no panel"),
            std::string::npos);
}

// The examples load, and the showcase keeps up with the module: it holds a
// node of every server, and saving it, loading and saving again changes
// nothing.
TEST_F(Scenes, ExamplesLoadAndTheShowcaseUsesEveryNode) {
  const std::filesystem::path examples = std::filesystem::path(JUXS_SOURCE_DIR) / "examples";
  for (const char *name : {"format.json", "showcase.json"}) {
    scene.reset();
    EXPECT_NO_THROW(scene = hostsim::loadScene(host, *module, (examples / name).string())) << name;
  }
  std::set<std::string> used;
  for (const auto &s : scene->surfaces)
    for (const hostsim::HostNode *n : s.nodes) used.insert(n->serverName);
  for (const auto &s : module->servers())
    if (s.className == LWNODE_HCLASS) {
      EXPECT_TRUE(used.count(s.name)) << s.name << " is not in the showcase";
    }

  const std::string path = (dir / "showcase.json").string();
  const std::string first = hostsim::sceneText(*scene, host, path);
  writeFile("showcase.json", first);
  scene.reset();
  scene = hostsim::loadScene(host, *module, path);
  EXPECT_EQ(hostsim::sceneText(*scene, host, path), first);
}

TEST(Base64, RoundTripsEveryLengthAndRejectsJunk) {
  std::vector<uint8_t> bytes, back;
  for (int n = 0; n < 7; ++n) {
    EXPECT_TRUE(hostsim::base64Decode(hostsim::base64Encode(bytes), back));
    EXPECT_EQ(back, bytes);
    bytes.push_back(static_cast<uint8_t>(250 + n));
  }
  EXPECT_EQ(hostsim::base64Encode({'M', 'a'}), "TWE=");
  EXPECT_FALSE(hostsim::base64Decode("TWE", back));
  EXPECT_FALSE(hostsim::base64Decode("T=WE", back));
  EXPECT_FALSE(hostsim::base64Decode("TW!=", back));
}

// ---------------------------------------------------------------- the command

struct CommandRun {
  int status;
  std::string out, err;
};

// Runs a shell command line, stdout and stderr apart.
CommandRun run(const std::string &command) {
  const std::string errFile = testing::TempDir() + "hostsim_err.txt";
  const std::string cmd = "(" + command + ") 2>" + errFile;
  CommandRun r{-1, "", ""};
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  std::ifstream in(errFile);
  std::stringstream ss;
  ss << in.rdbuf();
  r.err = ss.str();
  return r;
}

CommandRun hostsim(const std::string &args) {
  return run(std::string(HOSTSIM_PATH) + " " + args + " --module " + JUXS_MODULE_PATH);
}

class Command : public testsupport::SceneFixture {};

TEST_F(Command, UserErrorsEndInOneLineAndStatusTwo) {
  writeFile("bad.json", "{\"image\": {\"width\": 10,,}}");
  const std::string bad = (dir / "bad.json").string();
  CommandRun r = hostsim("render " + bad + " -o " + (dir / "x.png").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("hostsim: " + bad + ": line 1, column 24: ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

  writeFile("img.json", R"({"images": [{"file": "nowhere.png"}]})");
  r = hostsim("render " + (dir / "img.json").string() + " -o " + (dir / "x.png").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("images[0]: cannot open image"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("nowhere.png"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

  r = hostsim("render " + (dir / "none.json").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot open the scene"), std::string::npos) << r.err;
  r = hostsim("render " + (dir / "img.json").string() + " -o x.gif");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("x.gif: unknown picture type"), std::string::npos) << r.err;
  r = hostsim("render " + (dir / "img.json").string() + " -o " + (dir / "nowhere" / "x.png").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no folder"), std::string::npos) << r.err;
  r = hostsim("render " + (dir / "img.json").string() + " -o x.png --float");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("x.png: --float is for"), std::string::npos) << r.err;
  // Faults of the command line itself: one line, one "hostsim:", status 2.
  for (const char *args : {"render --threads 0 s.json", "render s.json --frames 3-x", "render s.json --size 0x5",
                           "render s.json --bogus", "render", "render a.json b.json", "frob"}) {
    r = hostsim(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.err.rfind("hostsim: ", 0), 0u) << args << ": " << r.err;
    EXPECT_EQ(r.err.find("hostsim: hostsim:"), std::string::npos) << args << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
  }
  r = hostsim("render " + (dir / "img.json").string() + " --frames 5-2");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.png"));
}

TEST_F(Command, RendersFramesAndSaves) {
  writeFile("s.json", R"({"image": {"width": 4, "height": 3}, "frames": {"first": 1, "last": 2},
    "backdrop": {"color": [0.5, 0.25, 1]}})");
  const std::string out = (dir / "pic.png").string();
  CommandRun r = hostsim("render " + (dir / "s.json").string() + " -o " + out + " --frames 2-3 --size 6x5 --threads 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("pic_0003.png"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("2 frames of 6x5"), std::string::npos) << r.err;
  auto png = OIIO::ImageInput::open((dir / "pic_0002.png").string());
  ASSERT_TRUE(png);
  EXPECT_EQ(png->spec().width, 6);
  EXPECT_EQ(png->spec().height, 5);
  EXPECT_EQ(png->spec().format, OIIO::TypeDesc::UINT8);
  unsigned char px[6 * 5 * 3];
  ASSERT_TRUE(png->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, px));
  EXPECT_EQ(px[0], hostsim::toDisplay(0.5f));
  EXPECT_EQ(px[1], hostsim::toDisplay(0.25f));
  EXPECT_EQ(px[2], 255);
  r = hostsim("save " + (dir / "s.json").string() + " -o " + (dir / "t.json").string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "t.json"));
}

TEST_F(Command, HelpForTheCommandAndEachOfItsCommands) {
  const std::string bin = HOSTSIM_PATH;
  CommandRun r = run(bin + " --help");
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char *cmd : {"servers", "render", "save", "panel", "validate"})
    EXPECT_NE(r.out.find(cmd), std::string::npos) << cmd << " missing from\n" << r.out;
  const std::vector<std::pair<std::string, std::vector<std::string>>> options{
      {"render", {"SCENE", "-o,--output", "--threads", "--frames", "--size", "--float", "--module", "--file", "--cancel"}},
      {"save", {"SCENE", "-o,--output", "--module", "--file", "--cancel"}},
      {"servers", {"MODULE"}},
      {"panel", {"MODULE", "SERVER", "OTHERS"}},
      {"validate", {"MODULE"}}};
  for (const auto &[cmd, names] : options) {
    r = run(bin + " " + cmd + " --help");
    EXPECT_EQ(r.status, 0) << cmd << ": " << r.err;
    for (const std::string &name : names) EXPECT_NE(r.out.find(name), std::string::npos) << cmd << ": " << name;
  }
  // Every option of render that takes a value says what it is without one.
  r = run(bin + " render --help");
  for (const char *name : {"--output", "--threads", "--frames", "--size", "--float", "--module"}) {
    const std::size_t at = r.out.find(name);
    ASSERT_NE(at, std::string::npos) << name;
    const std::size_t end = r.out.find('\n', at);
    EXPECT_NE(r.out.substr(at, end - at).find("default"), std::string::npos) << name << " gives no default";
  }
  r = run(bin + " --version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("hostsim ", 0), 0u) << r.out;
  // Without a command: the help, on stderr, and status 2.
  r = run(bin);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("render"), std::string::npos) << r.err;
}

TEST_F(Command, BrokenImagesInASceneEndInOneLineNamingTheFile) {
  testsupport::writeBytes((dir / "big.hdr").string(), "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 11000 +X 11000\n");
  std::string bmp(54, '\0');
  const unsigned char head[] = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                0x80, 0x3e, 0, 0, 0x40, 0x1f, 0, 0, 1, 0, 24, 0}; // 16000 x 8000, 24 bits
  std::copy(std::begin(head), std::end(head), bmp.begin());
  testsupport::writeBytes((dir / "empty.bmp").string(), bmp);
  for (const char *image : {"big.hdr", "empty.bmp"}) {
    writeFile("s.json", std::string(R"({"image": {"width": 4, "height": 3}, "images": [{"file": ")") + image + "\"}]}");
    const CommandRun r = hostsim("render " + (dir / "s.json").string() + " -o " + (dir / "x.png").string());
    EXPECT_EQ(r.status, 2) << image;
    EXPECT_NE(r.err.find("images[0]: cannot read image \"" + (dir / image).string() + "\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("pixels, more than its"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// A file a node asks for through "(load Image)" that cannot be read leaves
// the popup at "(none)", and the user is told which file failed, as for a
// scene's own images; a good one loads and the render goes on.
TEST_F(Command, AnImageANodeLoadsThatCannotBeReadEndsInOneLineNamingTheFile) {
  testsupport::writeBytes((dir / "big.hdr").string(), "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 11000 +X 11000\n");
  testsupport::writeBytes((dir / "broken.exr").string(), "not an OpenEXR file at all");
  ASSERT_TRUE(testsupport::writeTestImage((dir / "good.png").string(), 1, 1, 3, {0.1f, 0.2f, 0.3f}));
  writeFile("s.json", R"j({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "pic", "server": "Jux Pixel Image", "settings": {"Image": "(load Image)"}}]}}]})j");
  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  for (const char *image : {"big.hdr", "broken.exr", "missing.exr"}) {
    const std::string file = (dir / image).string();
    const CommandRun r = hostsim("render " + scene + out + " --file " + file);
    EXPECT_EQ(r.status, 2) << image;
    EXPECT_NE(r.err.find("hostsim: " + scene + ": surfaces[0].network.nodes[0].settings.Image: cannot "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(" image \"" + file + "\""), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out.find("wrote"), std::string::npos) << r.out;
  }
  const CommandRun good = hostsim("render " + scene + out + " --file " + (dir / "good.png").string());
  EXPECT_EQ(good.status, 0) << good.err;
  const CommandRun cancelled = hostsim("render " + scene + out + " --cancel");
  EXPECT_EQ(cancelled.status, 0) << cancelled.err;
}

// A name a user gets wrong (a server, a node, an output, an input) is
// answered with the closest valid names, or all of them; the panel lists a
// node's inputs and outputs, so that they can be found before a scene names them.
TEST_F(Command, AWrongNameIsAnsweredWithTheValidOnes) {
  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  struct Case {
    const char *server, *from, *output, *input, *said;
  } cases[] = {
      {"Ambient Occlusion", "ao", "Color", "Color",
       "nodes[0].server: unknown node server \"Ambient Occlusion\" (did you mean \"Jux Ambient Occlusion\"?)"},
      {"Jux Ambient Occlusion", "ao", "Out", "Color",
       "connections[0].output: node \"ao\" has no output \"Out\" (there are \"Color\", \"Scalar\")"},
      {"Jux Ambient Occlusion", "ao", "Scalar", "Difuse",
       "connections[0].input: node \"Surface\" has no input \"Difuse\" (did you mean \"Diffuse\"?)"},
      {"Jux Ambient Occlusion", "AO", "Scalar", "Diffuse",
       "connections[0].from: no node \"AO\" in this network (did you mean \"ao\"?)"},
  };
  for (const Case &c : cases) {
    writeFile("s.json", std::string(R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
        "nodes": [{"name": "ao", "server": ")") + c.server + R"("}],
        "connections": [{"from": ")" + c.from + R"(", "output": ")" + c.output + R"(", "to": "Surface", "input": ")" +
                                 c.input + "\"}]}}]}");
    const CommandRun r = hostsim("render " + scene + out);
    EXPECT_EQ(r.status, 2) << c.said;
    EXPECT_EQ(r.err, "hostsim: " + scene + ": surfaces[0].network." + c.said + "\n");
  }
  const std::string module = JUXS_MODULE_PATH;
  CommandRun r = run(std::string(HOSTSIM_PATH) + " panel " + module + " \"Ambient Occlusion\"");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "hostsim: " + module + ": no node server \"Ambient Occlusion\" (did you mean \"Jux Ambient Occlusion\"?)\n");
  r = run(std::string(HOSTSIM_PATH) + " panel " + module + " \"Jux Ambient Occlusion\"");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\n  inputs: \"Samples\" (integer), \"Polar 1\" (integer), "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"Limit Brightness\" (scalar)\n  outputs: \"Color\" (color), \"Scalar\" (scalar)\n"),
            std::string::npos)
      << r.out;
}

// A connection that would close a loop is named as the scene names its
// nodes, not as the host numbers them ("Sqrt (2)").
TEST_F(Command, ACycleIsToldInTheScenesNames) {
  const std::string scene = (dir / "s.json").string();
  for (const char *loop : {R"({"from": "second", "output": "Out", "to": "first", "input": "In"})",
                           R"({"from": "first", "output": "Out", "to": "first", "input": "In"})"}) {
    writeFile("s.json", std::string(R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
        "nodes": [{"name": "first", "server": "Jux Sqrt"}, {"name": "second", "server": "Jux Sqrt"}],
        "connections": [{"from": "first", "output": "Out", "to": "second", "input": "In"}, )") +
                            loop + "]}}]}");
    const CommandRun r = hostsim("render " + scene + " -o " + (dir / "x.png").string());
    EXPECT_EQ(r.status, 2) << loop;
    const std::string from = std::string(loop).find("\"second\"") != std::string::npos ? "second" : "first";
    EXPECT_EQ(r.err, "hostsim: " + scene + ": surfaces[0].network.connections[1]: connecting \"" + from +
                         "\" to \"first\" would make a cycle\n");
  }
}

// Every size and radius that must be above 0, and every scale that must not
// be 0, is refused the same way, in every object type.
TEST_F(Command, SizesThatCannotBeAreRefusedAlike) {
  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  struct Case {
    const char *object, *said;
  } cases[] = {
      {R"("type": "plane", "size": [0, 0])", "objects[0].size[0]: should be above 0"},
      {R"("type": "plane", "size": [20, -20])", "objects[0].size[1]: should be above 0"},
      {R"("type": "box", "size": [-1, 1, 1])", "objects[0].size[0]: should be above 0"},
      {R"("type": "box", "size": [1, 1, 0])", "objects[0].size[2]: should be above 0"},
      {R"("type": "sphere", "radius": 0)", "objects[0].radius: should be above 0"},
      {R"("type": "sphere", "radius": -2, "scale": -1)", "objects[0].radius: should be above 0"},
      {R"("type": "sphere", "scale": 0)", "objects[0].scale: should not be 0"},
      {R"("type": "box", "scale": [1, 0, 1])", "objects[0].scale[1]: should not be 0"},
      {R"("type": "mesh", "file": "quad.obj", "scale": [2, 2, 0])", "objects[0].scale[2]: should not be 0"},
  };
  writeFile("quad.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n");
  for (const Case &c : cases) {
    writeFile("s.json", std::string(R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S"}],
        "objects": [{"surface": "S", )") + c.object + "}]}");
    const CommandRun r = hostsim("render " + scene + out);
    EXPECT_EQ(r.status, 2) << c.object;
    EXPECT_EQ(r.err, "hostsim: " + scene + ": " + c.said + "\n") << c.object;
  }
  // A negative scale mirrors: taken, as a positive size is.
  writeFile("s.json", R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S"}],
      "objects": [{"surface": "S", "type": "box", "size": [1, 2, 3], "scale": [-1, 1, 1]},
                  {"surface": "S", "type": "plane", "size": [0.5, 40]}]})");
  const CommandRun r = hostsim("render " + scene + out);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

// A disabled control names what enables it, in the panel and in the fault a
// scene gets for setting it; limits are shown in the units the value is.
TEST_F(Command, ControlsSayWhatGovernsThem) {
  const std::string module = JUXS_MODULE_PATH, panel = std::string(HOSTSIM_PATH) + " panel " + module;
  CommandRun r = run(panel + " \"Jux Ambient Occlusion\"");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"Low\" [0x800b] float-env = 0  DISABLED\n          enabled when \"Clamp\" [0x800a] is on\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"Cone Angle\" [0x8006] angle-env = 90 deg  range 0..90 deg step 1\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"Brightness\" [0x8012] percent-env = 100 %  min 0 %\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"Samples\" [0x8002] integer = 27  min 1 (hard)\n"), std::string::npos) << r.out;
  r = run(panel + " \"Jux Pixel Image\"");
  EXPECT_NE(r.out.find("\"Opacity\" [0x8005] percent-env = 100 %  min 0 %  max 100 %\n"), std::string::npos) << r.out;
  r = run(panel + " \"Jux Counter\"");
  EXPECT_NE(r.out.find("\"B\" [0x8005] float-env = 0  DISABLED\n      enabled when \"Mode\" is \"A Equal To B\" or "
                       "\"A Not Equal To B\" or "),
            std::string::npos)
      << r.out;
  r = run(panel + " \"Jux Gaussian Reflections\" --set '{\"Tint Reflections\": true}'");
  EXPECT_EQ(r.out.find("enabled when"), std::string::npos) << r.out; // nothing is disabled

  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  struct Case {
    const char *server, *settings, *said;
  } cases[] = {
      {"Jux Ambient Occlusion", R"({"Low": 0.2})",
       "settings.Low: control \"Low\" is disabled; it is enabled when \"Clamp\" [0x800a] is on"},
      {"Jux Ambient Occlusion", R"({"Ranged": false, "Srf Color": [1, 2, 3]})",
       "settings.Srf Color: control \"Srf Color\" is disabled; it is enabled when \"Ranged\" is on"},
      {"Jux Gaussian Reflections", R"({"Color": [10, 20, 30]})",
       "settings.Color: control \"Color\" is disabled; it is enabled when \"Tint Reflections\" is on"},
      {"Jux Counter", R"({"Mode": "A Does Change", "B": 2})",
       "settings.B: control \"B\" is disabled; it is enabled when \"Mode\" is \"A Equal To B\" or "},
  };
  for (const Case &c : cases) {
    writeFile("s.json", std::string(R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
        "nodes": [{"name": "n", "server": ")") + c.server + R"(", "settings": )" + c.settings + "}]}}]}");
    r = hostsim("render " + scene + out);
    EXPECT_EQ(r.status, 2) << c.settings;
    EXPECT_EQ(r.err.rfind("hostsim: " + scene + ": surfaces[0].network.nodes[0]." + c.said, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // Set in order, the switch first, the same value is taken.
  writeFile("s.json", R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "n", "server": "Jux Ambient Occlusion", "settings": {"0x800a": true, "Low": 0.2}}]}}]})");
  r = hostsim("render " + scene + out);
  EXPECT_EQ(r.status, 0) << r.err;
}

// Outside a soft limit a value is kept with one warning naming the limits;
// beyond a hard one it is clamped with a warning naming the value used; a
// node colour written 0-1 is warned of. Nothing else warns.
TEST_F(Command, ValuesOutsideAControlsLimitsAreWarnedOf) {
  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  writeFile("s.json", R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "ao", "server": "Jux Ambient Occlusion",
                 "settings": {"Cone Angle": 200, "Max": -3, "Samples": 0, "Srf Color": [1, 0.5, 0.2],
                              "Sample Depth": -5, "0x8018": 50, "Bg Color": [1, 1, 0], "Occ Color": [255, 128, 0]},
                 "keys": {"Jitter Angle": [{"frame": 1, "value": 10}, {"frame": 2, "value": -10}],
                          "Limit Color": [{"frame": 1, "value": [0.5, 0.5, 0.5]}]}},
                {"name": "pix", "server": "Jux Pixel Image", "settings": {"Opacity": 250, "Bg Color": [0, 0, 0]}}]}}]})");
  const CommandRun r = hostsim("render " + scene + out);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string at = "hostsim: " + scene + ": warning: surfaces[0].network.nodes[";
  const std::string expected[] = {
      at + "0].settings.Cone Angle: 200 deg is outside the range of \"Cone Angle\", 0..90 deg; it is used as given\n",
      at + "0].settings.Max: -3 m is below the minimum of \"Max\", 0 m; it is used as given\n",
      at + "0].settings.Samples: 0 is below the hard minimum of \"Samples\": 1 is used\n",
      at + "0].settings.Srf Color: [1, 0.5, 0.2] is dark as a node colour: node colours are 0\u2013255, as in the panel\n",
      at + "0].settings.Sample Depth: -5 is below the hard minimum of \"Sample Depth\": 0 is used\n",
      at + "0].keys.Jitter Angle[1].value: -10 deg is outside the range of \"Jitter Angle\", 0..90 deg; it is used as given\n",
      at + "0].keys.Limit Color[0].value: [0.5, 0.5, 0.5] is dark as a node colour: node colours are 0\u2013255, as in the panel\n",
      at + "1].settings.Opacity: 250 % is above the maximum of \"Opacity\", 100 %; it is used as given\n",
  };
  std::string all;
  for (const std::string &e : expected) {
    EXPECT_NE(r.err.find(e), std::string::npos) << e << "\nin:\n" << r.err;
    all += e;
  }
  // One line each, in the order the scene gives them, and no more: values
  // inside the limits, and colours in whole numbers, say nothing.
  EXPECT_EQ(r.err.substr(0, all.size()), all) << r.err;
  std::size_t warnings = 0;
  for (std::size_t p = 0; (p = r.err.find(": warning: ", p)) != std::string::npos; ++p) ++warnings;
  EXPECT_EQ(warnings, std::size(expected)) << r.err;

  // The same through the panel command's --set, and the value used shows.
  const CommandRun p = run(std::string(HOSTSIM_PATH) + " panel " + JUXS_MODULE_PATH +
                           " \"Jux Ambient Occlusion\" --set '{\"Samples\": -4, \"Max\": 2}'");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.err, "hostsim: warning: --set.Samples: -4 is below the hard minimum of \"Samples\": 1 is used\n");
  EXPECT_NE(p.out.find("\"Samples\" [0x8002] integer = 1  min 1 (hard)"), std::string::npos) << p.out;
}

// A popup item matches without the blanks around it, when that leaves one.
TEST_F(Command, PopupItemsMatchWithoutTheirBlanks) {
  const std::string panel = std::string(HOSTSIM_PATH) + " panel " + JUXS_MODULE_PATH + " \"Jux Gaussian Reflections\"";
  for (const char *item : {"Ray Tracing + Spherical Map", " Ray Tracing + Spherical Map", "Ray Tracing + Spherical Map  "}) {
    const CommandRun r = run(panel + " --set '{\"Mode\": \"" + item + "\"}'");
    EXPECT_EQ(r.status, 0) << item << ": " << r.err;
    EXPECT_NE(r.out.find("\"Mode\" [0x8001] iPopChoice = 3 \" Ray Tracing + Spherical Map\""), std::string::npos)
        << item << ": " << r.out;
  }
  CommandRun r = run(panel + " --set '{\"Mode\": \" Spherical Map \"}'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("iPopChoice = 2 \"Spherical Map\""), std::string::npos) << r.out;
  // Items that differ only in their blanks are told apart by them alone.
  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  for (const char *slot : {"Grain", "Solo", " Grain"}) {
    writeFile("s.json", std::string(R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
        "nodes": [{"name": "a", "server": "Jux Store Material", "settings": {"Name": "Grain "}},
                  {"name": "b", "server": "Jux Store Material", "settings": {"Name": " Grain"}},
                  {"name": "c", "server": "Jux Store Material", "settings": {"Name": " Solo "}},
                  {"name": "g", "server": "Jux Get Material", "settings": {"Slot": ")") + slot + R"("}}]}}]})");
    r = hostsim("render " + scene + out);
    if (std::string(slot) == "Grain") {
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, "hostsim: " + scene + ": surfaces[0].network.nodes[3].settings.Slot: \"Slot\" has no item "
                           "\"Grain\" (\"(none)\", \"Grain \", \" Grain\", \" Solo \")\n");
    } else {
      EXPECT_EQ(r.status, 0) << slot << ": " << r.err;
    }
  }
  // Blanks inside an item still count.
  r = run(panel + " --set '{\"Mode\": \"Ray Tracing +  Spherical Map\"}'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("has no item \"Ray Tracing +  Spherical Map\""), std::string::npos) << r.err;
}

// The smaller mistakes: each said in one line, in the words a scene's faults
// use, before any work.
TEST_F(Command, SmallerMistakesAreSaidPlainly) {
  const std::string module = JUXS_MODULE_PATH, panel = std::string(HOSTSIM_PATH) + " panel " + module;
  // --set that is not JSON reads like a scene file that is not.
  CommandRun r = run(panel + " \"Jux Counter\" --set '{\"Ranged\": 2'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("hostsim: --set: line 1, column 13: syntax error", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find("json.exception"), std::string::npos) << r.err;
  // A module file that is not there.
  const std::string gone = (dir / "gone.p").string();
  for (const std::string &args : {"servers " + gone, "panel " + gone + " \"Jux Sqrt\"", "validate " + gone}) {
    r = run(std::string(HOSTSIM_PATH) + " " + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.err, "hostsim: " + gone + ": not a loadable module (no such file)\n") << args;
  }
  writeFile("s.json", R"({"image": {"width": 4, "height": 3}})");
  r = run(std::string(HOSTSIM_PATH) + " render " + (dir / "s.json").string() + " -o " + (dir / "x.png").string() +
          " --module " + gone);
  EXPECT_EQ(r.err, "hostsim: " + gone + ": not a loadable module (no such file)\n");
  // A thumbnail into a missing folder is refused before the panel is shown.
  const std::string thumb = (dir / "nowhere" / "t.png").string();
  r = run(panel + " \"Jux Pixel Image\" --thumbnail " + thumb);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "hostsim: " + thumb + ": no folder \"" + (dir / "nowhere").string() + "\" to write into\n");
  // validate ends with its totals: every check line counted.
  r = run(std::string(HOSTSIM_PATH) + " validate " + module);
  EXPECT_EQ(r.status, 0) << r.out;
  std::size_t ok = 0;
  for (std::size_t p = 0; (p = r.out.find("\nok   ", p)) != std::string::npos; ++p) ++ok;
  ok += r.out.rfind("ok   ", 0) == 0;
  EXPECT_GT(ok, 100u);
  const std::string total = module + ": " + std::to_string(ok) + " checks, 0 failed\n";
  EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), total.size())), total) << r.out.substr(r.out.size() - 200);
  // Hint tags by name, never as numbers.
  r = run(panel + " \"Jux Gaussian Reflections\"");
  EXPECT_NE(r.out.find("  (hint XPTAG_DIVADD, dividers added: 0x8009 [0x8005])\n"), std::string::npos) << r.out;
  r = run(panel + " \"Jux Pixel Image\"");
  EXPECT_NE(r.out.find("  (hint XPTAG_LEFT, left-aligned layout: [0x8001])\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("(hint 0x"), std::string::npos) << r.out;
  // A node without a panel still lists what a scene connects.
  r = run(panel + " \"Jux Render Info\"");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("No panel for \"Render Info (1)\" (Jux Render Info)\n  inputs: none\n  outputs: \"Render X\" "
                        "(integer), \"Render Y\" (integer), ",
                        0),
            0u)
      << r.out;
  r = run(panel + " \"Jux Render Info\" --set '{\"X\": 1}'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "hostsim: " + module + ": \"Jux Render Info\" has no panel\n");
  // A second connection to one input names both sources.
  writeFile("s.json", R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "a", "host": "Scalar", "value": 1}, {"name": "b", "server": "Jux Sqrt"}],
      "connections": [{"from": "a", "output": "Value", "to": "Surface", "input": "Diffuse"},
                      {"from": "a", "output": "Value", "to": "b", "input": "In"},
                      {"from": "b", "output": "Out", "to": "Surface", "input": "Diffuse"}]}}]})");
  r = hostsim("render " + (dir / "s.json").string() + " -o " + (dir / "x.png").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "hostsim: " + (dir / "s.json").string() +
                       ": surfaces[0].network.connections[2]: input \"Diffuse\" of \"Surface\" is connected twice: from "
                       "\"a\" output \"Value\" (connections[0]) and from \"b\" output \"Out\"\n");
}

// A node whose one evaluation would cast more than a million rays is named,
// once, before the render starts: where the count first passes the limit.
TEST_F(Command, ANodeCastingAMillionRaysAnEvaluationIsWarnedOf) {
  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  writeFile("s.json", R"({"image": {"width": 4, "height": 3}, "surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "polar", "server": "Jux Ambient Occlusion",
                 "settings": {"Mode": "Polar", "Polar Samples 1": 2000, "Polar Samples 2": 1000}},
                {"name": "just", "server": "Jux Ambient Occlusion", "settings": {"Samples": 1000000}},
                {"name": "over", "server": "Jux Ambient Occlusion", "settings": {"Samples": 1000001}},
                {"name": "few", "server": "Jux Ambient Occlusion", "settings": {"Samples": 1000}},
                {"name": "take", "server": "Jux Take Samples", "settings": {"Samples": 2000}},
                {"name": "after", "server": "Jux Take Samples", "settings": {"Samples": 2}},
                {"name": "sharp", "server": "Jux Gaussian Reflections", "settings": {"Samples": 100000000}},
                {"name": "blurred", "server": "Jux Gaussian Refractions",
                 "settings": {"Samples": 3000000, "Refraction Blur": 10}},
                {"name": "fed", "server": "Jux Ambient Occlusion", "settings": {"Samples": 5000000}},
                {"name": "n", "host": "Integer", "value": 4}],
      "connections": [{"from": "few", "output": "Color", "to": "take", "input": "Color"},
                      {"from": "take", "output": "Color", "to": "after", "input": "Color"},
                      {"from": "n", "output": "Value", "to": "fed", "input": "Samples"}]}}]})");
  const CommandRun r = hostsim("render " + scene + out);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string at = "hostsim: " + scene + ": warning: surfaces[0].network.nodes[";
  const std::string tail = " rays each time it is evaluated, in every shading sample; the render will be slow\n";
  const std::string expected = at + "0]: node \"polar\" would cast about 1999001" + tail + //
                               at + "2]: node \"over\" would cast about 1000001" + tail +  //
                               at + "4]: node \"take\" would cast about 2000000" + tail +  //
                               at + "7]: node \"blurred\" would cast about 3000000" + tail;
  // Before the render's own summary line, and nothing more.
  EXPECT_EQ(r.err.substr(0, expected.size()), expected) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 5) << r.err;
}

TEST_F(Command, AFailedWriteExitsTwoAndLeavesTheEarlierPicture) {
  writeFile("s.json", R"({"image": {"width": 200, "height": 150}, "backdrop": {"color": [0.5, 0.25, 1]}})");
  const std::string scene = (dir / "s.json").string(), out = (dir / "pic.hdr").string();
  writeFile("pic.hdr", "earlier");
  // A file system that takes no more than 512 bytes a file, as a full one:
  // the picture is larger.
  CommandRun r = run("trap '' XFSZ; ulimit -f 1; exec " + std::string(HOSTSIM_PATH) + " render " + scene + " -o " + out +
                     " --module " + JUXS_MODULE_PATH);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.err.rfind("hostsim: " + out + ": cannot write", 0), 0u) << r.err;
  EXPECT_EQ(r.out.find("wrote"), std::string::npos) << r.out;
  std::ifstream in(dir / "pic.hdr");
  std::string text;
  in >> text;
  EXPECT_EQ(text, "earlier");
  // No temporary file is left behind.
  int files = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir)) files += e.path().filename().string()[0] == '.';
  EXPECT_EQ(files, 0);
  // A full device.
  std::filesystem::create_symlink("/dev/full", dir / "full.png");
  r = hostsim("render " + scene + " -o " + (dir / "full.png").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(std::strerror(ENOSPC)), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("wrote"), std::string::npos) << r.out;
}

// OpenEXR and TIFF images serve a scene, and the picture can be OpenEXR.
TEST_F(Command, OpenExrAndTiffImagesLoadAndTheRenderWritesHalfFloat) {
  ASSERT_TRUE(testsupport::writeTestImage((dir / "env.exr").string(), 2, 1, 3, {6.0f, -0.5f, 0.25f, 0.0f, 1.0f, 2.0f},
                                          OIIO::TypeDesc::HALF));
  ASSERT_TRUE(testsupport::writeTestImage((dir / "env.tif").string(), 2, 1, 3, {1.0f, 0.5f, 0.0f, 0.0f, 0.0f, 1.0f},
                                          OIIO::TypeDesc::UINT16));
  const std::string text = R"({"image": {"width": 7, "height": 5}, "backdrop": {"color": [3, -1, 0.5]},
    "images": [{"file": "env.exr", "name": "Sky"}, {"file": "env.tif"}]})";
  load(text);
  const auto &images = host.images().images();
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0]->name, "Sky");
  EXPECT_EQ(images[0]->pixel(0, 0)[0], 6.0f);
  EXPECT_EQ(images[0]->pixel(0, 0)[1], -0.5f);
  EXPECT_NEAR(images[1]->pixel(0, 0)[1], testsupport::srgbToLinear(0.5f), 1e-4);

  writeFile("s.json", text);
  const std::string out = (dir / "pic.exr").string();
  const CommandRun r = hostsim("render " + (dir / "s.json").string() + " -o " + out);
  ASSERT_EQ(r.status, 0) << r.err;
  auto exr = OIIO::ImageInput::open(out);
  ASSERT_TRUE(exr);
  EXPECT_EQ(exr->format_name(), std::string("openexr"));
  EXPECT_EQ(exr->spec().format, OIIO::TypeDesc::HALF);
  EXPECT_EQ(exr->spec().nchannels, 3);
  EXPECT_EQ(exr->spec().width, 7);
  EXPECT_EQ(exr->spec().height, 5);
  float px[3];
  ASSERT_TRUE(exr->read_scanline(0, 0, OIIO::TypeDesc::FLOAT, px));
  EXPECT_EQ(px[0], 3.0f);  // above 1 and
  EXPECT_EQ(px[1], -1.0f); // below 0, kept
}

TEST(Progress, TheTimeLeftFollowsTheRateSoFar) {
  EXPECT_EQ(hostsim::formatDuration(42.4), "42 s");
  EXPECT_EQ(hostsim::formatDuration(187), "3 min 07 s");
  EXPECT_EQ(hostsim::formatDuration(3900), "1 h 05 min");
  EXPECT_DOUBLE_EQ(hostsim::remainingSeconds(0.25, 10), 30);
  EXPECT_LT(hostsim::remainingSeconds(0.001, 10), 0); // too early to say
  EXPECT_EQ(hostsim::remainingSeconds(1, 10), 0);
  const hostsim::ProgressState p{12, 2, 4, 0.25, 10};
  // Off a terminal: whole lines, as logs have always had them.
  EXPECT_EQ(hostsim::progressText(p, false), "hostsim: rendering frame 12 (2 of 4),  25% done, 10.0 s\n");
  // On one: back to the start of the line, cleared, and no newline.
  const std::string tty = hostsim::progressText(p, true);
  EXPECT_EQ(tty.rfind(hostsim::kClearProgress, 0), 0u);
  EXPECT_NE(tty.find("frame 12 (2 of 4)"), std::string::npos) << tty;
  EXPECT_NE(tty.find("10 s elapsed, about 30 s left"), std::string::npos) << tty;
  EXPECT_EQ(tty.find('\n'), std::string::npos);
}

// ---------------------------------------------------------------- what nests, repeats and carries over

// Nesting multiplies what one evaluation costs: each traced ray's hit casts
// again, as deep as the bounds allow, and a chain of Take Samples multiplies
// every evaluation upstream. Both are said before the render, with the
// estimate. The objects stand out of the one-pixel picture, so that the
// render itself is instant.
TEST_F(Command, NestedSamplingIsWarnedOfBeforeTheRender) {
  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  auto blurred = [&](int samples, int depth) {
    writeFile("s.json", R"({"image": {"width": 1, "height": 1}, "surfaces": [{"name": "Metal", "network": {"nodes": [
        {"name": "blur", "server": "Jux Gaussian Reflections", "settings": {"Reflection Blur": 20, "Samples": )" +
                            std::to_string(samples) + R"(, "Blur Depth": )" + std::to_string(depth) + R"(}}],
        "connections": [{"from": "blur", "output": "Color", "to": "Surface", "input": "Color"}]}}, {"name": "Floor"}],
      "objects": [{"type": "sphere", "surface": "Metal", "position": [100, 0, 0]},
                  {"type": "plane", "surface": "Floor", "size": [10, 10], "position": [100, -1, 0]}]})");
    return hostsim("render " + scene + out);
  };
  CommandRun r = blurred(32767, 32767);
  ASSERT_EQ(r.status, 0) << r.err;
  // 32767 rays, each of whose hits may cast 32767 again, down to depth 8.
  const std::string at = "hostsim: " + scene + ": warning: surfaces[0].network.nodes[0]: node \"blur\" would cast ";
  EXPECT_EQ(r.err.rfind(at + "up to about 4.4e+40 rays each time it is evaluated, in every shading sample, counting "
                             "those that the surfaces its rays hit cast in turn, down to the ray recursion limit of 8; "
                             "the render will be slow\nhostsim: 1 frame of 1x1",
                        0),
            0u)
      << r.err;
  // At its default Blur Depth of 0 a nested hit casts one sharp ray: 32767
  // rays and a few per level are not many.
  r = blurred(32767, 0);
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  // One level of blur on a blur: 2000 rays, whose hits at depth 1 cast 2000
  // again, whose hits cast one sharp ray at each depth from 2 to 8.
  r = blurred(2000, 1);
  EXPECT_NE(r.err.find("would cast up to about 32002000 rays"), std::string::npos) << r.err;

  // 40 Take Samples of 2 in a chain cast nothing, but evaluate Random 2^40
  // times a sample: named where the count first passes a million, at the
  // 19th (2^20 - 1 evaluations of it and what is upstream).
  nlohmann::json nodes = nlohmann::json::array({{{"name", "r"}, {"server", "Jux Random"}}});
  nlohmann::json connections = nlohmann::json::array();
  for (int i = 1; i <= 40; ++i) {
    nodes.push_back({{"name", "t" + std::to_string(i)}, {"server", "Jux Take Samples"}, {"settings", {{"Samples", 2}}}});
    connections.push_back({{"from", i == 1 ? "r" : "t" + std::to_string(i - 1)}, {"output", i == 1 ? "Out" : "Color"},
                           {"to", "t" + std::to_string(i)}, {"input", "Color"}});
  }
  connections.push_back({{"from", "t40"}, {"output", "Color"}, {"to", "Surface"}, {"input", "Color"}});
  writeFile("s.json", nlohmann::json{{"image", {{"width", 1}, {"height", 1}}},
                                     {"surfaces", {{{"name", "S"}, {"network", {{"nodes", nodes}, {"connections", connections}}}}}}}
                          .dump());
  r = hostsim("render " + scene + out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.rfind("hostsim: " + scene + ": warning: surfaces[0].network.nodes[19]: node \"t19\" would evaluate "
                        "itself and the nodes upstream of it about 1048575 times each time it is evaluated, in every "
                        "shading sample; the render will be slow\nhostsim: 1 frame of 1x1",
                        0),
            0u)
      << r.err;
}

// A user copies a Store Material and forgets to rename it, or picks
// "(load Image)" without a file to answer it: taken, and said once each.
TEST_F(Command, ARepeatedMaterialNameAndAnUnansweredRequesterAreWarnedOf) {
  writeFile("s.json", R"json({"image": {"width": 2, "height": 2}, "surfaces": [
      {"name": "A", "network": {"nodes": [{"name": "grain", "server": "Jux Store Material", "settings": {"Name": "Grain"}}]}},
      {"name": "B", "network": {"nodes": [
        {"name": "other", "server": "Jux Store Material", "settings": {"Name": "Other"}},
        {"name": "copy", "server": "Jux Store Material", "settings": {"Name": "Grain"}},
        {"name": "get", "server": "Jux Get Material", "settings": {"Slot": "Grain"}},
        {"name": "wall", "server": "Jux Pixel Image", "settings": {"Image": "(load Image)"}}]}}]})json");
  const std::string scene = (dir / "s.json").string(), out = " -o " + (dir / "x.png").string();
  const std::string at = "hostsim: " + scene + ": warning: surfaces[1].network.nodes[";
  const std::string requester = at + "3].settings.Image: node \"Pixel Image (1)\" opened the file requester, and no "
                                     "--file answer was left for it: it was cancelled, and the node loaded no image\n";
  const std::string repeated = at + "1]: a Store Material named \"Grain\" is already listed at "
                                    "surfaces[0].network.nodes[0]; every Get Material that chooses \"Grain\" finds "
                                    "that first one\n";
  CommandRun r = hostsim("render " + scene + out);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.rfind(requester + repeated + "hostsim: 1 frame", 0), 0u) << r.err;
  // Save warns alike; an answer of --cancel is the user's, and not warned of.
  r = hostsim("save " + scene + " -o " + (dir / "t.json").string() + " --cancel");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, repeated);
}

// Counter's counts and the random sequence run on from frame to frame of one
// render: frame 2 of frames 1-2 is not frame 2 rendered alone. The render
// says so once, unless told that this is meant; a scene without such nodes
// renders the frame alike either way, and is not told.
TEST_F(Command, FramesOfOneRenderCarryTheModulesStateAndSaySo) {
  auto sceneWith = [&](const std::string &server, const std::string &output) {
    writeFile("s.json", R"({"image": {"width": 8, "height": 8}, "frames": {"first": 1, "last": 1},
        "camera": {"position": [0, 0, -2]}, "surfaces": [{"name": "S", "network": {
        "nodes": [{"name": "n", "server": ")" + server + R"("}],
        "connections": [{"from": "n", "output": ")" + output + R"(", "to": "Surface", "input": "Luminosity"}]}}],
      "objects": [{"type": "box", "surface": "S", "size": [5, 5, 0.1]}]})");
  };
  const std::string scene = (dir / "s.json").string();
  auto pixels = [&](const std::string &name) {
    auto in = OIIO::ImageInput::open((dir / name).string());
    std::vector<unsigned char> px(8 * 8 * 3);
    if (in) in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, px.data());
    return px;
  };
  const std::string note = "hostsim: " + scene + ": note: frames 1-2 are one render, as in the host, and what the "
                           "module keeps carries over from each frame to the next: where the random sequence stands "
                           "(Random); so a frame here differs from a render of that frame alone, which starts afresh "
                           "(--carry-state: this is meant, and no note is needed)\n";
  sceneWith("Jux Random", "Out");
  CommandRun r = hostsim("render " + scene + " -o " + (dir / "run.png").string() + " --frames 1-2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.rfind(note + "hostsim: 2 frames", 0), 0u) << r.err;
  r = hostsim("render " + scene + " -o " + (dir / "alone.png").string() + " --frames 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("note"), std::string::npos) << r.err;
  EXPECT_NE(pixels("run_0002.png"), pixels("alone.png"));
  r = hostsim("render " + scene + " -o " + (dir / "run.png").string() + " --frames 1-2 --carry-state");
  EXPECT_EQ(r.err.find("note"), std::string::npos) << r.err;

  sceneWith("Jux Sqrt", "Out");
  r = hostsim("render " + scene + " -o " + (dir / "run.png").string() + " --frames 1-2");
  EXPECT_EQ(r.err.find("note"), std::string::npos) << r.err;
  hostsim("render " + scene + " -o " + (dir / "alone.png").string() + " --frames 2");
  EXPECT_EQ(pixels("run_0002.png"), pixels("alone.png"));
}

} // namespace
