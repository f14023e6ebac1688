// A user writes a scene in another order: surfaces, nodes, settings and keys
// in any order build the same scene and render the same picture. Only
// settings that cannot all hold are refused, and the message names both.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "hostsim/scene/node_settings.h"
#include "tests/support/scene_fixture.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

class SceneOrder : public testsupport::SceneFixture {
protected:
  std::string errorOf(const std::string &text) {
    try {
      scene.reset();
      load(text);
    } catch (const hostsim::Error &e) {
      return e.what();
    }
    return "(no error)";
  }
  // The centre pixel's red of the scene's first frame, on one thread.
  float centre() {
    float red = -1;
    hostsim::RenderOptions ro;
    render().render(ro, [&](int, const hostsim::FrameBuffer &fb) { red = fb.pixel(1, 1)[0]; });
    renderer.reset();
    return red;
  }
};

// A box lit only by its luminosity, which a Get Material fetches from a
// Store Material holding 0.5; the Get's surface is written first.
const char *const kFetchFirst = R"({
  "camera": {"position": [0, 0, -3], "target": [0, 0, 0], "fov": 30},
  "image": {"width": 3, "height": 3}, "light": {"ambient": 0, "shadows": false},
  "surfaces": [
    {"name": "Box", "color": [1, 1, 1], "diffuse": 0, "network": {
      "nodes": [{"name": "get", "server": "Jux Get Material", "settings": {"Slot": "Grain"}}],
      "connections": [{"from": "get", "output": "Scalar", "to": "Surface", "input": "Luminosity"}]}},
    {"name": "Store", "network": {
      "nodes": [{"name": "half", "host": "Scalar", "value": 0.5},
                {"name": "store", "server": "Jux Store Material", "settings": {"Name": "Grain"}}],
      "connections": [{"from": "half", "output": "Value", "to": "store", "input": "Scalar"}]}}],
  "objects": [{"type": "box", "surface": "Box", "size": [10, 10, 1], "position": [0, 0, 1]}]})";

TEST_F(SceneOrder, AGetMaterialFindsAStoreMaterialWrittenAfterIt) {
  load(kFetchFirst);
  EXPECT_FLOAT_EQ(centre(), 0.5f);
  // The same two nodes in one network, the Get first.
  json doc = json::parse(kFetchFirst);
  json &nodes = doc["surfaces"][0]["network"]["nodes"];
  for (const json &n : doc["surfaces"][1]["network"]["nodes"]) nodes.push_back(n);
  doc["surfaces"][0]["network"]["connections"].push_back(doc["surfaces"][1]["network"]["connections"][0]);
  doc["surfaces"].erase(1);
  scene.reset();
  load(doc.dump());
  EXPECT_FLOAT_EQ(centre(), 0.5f);
  // A name no Store Material takes is still the fault it was, with the items.
  EXPECT_EQ(errorOf(std::string(kFetchFirst).replace(std::string(kFetchFirst).find("\"Grain\"}}]"), 7, "\"Grian\"")),
            "surfaces[0].network.nodes[0].settings.Slot: \"Slot\" has no item \"Grian\" (\"(none)\", \"Grain\")");
}

// Gaussian Reflections' "Color" is enabled by its "Tint Reflections" switch.
std::string reflections(const std::string &settings, const std::string &keys = "{}") {
  return R"({"surfaces": [{"name": "S", "network": {"nodes": [
    {"name": "g", "server": "Jux Gaussian Reflections", "settings": )" +
         settings + R"(, "keys": )" + keys + "}]}}]}";
}

