// Gaussian Reflections' and Gaussian Refractions' own work per sample (nine
// draws from the module generator, the jittered normal, the mirror or
// refracted direction, the averaging) against one bare Embree intersection of
// the scene the rays would be traced in, measured in the same run. Each node
// is evaluated through the host with a trace that returns at once, so only
// the node's side is timed: once tracing (rays made a batch ahead, each
// sample taking its draws just before its trace, as it must since a trace
// may draw) and once from a spherical map with no image chosen (the source
// adds no work of its own). Allocations and mutex locks while evaluating are
// counted. Apart, one batch's rays are made at each width of instructions the
// processor has. The ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "bench/alloc_counter.h"
#include "bench/ratio_reporter.h"
#include "hostsim/network.h"
#include "hostsim/render/renderer.h"
#include "hostsim/scene/scene.h"
#include "module/module.h"
#include "nodes/raytrace/gaussian.h"

namespace {

const char *const kScene = R"({
  "camera": {"position": [0, 2, -7], "target": [0, 0.5, 0], "fov": 60},
  "image": {"width": 320, "height": 240, "samples": 1},
  "light": {"direction": [-1, -2, 1], "shadows": false},
  "surfaces": [{"name": "Floor", "color": [0.7, 0.7, 0.7]}, {"name": "Paint", "color": [0.8, 0.3, 0.2]}],
  "objects": [
    {"type": "plane", "surface": "Floor", "size": [12, 12]},
    {"type": "sphere", "surface": "Paint", "radius": 0.8, "position": [-1.8, 0.8, 0]},
    {"type": "sphere", "surface": "Paint", "radius": 0.6, "position": [0, 0.6, 1]},
    {"type": "box", "surface": "Paint", "size": [1, 1.6, 1], "position": [1.8, 0.8, 0], "rotation": [25, 0, 0]}
  ]})";

constexpr int32_t kSamples = 64;

double noTrace(const double *, const double *, double *, const double, const int32_t) { return 1.0; }

constexpr const char *kNodes[] = {"Jux Gaussian Reflections", "Jux Gaussian Refractions"};
constexpr const char *kBlur[] = {"Reflection Blur", "Refraction Blur"};
constexpr int32_t kModes[] = {1, 2}; // Ray Tracing + Backdrop; Spherical Map (no image)

struct World {
  std::unique_ptr<hostsim::Module> module;
  std::unique_ptr<hostsim::Host> host;
  std::unique_ptr<hostsim::Scene> scene;
  std::unique_ptr<hostsim::Renderer> renderer;
  std::unique_ptr<hostsim::Network> net;
  hostsim::HostNode *nodes[2][2] = {}; // [node][mode]
  World() {
    module = hostsim::Module::fromDescriptor(&_mod_descrip);
    host = std::make_unique<hostsim::Host>();
    scene = hostsim::parseScene(*host, *module, kScene, "bench.json");
    renderer = std::make_unique<hostsim::Renderer>(*scene, *host);
    net = std::make_unique<hostsim::Network>(*host, *module);
    for (int k = 0; k < 2; ++k)
      for (int m = 0; m < 2; ++m) {
        hostsim::HostNode *node = nodes[k][m] = net->add(kNodes[k]);
        // Blur 20 % and 64 samples (and an index of 1.5), set as a user sets them.
        const hostsim::ServerInfo *s = module->find(LWNODE_ICLASS, node->serverName);
        LWInterface local{node->instance, nullptr, nullptr, nullptr};
        module->activate(*s, LWNODE_IVERSION, host->global(), &local);
        hostsim::Panel *p = hostsim::XPanelService::of(local.panel);
        host->panels().editValues(*p, *p->control(kBlur[k]), {20.0});
        host->panels().editInteger(*p, *p->control("Samples"), kSamples);
        host->panels().editInteger(*p, *p->control("Mode"), kModes[m]);
        if (k == 1) host->panels().editValues(*p, *p->control("Refraction Index"), {1.5});
      }
    net->beginRender();
    net->newTime(1, 0.0);
  }
  ~World() {
    net.reset();
    renderer.reset();
    scene.reset();
    host.reset();
  }
};

