#include "hostsim/render/renderer.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>

#include "hostsim/render/progress.h"
#include "hostsim/render/vector_ops.h"

namespace hostsim {
namespace {

using render_ops::cross;
using render_ops::margin;
using render_ops::normalize;

constexpr int kTile = 16;

// Sub-pixel positions from a hash of pixel, sample and frame: the same picture
// whatever the thread count.
double hashUnit(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  return (x >> 11) * (1.0 / 9007199254740992.0);
}

std::atomic<uint64_t> nextSerial{0};

void embreeError(void *, RTCError code, const char *message) {
  std::fprintf(stderr, "hostsim: Embree error %d: %s\n", static_cast<int>(code), message ? message : "");
}

} // namespace

Renderer::Renderer(Scene &scene, Host &host)
    : scene_(scene), host_(host), serial_(nextSerial.fetch_add(1) + 1), width_(scene.width), height_(scene.height) {
  // Embree builds the BVH on the calling thread rather than on TBB workers of
  // its own: scenes here build in milliseconds, rendering runs on our own
  // threads, and so every thread of a render is one the sanitizers can see.
  device_ = rtcNewDevice("threads=1");
  if (!device_) throw Error("cannot start Embree");
  rtcSetDeviceErrorFunction(device_, &embreeError, nullptr);
  buildScene();
  setupCamera();
  const Light &l = scene_.light;
  for (int c = 0; c < 3; ++c) {
    toLight_[c] = -l.direction[c];
    lightColor_[c] = l.color[c] * l.intensity;
    ambient_[c] = l.color[c] * l.ambient;
  }
}

Renderer::~Renderer() {
  pool_.reset(); // the threads go before what they render
  if (rtcScene_) rtcReleaseScene(rtcScene_);
  if (device_) rtcReleaseDevice(device_);
}

void Renderer::buildScene() {
  rtcScene_ = rtcNewScene(device_);
  for (const Object &o : scene_.objects) {
    RTCGeometry g;
    if (o.shape == Shape::Sphere) {
      g = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_SPHERE_POINT);
      auto *v = static_cast<float *>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT4, 16, 1));
      v[0] = static_cast<float>(o.centre[0]);
      v[1] = static_cast<float>(o.centre[1]);
      v[2] = static_cast<float>(o.centre[2]);
      v[3] = static_cast<float>(o.radius);
    } else {
      g = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
      auto *v = static_cast<float *>(
          rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 12, o.mesh.vertexCount()));
      std::copy(o.mesh.positions.begin(), o.mesh.positions.end(), v);
      auto *i = static_cast<unsigned *>(
          rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 12, o.mesh.indices.size() / 3));
      std::copy(o.mesh.indices.begin(), o.mesh.indices.end(), i);
    }
    rtcCommitGeometry(g);
    const unsigned id = rtcAttachGeometry(rtcScene_, g);
    rtcReleaseGeometry(g);
    if (geometries_.size() <= id) geometries_.resize(id + 1);
    Geometry &geo = geometries_[id];
    geo = {&o, &scene_.surfaces[static_cast<std::size_t>(o.surface)], o.transform.inverse(), {}, 0};
    if (o.shape == Shape::Sphere) {
      geo.inverseRadius = 1.0 / o.radius;
    } else {
      // Face normals once here rather than at every hit.
      const Mesh &m = o.mesh;
      geo.faceNormals.reserve(m.indices.size());
      for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3) {
        const float *p0 = &m.positions[m.indices[t] * 3], *p1 = &m.positions[m.indices[t + 1] * 3];
        const float *p2 = &m.positions[m.indices[t + 2] * 3];
        const double e1[3] = {double(p1[0]) - p0[0], double(p1[1]) - p0[1], double(p1[2]) - p0[2]};
        const double e2[3] = {double(p2[0]) - p0[0], double(p2[1]) - p0[1], double(p2[2]) - p0[2]};
        double n[3];
        cross(e1, e2, n);
        normalize(n);
        geo.faceNormals.insert(geo.faceNormals.end(), {float(n[0]), float(n[1]), float(n[2])});
      }
    }
  }
  rtcCommitScene(rtcScene_);
}

void Renderer::setSize(int width, int height) {
  width_ = width;
  height_ = height;
  setupCamera();
}

