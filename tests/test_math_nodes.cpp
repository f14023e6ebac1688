// The host's math nodes as a scene uses them: arithmetic whose operand order
// and edge cases a user relies on, an object's own space, and a texture
// placed in world space and seen through frosted glass.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <sstream>

#include "hostsim/scene/geometry.h"
#include "tests/support/scene_fixture.h"

namespace {

using hostsim::Error;
using hostsim::HostNode;
using hostsim::OutputValue;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLargest = std::numeric_limits<double>::max();

class MathNodes : public testsupport::SceneFixture {
protected:
  // One surface whose network holds the given nodes (JSON list items).
  hostsim::Surface &network(const std::string &nodes, const std::string &connections = "",
                            const std::string &objects = "") {
    load(R"({"surfaces": [{"name": "S", "network": {"nodes": [)" + nodes + R"(], "connections": [)" + connections +
         R"(]}}], "objects": [)" + objects + "]}");
    return scene->surfaces[0];
  }
  // A lone node of kind with settings, evaluated on output.
  OutputValue one(const std::string &kind, const std::string &settings, const std::string &output = "Result") {
    hostsim::Surface &s = network(R"({"name": "n", "host": ")" + kind + R"(", "settings": )" + settings + "}");
    return valueOf(s, 0, output);
  }
  OutputValue valueOf(hostsim::Surface &s, std::size_t node, const std::string &output) {
    LWNodalAccess na = hostsim::emptyWorldContext();
    return s.network->evaluate(s.nodes[node], output, na);
  }
  double scalar(const std::string &op, double a, double b) {
    std::ostringstream settings;
    settings.precision(17);
    settings << R"({"Operation": ")" << op << R"(", "A": )" << a << R"(, "B": )" << b << "}";
    const OutputValue v = one("Scalar Math", settings.str());
    EXPECT_TRUE(v.set) << op;
    return v.v[0];
  }
  std::array<double, 3> vector(const std::string &op, const std::string &a, const std::string &b = "[0, 0, 0]") {
    const OutputValue v = one("Vector Math", R"({"Operation": ")" + op + R"(", "A": )" + a + R"(, "B": )" + b + "}");
    EXPECT_EQ(v.type, CONN_VECTOR) << op;
    return {v.v[0], v.v[1], v.v[2]};
  }
  std::string errorOf(const std::string &json) {
    try {
      load(json);
    } catch (const Error &e) {
      return e.what();
    }
    return "(no error)";
  }
  // A host node of the test's that gives x, wired into input of node k.
  void feed(hostsim::Surface &s, std::size_t k, const std::string &input, double x, ConnectionType type = CONN_SCALAR) {
    HostNode *src = s.network->addHostNode("Feed", {{"Out", type}},
                                           [x](LWNodalAccess *, const hostsim::NodeOutput *, OutputValue *out) {
                                             out->v[0] = out->v[1] = out->v[2] = x;
                                             out->set = true;
                                           });
    s.network->connect(src, "Out", s.nodes[k], input);
  }
};

using V = std::array<double, 3>;

TEST_F(MathNodes, ScalarArithmeticTakesAThenB) {
  EXPECT_EQ(scalar("Add", 2, 3), 5);
  EXPECT_EQ(scalar("Subtract", 2, 3), -1);
  EXPECT_EQ(scalar("Multiply", 2, 3), 6);
  EXPECT_EQ(scalar("Divide", 3, 2), 1.5);
  EXPECT_EQ(scalar("Minimum", 2, -3), -3);
  EXPECT_EQ(scalar("Maximum", 2, -3), 2);
  EXPECT_EQ(scalar("Absolute", -2.5, 7), 2.5);
  EXPECT_EQ(scalar("Floor", -2.5, 7), -3);
  EXPECT_EQ(scalar("Floor", 2.5, 7), 2);
  // Floored: the result has B's sign, so stripes repeat across 0 unmirrored.
  EXPECT_EQ(scalar("Modulo", 7, 3), 1);
  EXPECT_EQ(scalar("Modulo", -7, 3), 2);
  EXPECT_EQ(scalar("Modulo", 7, -3), -2);
  EXPECT_EQ(scalar("Modulo", -1.25, 1), 0.75);
  // A tiny negative A would round to B itself; the result stays below B.
  const double tiny = scalar("Modulo", -1e-20, 1);
  EXPECT_GE(tiny, 0);
  EXPECT_LT(tiny, 1);
}

TEST_F(MathNodes, AUsersMistakeGivesANumberNeverANaN) {
  EXPECT_EQ(scalar("Divide", 5, 0), 0);
  EXPECT_EQ(scalar("Divide", 0, 0), 0);
  EXPECT_EQ(scalar("Modulo", 5, 0), 0);
  EXPECT_EQ(scalar("Multiply", 1e300, 1e300), kLargest);
  EXPECT_EQ(scalar("Subtract", -1.7e308, 1.7e308), -kLargest);
  EXPECT_EQ(scalar("Divide", 1e300, 1e-300), kLargest);

  // A NaN from upstream counts as 0, an infinity as the largest number.
  hostsim::Surface &s = network(R"({"name": "add", "host": "Scalar Math", "settings": {"B": 2}},
                                   {"name": "mul", "host": "Scalar Math", "settings": {"Operation": "Multiply"}})");
  feed(s, 0, "A", kNaN);
  EXPECT_EQ(valueOf(s, 0, "Result").v[0], 2);
  feed(s, 1, "A", std::numeric_limits<double>::infinity());
  feed(s, 1, "B", 0);
  EXPECT_EQ(valueOf(s, 1, "Result").v[0], 0); // not infinity times 0
}

TEST_F(MathNodes, UnsetInputsStartWhereTheOperationChangesNothing) {
  // B is 1 for multiply, divide and modulo, 0 otherwise.
  EXPECT_EQ(one("Scalar Math", R"({"Operation": "Multiply", "A": 3})").v[0], 3);
  EXPECT_EQ(one("Scalar Math", R"({"Operation": "Divide", "A": 3})").v[0], 3);
  EXPECT_EQ(one("Scalar Math", R"({"Operation": "Modulo", "A": 3.25})").v[0], 0.25);
  EXPECT_EQ(one("Scalar Math", R"({"A": 3})").v[0], 3);
  EXPECT_EQ(one("Scalar Math", R"({"Operation": "Subtract", "A": 3})").v[0], 3);
  const OutputValue scaled = one("Vector Math", R"({"Operation": "Scale", "A": [1, 2, 3]})");
  EXPECT_EQ((V{scaled.v[0], scaled.v[1], scaled.v[2]}), (V{1, 2, 3}));
}

TEST_F(MathNodes, VectorArithmetic) {
  EXPECT_EQ(vector("Add", "[1, 2, 3]", "[10, 20, 30]"), (V{11, 22, 33}));
  EXPECT_EQ(vector("Subtract", "[1, 2, 3]", "[10, 20, 30]"), (V{-9, -18, -27}));
  // X cross Y is Z; the other way round, -Z.
  EXPECT_EQ(vector("Cross", "[1, 0, 0]", "[0, 1, 0]"), (V{0, 0, 1}));
  EXPECT_EQ(vector("Cross", "[0, 1, 0]", "[1, 0, 0]"), (V{0, 0, -1}));
  EXPECT_EQ(vector("Cross", "[0, 1, 0]", "[0, 0, 1]"), (V{1, 0, 0}));
  EXPECT_EQ(vector("Cross", "[2, 3, 4]", "[5, 6, 7]"), (V{3 * 7 - 4 * 6, 4 * 5 - 2 * 7, 2 * 6 - 3 * 5}));
  const OutputValue scaled = one("Vector Math", R"({"Operation": "Scale", "A": [1, -2, 3], "Factor": -0.5})");
  EXPECT_EQ((V{scaled.v[0], scaled.v[1], scaled.v[2]}), (V{-0.5, 1, -1.5}));

  // Dot and Length give a scalar.
  const OutputValue dot = one("Vector Math", R"({"Operation": "Dot", "A": [1, 2, 3], "B": [4, -5, 6]})");
  EXPECT_EQ(dot.type, CONN_SCALAR);
  EXPECT_EQ(dot.v[0], 12);
  auto length = [&](const std::string &v) {
    const OutputValue l = one("Vector Math", R"({"Operation": "Length", "A": )" + v + "}");
    EXPECT_EQ(l.type, CONN_SCALAR);
    return l.v[0];
  };
  EXPECT_EQ(length("[3, -4, 12]"), 13);
  EXPECT_EQ(length("[0, 0, 0]"), 0);
  // Neither squaring overflows nor underflows.
  EXPECT_DOUBLE_EQ(length("[3e200, 4e200, 0]"), 5e200);
  EXPECT_DOUBLE_EQ(length("[3e-200, 4e-200, 0]"), 5e-200);

  EXPECT_EQ(vector("Normalize", "[0, 0, 0]"), (V{0, 0, 0}));
  const V n = vector("Normalize", "[0, -3, 4]");
  EXPECT_DOUBLE_EQ(n[1], -0.6);
  EXPECT_DOUBLE_EQ(n[2], 0.8);
  const V small = vector("Normalize", "[1e-310, 0, 1e-310]");
  EXPECT_DOUBLE_EQ(small[0], std::sqrt(0.5));
  EXPECT_DOUBLE_EQ(small[2], std::sqrt(0.5));
}

TEST_F(MathNodes, AVectorTakenApartAndMadeAgain) {
  hostsim::Surface &s = network(R"({"name": "make", "host": "Make Vector", "settings": {"X": 1.5, "Z": -2}},
                                   {"name": "apart", "host": "Vector Components"})",
                                R"({"from": "make", "output": "Vector", "to": "apart", "input": "Vector"})");
  EXPECT_EQ(valueOf(s, 1, "X").v[0], 1.5);
  EXPECT_EQ(valueOf(s, 1, "Y").v[0], 0);
  EXPECT_EQ(valueOf(s, 1, "Z").v[0], -2);
  feed(s, 0, "Y", kNaN);
  EXPECT_EQ(valueOf(s, 1, "Y").v[0], 0);
  // A colour goes in component by component, as the host converts it.
  hostsim::Surface &c = network(R"({"name": "apart", "host": "Vector Components"})");
  feed(c, 0, "Vector", 0.25, CONN_COLOR);
  EXPECT_EQ(valueOf(c, 0, "Z").v[0], 0.25);
}