TEST_F(SceneOrder, ASwitchIsSetBeforeTheControlsItEnables) {
  for (const char *settings : {R"({"Color": [255, 102, 0], "Tint Reflections": true})",
                               R"({"Tint Reflections": true, "Color": [255, 102, 0]})"}) {
    SCOPED_TRACE(settings);
    scene.reset();
    load(reflections(settings));
    hostsim::Panel &panel = hostsim::openPanel(host, *module, scene->surfaces[0].nodes[0], "");
    const hostsim::ControlValue v = host.panels().value(panel, *panel.control("Color"));
    ASSERT_EQ(v.kind, hostsim::ControlValue::Param);
    EXPECT_DOUBLE_EQ(v.param->value[1], 0.4);
  }
  // A switch the file leaves off is a mistake, said as before.
  EXPECT_EQ(errorOf(reflections(R"({"Color": [255, 102, 0]})")),
            "surfaces[0].network.nodes[0].settings.Color: control \"Color\" is disabled; it is enabled when "
            "\"Tint Reflections\" is on");
}

TEST_F(SceneOrder, SettingsThatCannotAllHoldAreRefusedNamingBoth) {
  // The switch turned off in the same settings, whichever comes first.
  const std::string offAndSet = "surfaces[0].network.nodes[0].settings.Color: control \"Color\" is disabled; it is "
                                "enabled when \"Tint Reflections\" is on, which conflicts with \"Tint Reflections\": "
                                "false in these settings";
  EXPECT_EQ(errorOf(reflections(R"({"Color": [255, 102, 0], "Tint Reflections": false})")), offAndSet);
  EXPECT_EQ(errorOf(reflections(R"({"Tint Reflections": false, "Color": [255, 102, 0]})")), offAndSet);
  // One control by its label and by its id: two values conflict, one is taken.
  const std::string twice = errorOf(reflections(R"({"Samples": 4, "0x8007": 8})"));
  EXPECT_EQ(twice, "surfaces[0].network.nodes[0].settings.0x8007: conflicts with \"Samples\": 4 in these settings: "
                   "both set control \"Samples\"");
  EXPECT_EQ(errorOf(reflections(R"({"Samples": 4, "0x8007": 4})")), "(no error)");
  // One key twice in one object: JSON keeps the last, whichever that is.
  EXPECT_EQ(errorOf(reflections("{\"Samples\": 4,\n \"Samples\": 8}")),
            "line 3, column 2: \"Samples\" is written twice in one object; only one value can hold");
  // Two keys on one frame of one control, by label and by id.
  const std::string keys = R"({"Reflection Blur": [{"frame": 1, "value": 5}], "0x8006": [{"frame": 1, "value": 6}]})";
  EXPECT_EQ(errorOf(reflections("{}", keys)),
            "surfaces[0].network.nodes[0].keys.0x8006[0]: conflicts with Reflection Blur[0] in these keys: both key "
            "frame 1 of control \"Reflection Blur\"");
  EXPECT_EQ(errorOf(reflections("{}", R"({"Reflection Blur": [{"frame": 1, "value": 5}, {"frame": 1, "value": 5}]})")),
            "(no error)");
}

// ------------------------------------------------- every scene, shuffled

// The scenes the project keeps: the examples, every node page's previews and
// the scene reproducers that load.
std::vector<fs::path> keptScenes() {
  const fs::path root(JUXS_SOURCE_DIR);
  std::vector<fs::path> scenes;
  for (const fs::path &dir : {root / "examples", root / "fuzz" / "reproducers" / "scene"})
    for (const auto &e : fs::directory_iterator(dir))
      if (e.path().extension() == ".json") scenes.push_back(e.path());
  for (const auto &page : fs::directory_iterator(root / "docs" / "nodes"))
    if (page.is_directory())
      for (const auto &e : fs::directory_iterator(page.path()))
        if (e.path().extension() == ".json") scenes.push_back(e.path());
  std::sort(scenes.begin(), scenes.end());
  return scenes;
}

// The object's members in the order of the permutation.
json reordered(const json &obj, const std::vector<std::size_t> &order) {
  std::vector<std::pair<std::string, json>> items;
  for (const auto &[k, v] : obj.items()) items.emplace_back(k, v);
  json out = json::object();
  for (std::size_t i : order) out[items[i].first] = items[i].second;
  return out;
}

