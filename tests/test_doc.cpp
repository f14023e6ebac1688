// The node reference: description files, the panel drawn from the model the
// host read out of the hint arrays, and the site writer's refusals.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostsim/doc/panel_svg.h"
#include "hostsim/doc/site.h"
#include "hostsim/doc/site_parts.h"
#include "tests/support/host_fixture.h"
#include "tests/support/thrown.h"

namespace fs = std::filesystem;
using hostsim::doc::Description;
using hostsim::doc::parseDescription;
using hostsim::doc::panelSvg;
using testsupport::thrownBy;

namespace {

// The labels of the SVG's controls, in drawing order.
std::vector<std::string> labelsOf(const std::string &svg) {
  std::vector<std::string> labels;
  const std::string open = "<text class=\"xp-label\"";
  for (std::size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + open.size())) {
    const std::size_t start = svg.find('>', at) + 1, end = svg.find('<', start);
    if (start == 0 || end == std::string::npos || svg.compare(end, 7, "</text>") != 0) continue;
    labels.push_back(svg.substr(start, end - start));
  }
  return labels;
}

// The drawing of the control with this id: its group in the SVG.
std::string controlGroup(const std::string &svg, uint32_t id) {
  const std::string open = "data-id=\"" + std::to_string(id) + "\"";
  const std::size_t at = svg.find(open);
  if (at == std::string::npos) return "";
  const std::size_t start = svg.rfind("<g ", at), end = svg.find("</g>", at);
  return svg.substr(start, end - start);
}

} // namespace

TEST(DocDescription, ReadsServerParagraphsAndPreviewBlock) {
  Description d;
  ASSERT_EQ(thrownBy([&] {
              d = parseDescription("a.md", "# Jux Sqrt\n\nFirst line\nof one paragraph.\n\nA second.\r\n\n```json\n"
                                           "{\"network\": {}}\n```\n");
            }),
            "(no error)");
  EXPECT_EQ(d.server, "Jux Sqrt");
  ASSERT_EQ(d.paragraphs.size(), 2u);
  EXPECT_EQ(d.paragraphs[0], "First line of one paragraph.");
  EXPECT_EQ(d.paragraphs[1], "A second.");
  EXPECT_EQ(d.previewJson, "{\"network\": {}}\n");
}

TEST(DocDescription, ReadsNotesOnSettingsOneALine) {
  Description d;
  ASSERT_EQ(thrownBy([&] {
              d = parseDescription("a.md", "# Jux AO\n\nText.\n- Max: the reach: in metres.\n- 0x8012: a factor.\n\n"
                                           "More text.\n```json\n{}\n```\n");
            }),
            "(no error)");
  ASSERT_EQ(d.notes.size(), 2u);
  EXPECT_EQ(d.notes[0].control, "Max");
  EXPECT_EQ(d.notes[0].text, "the reach: in metres.");
  EXPECT_EQ(d.notes[0].line, 4);
  EXPECT_EQ(d.notes[1].control, "0x8012");
  EXPECT_EQ(d.paragraphs, (std::vector<std::string>{"Text.", "More text."}));
  const std::string error = thrownBy([&] { parseDescription("a.md", "# Jux AO\n\nText.\n- Max without a colon\n"); });
  EXPECT_EQ(error.rfind("a.md:4: a note is", 0), 0u) << error;
}

TEST(DocDescription, RefusesWhatItCannotUse) {
  // Each refusal throws, its message naming the fault.
  auto refusal = [](const std::string &text) { return thrownBy([&] { parseDescription("a.md", text); }); };
  std::string error = refusal("Sqrt\n\ntext\n```json\n{}\n```\n");
  EXPECT_NE(error.find("a.md:1:"), std::string::npos) << error;
  error = refusal("# Jux Sqrt\n\n```json\n{}\n```\n");
  EXPECT_NE(error.find("no description"), std::string::npos) << error;
  error = refusal("# Jux Sqrt\n\ntext\n");
  EXPECT_NE(error.find("no ```json"), std::string::npos) << error;
  error = refusal("# Jux Sqrt\n\ntext\n```json\n{}\n");
  EXPECT_NE(error.find("not closed"), std::string::npos) << error;
  error = refusal("# Jux Sqrt\n\ntext\n```json\n{}\n```\n```json\n{}\n```\n");
  EXPECT_NE(error.find("second preview block"), std::string::npos) << error;
}

