// What a render is about to cost, told before it starts: a node whose one
// evaluation would cast a great many rays stalls a render with nothing said
// but a growing estimate of the time left.
#pragma once

#include <string>
#include <vector>

#include "hostsim/scene/scene.h"

namespace hostsim {

// Rays one evaluation casts beyond which a render is warned of.
constexpr double kManyRays = 1e6;

// One line, "where: what", for each node of the scene's networks whose one
// evaluation would cast more than kManyRays rays, counted from the sampling
// nodes' panels (Ambient Occlusion's samples or polar rings, the Gaussian
// nodes' samples, Take Samples' repeats of everything upstream of it). A
// count that arrives through a connected input is not known before the
// render and is not counted. Only the node where the count first passes the
// limit is named, not every node downstream of it.
std::vector<std::string> rayWarnings(Scene &scene, Host &host, const Module &module, double limit = kManyRays);

} // namespace hostsim
