// Paths cross between the host's strings and std::filesystem explicitly, as
// UTF-8: on Windows a path is wide, and its plain string() would go through
// the ANSI code page and lose (or throw on) what it cannot represent.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace hostsim {

inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// generic: with '/' between names on every system, as scene files hold them.
inline std::string utf8Of(const std::filesystem::path &p, bool generic = false) {
  const std::u8string s = generic ? p.generic_u8string() : p.u8string();
  return std::string(s.begin(), s.end());
}

} // namespace hostsim