TEST(DocText, EscapesAndEstimatesWidths) {
  EXPECT_EQ(hostsim::doc::escape("a<b & \"c\">"), "a&lt;b &amp; &quot;c&quot;&gt;");
  // Wider letters measure wider; the estimate grows with the size.
  EXPECT_GT(hostsim::doc::textWidth("MMMM", 12), hostsim::doc::textWidth("iiii", 12));
  EXPECT_DOUBLE_EQ(hostsim::doc::textWidth("Cone Angle", 24), 2 * hostsim::doc::textWidth("Cone Angle", 12));
  // UTF-8 continuation bytes are not letters of their own.
  EXPECT_DOUBLE_EQ(hostsim::doc::textWidth("90.0\u00B0", 12), hostsim::doc::textWidth("90.0x", 12));
}

class DocPanel : public testsupport::HostFixture {};

TEST_F(DocPanel, DrawsEveryControlInPanelOrderWithItsValue) {
  hostsim::HostNode *n = add("Jux Pixel Image");
  hostsim::Panel *p = openPanel(n);
  ASSERT_TRUE(p);
  const std::string svg = panelSvg(host.panels(), *p, {"Pixel Image (1)", "thumb.png", ""});
  std::vector<std::string> expected;
  for (const auto &c : p->controls)
    if (!c.label.empty()) expected.push_back(c.label);
  EXPECT_EQ(labelsOf(svg), expected);
  // The thumbnail's picture at the size its configuration asks for.
  const auto [w, h] = hostsim::XPanelService::thumbnailSize(p->controls.front());
  EXPECT_NE(svg.find("<image href=\"thumb.png\""), std::string::npos);
  EXPECT_NE(svg.find("width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) + "\""), std::string::npos);
  // Popups show their current item; an edit shows at once.
  EXPECT_NE(controlGroup(svg, control(p, "U Tiling").id).find(">Reset<"), std::string::npos);
  EXPECT_NE(controlGroup(svg, control(p, "U Tiling").id).find("<title>Reset\nRepeat\nMirror\nEdge</title>"),
            std::string::npos);
  ASSERT_NO_THROW(host.panels().editInteger(*p, control(p, "U Tiling"), 2));
  const std::string after = panelSvg(host.panels(), *p, {"Pixel Image (1)", "", ""});
  EXPECT_NE(controlGroup(after, control(p, "U Tiling").id).find(">Mirror<"), std::string::npos);
  EXPECT_EQ(after.find("<image "), std::string::npos); // no picture given, none drawn
}

TEST_F(DocPanel, SwappedLabelsChangeTheDrawing) {
  hostsim::HostNode *n = add("Jux Ambient Occlusion");
  hostsim::Panel *p = openPanel(n);
  ASSERT_TRUE(p);
  const std::string before = panelSvg(host.panels(), *p, {"AO", "", ""});
  std::swap(control(p, "Max").label, control(p, "Shift").label);
  const std::string after = panelSvg(host.panels(), *p, {"AO", "", ""});
  EXPECT_NE(before, after);
  const auto a = labelsOf(before), b = labelsOf(after);
  const auto at = std::find(a.begin(), a.end(), "Max") - a.begin();
  ASSERT_LT(at + 1, static_cast<long>(b.size()));
  EXPECT_EQ(b[at], "Shift");
  EXPECT_EQ(b[at + 1], "Max");
}

TEST_F(DocPanel, GreysWhatTheEnableRulesTurnOff) {
  hostsim::HostNode *n = add("Jux Ambient Occlusion");
  hostsim::Panel *p = openPanel(n);
  ASSERT_TRUE(p);
  const uint32_t low = control(p, "Low").id;
  std::string svg = panelSvg(host.panels(), *p, {"AO", "", ""});
  EXPECT_NE(controlGroup(svg, low).find("xp-off"), std::string::npos);
  EXPECT_EQ(controlGroup(svg, control(p, "Max").id).find("xp-off"), std::string::npos);
  // The first "Clamp" switches "Low" on.
  hostsim::PanelControl *clamp = nullptr;
  for (auto &c : p->controls)
    if (c.label == "Clamp") {
      clamp = &c;
      break;
    }
  ASSERT_TRUE(clamp);
  ASSERT_NO_THROW(host.panels().editInteger(*p, *clamp, 1));
  svg = panelSvg(host.panels(), *p, {"AO", "", ""});
  EXPECT_EQ(controlGroup(svg, low).find("xp-off"), std::string::npos);
}

