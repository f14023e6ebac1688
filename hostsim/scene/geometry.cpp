#include "hostsim/scene/geometry.h"

#include <cerrno>
#include <cmath>
#include <numbers>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hostsim/paths.h"

namespace hostsim {
namespace {

constexpr double kDegrees = std::numbers::pi / 180.0;

// R = heading * pitch * bank, as a row-major 3x3.
std::array<double, 9> rotationMatrix(const Vec3 &hpb) {
  const double ch = std::cos(hpb[0] * kDegrees), sh = std::sin(hpb[0] * kDegrees);
  const double cp = std::cos(hpb[1] * kDegrees), sp = std::sin(hpb[1] * kDegrees);
  const double cb = std::cos(hpb[2] * kDegrees), sb = std::sin(hpb[2] * kDegrees);
  const std::array<double, 9> h{ch, 0, sh, 0, 1, 0, -sh, 0, ch};
  const std::array<double, 9> p{1, 0, 0, 0, cp, -sp, 0, sp, cp};
  const std::array<double, 9> b{cb, -sb, 0, sb, cb, 0, 0, 0, 1};
  auto mul = [](const std::array<double, 9> &a, const std::array<double, 9> &c) {
    std::array<double, 9> r{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) r[i * 3 + j] += a[i * 3 + k] * c[k * 3 + j];
    return r;
  };
  return mul(mul(h, p), b);
}

} // namespace

std::array<double, 12> Transform::matrix() const {
  const auto r = rotationMatrix(rotation);
  std::array<double, 12> m{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m[i * 4 + j] = r[i * 3 + j] * scale[j];
    m[i * 4 + 3] = position[i];
  }
  return m;
}

std::array<double, 12> Transform::inverse() const {
  // (T R S)^-1 = S^-1 R^T T^-1
  const auto r = rotationMatrix(rotation);
  std::array<double, 12> m{};
  for (int i = 0; i < 3; ++i) {
    const double inv = scale[i] != 0.0 ? 1.0 / scale[i] : 0.0;
    double t = 0;
    for (int j = 0; j < 3; ++j) {
      m[i * 4 + j] = r[j * 3 + i] * inv;
      t -= m[i * 4 + j] * position[j];
    }
    m[i * 4 + 3] = t;
  }
  return m;
}

Vec3 transformNormal(const std::array<double, 12> &inv, const Vec3 &n) {
  Vec3 r;
  for (int i = 0; i < 3; ++i) r[i] = inv[i] * n[0] + inv[4 + i] * n[1] + inv[8 + i] * n[2];
  const double len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  if (len > 0)
    for (double &c : r) c /= len;
  return r;
}

void Mesh::transform(const Transform &t) {
  const auto m = t.matrix();
  const auto inv = t.inverse();
  for (std::size_t i = 0; i + 2 < positions.size(); i += 3) {
    const Vec3 p = transformPoint(m, {positions[i], positions[i + 1], positions[i + 2]});
    for (int c = 0; c < 3; ++c) positions[i + c] = static_cast<float>(p[c]);
  }
  for (std::size_t i = 0; i + 2 < normals.size(); i += 3) {
    const Vec3 n = transformNormal(inv, {normals[i], normals[i + 1], normals[i + 2]});
    for (int c = 0; c < 3; ++c) normals[i + c] = static_cast<float>(n[c]);
  }
  // A mirroring scale turns the winding, and with it the faces' outside.
  if (m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) + m[2] * (m[4] * m[9] - m[5] * m[8]) < 0)
    for (std::size_t i = 0; i + 2 < indices.size(); i += 3) std::swap(indices[i + 1], indices[i + 2]);
}

// Triangles wind so that (v1 - v0) x (v2 - v0) points out of the object, as
// in OBJ files; the renderer takes its geometric normal from that product.
Mesh makePlane(double width, double depth) {
  Mesh m;
  const float w = static_cast<float>(width / 2), d = static_cast<float>(depth / 2);
  m.positions = {-w, 0, -d, w, 0, -d, w, 0, d, -w, 0, d};
  m.indices = {0, 2, 1, 0, 3, 2};
  return m;
}

