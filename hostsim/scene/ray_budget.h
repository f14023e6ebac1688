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
// evaluation would cast more than `limit` rays, or evaluate nodes more than
// `limit` times, counted from the sampling nodes' panels: Ambient
// Occlusion's samples or polar rings, the Gaussian nodes' samples, Take
// Samples' repeats of everything upstream of it, and what nests: a traced
// ray's hit shades a surface whose nodes may cast again, one ray deeper, as
// far as the scene's ray recursion limit and the nodes' own depth bounds
// (Blur Depth, Sample Depth) let them. Where a ray lands is known only as the
// render runs, so a hit is costed as the dearest surface an object wears. A
// count or bound that arrives through a connected input is not known before
// the render and is not counted. Only the node where a count first passes
// the limit is named, not every node downstream of it.
std::vector<std::string> rayWarnings(Scene &scene, Host &host, const Module &module, double limit = kManyRays);

} // namespace hostsim
