/// @file
/// Keeps what an acquisition measured in a file (BDF+ or CSV), written by a
/// thread of its own so that the acquisition loop never waits for the disk.
#ifndef VEXA_RECORDER_H_
#define VEXA_RECORDER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vexa/event.h"

namespace Vexa {

class TickTimeFit;

/// The kind of file a Recorder writes.
enum class RecordingFormat {
  kBdf,  ///< BDF+ (continuous, 24-bit samples): one signal per channel at its own rate and an annotation signal.
  /// Text (RFC 4180, CRLF): a row of column names, then one row per tick: tick, seconds, every channel's
  /// sample, the notes. A row reaches the file about a second after its instant (see Recorder::addMarkerAt()).
  kCsv
};

/// One acquired channel, in the order of the samples handed to
/// Recorder::addInstant().
struct RecordedChannel {
  int32_t port;         ///< port number, as the acquisition names it
  int32_t channel;      ///< channel index within the port
  int32_t freqDivisor;  ///< sampled on every freqDivisor-th tick, at least 1
  int32_t nBits;        ///< 1 to 16 (unsigned samples) or 24 (signed samples)
};

/// What a reader shows of one channel; every field is optional.
struct ChannelDescription {
  /// What a reader shows; empty keeps "Port P Ch C". Printable ASCII, 16
  /// characters at most in a BDF+ file. A CSV column is named by it, with
  /// the unit in brackets.
  std::string label;
  /// The physical dimension (unit) of the samples, such as "uV"; empty
  /// leaves it blank. 8 characters at most in a BDF+ file.
  std::string unit;
  /// The physical values of the digital range's ends; both 0 (the default)
  /// keeps the digital range itself. They must differ when set.
  double physicalMin = 0;
  double physicalMax = 0;  ///< See physicalMin.
};

/// Local calendar date and time at which the recording starts.
struct RecordingStart {
  int year, month, day, hour, minute, second;
  /// @var year
  /// Four digits; a recording takes 1985 to 2084.
  /// @var month
  /// 1 to 12.
  /// @var day
  /// 1 to 31.
  /// @var hour
  /// 0 to 23.
  /// @var minute
  /// 0 to 59.
  /// @var second
  /// 0 to 59.

  /// The local time now, to the second (a leap second counts as 59);
  /// 2000-01-01 00:00:00 when the system cannot tell the local time. Any
  /// thread may call it.
  static RecordingStart now();
};

/// What a recording describes itself with; the recorder copies it.
struct RecordingInfo {
  std::string deviceType;  ///< the device's "description"
  int32_t productId = 0;   ///< the device's "productID"
  std::string firmware;    ///< the device's "fwVersion"
  std::string path;        ///< the connection path
  RecordingStart start{};  ///< when the recording starts
  double baseFrequency = 0;  ///< hertz, the rate of the ticks; above 0 and at most 10 MHz
  std::vector<RecordedChannel> channels;  ///< 1 to 512 channels, in sample order
  /// Empty, or one per channel in the same order.
  std::vector<ChannelDescription> descriptions;
  /// Who was recorded (a BDF+ file's patient field, blanks written as '_');
  /// empty: not given. Printable ASCII, 74 characters at most in a BDF+
  /// file; a CSV file has no place for it.
  std::string subject;
  /// Free text about the recording, after the device's own subfields in a
  /// BDF+ file's recording field (which holds 80 characters in all);
  /// empty: none. Printable ASCII; a CSV file has no place for it.
  std::string note;
};

/// A snapshot of a recorder's progress, from Recorder::counters().
struct RecorderCounters {
  uint64_t instantsWritten = 0;  ///< instants fed and written (fills excluded)
  uint64_t lostTicks = 0;        ///< ticks the sequence skipped
  uint64_t droppedInstants = 0;  ///< instants refused because the ring was full, or fed after close()
  uint64_t bytesWritten = 0;     ///< bytes in the file so far, updated about every 10 ms
  bool writeFailed = false;      ///< the file could not be written; close() throws
  uint64_t notesSummarised = 0;  ///< digital-input changes folded into summary notes (too many were waiting)
};

/// How a Recorder works, beside what it records.
struct RecorderOptions {
  /// Instants the ring holds; 0 takes 10 s of ticks, at least 1024.
  size_t ringCapacity = 0;
  /// The host time of every instant, fitted by the acquisition; null: the
  /// file knows ticks only. With it, a BDF+ file starts at the first
  /// instant's time on the wall clock (the sub-second part as the first
  /// record's onset, every onset counted from it) as the fit places that
  /// instant when the file is closed (a copy taken while recording has the
  /// start the fit gave at its first record), a note "host time S" gives
  /// the fitted host time of an instant every 10 s (the first one written
  /// again at close with the settled fit, in the same number of
  /// characters), a CSV file has a
  /// host_time column, and
  /// Recorder::addMarkerAt() places notes by host time. It must outlive the
  /// recorder; only its const members are used, from any thread.
  const TickTimeFit* clock = nullptr;
};

/// Writes one recording: the acquisition loop feeds sample instants into a
/// ring of fixed size, and a writer thread that the recorder owns drains it
/// into the file, filling the ticks that are missing (lost by the device or
/// dropped on a full ring) and noting each filled span with a note that
/// begins with "BAD_", so that time in the file stays true. The file is
/// complete only after close() or destruction.
///
/// A BDF+ file lasts exactly the ticks recorded, rounded up to whole data
/// records; the padding of the last record is noted as "BAD_padding",
/// followed by "Recording ends". Notes wait for room in the records that
/// follow; the number waiting is bounded: markers beyond the bound are
/// refused, digital-input changes beyond it are summarised in one note ("N
/// digital-input changes between t1 and t2", in seconds), and what has no
/// room at the end is summarised in the last record.
///
/// A write that fails stops the recording at once: the file is cut back to
/// its last complete data record (CSV: row), with the header's record count
/// to match, later instants are refused (counted as dropped), failure()
/// tells the cause and close() throws.
///
/// Threads: addInstant() is called by one thread at a time, normally the
/// acquisition loop's. addEvent(), addMarker(), counters() and close() may
/// be called from any thread, also while addInstant() runs; close() only
/// from one thread at a time. The destructor runs while no other thread uses
/// the object.
class Recorder {
 public:
  /// Creates the file, taking the format from its extension (".bdf" or
  /// ".csv", any letter case), writes its header and starts the writer
  /// thread. ringCapacity counts instants; 0 takes 10 s of ticks, at least
  /// 1024. Nothing stays open after a failure, but a file whose header could
  /// not be written is left on disk.
  /// @throws Error::InvalidParameter for any other extension, a description
  ///   outside the ranges of RecordingInfo, RecordingStart,
  ///   RecordedChannel and ChannelDescription (with a detail saying which),
  ///   divisors and a base frequency for which BDF+ has no record duration,
  ///   or a file that cannot be created.
  /// @throws NotifException when the header cannot be written.
  Recorder(const std::string& filePath, const RecordingInfo& info, size_t ringCapacity = 0);
  /// The same with the format given, whatever the file's extension.
  /// @throws Error::InvalidParameter and NotifException as the constructor
  ///   above, apart from the extension check.
  Recorder(const std::string& filePath, RecordingFormat format, const RecordingInfo& info,
           size_t ringCapacity = 0);
  /// The same with the options given.
  Recorder(const std::string& filePath, const RecordingInfo& info, const RecorderOptions& options);
  /// The same with the format and the options given.
  Recorder(const std::string& filePath, RecordingFormat format, const RecordingInfo& info,
           const RecorderOptions& options);
  /// Closes as close() does, but swallows its failure (counters().writeFailed shows it).
  ~Recorder();
  Recorder(const Recorder&) = delete;             ///< One object per file.
  Recorder& operator=(const Recorder&) = delete;  ///< One object per file.

