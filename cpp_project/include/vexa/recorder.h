// Keeps what an acquisition measured in a file (BDF+ or CSV), written by a
// thread of its own so that the acquisition loop never waits for the disk.
#ifndef VEXA_RECORDER_H_
#define VEXA_RECORDER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vexa/event.h"

namespace Vexa {

enum class RecordingFormat { kBdf, kCsv };

// One acquired channel, in the order of the samples handed to addInstant.
struct RecordedChannel {
  int32_t port;
  int32_t channel;      // channel index within the port
  int32_t freqDivisor;  // sampled on every freqDivisor-th tick, at least 1
  int32_t nBits;        // 1 to 16 (unsigned samples) or 24 (signed samples)
};

// Local calendar date and time at which the recording starts.
struct RecordingStart {
  int year, month, day, hour, minute, second;
  static RecordingStart now();
};

struct RecordingInfo {
  std::string deviceType;  // the device's "description"
  int32_t productId = 0;
  std::string firmware;
  std::string path;  // connection path
  RecordingStart start{};
  double baseFrequency = 0;  // hertz, the rate of the ticks
  std::vector<RecordedChannel> channels;
};

struct RecorderCounters {
  uint64_t instantsWritten = 0;  // instants fed and written (fills excluded)
  uint64_t lostTicks = 0;        // ticks the sequence skipped
  uint64_t droppedInstants = 0;  // instants refused because the ring was full
  uint64_t bytesWritten = 0;
  bool writeFailed = false;  // the file could not be written; close() throws
};

class Recorder {
 public:
  // Creates the file (format from its extension, ".bdf" or ".csv", any
  // case). ringCapacity counts instants; 0 takes at least 10 s of ticks.
  // Throws Error::InvalidParameter for a bad description, an unknown
  // extension or a file that cannot be created; nothing stays open then.
  Recorder(const std::string& filePath, const RecordingInfo& info, size_t ringCapacity = 0);
  Recorder(const std::string& filePath, RecordingFormat format, const RecordingInfo& info,
           size_t ringCapacity = 0);
  // Closes as close() does, but swallows its failure.
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // One sample instant, from the acquisition loop's thread: copies n samples
  // (one per channel) into the ring and returns; never waits or allocates.
  // A tick that is not the last one plus one marks the ticks in between as
  // lost. Throws Error::InvalidParameter for a wrong count, a tick that does
  // not move forward or a jump of more than 2^20 ticks. Ignored after
  // close(), apart from counting the instant as dropped.
  void addInstant(int64_t tick, const int32_t* samples, int n);
  // Digital-input and disconnect events, at the current instant (the last
  // one added); other event types are not recorded. Any thread.
  void addEvent(const Event& event);
  // A host marker (a game event) at the current instant. Any thread.
  void addMarker(const std::string& text);

  RecorderCounters counters() const;

  // Writes everything still in the ring, completes the file and closes it.
  // Throws NotifException if the file could not be written. Later calls do
  // nothing.
  void close();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Vexa

#endif  // VEXA_RECORDER_H_
