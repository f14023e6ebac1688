// Object geometry in world space: spheres as centre and radius, everything
// else as triangle meshes with optional vertex normals.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hostsim/error.h"

namespace hostsim {

using Vec3 = std::array<double, 3>;

// Position, then heading (about +Y, turning +Z towards +X), pitch (about +X,
// turning +Z towards -Y) and bank (about +Z, turning +X towards +Y), all in
// degrees, applied to a scaled object as scale, bank, pitch, heading, move.
struct Transform {
  Vec3 position{0, 0, 0};
  Vec3 rotation{0, 0, 0}; // heading, pitch, bank
  Vec3 scale{1, 1, 1};

  // Row-major 3x4 matrices of the transform and its inverse.
  std::array<double, 12> matrix() const;
  std::array<double, 12> inverse() const;
};

// Inline: the renderer takes every hit into its object's space.
inline Vec3 transformPoint(const std::array<double, 12> &m, const Vec3 &p) {
  Vec3 r;
  for (int i = 0; i < 3; ++i) r[i] = m[i * 4] * p[0] + m[i * 4 + 1] * p[1] + m[i * 4 + 2] * p[2] + m[i * 4 + 3];
  return r;
}
// Normals go through the inverse transpose; the result is unit length.
Vec3 transformNormal(const std::array<double, 12> &inverse, const Vec3 &n);

struct Mesh {
  std::vector<float> positions; // x y z per vertex
  std::vector<float> normals;   // x y z per vertex, or empty: flat shading
  std::vector<uint32_t> indices; // three per triangle

  std::size_t vertexCount() const { return positions.size() / 3; }
  void transform(const Transform &t);
};

// A square of side size[0] by size[1] in the X-Z plane, facing +Y.
Mesh makePlane(double width, double depth);
// A box centred on the origin with flat faces.
Mesh makeBox(const Vec3 &size);
// What the meshes of a scene may take in memory together, unless the
// command line gives another budget (--mesh-budget): a file whose faces would
// take more than is left is refused before they are read.
constexpr uint64_t kMeshBudgetBytes = uint64_t(1) << 30;

// What a mesh takes while a scene is read and rendered, from its file's
// counts: its points and normals (the v and vn records) while the file is
// read; for each polygon corner (each its own vertex) a position, a normal
// when the file gives any, and the renderer's copy of the position; for each
// triangle three indices, the renderer's copy of them, a face normal and
// Embree's hierarchy over it, as it is built.
uint64_t meshBytes(uint64_t points, uint64_t normals, uint64_t corners, uint64_t triangles);

// A Wavefront OBJ file: v, vn and f records (polygons are fanned into
// triangles, negative indices count back); everything else is skipped.
// The records are counted first: a mesh that would take more than budget
// bytes (meshBytes) is refused before anything is allocated for it; what it
// takes goes to *taken. Throws Error naming the file ("FILE: line N: what")
// on a fault.
Mesh readObj(const std::string &path, uint64_t budget = UINT64_MAX, uint64_t *taken = nullptr);

} // namespace hostsim
