// Reads the BDF+ files the recorder writes: header, signals, data records
// and annotations, record by record, so that a recording can be replayed.
#ifndef VEXA_BDF_READER_H_
#define VEXA_BDF_READER_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "vexa/recorder.h"

namespace Vexa {

struct BdfSignal {
  std::string label, transducer, physicalDimension, prefiltering;
  double physicalMin = 0, physicalMax = 0;
  int32_t digitalMin = 0, digitalMax = 0;
  int32_t samplesPerRecord = 0;
};

struct BdfAnnotation {
  int64_t onset = 0;      // 100 ns units from the start of the file
  int64_t duration = -1;  // 100 ns units, -1 when absent
  std::string text;
};

struct BdfHeader {
  std::string patient, recording, reserved;
  RecordingStart start{};
  int64_t recordDuration = 0;  // 100 ns units
  int64_t recordsInHeader = 0;  // -1 while a recording was running
  int64_t records = 0;          // complete records present in the file
  std::vector<BdfSignal> signals;  // the sampled signals, in file order
};

// One data record: the samples of each sampled signal and the annotations,
// the record's own time-keeping one apart.
struct BdfRecord {
  int64_t onset = 0;  // 100 ns units
  std::vector<std::vector<int32_t>> samples;
  std::vector<BdfAnnotation> annotations;
};

class BdfReader {
 public:
  // Opens and checks the header. A file cut short is read up to its last
  // complete record. Throws Error::InvalidParameter when the file cannot be
  // opened or is not a BDF+ file this reader understands.
  explicit BdfReader(const std::string& filePath);
  ~BdfReader();
  BdfReader(const BdfReader&) = delete;
  BdfReader& operator=(const BdfReader&) = delete;

  const BdfHeader& header() const { return header_; }
  // The description the recorder wrote into the header and the signals.
  RecordingInfo recordingInfo() const;
  // Reads the next record into out; false after the last one. Throws
  // Error::InvalidParameter for a malformed annotation list.
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