// Left-handed, Y up: looking along +Z, +X is to the right.
void Renderer::setupCamera() {
  const Camera &c = scene_.camera;
  for (int i = 0; i < 3; ++i) {
    camOrigin_[i] = c.position[i];
    camForward_[i] = c.target[i] - c.position[i];
  }
  normalize(camForward_);
  const double up[3] = {0, 1, 0};
  cross(up, camForward_, camRight_);
  normalize(camRight_);
  cross(camForward_, camRight_, camUp_);
  tanHalf_ = std::tan(c.fov * std::numbers::pi / 360.0);
  pixelAngle_ = 2.0 * tanHalf_ / width_;
  halfHeight_ = tanHalf_ * height_ / width_;
}

// Where in its pixel a camera sample passes, and its direction before it is
// made unit length.
inline void Renderer::cameraSample(int x, int y, int s, int frame, double direction[3], double &jx,
                                   double &jy) const {
  jx = jy = 0.5;
  if (scene_.samples > 1) {
    const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(frame)) << 44) ^
                         (static_cast<uint64_t>(y) << 30) ^ (static_cast<uint64_t>(x) << 14) ^ static_cast<uint64_t>(s);
    jx = hashUnit(key * 2);
    jy = hashUnit(key * 2 + 1);
  }
  const double px = (x + jx) * pixelAngle_ - tanHalf_;
  const double py = halfHeight_ - (y + jy) * pixelAngle_;
  for (int c = 0; c < 3; ++c) direction[c] = camForward_[c] + camRight_[c] * px + camUp_[c] * py;
}

void Renderer::cameraRay(int x, int y, int s, int frame, double origin[3], double direction[3], double *subx,
                         double *suby) const {
  double jx, jy;
  cameraSample(x, y, s, frame, direction, jx, jy);
  for (int c = 0; c < 3; ++c) origin[c] = camOrigin_[c];
  normalize(direction);
  if (subx) *subx = jx;
  if (suby) *suby = jy;
}

void Renderer::cameraRays(int x, int y, int s, int frame, int count, CameraRays &rays) const {
  const int samples = scene_.samples;
  double *dx = rays.x, *dy = rays.y, *dz = rays.z;
  for (int i = 0; i < count; ++i) {
    double d[3];
    cameraSample(x, y, s, frame, d, rays.subx[i], rays.suby[i]);
    dx[i] = d[0], dy[i] = d[1], dz[i] = d[2];
    if (++s == samples) {
      s = 0;
      ++x;
    }
  }
  // Unit length as cameraRay makes it, apart and component by component: the
  // roots and divisions of several rays go together, where one at a time each
  // would wait for the one before.
  for (int i = 0; i < count; ++i) {
    const double len2 = dx[i] * dx[i] + dy[i] * dy[i] + dz[i] * dz[i];
    const double inv = std::sqrt(len2) / len2;
    // Above 0 and finite, as normalize asks, without a branch; otherwise
    // left as it is (times 1).
    const bool valid = (len2 > 0) & (len2 <= std::numeric_limits<double>::max());
    const double k = valid ? inv : 1.0;
    dx[i] *= k;
    dy[i] *= k;
    dz[i] *= k;
  }
}

bool Renderer::intersect(const double o[3], const double d[3], Hit &hit) const {
  RTCIntersectContext ctx;
  rtcInitIntersectContext(&ctx);
  RTCRayHit rh;
  rh.ray.org_x = static_cast<float>(o[0]);
  rh.ray.org_y = static_cast<float>(o[1]);
  rh.ray.org_z = static_cast<float>(o[2]);
  rh.ray.dir_x = static_cast<float>(d[0]);
  rh.ray.dir_y = static_cast<float>(d[1]);
  rh.ray.dir_z = static_cast<float>(d[2]);
  rh.ray.tnear = static_cast<float>(margin(o));
  rh.ray.tfar = std::numeric_limits<float>::infinity();
  rh.ray.time = 0;
  rh.ray.mask = ~0u;
  rh.ray.id = 0;
  rh.ray.flags = 0;
  rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
  rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
  rtcIntersect1(rtcScene_, &ctx, &rh);
  if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return false;
  hit = {rh.ray.tfar, rh.hit.geomID, rh.hit.primID, rh.hit.u, rh.hit.v};
  return true;
}

