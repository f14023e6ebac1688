// Ambient Occlusion at the speed of the ray tracer, on a terrain of 24,200
// triangles with blocks on it, measured side by side in one run:
//
// - the module's own work per AO ray: the node evaluated (both passes) at
//   points on the terrain against a host whose ray cast returns at once,
//   divided by the rays it cast; against one bare rtcOccluded1 for each of
//   the same rays, recorded from the same evaluations;
// - a render whose terrain surface uses AO, on one and on two threads,
//   against bare Embree's own speed-up on two threads over the same rays;
// - allocations and mutex locks while evaluating (counted, must be 0).
//
// The ratios are printed after the table.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <new>

#include "bench/alloc_counter.h"
#include "bench/ratio_reporter.h"
#include "hostsim/render/renderer.h"
#include "hostsim/scene/scene.h"
#include "module/module.h"

namespace {

constexpr int kGrid = 110; // 2 * 110 * 110 = 24,200 triangles
constexpr double kSize = 20.0;
constexpr int kPoints = 512; // shading points

double height(double x, double z) { return 0.6 * std::sin(0.9 * x) * std::cos(0.7 * z) + 0.25 * std::sin(2.3 * x + 1.1 * z); }

std::string terrainObj() {
  const auto path = std::filesystem::temp_directory_path() / ("juxs_bench_terrain_" + std::to_string(getpid()) + ".obj");
  std::ofstream f(path);
  for (int j = 0; j <= kGrid; ++j)
    for (int i = 0; i <= kGrid; ++i) {
      const double x = (i / double(kGrid) - 0.5) * kSize, z = (j / double(kGrid) - 0.5) * kSize;
      f << "v " << x << ' ' << height(x, z) << ' ' << z << '\n';
    }
  for (int j = 0; j < kGrid; ++j)
    for (int i = 0; i < kGrid; ++i) {
      const int a = j * (kGrid + 1) + i + 1, b = a + 1, c = a + kGrid + 1, d = c + 1;
      f << "f " << a << ' ' << c << ' ' << b << "\nf " << b << ' ' << c << ' ' << d << '\n';
    }
  return path.string();
}

std::string sceneText(const std::string &obj) {
  return R"({
  "camera": {"position": [0, 6, -12], "target": [0, 0, 0], "fov": 55},
  "image": {"width": 160, "height": 120, "samples": 1},
  "light": {"direction": [-1, -2, 1], "shadows": false},
  "surfaces": [
    {"name": "Ground", "color": [0.7, 0.65, 0.55], "network": {
      "nodes": [{"name": "ao", "server": "Jux Ambient Occlusion", "settings": {"Max": 3}}],
      "connections": [{"from": "ao", "output": "Scalar", "to": "Surface", "input": "Diffuse"}]}},
    {"name": "Stone", "color": [0.5, 0.5, 0.55]}],
  "objects": [
    {"type": "mesh", "surface": "Ground", "file": ")" + obj + R"("},
    {"type": "box", "surface": "Stone", "size": [1.5, 2, 1.5], "position": [-2, 0.5, 1], "rotation": [30, 0, 0]},
    {"type": "box", "surface": "Stone", "size": [3, 1, 0.6], "position": [2.5, 0.2, -1]},
    {"type": "sphere", "surface": "Stone", "radius": 1.2, "position": [0.5, 0.6, 3]}
  ]})";
}

struct Ray {
  float o[3], d[3], tnear;
};

// The host's ray cast while the rays are recorded, once: it keeps each ray
// and answers a hit at distance 1.
std::vector<Ray> *gRecord = nullptr;
double castAndRecord(const double o[3], const double d[3]) {
  Ray r;
  for (int c = 0; c < 3; ++c) r.o[c] = float(o[c]), r.d[c] = float(d[c]);
  r.tnear = float(1e-4 * std::max({1.0, std::fabs(o[0]), std::fabs(o[1]), std::fabs(o[2])}));
  gRecord->push_back(r);
  return 1.0;
}
// The cast that returns at once while the module's work is timed: the same
// answer, and nothing of the recording's own work in the time.
double castAtOnce(const double *, const double *) { return 1.0; }

