/// @file
/// Reads the BDF+ files the recorder writes: header, signals, data records
/// and annotations, record by record, so that a recording can be replayed.
#ifndef VEXA_BDF_READER_H_
#define VEXA_BDF_READER_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "vexa/recorder.h"

namespace Vexa {

/// One sampled signal of the header (the annotation signal is not listed);
/// texts are trimmed of trailing blanks.
struct BdfSignal {
  std::string label, transducer, physicalDimension, prefiltering;
  /// @var label
  /// The signal's name; the recorder writes the channel's label, or "Port
  /// <port> Ch <channel>" without one.
  /// @var transducer
  /// The recorder writes "Port <port> Ch <channel> divisor <freqDivisor>
  /// bits <nBits>" (earlier versions: "divisor <freqDivisor> bits <nBits>",
  /// the port and channel in the label).
  /// @var physicalDimension
  /// The unit; empty unless the recording described it.
  /// @var prefiltering
  /// Empty in the recorder's files.
  double physicalMin = 0, physicalMax = 0;
  /// @var physicalMin
  /// The physical value of digitalMin.
  /// @var physicalMax
  /// The physical value of digitalMax.
  int32_t digitalMin = 0, digitalMax = 0;
  /// @var digitalMin
  /// The smallest sample value, -2^23 or more.
  /// @var digitalMax
  /// The largest sample value, above digitalMin and at most 2^23 - 1.
  int32_t samplesPerRecord = 0;  ///< samples of this signal in every data record
};

/// One annotation of a data record: a note at a time, with or without a
/// duration.
struct BdfAnnotation {
  int64_t onset = 0;      ///< 100 ns units from the start of the file
  int64_t duration = -1;  ///< 100 ns units, -1 when absent
  std::string text;       ///< the note, never empty
};

/// The file's header, checked when the reader opens it.
struct BdfHeader {
  std::string patient, recording, reserved;
  /// @var patient
  /// The patient field, trimmed of trailing blanks.
  /// @var recording
  /// The recording field, trimmed: "Startdate", the date and the
  /// recording's description (see BdfReader::recordingInfo()).
  /// @var reserved
  /// The reserved field, trimmed; begins with "BDF+".
  RecordingStart start{};  ///< the start date and time; two-digit years 85 to 99 are 1985 to 1999, the others 2000 to 2084
  int64_t recordDuration = 0;  ///< 100 ns units, above 0
  int64_t recordsInHeader = 0;  ///< the record count the header gives: -1 while a recording was running
  int64_t records = 0;          ///< complete records present in the file (at most recordsInHeader when that is not -1)
  std::vector<BdfSignal> signals;  ///< the sampled signals, in file order
};

/// One data record: the samples of each sampled signal and the annotations,
/// the record's own time-keeping one apart.
struct BdfRecord {
  int64_t onset = 0;  ///< 100 ns units from the start of the file, from the record's time-keeping annotation
  std::vector<std::vector<int32_t>> samples;  ///< per sampled signal, in header order: samplesPerRecord values each
  std::vector<BdfAnnotation> annotations;     ///< the record's other annotations, in file order
};

/// Reads one BDF+ file from its start to its last complete record. The file
/// stays open while the reader lives.
///
/// Threads: no lock; one thread at a time uses the object.
class BdfReader {
 public:
  /// Opens the file and checks the header: the BDF signature, a reserved
  /// field that begins with "BDF+", 1 to 640 signals with exactly one "BDF
  /// Annotations" signal, consistent sizes (a record of at most 64 MiB) and
  /// digitalMin below digitalMax. A file cut short is read up to its last
  /// complete record.
  /// @throws Error::InvalidParameter when the file cannot be opened or is
  ///   not a BDF+ file this reader understands; nothing stays open then.
  explicit BdfReader(const std::string& filePath);
  /// Closes the file.
  ~BdfReader();
  BdfReader(const BdfReader&) = delete;             ///< One object per open file.
  BdfReader& operator=(const BdfReader&) = delete;  ///< One object per open file.

  /// The header as read at opening; the reference is valid while the reader
  /// lives.
  const BdfHeader& header() const { return header_; }
  /// The description the recorder wrote into the header and the signals;
  /// blanks in the device type, firmware, path and subject come back as
  /// '_', "X" (no value) as an empty text. The base frequency is derived
  /// from the signals' rates and the record duration. The descriptions are
  /// empty when no channel has a label, unit or physical range of its own;
  /// otherwise one per channel (a label equal to "Port P Ch C" and a range
  /// equal to the digital one come back as not given).
  /// @throws Error::InvalidParameter when a signal's label or transducer is
  ///   not what the recorder writes (a file of another writer).
  RecordingInfo recordingInfo() const;
  /// Reads the next record into out, replacing its samples and annotations;
  /// false, with out untouched, after the last one.
  /// @throws Error::InvalidParameter for a malformed annotation list, or
  ///   when the record cannot be read (the file shrank since it was opened);
  ///   out may then hold part of the record.
  bool readRecord(BdfRecord& out);

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  BdfHeader header_;
  int annotationIndex_ = -1;  // position of the annotation signal among all
  std::vector<int> offsets_;  // byte offset of every signal in a record
  size_t recordSize_ = 0;
  int64_t next_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace Vexa

#endif  // VEXA_BDF_READER_H_