bool Renderer::occluded(const double o[3], const double d[3]) const {
  RTCIntersectContext ctx;
  rtcInitIntersectContext(&ctx);
  RTCRay r;
  r.org_x = static_cast<float>(o[0]);
  r.org_y = static_cast<float>(o[1]);
  r.org_z = static_cast<float>(o[2]);
  r.dir_x = static_cast<float>(d[0]);
  r.dir_y = static_cast<float>(d[1]);
  r.dir_z = static_cast<float>(d[2]);
  r.tnear = static_cast<float>(margin(o));
  r.tfar = std::numeric_limits<float>::infinity();
  r.time = 0;
  r.mask = ~0u;
  r.id = 0;
  r.flags = 0;
  rtcOccluded1(rtcScene_, &ctx, &r);
  return r.tfar < 0; // Embree marks an occluded ray with tfar = -inf
}

void Renderer::backdrop(const Worker &w, const double d[3], double color[3]) const {
  host_.scene().backdropColor(w.time, d, color);
}

void Renderer::sample(Worker &w, int x, int y, int s, int frame, double color[3]) const {
  double o[3], d[3];
  Ray ray{x, y, 0, LWRT_CAMERA, 1.0, 0.0};
  cameraRay(x, y, s, frame, o, d, &ray.subx, &ray.suby);
  ++w.samples;
  trace(w, ray, o, d, color, nullptr);
}

// ---------------------------------------------------------------- frames

// Render threads live as long as the renderer: a thread made afresh for every
// frame starts beside its parent and takes a while to be moved to a core of
// its own, which costs a short frame much of its second thread. Thread i
// always works as worker i, with thread number i.
struct Renderer::Pool {
  std::vector<Worker> workers;
  std::vector<std::thread> threads;
  std::mutex mutex;
  std::condition_variable wake, finished;
  const std::function<void(Worker &)> *job = nullptr;
  uint64_t generation = 0;
  int busy = 0;
  bool stop = false;

  Pool(const Renderer *renderer, int n) : workers(static_cast<std::size_t>(n)) {
    for (int i = 0; i < n; ++i) {
      workers[static_cast<std::size_t>(i)].renderer = renderer;
      workers[static_cast<std::size_t>(i)].threadNum = i;
      workers[static_cast<std::size_t>(i)].random ^= static_cast<uint64_t>(i + 1) * 0xBF58476D1CE4E5B9ull;
    }
    for (int i = 0; i < n; ++i) threads.emplace_back([this, i] { loop(workers[static_cast<std::size_t>(i)]); });
  }
  ~Pool() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    wake.notify_all();
    for (auto &t : threads) t.join();
  }
  void loop(Worker &w) {
    uint64_t seen = 0;
    for (;;) {
      const std::function<void(Worker &)> *todo;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return stop || generation != seen; });
        if (stop) return;
        seen = generation;
        todo = job;
      }
      (*todo)(w);
      std::lock_guard lock(mutex);
      if (--busy == 0) finished.notify_all();
    }
  }
  // Runs fn on every thread and returns when all are done, calling tick
  // about every 50 ms meanwhile.
  void run(const std::function<void(Worker &)> &fn, const std::function<void()> &tick) {
    std::unique_lock lock(mutex);
    job = &fn;
    busy = static_cast<int>(threads.size());
    ++generation;
    wake.notify_all();
    while (!finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return busy == 0; })) {
      lock.unlock();
      tick();
      lock.lock();
    }
  }
};

