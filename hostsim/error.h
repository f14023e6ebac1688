// The stand-in host's one way of failing. Whatever cannot be done throws an
// Error: what is wrong, and the file it concerns where the thrower knows it
// (a scene fault names its place in the scene, and the command adds the
// scene's file). The command prints it as one line, "hostsim: FILE: what is
// wrong", and exits with status 2. The C function tables the module calls
// never let one through: they answer the module as the host does (null, 0,
// an error string) and keep the message where a user will see it.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace hostsim {

class Error : public std::runtime_error {
public:
  explicit Error(const std::string &what, std::string file = {}) : std::runtime_error(what), file_(std::move(file)) {}
  // The file the fault is in; empty when the caller knows it better.
  const std::string &file() const noexcept { return file_; }

private:
  std::string file_;
};

} // namespace hostsim
