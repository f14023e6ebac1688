// Panels as the host opens, reads and edits them.
#include <cmath>

#include "tests/support/host_fixture.h"

using hostsim::HostNode;
using hostsim::Panel;

namespace {

class Panels : public testsupport::HostFixture {};

TEST_F(Panels, OnePanelPerInstanceAcrossActivations) {
  HostNode *n = add("Jux Sqrt");
  Panel *a = openPanel(n);
  Panel *b = openPanel(n);
  ASSERT_TRUE(a);
  EXPECT_EQ(a, b);
  EXPECT_EQ(host.panels().panels().size(), 1u);
  EXPECT_EQ(a->instance, n->instance);
  EXPECT_EQ(a->type, LWXP_VIEW);
  EXPECT_EQ(a->userData[0], n->instance);
}

TEST_F(Panels, ActivationChecksVersionAndServices) {
  HostNode *n = add("Jux Sqrt");
  const hostsim::ServerInfo *s = module->find(LWNODE_ICLASS, "Jux Sqrt");
  LWInterface local{n->instance, nullptr, nullptr, nullptr};
  EXPECT_EQ(module->activate(*s, 3, host.global(), &local), AFUNC_BADVERSION);
  EXPECT_EQ(local.panel, nullptr);
  host.withhold("Instance Update");
  EXPECT_EQ(module->activate(*s, 4, host.global(), &local), AFUNC_BADGLOBAL);
  host.provide("Instance Update");
  // A panel the host could not make is asked for again next time.
  host.panels().failNextCreates(1);
  int32_t rc = -1;
  EXPECT_EQ(openPanel(n, &rc), nullptr);
  EXPECT_EQ(rc, AFUNC_OK);
  EXPECT_NE(openPanel(n), nullptr);
}

TEST_F(Panels, DescribesControlsAndHints) {
  HostNode *n = add("Jux Random");
  Panel *p = openPanel(n);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->controls.size(), 2u);
  EXPECT_EQ(p->controls[0].id, 0x8001u);
  EXPECT_EQ(p->controls[0].label, "Min");
  EXPECT_EQ(p->controls[0].controlType, "float-env");
  EXPECT_EQ(p->controls[0].dataType, "float-env");
  EXPECT_EQ(p->controls[1].label, "Max");
  EXPECT_NE(p->notify, nullptr);
  EXPECT_NE(p->destroyNotify, nullptr);
  EXPECT_TRUE(p->unknown.empty());
  // Set accepts the node's own ids and refuses others.
  EXPECT_EQ(host.panels().callSet(*p, 0x8002, nullptr), 1);
  EXPECT_EQ(host.panels().callSet(*p, 0x8003, nullptr), 0);
  EXPECT_EQ(host.panels().callGet(*p, 0x8003), nullptr);
}

TEST_F(Panels, ConnectingAnInputHidesItsValueAndRefreshesAtOnce) {
  HostNode *n = add("Jux Sqrt");
  Panel *p = openPanel(n);
  hostsim::PanelControl &input = control(p, "Input");
  EXPECT_EQ(host.panels().value(*p, input).kind, hostsim::ControlValue::Param);
  const int before = p->refreshes;
  hostsim::OutputValue k;
  k.type = CONN_SCALAR;
  ASSERT_NO_THROW(net->connect(net->addConstant(k), "Value", n, "In"));
  EXPECT_EQ(p->refreshes, before + 1);
  EXPECT_EQ(host.panels().value(*p, input).kind, hostsim::ControlValue::None);
  EXPECT_NE(host.panels().describe(*p, "").find("(no value)"), std::string::npos);
  EXPECT_THROW(host.panels().editValues(*p, input, {2.0}), hostsim::Error);
  ASSERT_TRUE(net->disconnect(n, "In"));
  EXPECT_EQ(p->refreshes, before + 2);
  EXPECT_EQ(host.panels().value(*p, input).kind, hostsim::ControlValue::Param);
}

TEST_F(Panels, ChangeEventsOfKindOneAndTwo) {
  HostNode *n = add("Jux Sqrt");
  Panel *p = openPanel(n);
  host.panels().clearUpdates();
  host.panels().callNotify(*p, 0x8001, LWXPEVENT_TRACK);
  EXPECT_EQ(n->previewUpdates, 1);
  EXPECT_TRUE(host.panels().updates().empty());
  host.panels().callNotify(*p, 0x8001, LWXPEVENT_VALUE);
  EXPECT_EQ(n->previewUpdates, 1);
  ASSERT_EQ(host.panels().updates().size(), 1u);
  EXPECT_EQ(host.panels().updates()[0].first, "NodeHandler");
  EXPECT_EQ(host.panels().updates()[0].second, n->instance);
  host.panels().callNotify(*p, 0x8001, 7);
  EXPECT_EQ(n->previewUpdates, 1);
  EXPECT_EQ(host.panels().updates().size(), 1u);
}

