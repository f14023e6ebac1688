// Checks of the node reference that its tests run:
//   site_check tree GENERATED COMMITTED       the same files; text exactly, pictures within the render tolerance
//   site_check links FILE.html...             every local href and src names a file that exists
//   site_check picture ACTUAL.png REFERENCE.png [DIFF.png]   a screenshot against its reference
// Exit 0 when all holds, 1 with one line per fault otherwise.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

namespace fs = std::filesystem;

namespace {

// Preview renders: Embree may differ in the last bits from one processor to
// another, which moves a few noisy samples. At most 1% of the pixels may
// differ by more than 16/255 in a channel, and the mean difference must stay
// under 1/255.
constexpr double kRenderFar = 16.0 / 255, kRenderShare = 0.01, kRenderMean = 1.0 / 255;
// Screenshots: the same Chromium and font draw the same pixels, but
// antialiasing may differ slightly. At most 50 pixels may differ by more than
// 32/255; a moved label changes hundreds.
constexpr double kShotFar = 32.0 / 255;
constexpr long kShotPixels = 50;

std::string readAll(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Difference {
  bool sameSize = false;
  long far = 0, pixels = 0; // pixels differing by more than the threshold, of all
  double mean = 0;
  std::string error;
};

Difference compare(const fs::path &a, const fs::path &b, double threshold, const std::string &diffOut = {}) {
  Difference d;
  OIIO::ImageBuf A(a.string()), B(b.string());
  if (!A.read(0, 0, true, OIIO::TypeDesc::FLOAT)) {
    d.error = a.string() + ": " + A.geterror();
    return d;
  }
  if (!B.read(0, 0, true, OIIO::TypeDesc::FLOAT)) {
    d.error = b.string() + ": " + B.geterror();
    return d;
  }
  const OIIO::ImageSpec &sa = A.spec(), &sb = B.spec();
  if (sa.width != sb.width || sa.height != sb.height) {
    d.error = "sizes differ: " + std::to_string(sa.width) + "x" + std::to_string(sa.height) + " against " +
              std::to_string(sb.width) + "x" + std::to_string(sb.height);
    return d;
  }
  d.sameSize = true;
  const int channels = std::min({sa.nchannels, sb.nchannels, 3});
  std::vector<float> pa(static_cast<std::size_t>(sa.width) * sa.height * sa.nchannels),
      pb(static_cast<std::size_t>(sb.width) * sb.height * sb.nchannels);
  A.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, pa.data());
  B.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, pb.data());
  d.pixels = static_cast<long>(sa.width) * sa.height;
  std::vector<float> marks;
  if (!diffOut.empty()) marks.assign(static_cast<std::size_t>(d.pixels) * 3, 0.0f);
  double sum = 0;
  for (long i = 0; i < d.pixels; ++i) {
    double worst = 0;
    for (int c = 0; c < channels; ++c) {
      const double diff = std::fabs(pa[i * sa.nchannels + c] - pb[i * sb.nchannels + c]);
      worst = std::max(worst, diff);
      sum += diff;
    }
    if (worst > threshold) {
      ++d.far;
      if (!marks.empty()) marks[3 * i] = 1.0f;
    } else if (!marks.empty()) {
      for (int c = 0; c < 3; ++c) marks[3 * i + c] = 0.25f * pa[i * sa.nchannels + std::min(c, channels - 1)];
    }
  }
  d.mean = sum / (static_cast<double>(d.pixels) * channels);
  if (!marks.empty() && d.far) {
    OIIO::ImageBuf out(OIIO::ImageSpec(sa.width, sa.height, 3, OIIO::TypeDesc::UINT8));
    out.set_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, marks.data());
    out.write(diffOut);
  }
  return d;
}

bool isText(const fs::path &p) {
  static const std::set<std::string> text = {".html", ".svg", ".json", ".css", ".js"};
  return text.count(p.extension().string()) > 0;
}

