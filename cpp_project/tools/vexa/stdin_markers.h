// Markers typed on standard input while a recording runs: one per non-empty
// line, read on a thread of its own. The end of standard input ends only
// this reading, never the recording.
#ifndef VEXA_TOOLS_VEXA_STDIN_MARKERS_H_
#define VEXA_TOOLS_VEXA_STDIN_MARKERS_H_

#include <string>
#include <thread>
#include <vector>

#include "vexa/recorder.h"

namespace vexa_cli {

class StdinMarkers {
 public:
  // Starts reading; every line becomes a marker of each recorder, stamped
  // once with the host time it came in, so that each file places it at its
  // own nearest instant. The recorders must outlive this object.
  explicit StdinMarkers(std::vector<Vexa::Recorder*> recorders);
  // Takes the lines already waiting on standard input, then ends the
  // reading without waiting for more.
  ~StdinMarkers();
  StdinMarkers(const StdinMarkers&) = delete;
  StdinMarkers& operator=(const StdinMarkers&) = delete;

 private:
  void run();
  void take(const std::string& line);

  std::vector<Vexa::Recorder*> recorders_;
  int wake_[2] = {-1, -1};  // a byte on it ends the reading
  std::thread reader_;
};

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_STDIN_MARKERS_H_
