// Reads BDF+ files: checks the header strictly enough that a damaged or
// foreign file is refused instead of misread, then hands out data records
// one at a time with their annotations.
#include "vexa/bdf_reader.h"

#include <cstring>
#include <filesystem>

#include "io/utf8_path.h"
#include "record/bdf_layout.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr const char* kWhere = "Vexa::BdfReader::BdfReader";
constexpr int kMaxSignals = 640;
constexpr size_t kMaxRecordSize = 64u << 20;

[[noreturn]] void bad(const char* where = kWhere) { VEXA_THROW_AT(Error::InvalidParameter, where); }

std::string trimmed(const char* p, size_t n) {
  std::string s(p, n);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

int64_t integer(const std::string& s, int64_t min, int64_t max) {
  size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size() || s.size() > 18 || s.find_first_not_of("0123456789", i) != std::string::npos) bad();
  const int64_t v = std::stoll(s);
  if (v < min || v > max) bad();
  return v;
}

double number(const std::string& s) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0') bad();
  return v;
}

// Where the text after the n-th blank starts; npos when it has fewer.
size_t afterSpaces(const std::string& text, int n) {
  size_t at = 0;
  for (int i = 0; i < n && at != std::string::npos; ++i) {
    at = text.find(' ', at);
    if (at != std::string::npos) ++at;
  }
  return at;
}

// Splits one annotation signal's bytes into TALs; the first one of a record
// is its time-keeping TAL and gives the record's onset.
void parseAnnotations(const uint8_t* p, size_t n, BdfRecord& out) {
  const char* where = "Vexa::BdfReader::readRecord";
  size_t i = 0;
  bool first = true;
  while (i < n && p[i] != 0) {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(p + i, 0, n - i));
    if (!end) bad(where);
    const std::string tal(reinterpret_cast<const char*>(p + i), static_cast<size_t>(end - (p + i)));
    i = static_cast<size_t>(end - p) + 1;
    const size_t stamp = tal.find('\x14');
    if (stamp == std::string::npos || tal.back() != '\x14' || (tal[0] != '+' && tal[0] != '-')) bad(where);
    BdfAnnotation a;
    const std::string time = tal.substr(0, stamp);
    const size_t dur = time.find('\x15');
    if (!record::parseSeconds(time.substr(0, dur), a.onset)) bad(where);
    if (dur != std::string::npos && !record::parseSeconds(time.substr(dur + 1), a.duration)) bad(where);
    // Texts between the separators; a TAL may carry several.
    size_t from = stamp + 1;
    std::vector<std::string> texts;
    for (size_t to; (to = tal.find('\x14', from)) != std::string::npos; from = to + 1) {
      texts.push_back(tal.substr(from, to - from));
    }
    if (first) {
      out.onset = a.onset;
      first = false;
      if (!texts.empty() && texts[0].empty()) texts.erase(texts.begin());
    }
    for (std::string& t : texts) {
      if (t.empty()) continue;
      a.text = std::move(t);
      out.annotations.push_back(a);
    }
  }
  if (first) bad(where);
}

}  // namespace

BdfReader::BdfReader(const std::string& filePath) : file_(openFile(filePath, "rb")) {
  if (!file_) bad();
  char fixed[256];
  if (std::fread(fixed, 1, 256, file_.get()) != 256) bad();
  if (std::memcmp(fixed, "\xff" "BIOSEMI", 8) != 0) bad();
  header_.patient = trimmed(fixed + 8, 80);
  header_.recording = trimmed(fixed + 88, 80);
  RecordingStart& s = header_.start;
  char tail;
  if (std::sscanf(trimmed(fixed + 168, 8).c_str(), "%2d.%2d.%2d%c", &s.day, &s.month, &s.year, &tail) != 3 ||
      std::sscanf(trimmed(fixed + 176, 8).c_str(), "%2d.%2d.%2d%c", &s.hour, &s.minute, &s.second, &tail) != 3) {
    bad();
  }
  s.year += s.year >= 85 ? 1900 : 2000;
  const int64_t headerBytes = integer(trimmed(fixed + 184, 8), 512, 256 * (kMaxSignals + 1));
  header_.reserved = trimmed(fixed + 192, 44);
  if (header_.reserved.compare(0, 4, "BDF+") != 0) bad();
  header_.recordsInHeader = integer(trimmed(fixed + 236, 8), -1, INT64_MAX / 2);
  if (!record::parseSeconds(trimmed(fixed + 244, 8), header_.recordDuration) || header_.recordDuration <= 0) bad();
  const int ns = static_cast<int>(integer(trimmed(fixed + 252, 4), 1, kMaxSignals));
  if (headerBytes != 256 * (ns + 1)) bad();

  std::vector<char> sig(static_cast<size_t>(256) * ns);
  if (std::fread(sig.data(), 1, sig.size(), file_.get()) != sig.size()) bad();
  const char* p = sig.data();
  auto column = [&](size_t width) {
    std::vector<std::string> v;
    for (int i = 0; i < ns; ++i, p += width) v.push_back(trimmed(p, width));
    return v;
  };
  auto labels = column(16), transducers = column(80), dims = column(8), pmin = column(8), pmax = column(8),
       dmin = column(8), dmax = column(8), filters = column(80), counts = column(8);
  for (int i = 0; i < ns; ++i) {
    const int64_t n = integer(counts[i], 1, kMaxRecordSize / 3);
    offsets_.push_back(static_cast<int>(recordSize_));
    recordSize_ += 3 * static_cast<size_t>(n);
    if (recordSize_ > kMaxRecordSize) bad();
    if (labels[i] == "BDF Annotations") {
      if (annotationIndex_ >= 0) bad();  // one annotation signal is all this reader takes
      annotationIndex_ = i;
      continue;
    }
    BdfSignal b{labels[i], transducers[i], dims[i], filters[i], number(pmin[i]), number(pmax[i]),
                static_cast<int32_t>(integer(dmin[i], -8388608, 8388607)),
                static_cast<int32_t>(integer(dmax[i], -8388608, 8388607)), static_cast<int32_t>(n)};
    if (b.digitalMin >= b.digitalMax) bad();
    header_.signals.push_back(std::move(b));
  }
  if (annotationIndex_ < 0) bad();
  // A file cut short holds fewer complete records than its header says, or
  // -1 when the writer never finished.
  std::error_code error;
  const auto size = static_cast<int64_t>(std::filesystem::file_size(fileSystemPath(filePath), error));
  if (error || size < headerBytes) bad();
  header_.records = (size - headerBytes) / static_cast<int64_t>(recordSize_);
  if (header_.recordsInHeader >= 0) header_.records = std::min(header_.records, header_.recordsInHeader);
  if (std::fseek(file_.get(), static_cast<long>(headerBytes), SEEK_SET) != 0) bad();
  buffer_.resize(recordSize_);
}