struct World {
  std::string obj;
  std::unique_ptr<hostsim::Module> module;
  std::unique_ptr<hostsim::Host> host;
  std::unique_ptr<hostsim::Scene> scene;
  std::unique_ptr<hostsim::Renderer> renderer;
  hostsim::HostNode *ao = nullptr;
  std::vector<LWNodalAccess> points; // shading contexts on the terrain
  std::vector<Ray> rays;             // what the evaluations cast
  World() {
    module = hostsim::Module::fromDescriptor(&_mod_descrip);
    host = std::make_unique<hostsim::Host>();
    obj = terrainObj();
    scene = hostsim::parseScene(*host, *module, sceneText(obj), "bench_ao.json");
    renderer = std::make_unique<hostsim::Renderer>(*scene, *host);
    std::size_t triangles = 0;
    for (const auto &o : scene->objects) triangles += o.mesh.indices.size() / 3;
    if (triangles < 20000) std::fprintf(stderr, "bench_ao: only %zu triangles\n", triangles);
    ao = scene->surfaces[0].nodes[0];
    scene->surfaces[0].network->beginRender();
    // Points on the terrain where it is seen from above, with its normal.
    for (int k = 0; k < kPoints; ++k) {
      const double x = ((k * 37) % 61 / 61.0 - 0.5) * 0.8 * kSize, z = ((k * 53) % 67 / 67.0 - 0.5) * 0.8 * kSize;
      const double from[3] = {x, 10, z}, down[3] = {0, -1, 0};
      hostsim::Renderer::Hit hit;
      if (!renderer->intersect(from, down, hit)) continue;
      LWNodalAccess na = hostsim::emptyWorldContext();
      const double e = 1e-4;
      double n[3] = {-(height(x + e, z) - height(x - e, z)) / (2 * e), 1, -(height(x, z + e) - height(x, z - e)) / (2 * e)};
      const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      for (int c = 0; c < 3; ++c) na.gNorm[c] = na.wNorm[c] = n[c] / len;
      na.wPos[0] = x, na.wPos[1] = 10 - hit.t, na.wPos[2] = z;
      na.rayCast = &castAndRecord;
      points.push_back(na);
    }
    gRecord = &rays;
    evaluateAll(0);
    gRecord = nullptr;
    for (LWNodalAccess &na : points) na.rayCast = &castAtOnce;
  }
  ~World() {
    scene->surfaces[0].network->endRender();
    renderer.reset();
    scene.reset();
    host.reset();
    std::filesystem::remove(obj);
  }
  // Both outputs at every point from first, stepping by step: what a render
  // of the surface asks of the node.
  void evaluateAll(int first, int step = 1) {
    for (std::size_t p = first; p < points.size(); p += step)
      for (const auto &out : ao->outputs) {
        hostsim::OutputValue v;
        hostsim::evaluateOutput(*ao, &points[p], out.get(), v);
        benchmark::DoNotOptimize(v.v[0]);
      }
  }
};

std::unique_ptr<World> gWorld;
World &world() {
  if (!gWorld) gWorld = std::make_unique<World>();
  return *gWorld;
}

// Everything an evaluation does but the ray itself: its settings, draws,
// directions, weights, colours and output.
void aoModuleWork(benchmark::State &state) {
  World &w = world();
  const uint64_t a0 = gAllocations, l0 = gLocks;
  tCounting = true;
  for (auto _ : state) w.evaluateAll(0);
  tCounting = false;
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(w.rays.size()));
  state.counters["allocations"] = double(gAllocations - a0);
  state.counters["locks"] = double(gLocks - l0);
}

