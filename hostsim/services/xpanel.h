// "LWXPanel" and "Instance Update": panels kept as a model a test or the
// command can read, and edited as a user would edit them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/lw_xpanel.h"
#include "hostsim/checks.h"
#include "hostsim/error.h"
#include "hostsim/services/vparm.h"

namespace hostsim {

struct PanelControl {
  uint32_t id = 0;
  uint32_t valueId = 0; // the value it shows, 0 for none
  std::string controlType;
  std::string label;
  std::string dataType; // from the data description; empty: holds no value
  std::vector<std::string> items;
  LWXPanelPopCntFunc popCount = nullptr;
  LWXPanelPopNameFunc popName = nullptr;
  std::optional<int32_t> min, max;
  std::optional<int32_t> rangeMin, rangeMax, step;
  bool hardMin = false, hardMax = false;
  uint32_t thumbnail = 0; // THUM_* bits of its configuration, 0: none
  int32_t sensitivity = 0;
  LWXPanelDrawFunc draw = nullptr;

  bool isEnv() const; // a variant-parameter control
  bool isPopup() const { return controlType == "iPopChoice" || controlType == "iChoice"; }
  bool isInteger() const;
};

// A value map has no length of its own: it holds one entry per item of the
// controlling popup, and is read no further.
struct PanelRule {
  uint32_t controller = 0;
  const int32_t *map = nullptr; // null: enabled while the value is nonzero
  std::string message;
  std::vector<uint32_t> dependants;
};

struct PanelLayout {
  uint32_t kind = 0; // XPTAG_GROUP, XPTAG_STACK, XPTAG_TABS
  uint32_t id = 0;
  std::string label;
  uint32_t controller = 0;
  const int32_t *map = nullptr; // stacks: one entry per item of the controller
  std::vector<uint32_t> members;
};

// A hint this host reads by its shape only: layout hints and any tag of the
// panel family it does not interpret.
struct UnknownHint {
  uint32_t tag = 0;
  std::vector<intptr_t> args;
  std::vector<uint32_t> list;
};

// A thumbnail's drawing area: RGB bytes as the display shows them, row by
// row. Palette colours (the index-taking drawing functions) are greys: index
// i is 255 * i / 15, i from 0 to 15.
struct DrawArea {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  int pixels = 0, boxes = 0; // RGB pixels and RGB boxes drawn
  int paletteDraws = 0;      // pixels, lines, boxes, borders and texts in palette colours
};

class Panel { // LWXPanelID points here
public:
  int32_t type = 0;
  std::vector<PanelControl> controls;
  std::vector<PanelRule> rules;
  std::vector<PanelLayout> layout;
  std::vector<UnknownHint> unknown;
  // What the host found wrong in a hint array, one line each. The host goes
  // on reading what it can, but a panel with errors is a fault in the module.
  std::vector<std::string> hintErrors;
  LWXPanelGetFunc get = nullptr;
  LWXPanelSetFunc set = nullptr;
  LWXPanelChangeNotifyFunc notify = nullptr;
  LWXPanelDestroyNotifyFunc destroyNotify = nullptr;
  void *instance = nullptr;
  std::map<uint32_t, void *> userData;
  int refreshes = 0;
  bool opened = false; // shown through open or post: hints no longer apply
  std::map<uint32_t, int32_t> formInts; // form panels keep their own values
  std::size_t place = 0;                // in the service's list of panels

  PanelControl *control(uint32_t id);
  // The control with this label; null when none or when the label repeats.
  PanelControl *control(const std::string &label, bool *ambiguous = nullptr);
  const PanelLayout *layoutItem(uint32_t id) const;
};

// What a control shows.
struct ControlValue {
  enum Kind { None, Integer, Param, Text } kind = None;
  int32_t integer = 0;
  VParm *param = nullptr;
  std::string text;
};

class XPanelService {
public:
  explicit XPanelService(Checks &checks);
  ~XPanelService();
  XPanelService(const XPanelService &) = delete;
  // Reads a hint array into a panel as the host would; errors land in the
  // panel's hintErrors.
  static void readHints(Panel &p, const LWXPanelHint *hints);
  XPanelService &operator=(const XPanelService &) = delete;

  const LWXPanelFuncs *funcs() const { return &funcs_; }
  LWInstUpdate instanceUpdate() const;
  void makeCurrent(VParmService &vparms);

  const std::vector<std::unique_ptr<Panel>> &panels() const { return panels_; }
  static Panel *of(LWXPanelID id) { return reinterpret_cast<Panel *>(id); }
  void failNextCreates(int n) { failCreates_ = n; }
  // The host closes a node's panels when it deletes the node.
  void destroyPanelsOf(void *instance);
  // The instance a view panel shows (null: none).
  void view(Panel &p, void *instance);
  // The node whose instance a panel views, or null.
  const HostNode *nodeOf(const Panel &p) const noexcept;
  // The module's panel callbacks, called as the host calls them.
  void *callGet(Panel &p, uint32_t id) const noexcept;
  int32_t callSet(Panel &p, uint32_t id, void *value) const noexcept;
  void callNotify(Panel &p, uint32_t id, int32_t event) const;

