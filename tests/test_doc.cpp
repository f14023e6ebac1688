// The node reference: description files, the panel drawn from the model the
// host read out of the hint arrays, and the site writer's refusals.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostsim/doc/panel_svg.h"
#include "hostsim/doc/site.h"
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
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Cone Angle")), "90.0\u00B0");
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Max")), "5.0 m");
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Ranged")), "on");
  EXPECT_EQ(hostsim::doc::shownValue(host.panels(), *p, control(p, "Mode")), "Random");
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
  // The module's first node, so that a fault found only when its scene is
  // built is met before any other node is rendered.
  const std::string file = "nodes/ambient_occlusion.md";
  auto refusal = [&](const std::string &block) {
    std::ofstream(root / file) << "# Jux Ambient Occlusion\n\nText.\n\n```json\n" << block << "\n```\n";
    return thrownBy([&] { hostsim::doc::writeSite(o); });
  };
  const std::string node = R"({"name": "ao", "server": "Jux Ambient Occlusion"})";
  const std::string net = R"("network": {"nodes": [)" + node + "]}";
  const struct {
    std::string block, expected;
    bool beforeWriting; // found before the site's folder is made
  } cases[] = {
      {"{\n  \"network\": {\"nodes\": [],}\n}", file + ":7: preview block: syntax error", true},
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
      {"{" + net + R"(, "panel": {"settings": {"Nope": 1}}})", file + ": panel.settings.Nope: no control \"Nope\"",
       false},
      {"{" + net + R"(, "vary": "other"})", file + ": preview: the preview network has no node \"other\"", false},
      {"{" + net + R"(, "variations": [{"Nope": 1}]})", file + ": preview (written as ", false},
      {R"({"network": {"nodes": [{"name": "x", "server": "Jux Sqrt"}]}})",
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
}
