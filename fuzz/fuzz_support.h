// What the fuzz targets share: the module as the host sees it, with its node
// servers listed at run time from _mod_descrip (so that a node is fuzzed the
// day it is added to the module), bytes taken apart, a bound on the work one
// input may cause, and a fault report that stops the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostsim/loader.h"
#include "hostsim/network.h"

namespace fuzz {

// The module linked into the target, opened once, as the host opens a file.
const hostsim::Module &module();
// Its NodeHandler servers that have an activation, in table order.
const std::vector<std::string> &nodeServers();
// The server an input names, or one chosen by the name's hash when it names none.
const std::string &serverFor(std::string_view name);

// Each target calls this first for every input: the count is part of the
// state a fault reports.
void beginInput();

// What earlier inputs of this process left behind in the module, which the
// input alone does not bring back: the count of inputs run, and the material
// registry (listed Store Materials and their identifiers, listed Get
// Materials, the running identifier). A fault that does not replay from its
// input alone is reduced from this.
std::string moduleState();

// A property the host relies on does not hold: say what, and the module
// state, and stop, so that the fuzzer keeps the input.
[[noreturn]] void fault(const std::string &what);

// Every call the module made into the host was one the host allows; the
// first it refused is a fault.
void requireNoRefusals(hostsim::Host &host);

// A host operation that may be refused (a cycle, a block a node will not
// load): its Error's message, or nothing when it went through.
template <class Fn> std::optional<std::string> refusal(Fn &&fn) {
  try {
    fn();
  } catch (const hostsim::Error &e) {
    return e.what();
  }
  return std::nullopt;
}

// A host operation that must go through: its Error is a fault, said after what.
template <class Fn> auto must(std::string_view what, Fn &&fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const hostsim::Error &e) {
    fault(std::string(what) + e.what());
  }
}

// Thread numbers a host might hand out, in and out of the nodes' tables.
int32_t threadNumber(uint8_t choice);

// An empty-world shading context of the given render thread (the one place
// the targets say where a context keeps its thread number).
LWNodalAccess contextOfThread(int32_t threadNum);

// Every module evaluation counts against a budget; once it is spent the
// nodes are no longer called (their outputs pass on zero). A network in which
// each node reads the one before twice doubles the work per node, in the host
// as here: that is the network's cost, not a fault, and a fuzzer must not
// wait for it.
namespace budget {
void reset(uint64_t evaluations);
// Routes a module node's evaluation through the budget.
void watch(hostsim::HostNode *node);
bool spent();
} // namespace budget

// Render start, newTime, every output evaluated once in an empty world with
// the given thread number, render end.
void exercise(hostsim::Network &net, hostsim::HostNode *node, int32_t threadNum, LWFrame frame = 1);

// The node's block as its save writes it; a failed save is a fault.
std::vector<uint8_t> saved(hostsim::Network &net, hostsim::HostNode *node, int32_t mode);

// Takes bytes from the front; past the end everything reads as zero.
class Bytes {
public:
  Bytes(const uint8_t *data, std::size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  std::size_t size() const { return n_; }
  uint8_t byte() {
    if (!n_) return 0;
    --n_;
    return *p_++;
  }
  template <class T>
  T value() {
    T v{};
    const std::size_t k = n_ < sizeof v ? n_ : sizeof v;
    std::memcpy(&v, p_, k);
    p_ += k;
    n_ -= k;
    return v;
  }
  // Up to max bytes, the count taken first.
  std::string text(std::size_t max) {
    std::size_t len = byte();
    if (len > max) len = max;
    if (len > n_) len = n_;
    std::string s(reinterpret_cast<const char *>(p_), len);
    p_ += len;
    n_ -= len;
    return s;
  }
  // An index below count (which must be above 0).
  std::size_t pick(std::size_t count) { return count ? value<uint16_t>() % count : 0; }

private:
  const uint8_t *p_;
  std::size_t n_;
};

} // namespace fuzz