// Surfaces, nodes, connections, settings and keys in another order: reversed
// (seed 0) or shuffled.
json shuffled(json doc, unsigned seed) {
  std::mt19937 random(seed);
  auto permutation = [&](std::size_t n) {
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    if (seed == 0)
      std::reverse(order.begin(), order.end());
    else
      std::shuffle(order.begin(), order.end(), random);
    return order;
  };
  auto permute = [&](json &list) {
    json out = json::array();
    for (std::size_t i : permutation(list.size())) out.push_back(list[i]);
    list = out;
  };
  if (!doc.contains("surfaces")) return doc;
  permute(doc["surfaces"]);
  for (json &surface : doc["surfaces"]) {
    if (!surface.contains("network")) continue;
    json &network = surface["network"];
    for (const char *list : {"nodes", "connections"})
      if (network.contains(list)) permute(network[list]);
    for (json &node : network["nodes"])
      for (const char *member : {"settings", "keys"})
        if (node.contains(member)) node[member] = reordered(node[member], permutation(node[member].size()));
  }
  return doc;
}

int runStatus(const std::string &command) {
  const int st = std::system(command.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string bytesOf(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Each render in a process of its own: the module's random sequence and its
// material registry are the process's, so a render in a process that has
// rendered before would not be the file's alone. One thread, the scene's
// first frame, a small picture: the same scene gives the same bytes.
TEST_F(SceneOrder, EveryKeptSceneRendersTheSamePictureInAnyOrder) {
  const unsigned kSeeds = 3; // reversed, and two shuffles
  int compared = 0;
  for (const fs::path &file : keptScenes()) {
    SCOPED_TRACE(file.string());
    const bool reproducer = file.parent_path().filename() == "scene";
    json doc;
    try {
      doc = hostsim::parseJson(bytesOf(file));
    } catch (const hostsim::Error &) {
      ASSERT_TRUE(reproducer); // a reproducer of a fault may not parse
      continue;
    }
    // Files are read relative to the scene's folder; the copies live elsewhere.
    for (const char *list : {"images", "objects"})
      if (doc.contains(list))
        for (json &entry : doc[list])
          if (entry.contains("file")) entry["file"] = (file.parent_path() / entry["file"].get<std::string>()).string();
    const int frame = doc.contains("frames") ? doc["frames"].value("first", 1) : 1;
    // The original and its permutations, rendered side by side.
    std::string commands;
    for (unsigned k = 0; k <= kSeeds; ++k) {
      const std::string name = (dir / ("order" + std::to_string(k))).string();
      std::ofstream(name + ".json") << (k == 0 ? doc : shuffled(doc, k - 1)).dump(1);
      commands += std::string(HOSTSIM_PATH) + " render " + name + ".json --module " + JUXS_MODULE_PATH +
                  " --threads 1 --size 24x16 --frames " + std::to_string(frame) + " -o " + name + ".png >" + name +
                  ".err 2>&1 || echo failed >>" + name + ".err & ";
    }
    ASSERT_EQ(runStatus(commands + "wait"), 0);
    auto picture = [&](unsigned k) {
      const std::string name = (dir / ("order" + std::to_string(k))).string();
      const std::string err = bytesOf(name + ".err");
      return err.find("failed") == std::string::npos ? bytesOf(name + ".png") : "failed: " + err;
    };
    const std::string original = picture(0);
    // A reproducer of a fault that still refuses its scene has nothing to compare.
    if (reproducer && original.rfind("failed: ", 0) == 0) continue;
    ASSERT_EQ(original.rfind("failed: ", 0), std::string::npos) << original;
    for (unsigned k = 1; k <= kSeeds; ++k) {
      SCOPED_TRACE(k == 1 ? "reversed" : "shuffled with seed " + std::to_string(k - 1));
      const std::string other = picture(k);
      EXPECT_EQ(other.rfind("failed: ", 0), std::string::npos) << other;
      EXPECT_TRUE(other == original);
    }
    ++compared;
  }
  EXPECT_GE(compared, 30);
}

} // namespace
