// The members of an instance record that hold a setting: one member each,
// bound by one row of the node's description, read in evaluate through that
// member alone.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

#include "framework/node_kind.h"

namespace juxs::fw {

// Three components: a colour, a vector or a position.
using Triple = std::array<double, 3>;

// A setting held by a variant parameter (T: double, or Triple for three
// components): the value cached at the last newTime, or at time 0 after
// create and load; the parameter; the input that overrides it.
template <class T>
struct Param {
  T value;
  LWVParmID handle;
  NodeInputID input;
};

// An integer setting with the input that overrides it. One without an input
// is a plain int32_t.
struct Int {
  int32_t value;
  NodeInputID input;
};

// One evaluation's settings, each read through its member: the value its
// input delivers where the input is connected, else the setting's own. Each
// call evaluates its input there and then, so a node reads its settings in
// the order it defines. render threads, concurrently
class Inputs {
public:
  Inputs(const Services &svc, LWNodalAccess *na) noexcept : in_(svc.input), na_(na) {}

  double operator()(const Param<double> &p) const noexcept { return read(p.input, p.value); }
  Triple operator()(const Param<Triple> &p) const noexcept { return read(p.input, p.value); }
  int32_t operator()(const Int &s) const noexcept { return read(s.input, s.value); }
  // An input without a setting: what it delivers, else fallback.
  template <class T>
  T operator()(NodeInputID in, T fallback) const noexcept {
    return read(in, fallback);
  }

private:
  template <class T>
  T read(NodeInputID in, T v) const noexcept {
    if constexpr (std::is_same_v<T, Triple>)
      in_->evaluate(in, na_, v.data());
    else
      in_->evaluate(in, na_, &v);
    return v;
  }
  const LWNodeInputFuncs *in_;
  LWNodalAccess *na_;
};

} // namespace juxs::fw