  // "Instance Update" calls, in order: (class name, instance).
  const std::vector<std::pair<std::string, void *>> &updates() const { return updates_; }
  void clearUpdates() { updates_.clear(); }

  // Reading a panel as a user sees it.
  ControlValue value(Panel &p, const PanelControl &c) const;
  int32_t popupCount(Panel &p, const PanelControl &c) const;
  std::string popupItem(Panel &p, const PanelControl &c, int32_t index) const;
  bool enabled(Panel &p, const PanelControl &c) const { return !disabledBy(p, c); }
  // Nothing while the control is enabled, else the message of the rule
  // that disables it.
  std::optional<std::string> disabledBy(Panel &p, const PanelControl &c) const;
  // The rule that disables the control now, or null while it is enabled.
  const PanelRule *disablingRule(Panel &p, const PanelControl &c) const;
  // While the control is disabled, what enables it, as a user would set it:
  // "\"Clamp\" [0x800a] is on", "\"Mode\" is \"A\" or \"B\""; nothing while
  // it is enabled.
  std::optional<std::string> enabledWhen(Panel &p, const PanelControl &c) const;
  // The control as messages name it: its label, with its id where the label
  // repeats in the panel.
  static std::string controlName(Panel &p, const PanelControl &c);
  std::string describe(Panel &p, const std::string &title) const;
  DrawArea drawThumbnail(Panel &p, const PanelControl &c, int32_t width, int32_t height) const;
  // The drawing area a thumbnail control gets from its THUM_* bits: small 80,
  // medium 160, large 240, extra large 320 pixels wide (medium by default),
  // and as high as its shape makes it (square, 4:3 landscape by default, 3:2,
  // 3:4 portrait, 16:9 wide).
  static std::pair<int32_t, int32_t> thumbnailSize(const PanelControl &c);

  // A user's edit, applied as the host applies it: integer controls through
  // the node's set callback; -env controls by editing the variant parameter,
  // in panel units (degrees for angles, percent for percentages, 0 to 255 for
  // colours), then the set callback; text through the set callback. A
  // committed edit sends change event 2; a drag (track) only event 1. An
  // edit the panel refuses throws Error saying why.
  void editInteger(Panel &p, PanelControl &c, int32_t v);
  void editValues(Panel &p, PanelControl &c, const std::vector<double> &panelValues, bool track = false);
  void editText(Panel &p, PanelControl &c, const std::string &text);
  // A keyframe on an -env control, in panel units. Throws Error as the edits do.
  void keyframe(Panel &p, PanelControl &c, double time, const std::vector<double> &panelValues, KeyShape shape);

  // Panel units of an -env control type: the factor from stored to shown.
  static double panelScale(const std::string &controlType);
  // The unit a value of the control type is shown with: " deg", " %" or "".
  static const char *panelUnit(const std::string &controlType);
  // The factor from a limit word (minimum, maximum, range, step) of the
  // control type to panel units. Limit words are whole numbers: angles give
  // them in degrees, as a user reads them; every other type in the value's
  // own units (an opacity's maximum of 1 is 100 %).
  static double limitScale(const std::string &controlType);
  // The control's limits as the listing shows them, in panel units:
  // "  min 0 %  max 100 %", "  range 0..90 deg step 1".
  static std::string limitsText(const PanelControl &c);

  // What the edits since the last call warned of, one line each: a value
  // outside a control's soft limits (kept), or beyond a hard one (clamped).
  std::vector<std::string> takeWarnings() { return std::exchange(warnings_, {}); }

private:
  friend struct PanelOps;
  // A value in panel units checked against the control's limits: the value
  // to use, and a warning where it is outside them.
  double checkLimits(const PanelControl &c, double v);
  static LWXPDrawFuncs drawFunctions(); // xpanel_view.cpp
  void close(Panel &p) noexcept;
  Checks &checks_; // where its panels are booked
  LWXPanelFuncs funcs_{};
  LWXPDrawFuncs drawFuncs_{};
  std::vector<std::unique_ptr<Panel>> panels_;             // in no order: the last takes the place of one closed
  std::unordered_multimap<const void *, Panel *> viewing_; // view panels by the instance they show
  std::vector<std::pair<std::string, void *>> updates_;
  std::vector<std::string> warnings_;
  VParmService *vparms_ = nullptr;
  int failCreates_ = 0;
};

} // namespace hostsim
