// The renderer. An Embree scene of the scene's objects, shading
// contexts for every hit, the ray operations the module calls through them,
// and frames rendered in tiles on worker threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <embree3/rtcore.h>

#include "hostsim/scene/scene.h"

namespace hostsim {

struct FrameBuffer {
  int width = 0, height = 0;
  std::vector<float> rgb; // linear light, rows from the top
  const float *pixel(int x, int y) const { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

struct RenderOptions {
  int threads = 1;
  int firstFrame = 1, lastFrame = 1;
  bool progress = false; // a progress line on stderr once a render takes over a second
};

struct RenderStats {
  double seconds = 0;
  int frames = 0;
  uint64_t samples = 0;    // camera samples
  uint64_t raysCast = 0;   // rays that only measure distance: casts and shadow rays
  uint64_t raysTraced = 0; // rays beyond the camera's that shade what they hit
};

class Renderer;
struct Worker;

// A shading context a worker keeps from one hit to the next at one ray depth:
// what every hit shares is filled once, what belongs to an object when the
// hits move on to another, and at each hit only what the hit itself decides.
struct PreparedContext {
  LWNodalAccess na{};
  const Worker *worker = nullptr; // whose shared members na holds
  uint64_t renderer = 0;          // serial of the renderer whose object na holds; 0 for none
  unsigned geometry = 0;          // that object's Embree geometry id
  unsigned primitive = 0;         // the triangle whose corners and normal na holds, of a mesh
};

// Camera rays shade at depth 0, each ray traced from a hit one deeper.
constexpr int kPreparedDepths = kMaxRecursionLimit + 1;

// One render thread's state. A cache line each: workers count their rays side
// by side.
struct alignas(64) Worker {
  const Renderer *renderer = nullptr;
  int32_t threadNum = 0;
  LWTime time = 0;
  uint64_t samples = 0, casts = 0, traces = 0;
  uint64_t random = 0x9E3779B97F4A7C15ull; // the contexts' randomFloat, per thread
  // A context for each depth: a ray traced while a hit is shaded shades one
  // deeper, so the caller's context stays as it was while its rays are out.
  PreparedContext contexts[kPreparedDepths];
};

// The sample a thread is shading. The host's ray functions take no context,
// so each finds its caller's here: the renderer installs a scope around every
// shading of a hit, and a trace from inside one installs its own and puts the
// caller's back when it returns. A thread outside any scope is shading
// nothing, and its rays hit nothing. Tests install one around a context they
// cast from.
class SampleScope {
public:
  // Inline: one goes round every hit shaded.
  SampleScope(const LWNodalAccess &na, Worker &worker) noexcept : outerSample_(sample_), outerWorker_(worker_) {
    sample_ = &na;
    worker_ = &worker;
  }
  ~SampleScope() {
    sample_ = outerSample_;
    worker_ = outerWorker_;
  }
  SampleScope(const SampleScope &) = delete;
  SampleScope &operator=(const SampleScope &) = delete;

  // The calling thread's sample and worker, or null outside any scope.
  static const LWNodalAccess *current() noexcept { return sample_; }
  static Worker *currentWorker() noexcept { return worker_; }

private:
  // Plain pointers: no destructor runs at thread exit.
  static inline thread_local const LWNodalAccess *sample_ = nullptr;
  static inline thread_local Worker *worker_ = nullptr;
  const LWNodalAccess *outerSample_;
  Worker *outerWorker_;
};

class Renderer {
public:
  // Builds the Embree scene from the scene's objects. Throws Error when
  // Embree cannot be started.
  Renderer(Scene &scene, Host &host);
  ~Renderer();
  Renderer(const Renderer &) = delete;
  Renderer &operator=(const Renderer &) = delete;

  const Scene &scene() const { return scene_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Overrides the scene's image size (the camera keeps its field of view).
  void setSize(int width, int height);

  // Renders the frames between one init and one cleanup of every node, with
  // newTime before each; onFrame receives each finished frame. Throws
  // Error when a node's init fails.
  RenderStats render(const RenderOptions &options, const std::function<void(int, const FrameBuffer &)> &onFrame);

  // The camera ray of a pixel's sample (direction of unit length), and where
  // in the pixel it passes (0 to 1 across).
  void cameraRay(int x, int y, int sample, int frame, double origin[3], double direction[3], double *subx = nullptr,
                 double *suby = nullptr) const;
  // The colour one camera sample sees. render threads, concurrently
  void sample(Worker &worker, int x, int y, int sample, int frame, double color[3]) const;

  // A shading context at the camera, depth 0, for a worker: what a node
  // evaluated on a primary hit would get, without the hit. Tests cast and
  // trace through it inside a SampleScope.
  LWNodalAccess context(Worker &worker) const;

  RTCScene embreeScene() const { return rtcScene_; }

  struct Hit {
    double t;
    unsigned geom, prim;
    float u, v;
  };
  // Nearest hit along a unit direction beyond the self-intersection margin.
  bool intersect(const double origin[3], const double direction[3], Hit &hit) const;

private:
  struct Geometry {
    const Object *object;
    const Surface *surface;
    std::array<double, 12> inverse;
    std::vector<float> faceNormals; // unit, outward, three per triangle
    double inverseRadius = 0;       // spheres
  };
  struct Ray {
    int32_t sx, sy;
    int32_t depth;
    int32_t flags; // LWRT_* bits
    double eta;
    double spot; // spot size where the ray starts
    double subx = 0.5, suby = 0.5;
  };
  // A hit as its surface's channels make it.
  struct Shading {
    double ch[kChannelCount][3];  // the surface's own values, or what its network delivers
    double n[3];                  // the shading normal, facing the ray
    bool inside = false;          // the ray arrives from behind the geometric normal
    double mirror = 0, clear = 0; // fractions of reflection and transparency, at most 1 together
    double out[3];                // the colour seen
  };

  // Where a hit lies, as the host's own shading reads it.
  struct Point {
    double p[3];  // the world position
    double gn[3]; // the geometric normal
    double n[3];  // the normal interpolated over the triangle (a sphere's: gn)
    double spot;  // the spot size there
  };

  // Shading contexts (shading_context.cpp).
  void fillContext(LWNodalAccess &na, Worker &w) const;
  void hitPoint(const Ray &ray, const double origin[3], const double direction[3], const Hit &hit, Point &pt) const;
  // Brings a worker's context up to date for a hit at pt.
  void hitContext(Worker &w, const Ray &ray, const double origin[3], const double direction[3], const Hit &hit,
                  const Point &pt, PreparedContext &pc) const;
  static void shaderRecord(const LWNodalAccess &na, const Shading &s, LWShaderAccess &record);

  void buildScene();
  void setupCamera();
  void cameraSample(int x, int y, int sample, int frame, double direction[3], double &subx, double &suby) const;
  // Camera rays of count samples in a row, from pixel x's sample s on, in
  // the order the pixels' samples are taken: each as cameraRay makes it.
  struct CameraRays {
    static constexpr int kCount = 32;
    double x[kCount], y[kCount], z[kCount]; // the unit directions
    double subx[kCount], suby[kCount];
  };
  void cameraRays(int x, int y, int sample, int frame, int count, CameraRays &rays) const;
  bool occluded(const double origin[3], const double direction[3]) const;
  // Traces a ray that shades what it hits, or sees the backdrop; the depth
  // limit is the caller's. Fills sa when given. Returns the distance or -1.
  double trace(Worker &w, const Ray &ray, const double origin[3], const double direction[3], double color[3],
               LWShaderAccess *sa) const;
  void shadeHit(Worker &w, const Ray &ray, const double origin[3], const double direction[3], const Hit &hit,
                double color[3], LWShaderAccess *sa) const;
  void shadeIn(PreparedContext &pc, Worker &w, const Ray &ray, const double origin[3], const double direction[3],
               const Hit &hit, double color[3], LWShaderAccess *sa) const;
  // The steps of shading a hit (shade.cpp).
  // na is the hit's context for the surface's network; null for a surface
  // without one.
  void surfaceChannels(Worker &w, const Surface &surface, const double direction[3], const Point &pt,
                       LWNodalAccess *na, Shading &s) const;
  void directLight(Worker &w, const Point &pt, Shading &s) const;
  void secondaryRays(Worker &w, const Ray &ray, const double direction[3], const Point &pt, Shading &s) const;
  void backdrop(const Worker &w, const double direction[3], double color[3]) const;

  // The shading context's functions, for the calling thread's sample.
  // render threads, concurrently
  static double rayCast(const double position[3], const double direction[3]) noexcept;
  static double rayShade(const double position[3], const double direction[3], LWShaderAccess *sa) noexcept;
  static double rayTrace(const double position[3], const double direction[3], double color[3]) noexcept;
  static double rayTraceMode(const double position[3], const double direction[3], double color[3], const double eta,
                             const int32_t mode) noexcept;
  static int32_t illuminate(LWItemID light, const double position[3], double direction[3], double color[3]) noexcept;
  // A trace from the calling thread's sample, once the call is checked.
  static double traceFromSample(const double position[3], const double direction[3], double color[3], double eta,
                                int32_t mode) noexcept;
  static float randomFloat(RandomFloatData data) noexcept;

  Scene &scene_;
  Host &host_;
  // Tells this renderer's objects in a worker's contexts from those of one
  // that lived before it, at the same address or not.
  const uint64_t serial_;
  int width_, height_;
  RTCDevice device_ = nullptr;
  RTCScene rtcScene_ = nullptr;
  std::vector<Geometry> geometries_; // by Embree geometry id
  double camOrigin_[3], camForward_[3], camRight_[3], camUp_[3];
  double tanHalf_ = 1, pixelAngle_ = 0.001, halfHeight_ = 0.75; // image plane at distance 1
  double toLight_[3];
  double lightColor_[3], ambient_[3];
  struct Pool;
  std::unique_ptr<Pool> pool_; // render threads, made at the first render
};

} // namespace hostsim
