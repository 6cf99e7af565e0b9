// What the recorder's writer thread hands a file format: consecutive ticks,
// filled gaps and annotations, in time order.
#ifndef VEXA_RECORD_SINK_H_
#define VEXA_RECORD_SINK_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "vexa/recorder.h"

namespace Vexa {
namespace record {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file for writing, or throws Error::InvalidParameter.
FilePtr createFile(const std::string& path);

class Sink {
 public:
  explicit Sink(FilePtr file) : file_(std::move(file)) {}
  virtual ~Sink() = default;
  // Sets the tick of time zero; called once, before anything else.
  virtual void start(int64_t firstTick) {}
  // The next tick, one after the previous.
  virtual void instant(int64_t tick, const int32_t* samples) = 0;
  // count ticks from tick on that have no samples: lost or dropped.
  virtual void gap(int64_t tick, int64_t count) = 0;
  // A note at a tick, lasting durationTicks (0: an instant).
  virtual void annotation(int64_t tick, int64_t durationTicks, const std::string& text) = 0;
  // Pushes what is buffered to the file.
  virtual void flush() = 0;
  // Completes and closes the file.
  virtual void finish() = 0;
  uint64_t bytesWritten() const { return bytes_; }

 protected:
  // Each throws NotifException with the system's cause when the file does
  // not take the bytes.
  void write(const void* data, size_t n);
  void write(const std::string& s) { write(s.data(), s.size()); }
  void flushFile();
  void closeFile();
  [[noreturn]] static void fail();

  FilePtr file_;

 private:
  uint64_t bytes_ = 0;
};

std::unique_ptr<Sink> makeBdfSink(FilePtr file, const RecordingInfo& info);
std::unique_ptr<Sink> makeCsvSink(FilePtr file, const RecordingInfo& info);

}  // namespace record
}  // namespace Vexa

#endif  // VEXA_RECORD_SINK_H_
