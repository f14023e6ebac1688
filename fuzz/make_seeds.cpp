// Writes seed inputs for the fuzz targets from the module as it is built:
// every node's default block in both stream modes for the load target, and
// for the edit target a sequence that makes, connects, edits, saves, reloads
// and renders every node. Run by scripts/test.sh before fuzzing, so a node
// added to the module is seeded the day it lands; the corpus kept in the
// repository was written by it too.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace fs = std::filesystem;

namespace {

void write(const fs::path &file, const std::vector<uint8_t> &bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) fuzz::fault("cannot write " + file.string());
}

std::string fileName(std::string server) {
  for (char &c : server)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return server;
}

void push16(std::vector<uint8_t> &v, std::size_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR (writes DIR/node_load and DIR/network)\n");
    return 2;
  }
  const fs::path dir = argv[1];
  fs::create_directories(dir / "node_load");
  fs::create_directories(dir / "network");
  const auto &servers = fuzz::nodeServers();
  hostsim::Host host;
  hostsim::Network net(host, fuzz::module(), "Seeds");
  for (const std::string &server : servers) {
    hostsim::HostNode *n = fuzz::must(server + ": ", [&] { return net.add(server); });
    for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
      std::vector<uint8_t> seed(server.begin(), server.end());
      seed.push_back(0);
      seed.push_back(mode == LWIO_ASCII ? 1 : 0);
      const std::vector<uint8_t> block = fuzz::saved(net, n, mode);
      seed.insert(seed.end(), block.begin(), block.end());
      write(dir / "node_load" / (fileName(server) + (mode == LWIO_ASCII ? "-text" : "-binary")), seed);
    }
  }
  // Each node made and edited, the first connected on to every other,
  // saved and reloaded, rendered; then the same with 70 of each.
  for (int many = 0; many < 2; ++many) {
    std::vector<uint8_t> ops;
    for (std::size_t i = 0; i < servers.size(); ++i) {
      if (many) {
        ops.push_back(9);
        push16(ops, i);
        ops.push_back(70);
      } else {
        ops.push_back(0);
        push16(ops, i);
      }
      ops.push_back(6); // panel of the newest node: the picks wrap round to it
      push16(ops, ops.size());
      push16(ops, 0);
      ops.insert(ops.end(), {1, 0, 0, 0});
    }
    for (std::size_t i = 1; i < servers.size(); ++i) {
      ops.push_back(4);
      push16(ops, 0);
      push16(ops, i);
      push16(ops, 0);
      push16(ops, 0);
    }
    ops.insert(ops.end(), {7, 0, 0, 0, 8, 1, 0, 0, 3, 4, 0, 0, 0, 2, 7, 1, 8, 2, 0, 1, 0, 0});
    write(dir / "network" / (many ? "every-node-70-times" : "every-node"), ops);
  }
  std::printf("make_seeds: %zu node servers, seeds in %s\n", servers.size(), dir.c_str());
  return 0;
}