TEST_F(DocPanel, TabsHideAllButTheFirstPageAndStacksShowTheCurrentOne) {
  hostsim::HostNode *n = add("Jux Ambient Occlusion");
  hostsim::Panel *p = openPanel(n);
  ASSERT_TRUE(p);
  std::string svg = panelSvg(host.panels(), *p, {"AO", "", ""});
  // One tab per group of the tab set, named by the group's label.
  int tabs = 0;
  for (const auto &l : p->layout)
    if (l.kind == XPTAG_TABS)
      for (uint32_t m : l.members) {
        ++tabs;
        // Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + string&&.
        const std::string tab = std::string(">").append(hostsim::doc::escape(p->layoutItem(m)->label)).append("</text>");
        EXPECT_NE(svg.find(tab), std::string::npos);
      }
  ASSERT_EQ(tabs, 2);
  EXPECT_NE(svg.find("class=\"xp-page\" data-tabs=\"t0\" data-page=\"0\">"), std::string::npos);
  EXPECT_NE(svg.find("class=\"xp-page\" data-tabs=\"t0\" data-page=\"1\" style=\"display:none\">"), std::string::npos);
  // The stack under "Mode" shows the page of the current item only.
  const uint32_t samples = control(p, "Samples").id, polar = control(p, "Polar Samples 1").id;
  EXPECT_FALSE(controlGroup(svg, samples).empty());
  EXPECT_TRUE(controlGroup(svg, polar).empty());
  ASSERT_NO_THROW(host.panels().editInteger(*p, control(p, "Mode"), 1));
  svg = panelSvg(host.panels(), *p, {"AO", "", ""});
  EXPECT_TRUE(controlGroup(svg, samples).empty());
  EXPECT_FALSE(controlGroup(svg, polar).empty());
}

TEST_F(DocPanel, ShowsValuesInPanelUnits) {
  hostsim::HostNode *n = add("Jux Ambient Occlusion");
  hostsim::Panel *p = openPanel(n);
  ASSERT_TRUE(p);
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Cone Angle")), "90\u00B0");
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Max")), "5 m");
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Ranged")), "on");
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Mode")), "Random");
}

// The page and hostsim panel print the same numbers: a default colour kept as
// 0.78431 is 200 in both, and a distance carries its unit in both.
TEST_F(DocPanel, PageAndListingPrintTheSameNumbers) {
  hostsim::HostNode *g = add("Jux Gaussian Reflections");
  hostsim::Panel *p = openPanel(g);
  ASSERT_TRUE(p);
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Color")), "200 200 200");
  EXPECT_NE(host.panels().describe(*p, "G").find("color-env = 200 200 200"), std::string::npos);
  ASSERT_NO_THROW(host.panels().editInteger(*p, control(p, "Tint Reflections"), 1));
  ASSERT_NO_THROW(host.panels().editValues(*p, control(p, "Color"), {127.5, 255, 0}));
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Color")), "127.5 255 0");
  EXPECT_NE(host.panels().describe(*p, "G").find("color-env = 127.5 255 0"), std::string::npos);
  hostsim::HostNode *a = add("Jux Ambient Occlusion");
  p = openPanel(a);
  ASSERT_TRUE(p);
  const std::string listing = host.panels().describe(*p, "AO");
  EXPECT_NE(listing.find("distance-env = 5 m  min 0 m"), std::string::npos) << listing;
  EXPECT_NE(listing.find("\"Offset\" [0x800e] distance-env = 0 m"), std::string::npos) << listing;
}