TEST_F(Panels, InputEventOfKindTwoNeedsTheInterfaceActivation) {
  // A fresh module: no interface of this kind has been activated yet.
  std::unique_ptr<hostsim::Module> fresh;
  ASSERT_NO_THROW(fresh = hostsim::Module::open(JUXS_MODULE_PATH));
  hostsim::Network own(host, *fresh);
  HostNode *n = own.add("Jux Sqrt");
  const hostsim::OutputValue four{CONN_SCALAR, {4, 0, 0}, 0, true};
  HostNode *k = own.addConstant(four);
  host.panels().clearUpdates();
  ASSERT_NO_THROW(own.connect(k, "Value", n, "In"));
  own.remove(k); // event kind 2: the node feeding the input is gone
  EXPECT_TRUE(host.panels().updates().empty()) << "no Instance Update before it was obtained";

  HostNode *other = own.add("Jux Sqrt");
  LWInterface local{other->instance, nullptr, nullptr, nullptr};
  ASSERT_EQ(fresh->activate(*fresh->find(LWNODE_ICLASS, "Jux Sqrt"), 4, host.global(), &local), 0);
  k = own.addConstant(four);
  ASSERT_NO_THROW(own.connect(k, "Value", n, "In"));
  EXPECT_TRUE(host.panels().updates().empty()) << "connecting is event kind 0";
  ASSERT_TRUE(own.disconnect(n, "In"));
  EXPECT_TRUE(host.panels().updates().empty()) << "disconnecting is event kind 1";
  ASSERT_NO_THROW(own.connect(k, "Value", n, "In"));
  own.remove(k);
  ASSERT_EQ(host.panels().updates().size(), 1u) << "n never had a panel, yet the host hears of it";
  EXPECT_EQ(host.panels().updates()[0].second, n->instance);
}

TEST_F(Panels, EditsReachTheNodeInPanelUnits) {
  HostNode *n = add("Jux Sqrt");
  Panel *p = openPanel(n);
  hostsim::PanelControl &input = control(p, "Input");
  host.panels().clearUpdates();
  ASSERT_NO_THROW(host.panels().editValues(*p, input, {-9.0}));
  EXPECT_EQ(host.panels().updates().size(), 1u) << "a committed edit sends Instance Update";
  EXPECT_EQ(eval(n, "Out").scalar(), 1.0) << "cached until the next newTime";
  net->newTime(1, 0.0);
  EXPECT_EQ(eval(n, "Out").scalar(), 3.0);
  ASSERT_NO_THROW(host.panels().keyframe(*p, input, 0.0, {0.0}, hostsim::KeyShape::Linear));
  ASSERT_NO_THROW(host.panels().keyframe(*p, input, 1.0, {16.0}, hostsim::KeyShape::Linear));
  net->newTime(30, 1.0);
  EXPECT_EQ(eval(n, "Out").scalar(), 4.0);
  EXPECT_NE(host.panels().describe(*p, "").find("(animated)"), std::string::npos);
}

} // namespace