// An object at (1, 2, 3), turned 90 degrees by heading and scaled by 2: its
// own (0, 0, 1) is scaled to (0, 0, 2), turned to (2, 0, 0) and moved to
// (3, 2, 3).
constexpr const char *kTurnedBox =
    R"({"name": "turned", "type": "box", "surface": "S", "position": [1, 2, 3], "rotation": [90, 0, 0], "scale": 2})";

TEST_F(MathNodes, ObjectSpaceUndoesTheNamedObjectsTransform) {
  hostsim::Surface &s =
      network(R"({"name": "o", "host": "Object Space", "settings": {"Object": "turned", "Position": [3, 2, 3]}})", "",
              kTurnedBox);
  const OutputValue v = valueOf(s, 0, "Position");
  EXPECT_NEAR(v.v[0], 0, 1e-12);
  EXPECT_NEAR(v.v[1], 0, 1e-12);
  EXPECT_NEAR(v.v[2], 1, 1e-12);
  // The object may come after the network that names it.
  EXPECT_EQ(errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [
      {"name": "o", "host": "Object Space", "settings": {"Object": "turned"}}]}}], "objects": [)" +
                    std::string(kTurnedBox) + "]}"),
            "(no error)");
}

// Without a named object, the node takes the object being shaded: a render
// of a point off every hit (the hit moved along its normal), so taken, gives
// the picture that naming the object gives.
TEST_F(MathNodes, ObjectSpaceOfTheShadedObjectMatchesNamingIt) {
  auto picture = [&](const std::string &settings) {
    load(R"({"image": {"width": 32, "height": 24}, "camera": {"position": [2.5, 3.5, 0], "target": [1, 2, 3]},
      "surfaces": [{"name": "S", "luminosity": 1, "diffuse": 0, "network": {"nodes": [
        {"name": "spot", "host": "Spot Info"},
        {"name": "off", "host": "Vector Math", "settings": {"Operation": "Add"}},
        {"name": "own", "host": "Object Space", "settings": )" +
         settings + R"(}],
       "connections": [{"from": "spot", "output": "Position", "to": "off", "input": "A"},
                       {"from": "spot", "output": "Normal", "to": "off", "input": "B"},
                       {"from": "off", "output": "Result", "to": "own", "input": "Position"},
                       {"from": "own", "output": "Position", "to": "Surface", "input": "Color"}]}}],
      "objects": [)" +
         std::string(kTurnedBox) + "]}");
    hostsim::FrameBuffer fb;
    render().render(hostsim::RenderOptions{}, [&](int, const hostsim::FrameBuffer &f) { fb = f; });
    return fb;
  };
  const hostsim::FrameBuffer shaded = picture("{}");
  const hostsim::FrameBuffer named = picture(R"({"Object": "turned"})");
  ASSERT_EQ(shaded.rgb.size(), named.rgb.size());
  int hits = 0;
  for (std::size_t i = 0; i < shaded.rgb.size(); ++i) {
    EXPECT_NEAR(shaded.rgb[i], named.rgb[i], 1e-5) << i;
  }
  for (std::size_t i = 0; i < named.rgb.size(); i += 3) hits += named.rgb[i] + named.rgb[i + 1] + named.rgb[i + 2] > 0;
  EXPECT_GT(hits, 100); // the box fills much of the picture, in colours of its own corners
}

TEST_F(MathNodes, MistakesAreNamedWithWhatWasMeant) {
  auto node = [&](const std::string &json, const std::string &objects = "") {
    return errorOf(R"({"surfaces": [{"name": "S", "network": {"nodes": [)" + json + R"(]}}], "objects": [)" + objects +
                   "]}");
  };
  EXPECT_EQ(node(R"({"name": "m", "host": "Scalar Math", "settings": {"Operation": "Modul"}})"),
            "surfaces[0].network.nodes[0].settings.Operation: no Operation \"Modul\" (did you mean \"Modulo\"?)");
  EXPECT_EQ(node(R"({"name": "m", "host": "Vector Math", "settings": {"Factr": 2}})"),
            "surfaces[0].network.nodes[0].settings.Factr: this node has no setting \"Factr\" (did you mean \"A\" or "
            "\"Factor\"?)");
  EXPECT_EQ(node(R"({"name": "m", "host": "Vector Math", "settings": {"A": 2}})"),
            "surfaces[0].network.nodes[0].settings.A: should be three numbers");
  EXPECT_EQ(node(R"({"name": "m", "host": "Scalar Math", "value": 2})"),
            "surfaces[0].network.nodes[0]: a math node takes \"settings\", not \"value\"");
  EXPECT_EQ(node(R"({"name": "m", "host": "Spot Info", "settings": {}})"),
            "surfaces[0].network.nodes[0]: a \"Spot Info\" node has no settings");
  EXPECT_EQ(node(R"({"name": "m", "host": "Vector Maths"})"),
            "surfaces[0].network.nodes[0].host: unknown host node \"Vector Maths\" (did you mean \"Vector\" or "
            "\"Vector Math\"?)");
  EXPECT_EQ(node(R"({"name": "o", "host": "Object Space", "settings": {"Object": "turnd"}})", kTurnedBox),
            "surfaces[0].network.nodes[0].settings.Object: no object \"turnd\" (did you mean \"turned\"?)");
  EXPECT_EQ(node(R"({"name": "o", "host": "Object Space", "settings": {"Object": "turned"}})",
                 std::string(kTurnedBox) + "," + kTurnedBox),
            "surfaces[0].network.nodes[0].settings.Object: more than one object is named \"turned\"");
}

// Luminance of the picture's pixel.
double luma(const hostsim::FrameBuffer &fb, int x, int y) {
  const float *p = fb.pixel(x, y);
  return 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
}

// The frosted-pane example as a user writes it: a wall striped in world
// space (Spot Info's Position, scaled, its X choosing Pixel Image's column)
// behind a pane of Gaussian Refractions. Through the pane the blur reaches
// the stripes: their edges soften, and nothing else changes.
TEST_F(MathNodes, FrostedGlassBlursStripesPlacedInWorldSpace) {
  const std::filesystem::path file = std::filesystem::path(JUXS_SOURCE_DIR) / "examples" / "frosted_pane.json";
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  auto doc = hostsim::parseJson(text.str());
  auto &frost = doc["surfaces"][2]["network"]["nodes"][0];
  ASSERT_EQ(frost["server"], "Jux Gaussian Refractions");
  ASSERT_GT(frost["settings"]["Refraction Blur"].get<double>(), 0);

  auto picture = [&](double blur) {
    frost["settings"]["Refraction Blur"] = blur;
    scene = hostsim::parseScene(host, *module, doc.dump(), file.string());
    hostsim::FrameBuffer fb;
    render().render(hostsim::RenderOptions{}, [&](int, const hostsim::FrameBuffer &f) { fb = f; });
    return fb;
  };
  const hostsim::FrameBuffer sharp = picture(0), blurred = picture(12);
  const int w = sharp.width, h = sharp.height;

  // Where the pane is: the pixels whose camera ray first hits its box.
  const hostsim::Object &glass = scene->objects[2];
  ASSERT_EQ(glass.name, "pane");
  std::vector<bool> pane(static_cast<std::size_t>(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double o[3], d[3];
      renderer->cameraRay(x, y, 0, 1, o, d);
      hostsim::Renderer::Hit hit;
      if (!renderer->intersect(o, d, hit)) continue;
      bool in = true;
      for (int c = 0; c < 3; ++c) {
        const double p = o[c] + hit.t * d[c], half = doc["objects"][2]["size"][c].get<double>() / 2 + 1e-6;
        in = in && std::fabs(p - glass.transform.position[c]) <= half;
      }
      pane[static_cast<std::size_t>(y * w + x)] = in;
    }

  // The stripes run up and down: averaged down each column of the pane, well
  // inside it, the noise of sampling goes and each picture's profile across
  // the stripes stays.
  std::vector<double> sharpProfile, blurredProfile;
  for (int x = 3; x + 3 < w; ++x) {
    double a = 0, b = 0;
    int rows = 0;
    for (int y = 3; y + 3 < h; ++y) {
      bool inside = true;
      for (int d = -3; d <= 3 && inside; ++d)
        inside = pane[static_cast<std::size_t>(y * w + x + d)] && pane[static_cast<std::size_t>((y + d) * w + x)];
      if (!inside) continue;
      a += luma(sharp, x, y);
      b += luma(blurred, x, y);
      ++rows;
    }
    if (rows < 20) continue;
    sharpProfile.push_back(a / rows);
    blurredProfile.push_back(b / rows);
  }
  ASSERT_GT(sharpProfile.size(), 40u) << "the pane covers too little of the picture";
  const auto [lo, hi] = std::minmax_element(sharpProfile.begin(), sharpProfile.end());
  const double range = *hi - *lo;
  // Seen sharp, the stripes show through the pane at full contrast.
  ASSERT_GT(range, 0.3);
  // Frosted, the edges are soft: no step from column to column as steep as
  // the sharp picture's, and several times as many columns between the
  // stripes' two tones...
  auto steepest = [](const std::vector<double> &p) {
    double most = 0;
    for (std::size_t i = 1; i < p.size(); ++i) most = std::max(most, std::fabs(p[i] - p[i - 1]));
    return most;
  };
  auto between = [&](const std::vector<double> &p) {
    return std::count_if(p.begin(), p.end(), [&](double v) { return v > *lo + 0.1 * range && v < *hi - 0.1 * range; });
  };
  std::ostringstream profiles;
  for (std::size_t i = 0; i < sharpProfile.size(); ++i) profiles << sharpProfile[i] << "/" << blurredProfile[i] << " ";
  EXPECT_LT(steepest(blurredProfile), steepest(sharpProfile) * 0.5) << profiles.str();
  EXPECT_GT(between(blurredProfile), between(sharpProfile) * 3) << profiles.str();
  // ...while the stripes still show through, and the glass passes as much light.
  const auto [blo, bhi] = std::minmax_element(blurredProfile.begin(), blurredProfile.end());
  EXPECT_GT(*bhi - *blo, range * 0.8) << profiles.str();
  const double meanSharp = std::accumulate(sharpProfile.begin(), sharpProfile.end(), 0.0) / sharpProfile.size();
  const double meanBlurred = std::accumulate(blurredProfile.begin(), blurredProfile.end(), 0.0) / blurredProfile.size();
  EXPECT_NEAR(meanBlurred, meanSharp, 0.1 * meanSharp);

  // Outside the pane the two pictures are the same: only the glass blurs.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool near = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int px = x + dx, py = y + dy;
          near = near || (px >= 0 && py >= 0 && px < w && py < h && pane[static_cast<std::size_t>(py * w + px)]);
        }
      if (near) continue;
      for (int c = 0; c < 3; ++c) ASSERT_EQ(sharp.pixel(x, y)[c], blurred.pixel(x, y)[c]) << x << "," << y;
    }
}

} // namespace