std::unique_ptr<World> gWorld;

World &world() {
  if (!gWorld) gWorld = std::make_unique<World>();
  return *gWorld;
}

// The camera's rays of the scene (state.range(0) = 0), or the mirror rays
// they give off where they hit (1), the kind a reflection node traces.
std::vector<RTCRayHit> makeRays(World &w, bool reflected) {
  std::vector<RTCRayHit> rays;
  RTCIntersectContext ctx;
  for (int y = 0; y < w.scene->height; ++y)
    for (int x = 0; x < w.scene->width; ++x) {
      double o[3], d[3];
      w.renderer->cameraRay(x, y, 0, 1, o, d);
      RTCRayHit rh{};
      rh.ray.org_x = float(o[0]), rh.ray.org_y = float(o[1]), rh.ray.org_z = float(o[2]);
      rh.ray.dir_x = float(d[0]), rh.ray.dir_y = float(d[1]), rh.ray.dir_z = float(d[2]);
      rh.ray.mask = ~0u;
      if (reflected) {
        rh.ray.tnear = 1e-4f;
        rh.ray.tfar = std::numeric_limits<float>::infinity();
        rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rtcInitIntersectContext(&ctx);
        rtcIntersect1(w.renderer->embreeScene(), &ctx, &rh);
        if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) continue;
        float n[3] = {rh.hit.Ng_x, rh.hit.Ng_y, rh.hit.Ng_z};
        const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (float &c : n) c /= len;
        const float t = rh.ray.tfar;
        float dir[3] = {rh.ray.dir_x, rh.ray.dir_y, rh.ray.dir_z};
        const float k = 2 * (dir[0] * n[0] + dir[1] * n[1] + dir[2] * n[2]);
        RTCRayHit r{};
        r.ray.org_x = rh.ray.org_x + t * dir[0], r.ray.org_y = rh.ray.org_y + t * dir[1], r.ray.org_z = rh.ray.org_z + t * dir[2];
        r.ray.dir_x = dir[0] - k * n[0], r.ray.dir_y = dir[1] - k * n[1], r.ray.dir_z = dir[2] - k * n[2];
        r.ray.mask = ~0u;
        rh = r;
      }
      rays.push_back(rh);
    }
  return rays;
}

void bareEmbree(benchmark::State &state) {
  World &w = world();
  std::vector<RTCRayHit> rays = makeRays(w, state.range(0) != 0);
  RTCIntersectContext ctx;
  for (auto _ : state) {
    unsigned hits = 0;
    for (RTCRayHit &rh : rays) {
      rh.ray.tnear = 1e-3f;
      rh.ray.tfar = std::numeric_limits<float>::infinity();
      rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
      rtcInitIntersectContext(&ctx);
      rtcIntersect1(w.renderer->embreeScene(), &ctx, &rh);
      hits += rh.hit.geomID != RTC_INVALID_GEOMETRY_ID;
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rays.size()));
}

// One evaluation: the node's inputs, then kSamples jittered rays.
// state.range(0): the node (0 Reflections, 1 Refractions); range(1): the mode
// (0 tracing, 1 spherical map).
void gaussianSamples(benchmark::State &state) {
  World &w = world();
  hostsim::HostNode *node = w.nodes[state.range(0)][state.range(1)];
  LWNodalAccess na = hostsim::emptyWorldContext();
  na.raySource[0] = -1;
  na.raySource[1] = 1;
  na.rayTraceMode = &noTrace;
  const uint64_t a0 = gAllocations, l0 = gLocks;
  tCounting = true;
  for (auto _ : state) {
    const hostsim::OutputValue v = w.net->evaluate(node, "Color", na);
    benchmark::DoNotOptimize(v.v[0]);
  }
  tCounting = false;
  state.SetItemsProcessed(state.iterations() * kSamples);
  state.counters["allocations"] = double(gAllocations - a0);
  state.counters["locks"] = double(gLocks - l0);
}

