// Hints for a name that matches nothing: the closest valid names, or all of
// them, for the one line a user reads.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

namespace hostsim {

namespace names_detail {

inline std::string folded(const std::string &s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Edits (insert, delete, replace) from a to b.
inline std::size_t distance(const std::string &a, const std::string &b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

} // namespace names_detail

// A connection type as the docs name it: "color", "scalar", "vector",
// "integer", "function", "material".
inline const char *connectionTypeName(int type) {
  static const char *const kNames[] = {"color", "scalar", "vector", "integer", "function", "material"};
  return type >= 1 && type <= 6 ? kNames[type - 1] : "unknown";
}

// The valid names quoted, comma-separated: "A", "B".
inline std::string quotedList(const std::vector<std::string> &names) {
  std::string out;
  for (const std::string &n : names) out += (out.empty() ? "\"" : ", \"") + n + "\"";
  return out;
}

// What to add to "no X \"given\"": " (did you mean \"Y\"?)" for the names
// close to it (ignoring case and blanks: one containing the other, or a few
// letters apart), else " (there are \"A\", \"B\")".
inline std::string nameHint(const std::string &given, const std::vector<std::string> &valid) {
  if (valid.empty()) return " (there are none)";
  const std::string g = names_detail::folded(given);
  std::vector<std::string> close;
  for (const std::string &v : valid) {
    const std::string f = names_detail::folded(v);
    const bool contains = !g.empty() && (f.find(g) != std::string::npos || g.find(f) != std::string::npos);
    if (contains || names_detail::distance(g, f) <= std::max<std::size_t>(1, f.size() / 4)) close.push_back(v);
  }
  if (!close.empty() && close.size() <= 3) {
    std::string either;
    for (const std::string &c : close) either += (either.empty() ? "\"" : " or \"") + c + "\"";
    return " (did you mean " + either + "?)";
  }
  return " (there are " + quotedList(valid) + ")";
}

} // namespace hostsim