namespace {

using hostsim::XPanelService;

LWXPanelHint word(uintptr_t v) { return reinterpret_cast<LWXPanelHint>(v); }
LWXPanelHint ptr(const void *p) { return const_cast<void *>(p); }

std::vector<std::string> errorsOf(std::vector<LWXPanelHint> hints) {
  Panel p;
  XPanelService::readHints(p, hints.data());
  return p.hintErrors;
}

TEST(HintArrays, AreReadByTheShapeTheirTagsGive) {
  static const char *const kItems[] = {"One", "Two", nullptr};
  static const int32_t kMap[] = {0, 1};
  Panel p;
  std::vector<LWXPanelHint> h = {
      word(XPTAG_ADD), word(0x8001), ptr("iPopChoice"), word(0x8001),
      word(XPTAG_LABEL), word(0x8001), ptr("Mode"), word(0),
      word(XPTAG_STRLIST), word(0x8001), ptr(kItems), word(0),
      word(XPTAG_ADD), word(0x8002), ptr("integer"), word(0x8002),
      word(XPTAG_ENABLE), word(0x8001), word(0), word(0), ptr(kMap), word(0x8002), word(0),
      word(0x3D0FFF82), word(7), word(8), word(0x8001), word(0x8002), word(0), // a tag this host does not know
      word(XPTAG_GROUP), word(0x8003), word(0x8001), word(0x8002), word(0),
      word(XPTAG_LABEL), word(0x8003), ptr("Settings"), word(0),
      word(XPTAG_END)};
  XPanelService::readHints(p, h.data());
  EXPECT_TRUE(p.hintErrors.empty()) << p.hintErrors.front();
  ASSERT_EQ(p.controls.size(), 2u);
  EXPECT_EQ(p.controls[0].items, (std::vector<std::string>{"One", "Two"}));
  ASSERT_EQ(p.rules.size(), 1u);
  EXPECT_EQ(p.rules[0].dependants, std::vector<uint32_t>{0x8002});
  ASSERT_EQ(p.unknown.size(), 1u);
  EXPECT_EQ(p.unknown[0].args, (std::vector<intptr_t>{7, 8}));
  EXPECT_EQ(p.unknown[0].list, (std::vector<uint32_t>{0x8001, 0x8002}));
  ASSERT_EQ(p.layout.size(), 1u);
  EXPECT_EQ(p.layout[0].label, "Settings");
}

TEST(HintArrays, MalformedListsAreErrorsNotGuesses) {
  static const int32_t kMap[] = {1};
  // A word where a tag should be.
  EXPECT_FALSE(errorsOf({word(0x8001), word(0)}).empty());
  // A hint for a control that was never added.
  EXPECT_FALSE(errorsOf({word(XPTAG_MIN), word(0x8001), word(0), word(0)}).empty());
  // A placeholder that is not 0.
  EXPECT_FALSE(errorsOf({word(XPTAG_ADD), word(0x8001), ptr("integer"), word(0x8001), word(XPTAG_LABEL), word(0x8001),
                         ptr("A"), word(5), word(0)})
                   .empty());
  // A value map indexed by something that is not a popup.
  EXPECT_FALSE(errorsOf({word(XPTAG_ADD), word(0x8001), ptr("integer"), word(0x8001), word(XPTAG_ADD), word(0x8002),
                         ptr("integer"), word(0x8002), word(XPTAG_ENABLE), word(0x8001), word(0), word(0), ptr(kMap),
                         word(0x8002), word(0), word(0)})
                   .empty());
  // A group of unknown members, a label for nothing, a control added twice.
  EXPECT_FALSE(errorsOf({word(XPTAG_GROUP), word(0x8009), word(0x8001), word(0), word(0)}).empty());
  EXPECT_FALSE(errorsOf({word(XPTAG_LABEL), word(0x8001), ptr("A"), word(0), word(0)}).empty());
  EXPECT_FALSE(errorsOf({word(XPTAG_ADD), word(0x8001), ptr("integer"), word(0x8001), word(XPTAG_ADD), word(0x8001),
                         ptr("integer"), word(0x8001), word(0)})
                   .empty());
  // No array at all.
  Panel p;
  XPanelService::readHints(p, nullptr);
  EXPECT_FALSE(p.hintErrors.empty());
}

} // namespace

namespace {

// Limits are read as the host reads them, whatever node gives them: a value
// beyond a hard one is clamped, beyond a soft one kept, each with one
// warning; angles' limit words are degrees, other types' the stored units.
TEST_F(Panels, LimitsClampOrWarnInTheValuesUnits) {
  HostNode *n = add("Jux Random");
  Panel *p = openPanel(n);
  hostsim::XPanelService &panels = host.panels();
  hostsim::PanelControl &max = control(p, "Max");
  max.max = 4;
  max.hardMax = true;
  panels.editValues(*p, max, {9.0});
  EXPECT_EQ(panels.value(*p, max).param->value[0], 4.0);
  EXPECT_EQ(panels.takeWarnings(), std::vector<std::string>{"9 is above the hard maximum of \"Max\": 4 is used"});
  max.hardMax = false;
  panels.editValues(*p, max, {9.0});
  EXPECT_EQ(panels.value(*p, max).param->value[0], 9.0);
  EXPECT_EQ(panels.takeWarnings(),
            std::vector<std::string>{"9 is above the maximum of \"Max\", 4; it is used as given"});
  panels.editValues(*p, max, {4.0});
  EXPECT_TRUE(panels.takeWarnings().empty()); // on the limit is inside it
  EXPECT_NE(panels.describe(*p, "").find("\"Max\" [0x8002] float-env = 4  max 4\n"), std::string::npos);

  // The same control type shown in percent and in degrees.
  max.controlType = "percent-env";
  EXPECT_EQ(hostsim::XPanelService::limitsText(max), "  max 400 %");
  max.controlType = "angle-env";
  max.min = -10;
  max.hardMin = true;
  EXPECT_EQ(hostsim::XPanelService::limitsText(max), "  min -10 deg (hard)  max 4 deg");
  max.controlType = "float-env";

  // Whole-number controls, and warnings taken once.
  HostNode *pix = add("Jux Pixel Image");
  Panel *q = openPanel(pix);
  hostsim::PanelControl &x = control(q, "X");
  x.min = 0;
  x.hardMin = true;
  x.rangeMin = 0;
  x.rangeMax = 10;
  x.step = 1;
  panels.editInteger(*q, x, -2000000000);
  EXPECT_EQ(panels.value(*q, x).integer, 0);
  panels.editInteger(*q, x, 12);
  EXPECT_EQ(panels.value(*q, x).integer, 12);
  EXPECT_EQ(panels.takeWarnings(),
            (std::vector<std::string>{"-2000000000 is below the hard minimum of \"X\": 0 is used",
                                      "12 is outside the range of \"X\", 0..10; it is used as given"}));
  EXPECT_TRUE(panels.takeWarnings().empty());
}

} // namespace
