// A node's description file, read as the site writer uses it.
#include <sstream>

#include "hostsim/doc/site.h"
#include "hostsim/error.h"

namespace hostsim::doc {

Description parseDescription(const std::string &file, const std::string &text) {
  Description d;
  d.file = file;
  std::istringstream in(text);
  std::string line, para;
  bool inJson = false, sawJson = false;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNo == 1) {
      if (line.rfind("# ", 0) != 0 || line.size() < 3)
        throw Error(file + ":1: the first line names the node's server: \"# SERVER NAME\"");
      d.server = line.substr(2);
      continue;
    }
    if (inJson) {
      if (line == "```") {
        inJson = false;
        continue;
      }
      d.previewJson += line + "\n";
      continue;
    }
    if (line == "```json") {
      if (sawJson) throw Error(file + ":" + std::to_string(lineNo) + ": a second preview block");
      inJson = sawJson = true;
      d.previewLine = lineNo + 1;
      if (!para.empty()) d.paragraphs.push_back(para);
      para.clear();
      continue;
    }
    if (line.empty()) {
      if (!para.empty()) d.paragraphs.push_back(para);
      para.clear();
      continue;
    }
    if (line.rfind("- ", 0) == 0) {
      const std::size_t colon = line.find(": ", 2);
      if (colon == std::string::npos || colon == 2 || line.size() <= colon + 2)
        throw Error(file + ":" + std::to_string(lineNo) + ": a note is \"- SETTING: what it is measured against\"");
      if (!para.empty()) d.paragraphs.push_back(para);
      para.clear();
      d.notes.push_back({line.substr(2, colon - 2), line.substr(colon + 2), lineNo});
      continue;
    }
    para += (para.empty() ? "" : " ") + line;
  }
  if (!para.empty()) d.paragraphs.push_back(para);
  if (inJson) throw Error(file + ": the preview block is not closed with ```");
  if (d.paragraphs.empty()) throw Error(file + ": no description");
  if (!sawJson) throw Error(file + ": no ```json preview block");
  return d;
}
} // namespace hostsim::doc