RenderStats Renderer::render(const RenderOptions &options,
                             const std::function<void(int, const FrameBuffer &)> &onFrame) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  RenderStats stats;
  const int threads = std::clamp(options.threads, 1, kMaxThreads);
  host_.scene().sceneInfo().numThreads = threads;
  if (!pool_ || static_cast<int>(pool_->threads.size()) != threads) {
    pool_.reset();
    pool_ = std::make_unique<Pool>(this, threads);
  }
  for (Worker &w : pool_->workers) w.samples = w.casts = w.traces = 0;

  // Every network starts rendering, and ends, whatever failed; the last
  // fault is told.
  std::string error;
  for (Surface &s : scene_.surfaces) {
    try {
      s.network->beginRender(0);
    } catch (const Error &e) {
      error = e.what();
    }
  }
  struct End {
    Scene &scene;
    ~End() {
      for (Surface &s : scene.surfaces) s.network->endRender();
    }
  } end{scene_};
  if (!error.empty()) throw Error("a node's init failed: " + error);

  const int tilesX = (width_ + kTile - 1) / kTile, tilesY = (height_ + kTile - 1) / kTile;
  const int tiles = tilesX * tilesY;
  const int frameCount = options.lastFrame - options.firstFrame + 1;
  const bool tty = isatty(STDERR_FILENO);
  bool printed = false;
  auto lastPrint = start;
  FrameBuffer fb;
  fb.width = width_;
  fb.height = height_;

  for (int frame = options.firstFrame; frame <= options.lastFrame; ++frame) {
    const LWTime time = scene_.timeOf(frame);
    host_.scene().setTime(frame, time);
    for (Surface &s : scene_.surfaces) s.network->newTime(frame, time);
    for (Worker &w : pool_->workers) w.time = time;
    // Every pixel of every frame is written: no need to clear it between them.
    fb.rgb.resize(static_cast<std::size_t>(width_) * height_ * 3);
    std::atomic<int> nextTile{0}, doneTiles{0};
    const std::function<void(Worker &)> work = [&](Worker &w) {
      const int samples = scene_.samples;
      const double inv = 1.0 / samples;
      CameraRays rays;
      for (int t; (t = nextTile.fetch_add(1)) < tiles;) {
        const int x0 = (t % tilesX) * kTile, y0 = (t / tilesX) * kTile;
        const int x1 = std::min(x0 + kTile, width_), y1 = std::min(y0 + kTile, height_);
        // A tile's row at a time, pixel by pixel and in each its samples in
        // turn, as sample() would take them: the camera rays of a run of
        // them first, then each traced.
        for (int y = y0; y < y1; ++y) {
          int x = x0, s = 0;
          double sum[3] = {0, 0, 0};
          for (int left = (x1 - x0) * samples; left > 0;) {
            const int count = std::min(left, CameraRays::kCount);
            cameraRays(x, y, s, frame, count, rays);
            left -= count;
            for (int i = 0; i < count; ++i) {
              Ray ray{x, y, 0, LWRT_CAMERA, 1.0, 0.0, rays.subx[i], rays.suby[i]};
              double c[3];
              ++w.samples;
              const double d[3] = {rays.x[i], rays.y[i], rays.z[i]};
              trace(w, ray, camOrigin_, d, c, nullptr);
              for (int k = 0; k < 3; ++k) sum[k] += c[k];
              if (++s < samples) continue;
              float *p = &fb.rgb[(static_cast<std::size_t>(y) * width_ + x) * 3];
              for (int k = 0; k < 3; ++k) {
                p[k] = static_cast<float>(sum[k] * inv);
                sum[k] = 0;
              }
              s = 0;
              ++x;
            }
          }
        }
        doneTiles.fetch_add(1, std::memory_order_relaxed);
      }
    };
    pool_->run(work, [&] {
      if (!options.progress) return;
      const auto now = Clock::now();
      const double elapsed = std::chrono::duration<double>(now - start).count();
      if (elapsed < 1.0 || now - lastPrint < std::chrono::milliseconds(tty ? 250 : 5000)) return;
      lastPrint = now;
      const ProgressState state{frame, frame - options.firstFrame + 1, frameCount,
                                (frame - options.firstFrame + double(doneTiles.load()) / tiles) / frameCount, elapsed};
      std::fputs(progressText(state, tty).c_str(), stderr);
      std::fflush(stderr);
      printed = true;
    });
    ++stats.frames;
    // What the frame's caller prints starts on a clean line.
    if (printed && tty) {
      std::fputs(kClearProgress, stderr);
      std::fflush(stderr);
      printed = false;
    }
    if (onFrame) onFrame(frame, fb);
  }
  for (const Worker &w : pool_->workers) {
    stats.samples += w.samples;
    stats.raysCast += w.casts;
    stats.raysTraced += w.traces;
  }
  stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return stats;
}

} // namespace hostsim
