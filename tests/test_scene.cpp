// Scene files: what a user can get wrong, meshes, and saving through the
// module's own persistence. The command is run as a user runs it.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include <stb_image.h>
#include <stb_image_write.h>

#include "hostsim/render/image_output.h"
#include "tests/support/scene_fixture.h"

namespace {

using hostsim::SceneError;

class Scenes : public testsupport::SceneFixture {
protected:
  std::string errorOf(const std::string &json) {
    try {
      load(json);
    } catch (const SceneError &e) {
      return e.what();
    }
    return "(no error)";
  }
};

TEST_F(Scenes, FaultsNameWhereAndWhat) {
  EXPECT_EQ(errorOf("{\n  \"camera\": {\n    \"fov\": 50,\n  }\n}").rfind("line 4, column 3:", 0), 0u);
  EXPECT_EQ(errorOf(R"({"camera": {"fvo": 50}})"), "camera: unknown key \"fvo\"");
  EXPECT_EQ(errorOf(R"({"image": {"width": -3}})"), "image.width: should be from 1 to 16384");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [{"name": "x", "server": "Jux Nothing"}]}}]})"),
            "surfaces[0].network.nodes[0].server: unknown node server \"Jux Nothing\"");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "i", "server": "Jux Render Info"}],
      "connections": [{"from": "i", "output": "Render Z", "to": "Surface", "input": "Color"}]}}]})"),
            "surfaces[0].network.connections[0].output: node \"i\" has no output \"Render Z\"");
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {
      "nodes": [{"name": "k", "host": "Scalar", "value": 1}],
      "connections": [{"from": "k", "output": "Value", "to": "Surface", "input": "Colour"}]}}]})"),
            "surfaces[0].network.connections[0].input: node \"Surface\" has no input \"Colour\"");
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
  std::string error;
  ASSERT_TRUE(hostsim::readObj((dir / "quad.obj").string(), m, error)) << error;
  EXPECT_EQ(m.indices.size(), 9u);
  ASSERT_EQ(m.normals.size(), m.positions.size());
  EXPECT_EQ(m.normals[2], -1.0f);
  EXPECT_EQ(m.normals[m.normals.size() - 1], 0.0f); // corners without a normal
  writeFile("bad.obj", "v 0 0 0\nv 1 0 0\nf 1 2 7\n");
  EXPECT_FALSE(hostsim::readObj((dir / "bad.obj").string(), m, error));
  EXPECT_NE(error.find("line 3: face corner \"7\" names no vertex"), std::string::npos) << error;

  // Seen from the front, the quad is hit where it stands after its transform.
  load(R"({"surfaces": [{"name": "S"}],
           "objects": [{"type": "mesh", "surface": "S", "file": "quad.obj", "position": [0, 0, 3], "scale": 2}]})");
  hostsim::Worker w;
  w.renderer = &render();
  LWNodalAccess na = renderer->context(w);
  const hostsim::SampleScope scope(na, w);
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
  const unsigned char px[3] = {10, 20, 30};
  const std::string image = (dir / "pic.png").string();
  doc["images"] = {{{"file", "pic.png"}, {"name", "Picture"}}};
  ASSERT_TRUE(stbi_write_png(image.c_str(), 1, 1, 3, px, 3));
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

CommandRun hostsim(const std::string &args) {
  const std::string errFile = testing::TempDir() + "hostsim_err.txt";
  const std::string cmd = std::string(HOSTSIM_PATH) + " " + args + " --module " + JUXS_MODULE_PATH + " 2>" + errFile;
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
  r = hostsim("render " + (dir / "img.json").string() + " -o x.tiff");
  EXPECT_EQ(r.status, 2);
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
  int w = 0, h = 0, n = 0;
  unsigned char *px = stbi_load((dir / "pic_0002.png").c_str(), &w, &h, &n, 3);
  ASSERT_TRUE(px);
  EXPECT_EQ(w, 6);
  EXPECT_EQ(h, 5);
  EXPECT_EQ(px[0], hostsim::toDisplay(0.5f));
  EXPECT_EQ(px[1], hostsim::toDisplay(0.25f));
  EXPECT_EQ(px[2], 255);
  stbi_image_free(px);
  r = hostsim("save " + (dir / "s.json").string() + " -o " + (dir / "t.json").string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "t.json"));
}

} // namespace
