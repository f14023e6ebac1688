// The stand-in host's one way of failing. Whatever cannot be done throws an
// Error: what is wrong, and the file it concerns where the thrower knows it
// (a scene fault names its place in the scene, and the command adds the
// scene's file). The command prints it as one line, "hostsim: FILE: what is
// wrong", and exits with status 2. The C function tables the module calls
// never let one through: they answer the module as the host does (null, 0,
// an error string) and keep the message where a user will see it (each is
// noexcept, filled in through handed(), and catches in serve(): checks.h).
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

// A fault is printed on one line; library messages (OpenImageIO's, the
// module's, a parser's) may run over several, with either line ending.
inline std::string oneLine(std::string text) {
  auto isBreak = [](char c) { return c == '\n' || c == '\r'; };
  while (!text.empty() && (isBreak(text.back()) || text.back() == ' ')) text.pop_back();
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!isBreak(text[i])) {
      out += text[i];
    } else if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      out += "; ";
    }
  }
  return out.empty() ? "unknown fault" : out;
}

} // namespace hostsim
