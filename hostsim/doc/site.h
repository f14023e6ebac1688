// The node reference: a static site written from what the stand-in host reads
// out of the module (server records, inputs and outputs, the panel built
// from the module's hint arrays, defaults read after create, which input
// overrides which setting) and preview renders of each node driving a
// surface. Only the descriptions are written by hand, one Markdown file
// beside each node's source.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "hostsim/error.h"

namespace hostsim::doc {

struct SiteOptions {
  std::string module;    // the module file
  std::string out;       // the site's folder, made if missing
  std::string sourceDir; // the repository: nodes/**/*.md and examples/images
  std::string hostsim;   // the hostsim command, which renders each preview
  std::FILE *log = nullptr;
};

struct SiteReport {
  int pages = 0;    // node pages, without the index
  int pictures = 0; // preview renders
  std::vector<std::string> files; // every file written, relative to out
};

// A node's description file: "# SERVER NAME", paragraphs for users, notes
// on settings ("- LABEL: what it is measured against", one a line), and a
// ```json block that sets up its preview render, panel picture and probes.
struct Description {
  std::string file;
  std::string server;
  std::vector<std::string> paragraphs;
  struct Note {
    std::string control; // a label, or an id ("0x8003") where labels repeat
    std::string text;
    int line = 0;
  };
  std::vector<Note> notes;
  std::string previewJson;
  int previewLine = 0; // the file's line of the preview block's first line
};

// Reads one description; throws Error, its message starting with the file
// and line, when it is malformed.
Description parseDescription(const std::string &file, const std::string &text);

// Writes the site; throws Error on the first fault (a node without a
// description, a description of no node, a setting its panel does not have).
// The message starts with the file or node at fault and the Error names no
// file, so that the command puts the site's folder before it.
SiteReport writeSite(const SiteOptions &options);

} // namespace hostsim::doc