// One bare occlusion ray for each ray the evaluations cast; with two threads
// each takes every other ray. On one thread, timed like aoModuleWork (by the
// thread's processor time: the machine is shared) for their ratio; on one
// and two, by the clock for the speed-up.
void bareOccluded(benchmark::State &state) {
  World &w = world();
  std::vector<RTCRay> rays;
  for (std::size_t i = state.thread_index(); i < w.rays.size(); i += state.threads()) {
    const Ray &r = w.rays[i];
    RTCRay ray{};
    ray.org_x = r.o[0], ray.org_y = r.o[1], ray.org_z = r.o[2];
    ray.dir_x = r.d[0], ray.dir_y = r.d[1], ray.dir_z = r.d[2];
    ray.tnear = r.tnear;
    ray.mask = ~0u;
    rays.push_back(ray);
  }
  RTCIntersectContext ctx;
  for (auto _ : state) {
    unsigned hits = 0;
    for (RTCRay &ray : rays) {
      ray.tfar = std::numeric_limits<float>::infinity();
      rtcInitIntersectContext(&ctx);
      rtcOccluded1(w.renderer->embreeScene(), &ctx, &ray);
      hits += ray.tfar < 0;
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rays.size()));
}

// A frame of the terrain through the host, its surface shaded with AO.
void aoRender(benchmark::State &state) {
  World &w = world();
  w.scene->surfaces[0].network->endRender(); // the render brings its own init
  hostsim::RenderOptions ro;
  ro.threads = static_cast<int>(state.range(0));
  uint64_t casts = 0;
  for (auto _ : state) {
    const auto stats = w.renderer->render(ro, [](int, const hostsim::FrameBuffer &fb) { benchmark::DoNotOptimize(fb.rgb.data()); });
    casts = stats.raysCast;
  }
  w.scene->surfaces[0].network->beginRender();
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(casts));
}

BENCHMARK(aoModuleWork)->Unit(benchmark::kMicrosecond);
BENCHMARK(bareOccluded)->Unit(benchmark::kMicrosecond);
BENCHMARK(bareOccluded)->Threads(1)->Threads(2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(aoRender)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  // Made before any benchmark runs: both threads of a two-thread run would
  // otherwise make it at once, since repetitions may come in any order.
  world();
  std::printf("Processor: %s\n", juxsbench::processor().c_str());
  juxsbench::RatioReporter reporter({"allocations", "locks"});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto rate = [&](const char *name) { return reporter.rate(name); };
  const double module = rate("aoModuleWork"), bareCpu = rate("bareOccluded");
  const double bare = rate("bareOccluded/real_time/threads:1"), bare2 = rate("bareOccluded/real_time/threads:2");
  const double one = rate("aoRender/1/real_time"), two = rate("aoRender/2/real_time");
  if (gWorld) std::printf("AO rays per pass of the points: %zu\n", gWorld->rays.size());
  if (module > 0 && bareCpu > 0)
    std::printf("module's work per AO ray / one bare rtcOccluded1: %.3f (goal: at most 0.1)\n", bareCpu / module);
  if (one > 0 && two > 0 && bare > 0 && bare2 > 0)
    std::printf("AO render speed-up on two threads %.2f / bare Embree's %.2f: %.2f (goal: at least 0.95)\n", two / one,
                bare2 / bare, (two / one) / (bare2 / bare));
  if (module > 0)
    std::printf("while evaluating: %.0f allocations, %.0f mutex locks (goal: none)\n", reporter.totals["allocations"],
                reporter.totals["locks"]);
  // Figures of a module the host refused calls of would not be this module's.
  if (const std::size_t refused = gWorld->host->checks().count()) {
    std::fprintf(stderr, "%zu calls refused by the host, the first: %s\n", refused,
                 gWorld->host->checks().violations().front().line().c_str());
    return 1;
  }
  gWorld.reset(); // before the module's statics go
  benchmark::Shutdown();
  return 0;
}