// The site writer refuses a module node without a description, and a
// description of a node the module does not have, before it renders anything.
TEST(DocSite, EveryNodeHasOneDescriptionAndEveryDescriptionANode) {
  const fs::path root = fs::path(JUXS_TEST_WORK) / "doc_site_refusals";
  fs::remove_all(root);
  fs::create_directories(root / "nodes");
  auto write = [&](const std::string &rel, const std::string &text) {
    fs::create_directories((root / rel).parent_path());
    std::ofstream(root / rel) << text;
  };
  hostsim::doc::SiteOptions o;
  o.module = JUXS_MODULE_PATH;
  o.out = (root / "site").string();
  o.sourceDir = root.string();
  o.hostsim = HOSTSIM_PATH;
  auto refusal = [&] { return thrownBy([&] { hostsim::doc::writeSite(o); }); };
  std::string error = refusal();
  EXPECT_NE(error.find("has no description"), std::string::npos) << error;

  // Every real description, plus one of a node the module lacks.
  for (const auto &e : fs::recursive_directory_iterator(fs::path(JUXS_SOURCE_DIR) / "nodes"))
    if (e.path().extension() == ".md")
      fs::copy_file(e.path(), root / "nodes" / e.path().filename(), fs::copy_options::overwrite_existing);
  write("nodes/extra.md", "# Jux Nothing\n\nNo such node.\n\n```json\n{}\n```\n");
  error = refusal();
  EXPECT_NE(error.find("no node server \"Jux Nothing\""), std::string::npos) << error;
  fs::remove(root / "nodes/extra.md");

  write("nodes/twice.md", "# Jux Sqrt\n\nAgain.\n\n```json\n{}\n```\n");
  error = refusal();
  EXPECT_NE(error.find("described in"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(o.out)) << "nothing is written before the descriptions check out";
}

// A faulty preview block ends in one Error naming the description (and the
// line, where the JSON itself is broken), whatever the fault: never the JSON
// library's own exception, never a file written outside the site's folder.
TEST(DocSite, RefusesFaultyPreviewBlocksNamingTheDescription) {
  const fs::path root = fs::path(JUXS_TEST_WORK) / "doc_site_previews";
  fs::remove_all(root);
  fs::create_directories(root / "nodes");
  fs::create_directories(root / "examples");
  fs::copy(fs::path(JUXS_SOURCE_DIR) / "examples" / "images", root / "examples" / "images");
  for (const auto &e : fs::recursive_directory_iterator(fs::path(JUXS_SOURCE_DIR) / "nodes"))
    if (e.path().extension() == ".md") fs::copy_file(e.path(), root / "nodes" / e.path().filename());
  hostsim::doc::SiteOptions o;
  o.module = JUXS_MODULE_PATH;
  o.out = (root / "site").string();
  o.sourceDir = root.string();
  o.hostsim = HOSTSIM_PATH;
  // The module's first node, so that a fault found only when its scene is
  // built is met before any other node is rendered.
  const std::string file = "nodes/ambient_occlusion.md";
  const std::string notes = "- Max: m.\n- Offset: m.\n- Brightness: %.\n";
  auto refusal = [&](const std::string &block, const std::string &lines = "") {
    std::ofstream(root / file) << "# Jux Ambient Occlusion\n\nText.\n" << (lines.empty() ? notes : lines) << "\n```json\n"
                               << block << "\n```\n";
    return thrownBy([&] { hostsim::doc::writeSite(o); });
  };
  const std::string node = R"({"name": "ao", "server": "Jux Ambient Occlusion"})";
  // The real description's probes, so that the node's facts measure and the
  // fault under test is the one met.
  std::ifstream real(fs::path(JUXS_SOURCE_DIR) / "nodes/raytrace/ambient_occlusion.md");
  const std::string facts = nlohmann::ordered_json::parse(
      parseDescription("ao.md", std::string(std::istreambuf_iterator<char>(real), {})).previewJson)["facts"].dump();
  const std::string net = R"("facts": )" + facts + R"(, "network": {"nodes": [)" + node + "]}";
  const struct {
    std::string block, expected;
    bool beforeWriting; // found before the site's folder is made
  } cases[] = {
      {"{\n  \"network\": {\"nodes\": [],}\n}", file + ":10: preview block: syntax error", true},
      {R"({"network": {"nodes": []}, "x": 1e999})", file + ": preview block: number overflow", true},
      {"[1, 2]", file + ": preview block: should be a JSON object", true},
      {"{}", file + ": preview block: no \"network\"", true},
      {"{" + net + R"(, "colour": 1})", file + ": preview block: colour: unknown key", true},
      {R"({"network": {"nodes": 3}})", file + ": preview block: network.nodes: should be a list", true},
      {R"({"network": {"nodes": [3]}})", file + ": preview block: network.nodes[0]: should be an object", true},
      {R"({"network": {"nodes": [{"name": 1}]}})", file + ": preview block: network.nodes[0].name: should be a string",
       true},
      {R"({"network": {"nodes": [{"name": "ao", "settings": 1}]}, "variations": [{"Samples": 4}]})",
       file + ": preview block: network.nodes[0].settings: should be an object", true},
      {"{" + net + R"(, "vary": 5})", file + ": preview block: vary: should be", true},
      {"{" + net + R"(, "variations": {"Samples": 4}})", file + ": preview block: variations: should be a list", true},
      {"{" + net + R"(, "variations": [5]})", file + ": preview block: variations[0]: should be an object", true},
      {"{" + net + R"(, "images": [1]})", file + ": preview block: images: should be a list", true},
      {"{" + net + R"(, "images": ["none.png"]})", file + ": preview block: images: no example picture \"none.png\"",
       true},
      {"{" + net + R"(, "images": ["../../escape.png"]})", file + ": preview block: images: \"../../escape.png\" is not",
       true},
      {"{" + net + R"(, "panel": 5})", file + ": preview block: panel: should be an object", true},
      {"{" + net + R"(, "wall": 1})", file + ": preview block: wall: should be true or false", true},
      {R"({"facts": 5, "network": {"nodes": []}})", file + ": preview block: facts: should be an object", true},
      {R"({"facts": {"probes": [{"settings": 1}]}, "network": {"nodes": []}})",
       file + ": preview block: facts.probes[0].settings: should be an object", true},
      {R"({"facts": {"probes": [{"feed": "In"}]}, "network": {"nodes": []}})",
       file + ": preview block: facts.probes[0].feed: should be a list of input names", true},
      {R"({"facts": {"probes": [{"settings": {"Nope": 1}}]}, "network": {"nodes": []}})",
       file + ": facts.probes[0].settings.Nope: no control \"Nope\"", false},
      {"{" + net + R"(, "modes": "count"})", file + ": preview block: modes: should be \"restart\"", true},
      {"{" + net + R"(, "panel": {"settings": {"Nope": 1}}})", file + ": panel.settings.Nope: no control \"Nope\"",
       false},
      {"{" + net + R"(, "vary": "other"})", file + ": preview: the preview network has no node \"other\"", false},
      {"{" + net + R"(, "variations": [{"Nope": 1}]})", file + ": preview (written as ", false},
      {R"({"facts": )" + facts + R"(, "network": {"nodes": [{"name": "x", "server": "Jux Sqrt"}]}})",
       file + ": preview: no node of \"Jux Ambient Occlusion\"", false},
  };
  for (const auto &c : cases) {
    fs::remove_all(o.out);
    const std::string error = refusal(c.block);
    EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.block << "\n  gave: " << error;
    if (c.beforeWriting) {
      EXPECT_FALSE(fs::exists(o.out)) << c.block;
    }
  }
  const std::string variation = refusal("{" + net + R"(, "variations": [{"Nope": 1}]})");
  EXPECT_NE(variation.find("settings.Nope: no control \"Nope\""), std::string::npos) << variation;
  EXPECT_FALSE(fs::exists(root / "escape.png"));
  // Every percentage and distance has a note on what it is measured against,
  // and every note names a setting.
  std::string error = refusal("{" + net + "}", "- Max: m.\n- Brightness: %.\n");
  EXPECT_EQ(error.rfind(file + ": no note on \"Offset\"", 0), 0u) << error;
  error = refusal("{" + net + "}", notes + "- Nope: a setting it lacks.\n");
  EXPECT_EQ(error.rfind(file + ":7: a note on \"Nope\"", 0), 0u) << error;
}

// ------------------------------------------------- facts measured by behaviour

namespace {

std::string readText(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

class DocFacts : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_NO_THROW(module = hostsim::Module::open(JUXS_MODULE_PATH)); }

  // A node's facts, measured with the probes its description gives (or
  // those of facts, when given).
  hostsim::doc::NodeFacts measured(const std::string &server, const std::string &description,
                                   const std::string &facts = "") {
    hostsim::doc::NodeFacts f;
    const hostsim::ServerInfo *s = module->find(LWNODE_HCLASS, server);
    EXPECT_TRUE(s);
    if (!s) return f;
    hostsim::doc::readFacts(*module, *s, f);
    f.description = parseDescription(description, readText(fs::path(JUXS_SOURCE_DIR) / description));
    const auto spec = nlohmann::ordered_json::parse(f.description.previewJson);
    hostsim::doc::SiteOptions o;
    o.sourceDir = JUXS_SOURCE_DIR;
    hostsim::doc::measureOverrides(*module, o, f,
                                   facts.empty() ? spec.value("facts", nlohmann::ordered_json::object())
                                                 : nlohmann::ordered_json::parse(facts));
    if (spec.contains("modes")) hostsim::doc::measureModes(*module, f, spec["modes"].get<std::string>());
    return f;
  }
  static const hostsim::doc::ControlFact &control(const hostsim::doc::NodeFacts &f, const std::string &label) {
    for (const auto &c : f.controls)
      if (c.label == label) return c;
    throw std::runtime_error("no control " + label);
  }

  std::unique_ptr<hostsim::Module> module;
};

// The Gaussian nodes' Samples control keeps showing its value while the
// Samples input is connected, yet the input decides how many rays go out.
TEST_F(DocFacts, AnInputOverridesTheSettingWhoseWorkItDoes) {
  for (const auto &[server, file] : {std::pair<std::string, std::string>{"Jux Gaussian Reflections",
                                                                        "nodes/raytrace/gaussian_reflections.md"},
                                     {"Jux Gaussian Refractions", "nodes/raytrace/gaussian_refractions.md"}}) {
    const hostsim::doc::NodeFacts f = measured(server, file);
    EXPECT_EQ(control(f, "Samples").overriddenBy, "Samples") << server;
    EXPECT_EQ(control(f, "Blur Depth").overriddenBy, "Blur Depth") << server;
    EXPECT_EQ(control(f, "Image Seam Angle").overriddenBy, "Angle") << server;
    EXPECT_EQ(control(f, "Mode").overriddenBy, "") << server;
    EXPECT_EQ(control(f, "Image").overriddenBy, "") << server;
    EXPECT_EQ(f.inputs.back().name, "Normal");
    EXPECT_EQ(f.inputs.back().overrides, "") << server;
  }
  // Under "A Equal To B" alone, A connected at 0.5 does what B at 0.5 does;
  // the other probes tell them apart.
  const hostsim::doc::NodeFacts counter = measured("Jux Counter", "nodes/value/counter.md");
  EXPECT_EQ(control(counter, "A").overriddenBy, "A");
  EXPECT_EQ(control(counter, "B").overriddenBy, "B");
  EXPECT_EQ(control(counter, "Mode").overriddenBy, "Mode");
  const hostsim::doc::NodeFacts hold = measured("Jux Hold Value", "nodes/value/hold_value.md");
  EXPECT_EQ(control(hold, "Input").overriddenBy, "In");
  EXPECT_EQ(control(hold, "A").overriddenBy, "A");
}

// A setting that no probe lets show cannot be measured: the site stops and
// says which, rather than print that no input overrides it.
TEST_F(DocFacts, ASettingNoProbeShowsStopsTheSite) {
  const std::string error =
      thrownBy([&] {
        measured("Jux Ambient Occlusion", "nodes/raytrace/ambient_occlusion.md",
                 R"({"probes": [{}, {"settings": {"Mode": "Polar"}}]})");
      });
  // Low is disabled until its Clamp is on.
  EXPECT_NE(error.find("\"Low\" (0x800b) is disabled, or changing it changes nothing"), std::string::npos) << error;
  const std::string feed = thrownBy([&] {
    measured("Jux Hold Value", "nodes/value/hold_value.md", R"({"probes": [{"feed": ["Nope"]}]})");
  });
  EXPECT_NE(feed.find("facts.probes[0].feed: \"Jux Hold Value\" has no input \"Nope\""), std::string::npos) << feed;
}

// Counter's "A Does Change" starts over while A stays the same; Hold Value's
// holds while A changes. The page says so, from evaluation.
TEST_F(DocFacts, ModesAreWordedByWhatTheNodeDoes) {
  const hostsim::doc::NodeFacts counter = measured("Jux Counter", "nodes/value/counter.md");
  ASSERT_EQ(counter.modes.size(), 13u);
  EXPECT_EQ(counter.modes[0].when, "the count equals A");
  EXPECT_EQ(counter.modes[2].when, "the count is less than A");
  EXPECT_EQ(counter.modes[5].item, "A Does Change");
  EXPECT_EQ(counter.modes[5].when, "A has not changed since the thread's previous evaluation");
  EXPECT_EQ(counter.modes[6].when, "A has changed since the thread's previous evaluation");
  EXPECT_EQ(counter.modes[12].when, "A is less than or equal to B");
  EXPECT_NE(counter.modesNote.find("first evaluation in a render gives Start Value"), std::string::npos);
  const hostsim::doc::NodeFacts hold = measured("Jux Hold Value", "nodes/value/hold_value.md");
  ASSERT_EQ(hold.modes.size(), 8u);
  EXPECT_EQ(hold.modes[0].when, "A has changed since the thread's previous evaluation");
  EXPECT_EQ(hold.modes[1].when, "A has not changed since the thread's previous evaluation");
  EXPECT_EQ(hold.modes[3].when, "A differs from B");
  EXPECT_EQ(hold.modesHeading, "The value is held (In is not taken) when");
}

// The site as hostsim doc writes it, once for the suite.
class DocSiteWritten : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    root() = fs::path(JUXS_TEST_WORK) / "doc_site_written";
    fs::remove_all(root());
    hostsim::doc::SiteOptions o;
    o.module = JUXS_MODULE_PATH;
    o.out = (root() / "site").string();
    o.sourceDir = JUXS_SOURCE_DIR;
    o.hostsim = HOSTSIM_PATH;
    error() = thrownBy([&] { hostsim::doc::writeSite(o); });
  }
  static fs::path &root() {
    static fs::path r;
    return r;
  }
  static std::string &error() {
    static std::string e;
    return e;
  }
};