  /// One sample instant: copies n samples (one per channel, in the order of
  /// RecordingInfo::channels; samples is read during the call only) into the
  /// ring and returns; never waits or allocates. A full ring drops the
  /// instant (counted, and noted in the file). A tick that is not the last
  /// one plus one marks the ticks in between as lost. After close() the
  /// instant is only counted as dropped.
  /// @throws Error::InvalidParameter for n other than the number of
  ///   channels or a null samples, and before close() for a tick that does
  ///   not move forward or skips more than 2^20 ticks; nothing is recorded
  ///   then.
  void addInstant(int64_t tick, const int32_t* samples, int n);
  /// Notes a digital-input or disconnect event (its text: input, state and
  /// clock, or the reason) at the current instant, the last one added (the
  /// file's start before any); other event types are not recorded. event is
  /// read during the call only. Any thread. Digital-input changes beyond
  /// their bound of waiting notes are folded into one summary note (see
  /// RecorderCounters::notesSummarised).
  void addEvent(const Event& event);
  /// The same, with the note at `tick`, the instant the event names (a
  /// digital input stamped with the acquisition's tick) rather than the
  /// current one; a tick before the file's first instant notes it there.
  void addEvent(const Event& event, int64_t tick);
  /// Notes a host marker (a game event), "Marker: " and text, at the current
  /// instant as addEvent() does. Control characters become blanks; a BDF+
  /// file keeps 400 bytes of a note at most. Any thread.
  /// @return false, and nothing is noted, when the markers waiting to be
  ///   written have reached their bound (the host adds them faster than
  ///   the file takes them).
  bool addMarker(const std::string& text);
  /// Notes a marker, as addMarker() does, at the instant whose host time
  /// (from RecorderOptions::clock) is nearest hostTime, seconds of
  /// hostTime(): for an event timed earlier, such as a frame's
  /// presentation. An instant not yet added is waited for (the note stays
  /// among the markers waiting, within their bound); one the recording never
  /// reaches notes it at the last instant. Without a clock: at the current
  /// instant. A CSV file holds its rows back for a second of ticks (less
  /// when its rows are very wide) so that such a note joins its own row; a
  /// row already written cannot take it: it goes in the newest row,
  /// followed by "(tick N)", the instant it belongs to. Any thread.
  /// @return false, and nothing is noted, when the markers waiting have
  ///   reached their bound, after close(), or for a hostTime that is not a
  ///   finite number.
  bool addMarkerAt(const std::string& text, double hostTime);

  /// A snapshot of the counters. Any thread.
  RecorderCounters counters() const;
  /// Why the file could not be written (the system's cause), empty while
  /// nothing failed. Any thread.
  std::string failure() const;

  /// Writes everything still in the ring and the notes still waiting,
  /// completes the file and closes it; waits for the writer thread and for
  /// an addInstant() in progress on another thread. Later calls do nothing.
  /// @throws NotifException if the file could not be written at some point
  ///   (the first failure; the file is then incomplete).
  void close();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Vexa

#endif  // VEXA_RECORDER_H_
