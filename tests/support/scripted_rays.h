// A world whose rays a test scripts: every cast, trace and shade a node makes
// through the shading context is recorded, and answered by the test. One at
// a time, on the test's own thread: the ray functions take no context, so
// they find the world through a pointer of their own.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "hostsim/network.h"

namespace testsupport {

struct RayCall {
  enum Kind { Cast, Trace, Shade } kind;
  std::array<double, 3> origin, direction;
  double eta = 0;
  uint32_t mode = 0;
};

class ScriptedRays {
public:
  // The distance of a ray (negative: a miss); a trace may fill colour, a
  // shade the record's colour.
  using Answer = std::function<double(const RayCall &, double colour[3])>;

  ScriptedRays() { current() = this; }
  ~ScriptedRays() { current() = nullptr; }
  ScriptedRays(const ScriptedRays &) = delete;
  ScriptedRays &operator=(const ScriptedRays &) = delete;

  // A context at the world's origin facing +Y, whose rays come here.
  LWNodalAccess context() const {
    LWNodalAccess na = hostsim::emptyWorldContext();
    na.rayCast = &cast;
    na.rayTraceMode = &trace;
    na.rayShade = &shade;
    return na;
  }

  std::vector<RayCall> calls;
  Answer answer = [](const RayCall &, double *) { return -1.0; };

private:
  static ScriptedRays *&current() {
    static ScriptedRays *world = nullptr;
    return world;
  }
  static double record(RayCall call, double colour[3]) {
    ScriptedRays &w = *current();
    w.calls.push_back(call);
    return w.answer(w.calls.back(), colour);
  }
  static std::array<double, 3> vec(const double *v) { return {v[0], v[1], v[2]}; }
  static double cast(const double o[3], const double d[3]) {
    double unused[3] = {0, 0, 0};
    return record({RayCall::Cast, vec(o), vec(d)}, unused);
  }
  static double trace(const double o[3], const double d[3], double colour[3], const double eta, const int32_t mode) {
    return record({RayCall::Trace, vec(o), vec(d), eta, static_cast<uint32_t>(mode)}, colour);
  }
  static double shade(const double o[3], const double d[3], LWShaderAccess *sa) {
    return record({RayCall::Shade, vec(o), vec(d)}, sa->color);
  }
};

} // namespace testsupport