// A reader who renders a preview's scene file gets the page's picture, bit
// for bit, whatever the site writer rendered before it: the previews that
// draw random numbers above all.
TEST_F(DocSiteWritten, PreviewsRenderAgainFromTheirSceneFiles) {
  ASSERT_EQ(error(), "(no error)");
  const fs::path site = root() / "site";
  for (const char *stem : {"gaussian-reflections/preview-2", "gaussian-refractions/preview-3", "hold-value/preview",
                           "take-samples/preview-2", "random/preview-1"}) {
    const fs::path again = root() / (std::string(stem).replace(std::string(stem).find('/'), 1, "-") + ".png");
    const std::string command = std::string(HOSTSIM_PATH) + " render '" + (site / stem).string() + ".json' -o '" +
                                again.string() + "' --module '" + JUXS_MODULE_PATH + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string page = readText(site / (std::string(stem) + ".png")), reader = readText(again);
    EXPECT_FALSE(page.empty()) << stem;
    EXPECT_TRUE(page == reader) << stem << ": the page's picture differs from what its scene file renders";
  }
}

// Every page starts with how to build the node into a surface, and names
// what its percentages and distances are measured against.
TEST_F(DocSiteWritten, PagesStartWithTheSurfaceThatShowsTheNode) {
  ASSERT_EQ(error(), "(no error)");
  const std::string ao = readText(root() / "site" / "ambient-occlusion.html");
  const std::size_t use = ao.find("<h2>Use it</h2>"), panel = ao.find("<h2>Panel</h2>");
  ASSERT_NE(use, std::string::npos);
  EXPECT_LT(use, panel);
  EXPECT_NE(ao.find("Connect <code>occlusion</code>\u2019s Scalar to the surface\u2019s Luminosity."), std::string::npos);
  for (const char *note : {"<dt>Max</dt>", "<dt>Offset</dt>", "<dt>Brightness</dt>"})
    EXPECT_NE(ao.find(note), std::string::npos) << note;
  const std::string counter = readText(root() / "site" / "counter.html");
  EXPECT_NE(counter.find("<td data-label=\"Popup item\">\u201CA Does Change\u201D</td><td data-label=\"The count starts "
                         "over from Start Value when\">A has not changed since the thread's previous evaluation</td>"),
            std::string::npos);
}
