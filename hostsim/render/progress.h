// The render's progress on stderr: on a terminal one line that updates in
// place; elsewhere (a log, a pipe) a plain line now and then.
#pragma once

#include <string>

namespace hostsim {

struct ProgressState {
  int frame = 0;           // the scene frame being rendered
  int frameIndex = 1;      // its place in the range, from 1
  int frameCount = 1;
  double done = 0;         // of the whole range, 0..1
  double elapsed = 0;      // seconds since the render started
};

// "42 s", "3 min 07 s", "1 h 05 min".
std::string formatDuration(double seconds);
// The estimated time still to go, from the time taken so far; negative when
// too little is done to say.
double remainingSeconds(double done, double elapsed);
// The text to print. On a terminal it returns to the line's start and
// clears what an earlier, longer line left; elsewhere it is a whole line.
std::string progressText(const ProgressState &p, bool terminal);
// What clears the progress line on a terminal before other output.
inline const char *kClearProgress = "\r\033[K";

} // namespace hostsim