BdfReader::~BdfReader() = default;

RecordingInfo BdfReader::recordingInfo() const {
  RecordingInfo info;
  info.start = header_.start;
  // "Startdate dd-MMM-yyyy admin technician device product firmware path"
  std::vector<std::string> words;
  for (size_t from = 0, to; from <= header_.recording.size(); from = to + 1) {
    to = header_.recording.find(' ', from);
    if (to == std::string::npos) to = header_.recording.size();
    words.push_back(header_.recording.substr(from, to - from));
  }
  auto word = [&](size_t i) { return i < words.size() && words[i] != "X" ? words[i] : std::string(); };
  info.deviceType = word(4);
  info.productId = static_cast<int32_t>(std::strtol(word(5).c_str(), nullptr, 10));
  info.firmware = word(6);
  info.path = word(7);
  // The note is the rest of the field, as written; the subject is the
  // patient field's name subfield ("X X X name").
  const size_t note = afterSpaces(header_.recording, 8), name = afterSpaces(header_.patient, 3);
  if (note != std::string::npos) info.note = header_.recording.substr(note);
  if (name != std::string::npos && header_.patient.substr(name) != "X") info.subject = header_.patient.substr(name);
  bool described = false;
  for (const BdfSignal& s : header_.signals) {
    RecordedChannel c{};
    if (!record::parseChannel(s.label, s.transducer, c) || c.freqDivisor < 1) {
      VEXA_THROW(Error::InvalidParameter);
    }
    info.channels.push_back(c);
    info.baseFrequency = static_cast<double>(s.samplesPerRecord) * c.freqDivisor * record::kUnitsPerSecond /
                         static_cast<double>(header_.recordDuration);
    ChannelDescription d;
    if (s.label != record::channelLabel(c)) d.label = s.label;
    d.unit = s.physicalDimension;
    if (s.physicalMin != s.digitalMin || s.physicalMax != s.digitalMax) {
      d.physicalMin = s.physicalMin;
      d.physicalMax = s.physicalMax;
    }
    described = described || !d.label.empty() || !d.unit.empty() || d.physicalMin != 0 || d.physicalMax != 0;
    info.descriptions.push_back(std::move(d));
  }
  if (!described) info.descriptions.clear();
  return info;
}

bool BdfReader::readRecord(BdfRecord& out) {
  if (next_ >= header_.records) return false;
  if (std::fread(buffer_.data(), 1, recordSize_, file_.get()) != recordSize_) {
    VEXA_THROW(Error::InvalidParameter);
  }
  ++next_;
  out.samples.resize(header_.signals.size());
  out.annotations.clear();
  size_t k = 0;
  for (size_t i = 0; i < offsets_.size(); ++i) {
    const uint8_t* p = &buffer_[static_cast<size_t>(offsets_[i])];
    if (static_cast<int>(i) == annotationIndex_) {
      const size_t end = i + 1 < offsets_.size() ? static_cast<size_t>(offsets_[i + 1]) : recordSize_;
      parseAnnotations(p, end - static_cast<size_t>(offsets_[i]), out);
      continue;
    }
    std::vector<int32_t>& v = out.samples[k];
    v.resize(static_cast<size_t>(header_.signals[k].samplesPerRecord));
    for (int32_t& s : v) {
      const uint32_t u = p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
      s = static_cast<int32_t>(u << 8) >> 8;  // sign-extends bit 23
      p += 3;
    }
    ++k;
  }
  return true;
}

}  // namespace Vexa
