// "LW Scene Info 4", "LW Time Info", "LW Backdrop Info 2" and "System ID".
#pragma once

#include <cstdint>
#include <string>

#include "host/lw_scene.h"
#include "hostsim/services/vparm.h"

namespace hostsim {

struct Gradient {
  double zenith[3] = {0.0, 0.16, 0.39};
  double sky[3] = {0.47, 0.63, 0.86};
  double ground[3] = {0.2, 0.16, 0.12};
  double nadir[3] = {0.06, 0.05, 0.04};
};

class SceneRecords {
public:
  SceneRecords();
  SceneRecords(const SceneRecords &) = delete;
  SceneRecords &operator=(const SceneRecords &) = delete;

  // The C records act on the records made current by their host.
  void makeCurrent();

  LWSceneInfo &sceneInfo() { return scene_; }
  const LWSceneInfo *sceneInfoRecord() const { return &scene_; }
  void setSceneName(const std::string &name, const std::string &file);

  const LWTimeInfo *timeRecord() const { return &time_; }
  void setTime(LWFrame frame, LWTime time);

  const LWBackdropInfo *backdropRecord() const { return &backdrop_; }
  // A solid colour, or a gradient from zenith through sky and ground to nadir.
  void setSolidBackdrop(const double rgb[3]);
  void setGradientBackdrop(const Gradient &g);
  const Gradient &gradient() const { return gradient_; }
  // Keys for one component of one backdrop colour; a component with keys
  // follows them instead of its static value.
  enum Slot { kSolid, kZenith, kSky, kGround, kNadir, kSlotCount };
  void setBackdropKeys(Slot slot, int component, const Envelope &keys);
  // The gradient's four colours at a time.
  Gradient gradientAt(LWTime time) const noexcept;
  // render threads, concurrently
  void backdropColor(LWTime time, const double direction[3], double rgb[3]) const noexcept;
  // At the current time.
  void backdropColor(const double direction[3], double rgb[3]) const noexcept {
    backdropColor(time_.time, direction, rgb);
  }

  uint32_t systemId() const { return systemId_; }
  void setSystemId(uint32_t id) { systemId_ = id; }

private:
  LWSceneInfo scene_{};
  std::string name_, file_;
  LWTimeInfo time_{};
  static void blendGradient(const Gradient &g, const double direction[3], double rgb[3]) noexcept;

  LWBackdropInfo backdrop_{};
  double solid_[3] = {0, 0, 0};
  Gradient gradient_;
  Envelope keys_[kSlotCount][3];
  bool animated_ = false;
  uint32_t systemId_ = LWSYS_LAYOUT;
};

} // namespace hostsim