std::set<std::string> filesUnder(const fs::path &root) {
  std::set<std::string> files;
  if (!fs::is_directory(root)) return files;
  for (const auto &e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files.insert(fs::relative(e.path(), root).generic_string());
  return files;
}

int tree(const fs::path &generated, const fs::path &committed) {
  int faults = 0;
  auto fault = [&](const std::string &what) {
    std::printf("%s\n", what.c_str());
    ++faults;
  };
  const auto gen = filesUnder(generated), com = filesUnder(committed);
  if (gen.empty()) fault(generated.string() + ": nothing was generated");
  for (const auto &f : gen)
    if (!com.count(f)) fault("new, not committed: " + f);
  for (const auto &f : com)
    if (!gen.count(f)) fault("committed, no longer generated: " + f);
  for (const auto &f : gen) {
    if (!com.count(f)) continue;
    const fs::path a = generated / f, b = committed / f;
    if (isText(f)) {
      const std::string ta = readAll(a), tb = readAll(b);
      if (ta != tb) {
        // Name the first line that differs, which is what a reader needs.
        std::istringstream sa(ta), sb(tb);
        std::string la, lb;
        int line = 0;
        while (true) {
          const bool ga = static_cast<bool>(std::getline(sa, la)), gb = static_cast<bool>(std::getline(sb, lb));
          ++line;
          if (!ga || !gb || la != lb) break;
        }
        fault("stale: " + f + " differs from line " + std::to_string(line));
      }
    } else if (f.ends_with(".png")) {
      const Difference d = compare(a, b, kRenderFar);
      if (!d.error.empty())
        fault("stale: " + f + ": " + d.error);
      else if (d.far > kRenderShare * d.pixels || d.mean > kRenderMean)
        fault("stale: " + f + ": " + std::to_string(d.far) + " of " + std::to_string(d.pixels) +
              " pixels differ by more than 16/255, mean difference " + std::to_string(d.mean * 255) + "/255");
    } else if (readAll(a) != readAll(b)) {
      fault("stale: " + f + " differs");
    }
  }
  if (faults) std::printf("%d fault(s); regenerate the site with: hostsim doc build/JuxsNodes.p -o docs/nodes\n", faults);
  return faults ? 1 : 0;
}

// Each href="..." and src="..." attribute's value, in page order.
std::vector<std::string> linkTargets(const std::string &text) {
  std::vector<std::string> targets;
  auto named = [&](std::size_t eq, const std::string &name) {
    return eq > name.size() && text.compare(eq - name.size(), name.size(), name) == 0 &&
           std::isspace(static_cast<unsigned char>(text[eq - name.size() - 1]));
  };
  for (std::size_t eq = text.find("=\""); eq != std::string::npos; eq = text.find("=\"", eq + 2)) {
    if (!named(eq, "href") && !named(eq, "src")) continue;
    const std::size_t end = text.find('"', eq + 2);
    if (end == std::string::npos) break;
    targets.push_back(text.substr(eq + 2, end - eq - 2));
    eq = end - 1; // go on after the value
  }
  return targets;
}

int links(const std::vector<std::string> &pages) {
  int faults = 0;
  for (const auto &page : pages) {
    const std::string text = readAll(page);
    if (text.empty()) {
      std::printf("%s: empty or missing\n", page.c_str());
      ++faults;
      continue;
    }
    for (std::string target : linkTargets(text)) {
      if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0 || target.rfind("mailto:", 0) == 0 ||
          target.empty() || target[0] == '#')
        continue;
      target = target.substr(0, target.find('#'));
      const fs::path file = fs::path(page).parent_path() / target;
      if (!fs::is_regular_file(file)) {
        std::printf("%s: broken link to %s\n", page.c_str(), target.c_str());
        ++faults;
      }
    }
  }
  return faults ? 1 : 0;
}

int picture(const std::string &actual, const std::string &reference, const std::string &diffOut) {
  const Difference d = compare(actual, reference, kShotFar, diffOut);
  if (!d.error.empty()) {
    std::printf("%s: %s\n", actual.c_str(), d.error.c_str());
    return 1;
  }
  if (d.far > kShotPixels) {
    std::printf("%s: %ld pixels differ from %s by more than 32/255 (at most %ld may)%s\n", actual.c_str(), d.far,
                reference.c_str(), kShotPixels, diffOut.empty() ? "" : ("; marked in red in " + diffOut).c_str());
    return 1;
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "tree") return tree(args[1], args[2]);
  if (args.size() >= 2 && args[0] == "links") return links({args.begin() + 1, args.end()});
  if ((args.size() == 3 || args.size() == 4) && args[0] == "picture")
    return picture(args[1], args[2], args.size() == 4 ? args[3] : "");
  std::fprintf(stderr, "usage: site_check tree GENERATED COMMITTED | links FILE.html... | picture ACTUAL REFERENCE [DIFF]\n");
  return 2;
}