Mesh makeBox(const Vec3 &size) {
  Mesh m;
  const float h[3] = {static_cast<float>(size[0] / 2), static_cast<float>(size[1] / 2), static_cast<float>(size[2] / 2)};
  // Each face: its normal axis and sign; four corners in the plane.
  for (int axis = 0; axis < 3; ++axis)
    for (int sign = -1; sign <= 1; sign += 2) {
      const int u = (axis + 1) % 3, v = (axis + 2) % 3;
      const auto base = static_cast<uint32_t>(m.vertexCount());
      const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
      for (const auto &c : corners) {
        float p[3];
        p[axis] = sign * h[axis];
        p[u] = c[0] * h[u];
        p[v] = c[1] * h[v];
        m.positions.insert(m.positions.end(), p, p + 3);
      }
      if (sign > 0)
        m.indices.insert(m.indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
      else
        m.indices.insert(m.indices.end(), {base, base + 2, base + 1, base, base + 3, base + 2});
    }
  return m;
}

namespace {

// Bytes a triangle takes in Embree's hierarchy while it is built, measured:
// the peak of a render of a million triangles, less what the rest counts.
constexpr uint64_t kHierarchyBytes = 96;

struct ObjCounts {
  uint64_t points = 0, normals = 0, corners = 0, triangles = 0;
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The records a file holds, told by their first word alone: what reading it
// will make, found without making it.
ObjCounts countObj(std::istream &in) {
  ObjCounts n;
  std::string line;
  while (std::getline(in, line)) {
    const char *p = line.c_str();
    while (blank(*p)) ++p;
    if (p[0] == 'v' && blank(p[1])) {
      ++n.points;
    } else if (p[0] == 'v' && p[1] == 'n' && blank(p[2])) {
      ++n.normals;
    } else if (p[0] == 'f' && blank(p[1])) {
      uint64_t corners = 0;
      for (const char *q = p + 1; *q;) {
        while (blank(*q)) ++q;
        if (!*q) break;
        ++corners;
        while (*q && !blank(*q)) ++q;
      }
      n.corners += corners;
      if (corners >= 3) n.triangles += corners - 2;
    }
  }
  return n;
}

} // namespace

uint64_t meshBytes(uint64_t points, uint64_t normals, uint64_t corners, uint64_t triangles) {
  constexpr uint64_t kVec = 3 * sizeof(float);
  const uint64_t perCorner = kVec + sizeof(int64_t) + kVec + (normals ? kVec : 0);
  const uint64_t perTriangle = 3 * sizeof(uint32_t) + 3 * sizeof(uint32_t) + kVec + kHierarchyBytes;
  return (points + normals) * kVec + corners * perCorner + triangles * perTriangle;
}

Mesh readObj(const std::string &path, uint64_t budget, uint64_t *taken) {
  // A folder opens as an empty stream on some systems and reads as no faces;
  // a device or a pipe may never end (/dev/zero), or never start.
  if (const std::string kind = notAFile(pathFromUtf8(path)); !kind.empty())
    throw Error("mesh \"" + path + "\" is " + kind + ", not an OBJ file", path);
  std::ifstream in(path);
  if (!in) {
    throw Error("cannot open mesh \"" + path + "\": " + std::strerror(errno), path);
  }
  const ObjCounts counted = countObj(in);
  const uint64_t bytes = meshBytes(counted.points, counted.normals, counted.corners, counted.triangles);
  if (bytes > budget) {
    auto mib = [](uint64_t n) {
      char text[32];
      std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(n) / (1 << 20));
      return std::string(text);
    };
    throw Error("mesh \"" + path + "\": " + std::to_string(counted.triangles) + " triangles would take about " +
                    mib(bytes) + ", more than the " + mib(budget) +
                    " left for the scene's meshes (--mesh-budget MIB sets what they may take)",
                path);
  }
  if (taken) *taken = bytes;
  in.clear();
  in.seekg(0);
  Mesh mesh;
  std::vector<float> v, vn;
  std::vector<int64_t> normalOf; // per output vertex: the vn index, or -1
  v.reserve(counted.points * 3);
  vn.reserve(counted.normals * 3);
  normalOf.reserve(counted.corners);
  mesh.positions.reserve(counted.corners * 3);
  mesh.indices.reserve(counted.triangles * 3);
  struct Corner {
    int64_t v, n;
  };
  bool anyNormal = false;
  std::string line;
  int lineNo = 0;
  auto fault = [&](const std::string &what) { return Error(path + ": line " + std::to_string(lineNo) + ": " + what, path); };
  std::vector<Corner> face;
  while (std::getline(in, line)) {
    ++lineNo;
    std::istringstream ls(line);
    std::string tag;
    if (!(ls >> tag) || tag[0] == '#') continue;
    if (tag == "v" || tag == "vn") {
      double x, y, z;
      if (!(ls >> x >> y >> z) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
        throw fault("a " + tag + " record needs three numbers");
      auto &dst = tag == "v" ? v : vn;
      dst.insert(dst.end(), {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)});
    } else if (tag == "f") {
      face.clear();
      std::string corner;
      while (ls >> corner) {
        // v, v/vt, v//vn or v/vt/vn; indices from 1, negative from the end.
        Corner c{0, 0};
        char *end = nullptr;
        c.v = std::strtoll(corner.c_str(), &end, 10);
        const auto vcount = static_cast<int64_t>(v.size() / 3), ncount = static_cast<int64_t>(vn.size() / 3);
        if (end == corner.c_str()) throw fault("bad face corner \"" + corner + "\"");
        c.v = c.v < 0 ? vcount + c.v : c.v - 1;
        if (c.v < 0 || c.v >= vcount) throw fault("face corner \"" + corner + "\" names no vertex");
        c.n = -1;
        const auto second = corner.find('/', 0);
        const auto third = second == std::string::npos ? std::string::npos : corner.find('/', second + 1);
        if (third != std::string::npos && third + 1 < corner.size()) {
          int64_t n = std::strtoll(corner.c_str() + third + 1, &end, 10);
          n = n < 0 ? ncount + n : n - 1;
          if (n < 0 || n >= ncount) throw fault("face corner \"" + corner + "\" names no normal");
          c.n = n;
          anyNormal = true;
        }
        face.push_back(c);
      }
      if (face.size() < 3) throw fault("a face needs three corners");
      // Each corner becomes its own vertex: OBJ pairs positions and normals per corner.
      const auto base = static_cast<uint32_t>(mesh.vertexCount());
      for (const Corner &c : face) {
        mesh.positions.insert(mesh.positions.end(), &v[c.v * 3], &v[c.v * 3] + 3);
        normalOf.push_back(c.n);
      }
      for (uint32_t k = 1; k + 1 < face.size(); ++k) mesh.indices.insert(mesh.indices.end(), {base, base + k, base + k + 1});
    }
  }
  if (mesh.indices.empty()) throw fault("the mesh has no faces");
  if (anyNormal) {
    mesh.normals.resize(mesh.positions.size(), 0.0f);
    for (std::size_t i = 0; i < normalOf.size(); ++i)
      if (normalOf[i] >= 0)
        for (int c = 0; c < 3; ++c) mesh.normals[i * 3 + c] = vn[normalOf[i] * 3 + c];
  }
  return mesh;
}

} // namespace hostsim
