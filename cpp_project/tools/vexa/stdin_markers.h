// Markers typed on standard input while a recording runs: one per non-empty
// line, read on a thread of its own. The end of standard input ends only
// this reading, never the recording.
#ifndef VEXA_TOOLS_VEXA_STDIN_MARKERS_H_
#define VEXA_TOOLS_VEXA_STDIN_MARKERS_H_

#include <string>
#include <thread>

#include "vexa/recorder.h"

namespace vexa_cli {

class StdinMarkers {
 public:
  // Starts reading; every line becomes a marker of recorder, which must
  // outlive this object.
  explicit StdinMarkers(Vexa::Recorder& recorder);
  // Takes the lines already waiting on standard input, then ends the
  // reading without waiting for more.
  ~StdinMarkers();
  StdinMarkers(const StdinMarkers&) = delete;
  StdinMarkers& operator=(const StdinMarkers&) = delete;

 private:
  void run();
  void take(const std::string& line);

  Vexa::Recorder& recorder_;
  int wake_[2] = {-1, -1};  // a byte on it ends the reading
  std::thread reader_;
};

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_STDIN_MARKERS_H_