// The rays of one batch of samples made from their draws, at one width of
// instructions (state.range(1)) for Reflections' mirrors or Refractions'
// bends (range(0)): what the wider instructions gain. Registered for the
// widths this processor has.
void batchRays(benchmark::State &state) {
  namespace gs = juxs::gaussian;
  uint32_t draws[gs::kSampleBatch * gs::kDrawsPerNormal];
  uint32_t x = 12345;
  for (uint32_t &d : draws) d = x = x * 1664525u + 1013904223u;
  const double n[3] = {0.0, 0.6, 0.8}, v[3] = {0.48, -0.8, 0.36};
  const gs::Bend bend = gs::bendFor(1.0, 1.5);
  const auto width = static_cast<gs::Width>(state.range(1));
  gs::Rays rays;
  for (auto _ : state) {
    if (state.range(0) == 0)
      gs::mirrorRays(width, n, v, 0.2, 1.0, draws, gs::kSampleBatch, rays);
    else
      gs::bendRays(width, n, v, 0.2, bend, draws, gs::kSampleBatch, rays);
    benchmark::DoNotOptimize(rays);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(gs::kSampleBatch));
}

BENCHMARK(bareEmbree)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(gaussianSamples)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  // Made before any benchmark runs: both threads of a two-thread run would
  // otherwise make it at once, since repetitions may come in any order.
  world();
  std::printf("Processor: %s\n", juxsbench::processor().c_str());
  const int widest = static_cast<int>(juxs::gaussian::widest());
  for (int w = 0; w <= widest; ++w)
    benchmark::RegisterBenchmark("batchRays", batchRays)->ArgsProduct({{0, 1}, {w}})->Unit(benchmark::kNanosecond);
  juxsbench::RatioReporter reporter({"allocations", "locks"});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double camera = reporter.rate("bareEmbree/0"), mirror = reporter.rate("bareEmbree/1");
  const char *const names[] = {"Gaussian Reflections", "Gaussian Refractions"};
  const char *const modes[] = {"tracing", "spherical map"};
  bool any = false;
  for (int k = 0; k < 2; ++k)
    for (int m = 0; m < 2; ++m) {
      const double samples = reporter.rate("gaussianSamples/" + std::to_string(k) + "/" + std::to_string(m));
      if (samples <= 0) continue;
      any = true;
      // Time per sample over time per intersection: the rates inverted.
      if (camera > 0)
        std::printf("%s (%s) work per sample / one bare rtcIntersect1 of a camera ray: %.3f (goal: at most 0.2)\n",
                    names[k], modes[m], camera / samples);
      if (mirror > 0)
        std::printf("%s (%s) work per sample / one bare rtcIntersect1 of a mirror ray: %.3f (goal: at most 0.2)\n",
                    names[k], modes[m], mirror / samples);
    }
  const char *const widths[] = {"SSE2", "AVX2"};
  for (int k = 0; k < 2; ++k)
    for (int w = 1; w <= widest; ++w) {
      const std::string at = "batchRays/" + std::to_string(k) + "/";
      const double base = reporter.rate(at + "0"), wide = reporter.rate(at + std::to_string(w));
      if (base > 0 && wide > 0)
        std::printf("%s rays of a batch: %s makes them %.2f times as fast as SSE2\n", names[k], widths[w], wide / base);
    }
  if (any)
    std::printf("while evaluating: %.0f allocations, %.0f mutex locks (goal: none)\n", reporter.totals["allocations"],
                reporter.totals["locks"]);
  // Figures of a module the host refused calls of would not be this module's.
  if (const std::size_t refused = gWorld->host->checks().count()) {
    std::fprintf(stderr, "%zu calls refused by the host, the first: %s\n", refused,
                 gWorld->host->checks().violations().front().line().c_str());
    return 1;
  }
  gWorld.reset();
  benchmark::Shutdown();
  return 0;
}
