/// @file
/// A wire trace: the bytes a link carries, each chunk with its host time and
/// direction, written to a text file while the device is used.
///
/// The file holds a header, one line per chunk and, when the byte limit
/// stopped it, a last line saying so:
///
///     # vexa wire trace 1
///     # link: serial
///     # family: current
///     # library: 1.4.0
///     # start: 2026-12-07T12:00:00.123Z
///     0.000412 out 56
///     0.003150 in 5610000a
///     # limit reached: 67108864 bytes; nothing more is traced
#ifndef VEXA_WIRE_TRACE_H_
#define VEXA_WIRE_TRACE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "vexa/device_family.h"

namespace Vexa {

/// Which way a chunk went.
enum class WireDirection {
  kOut,  ///< host to device ("out")
  kIn    ///< device to host ("in")
};

/// The name a trace gives a family: "oldest", "current", "current-paced",
/// "compact-board", "current-scaled"; "unknown" for any other value.
const char* familyName(DeviceFamily family);

/// One trace file. record only queues (no file I/O on the caller's thread);
/// a writer thread of this object writes the file. Until the family is set
/// the lines wait (up to kHeldBytes of them), so the header can name it.
class WireTrace {
 public:
  /// Traced bytes after which nothing more is traced: 64 MiB.
  static constexpr uint64_t kDefaultByteLimit = uint64_t{64} << 20;
  /// Traced bytes that may wait for the family before the header is
  /// written without it.
  static constexpr uint64_t kHeldBytes = uint64_t{1} << 20;

  /// Creates the file at the UTF-8 path and starts the writer. link is the
  /// transport's kind (IO::linkKind). After byteLimit traced bytes nothing
  /// more is traced.
  /// @throws Error::InvalidParameter when the file cannot be created.
  WireTrace(const std::string& path, std::string link, uint64_t byteLimit = kDefaultByteLimit);
  /// Stops as stop() does, dropping a write failure.
  ~WireTrace();
  WireTrace(const WireTrace&) = delete;             ///< One writer per file.
  WireTrace& operator=(const WireTrace&) = delete;  ///< One writer per file.

  /// Names the family in the header; the first call counts. Any thread.
  void setFamily(DeviceFamily family);
  /// Queues one chunk of the link's bytes, timed now. Any thread; cheap.
  void record(WireDirection direction, const void* data, int len) noexcept;
  /// Writes what is queued (the header too, "# family: unknown" when it was
  /// never set), closes the file and ends the writer. Later chunks are
  /// dropped; a second call does nothing.
  /// @throws NotifException when the file could not be written in full.
  void stop();

 private:
  struct Chunk {
    int64_t micros;  // since start; -1 marks the limit line
    WireDirection direction;
    std::vector<uint8_t> bytes;
  };

  void run();
  void writeHeader();
  bool writeChunk(const Chunk& chunk);
  void finish();

  const std::string path_;
  const std::string link_;
  const uint64_t byteLimit_;
  const std::chrono::steady_clock::time_point start_;
  const std::string startText_;
  struct FileCloser {
    void operator()(std::FILE* f) const;
  };
  std::unique_ptr<std::FILE, FileCloser> file_;

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Chunk> queue_;
  std::optional<DeviceFamily> family_;
  uint64_t traced_ = 0;
  bool limitReached_ = false;
  bool stopping_ = false;

  // The writer's own: lines waiting for the family, and how it went.
  std::deque<Chunk> held_;
  uint64_t heldBytes_ = 0;
  bool headerWritten_ = false;
  std::string failure_;
  std::thread writer_;
};

}  // namespace Vexa

#endif  // VEXA_WIRE_TRACE_H_
