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

// What a path names when that is not a file to read: "a folder", "a named
// pipe", "a character device"...; empty for a regular file (a link to one
// included) and for nothing at all, which opening it then reports. Asked
// before a file is opened: opening a named pipe waits for a writer for good,
// and a device may never end.
inline std::string notAFile(const std::filesystem::path &p) {
  std::error_code ec;
  switch (std::filesystem::status(p, ec).type()) {
  case std::filesystem::file_type::regular:
  case std::filesystem::file_type::not_found:
  case std::filesystem::file_type::none:
    return {};
  case std::filesystem::file_type::directory:
    return "a folder";
  case std::filesystem::file_type::fifo:
    return "a named pipe";
  case std::filesystem::file_type::character:
    return "a character device";
  case std::filesystem::file_type::block:
    return "a block device";
  case std::filesystem::file_type::socket:
    return "a socket";
  default:
    return "not a file";
  }
}

// generic: with '/' between names on every system, as scene files hold them.
inline std::string utf8Of(const std::filesystem::path &p, bool generic = false) {
  const std::u8string s = generic ? p.generic_u8string() : p.u8string();
  return std::string(s.begin(), s.end());
}

} // namespace hostsim
