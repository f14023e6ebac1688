// What the checking host refused: a suite fails on any call the module (or a
// test playing the module) made that the host does not allow.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostsim/host.h"

namespace testsupport {

// A test calling the host's tables as a module does: from inside one of its
// callbacks outside evaluation (a create).
class InCallback : public hostsim::CallbackScope {
public:
  InCallback() : CallbackScope(hostsim::Callback::Create, nullptr) {}
};

// A test calling a shading context's operations as a node's evaluate does,
// on the sample's own context.
class InEvaluate : public hostsim::CallbackScope {
public:
  explicit InEvaluate(const LWNodalAccess &na) : CallbackScope(nullptr, &na, nullptr) {}
};

// Fails the test for each call the host refused, and forgets them.
inline void expectNoViolations(hostsim::Host &host) {
  for (const hostsim::Violation &v : host.checks().take()) ADD_FAILURE() << "refused by the host: " << v.line();
}

// The refusals since the last look, one line each.
inline std::vector<std::string> refusals(hostsim::Host &host) {
  std::vector<std::string> lines;
  for (const hostsim::Violation &v : host.checks().take()) lines.push_back(v.line());
  return lines;
}

// Whether exactly one refusal was recorded and it says every part of what.
inline ::testing::AssertionResult refusedOnce(hostsim::Host &host, const std::vector<std::string> &parts) {
  const std::vector<std::string> lines = refusals(host);
  if (lines.size() != 1) {
    std::string all;
    for (const std::string &l : lines) all += "\n  " + l;
    return ::testing::AssertionFailure() << lines.size() << " refusals, not one:" << all;
  }
  for (const std::string &p : parts)
    if (lines[0].find(p) == std::string::npos) return ::testing::AssertionFailure() << "\"" << p << "\" not in: " << lines[0];
  return ::testing::AssertionSuccess();
}

} // namespace testsupport
