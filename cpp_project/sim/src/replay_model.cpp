#include "vexa_sim/replay_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "vexa/bdf_reader.h"
#include "vexa/exceptions.h"

namespace vexa_sim {
namespace {

constexpr double kUnitsPerSecond = 1e7;  // BDF+ times are read in 100 ns units
constexpr const char* kEndAnnotation = "Recording ends";

// "3.4" (major.minor, as the recorder's callers write it) to 0x0304.
std::optional<uint16_t> parseFirmware(const std::string& text) {
  unsigned major = 0, minor = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u.%u%c", &major, &minor, &tail) != 2 || major > 255 || minor > 255) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(major << 8 | minor);
}

// Walks the file's records forward, one at a time: the stream asks for
// ticks in ascending order within an acquisition. A file that cannot be read
// any more (changed since it was opened) plays zeros instead of failing the
// simulator's thread.
class RecordCursor {
 public:
  RecordCursor(const std::string& path, int64_t ticksPerRecord, std::vector<int32_t> divisors)
      : ticksPerRecord_(ticksPerRecord), divisors_(std::move(divisors)) {
    try {
      reader_ = std::make_unique<Vexa::BdfReader>(path);
    } catch (const Vexa::Exception&) {
    }
  }

  int32_t at(int64_t tick, int channel) {
    const int64_t wanted = tick / ticksPerRecord_;
    while (reader_ && record_ < wanted) {
      try {
        if (!reader_->readRecord(current_)) reader_.reset();
      } catch (const Vexa::Exception&) {
        reader_.reset();
      }
      ++record_;
    }
    if (record_ != wanted || static_cast<size_t>(channel) >= current_.samples.size()) return 0;
    const std::vector<int32_t>& v = current_.samples[static_cast<size_t>(channel)];
    const size_t i = static_cast<size_t>(tick % ticksPerRecord_ / divisors_[static_cast<size_t>(channel)]);
    return i < v.size() ? v[i] : 0;
  }

 private:
  std::unique_ptr<Vexa::BdfReader> reader_;
  int64_t ticksPerRecord_;
  std::vector<int32_t> divisors_;
  int64_t record_ = -1;
  Vexa::BdfRecord current_;
};

// The recorded channel of port/channel, or -1.
int recordedIndex(const Vexa::RecordingInfo& info, int port, int channel) {
  for (size_t i = 0; i < info.channels.size(); ++i) {
    if (info.channels[i].port == port && info.channels[i].channel == channel) return static_cast<int>(i);
  }
  return -1;
}

// 1000 as "1000", 0.5 as "0.5", 100000 as "100000".
std::string hertz(double rate) {
  std::ostringstream text;
  text << std::setprecision(10) << rate << " Hz";
  return text.str();
}

}  // namespace

std::string replayRefusal(const Vexa::RecordingInfo& recording, double rate,
                          const std::vector<Vexa::Source>& sources) {
  const double recorded = recording.baseFrequency;
  if (std::fabs(rate - recorded) > recorded * 1e-6) return "recorded at " + hertz(recorded) + "; asked " + hertz(rate);
  for (const Vexa::Source& s : sources) {
    for (int ch = 0; ch < 16; ++ch) {
      if (!(s.chMask & (1 << ch))) continue;
      const std::string which = "port " + std::to_string(s.port) + " channel " + std::to_string(ch);
      const int i = recordedIndex(recording, s.port, ch);
      if (i < 0) {
        std::string held;
        for (const Vexa::RecordedChannel& c : recording.channels) {
          held += (held.empty() ? "" : ", ") + std::to_string(c.port) + ":" + std::to_string(c.channel);
        }
        return "recorded port:channel " + held + "; asked " + which;
      }
      const Vexa::RecordedChannel& c = recording.channels[static_cast<size_t>(i)];
      if (c.nBits != s.nBits) {
        return which + " recorded with " + std::to_string(c.nBits) + " bits; asked " + std::to_string(s.nBits);
      }
      if (s.freqDivisor % c.freqDivisor != 0) {
        return which + " recorded every " + std::to_string(c.freqDivisor) + " ticks; asked every " +
               std::to_string(s.freqDivisor);
      }
    }
  }
  return {};
}

ReplayModel::ReplayModel(CurrentDeviceConfig config, std::string filePath) : path_(std::move(filePath)) {
  try {
    Vexa::BdfReader reader(path_);
    info_ = reader.recordingInfo();
    const Vexa::BdfHeader& header = reader.header();
    if (info_.channels.empty()) throw std::invalid_argument(path_ + " holds no recorded channel");
    ticksPerRecord_ = int64_t{header.signals[0].samplesPerRecord} * info_.channels[0].freqDivisor;
    ticks_ = header.records * ticksPerRecord_;
    // The last record is padded; the recorder notes where its data ends.
    // Onsets count from the header's time, which a file may place up to a
    // second before its first record (the first record's onset).
    Vexa::BdfRecord record;
    int64_t firstOnset = -1;
    while (reader.readRecord(record)) {
      if (firstOnset < 0) firstOnset = record.onset;
      for (const Vexa::BdfAnnotation& a : record.annotations) {
        if (a.text != kEndAnnotation) continue;
        const double ticks =
            std::round(static_cast<double>(a.onset - firstOnset) * info_.baseFrequency / kUnitsPerSecond);
        ticks_ = std::min(ticks_, static_cast<int64_t>(ticks));
      }
    }
  } catch (const Vexa::Exception& e) {
    throw std::invalid_argument("cannot replay " + path_ + ": not a readable recording (" + e.getDescription() +
                                ")");
  }
  if (ticks_ <= 0) throw std::invalid_argument("cannot replay " + path_ + ": it holds no recorded instant");
  if (!(info_.baseFrequency > 0 && info_.baseFrequency <= kMaxBaseRate)) {
    throw std::invalid_argument("cannot replay " + path_ + ": recorded at a base rate a device cannot stream");
  }
  if (!info_.deviceType.empty()) config.description = info_.deviceType;
  if (info_.productId > 0 && info_.productId <= 0xFFFF) config.productId = static_cast<uint16_t>(info_.productId);
  if (std::optional<uint16_t> fw = parseFirmware(info_.firmware)) config.fwVersion = *fw;
  setConfig(std::move(config));
}

std::string ReplayModel::refuseStart(const StartRequest& request) const {
  std::vector<Vexa::Source> sources;
  for (const StreamSource& s : request.sources) sources.push_back({s.port, s.divisor, s.nBits, s.chMask});
  return replayRefusal(info_, request.baseRate, sources);
}

FrameStream::SampleFn ReplayModel::samplesFor(const StartRequest& request) {
  std::vector<int32_t> divisors;
  for (const Vexa::RecordedChannel& c : info_.channels) divisors.push_back(c.freqDivisor);
  // The recorded channel of every (source, channel) the start asked for.
  std::vector<std::array<int, 16>> map(request.sources.size());
  for (size_t s = 0; s < request.sources.size(); ++s) {
    for (int ch = 0; ch < 16; ++ch) map[s][static_cast<size_t>(ch)] = recordedIndex(info_, request.sources[s].port, ch);
  }
  auto cursor = std::make_shared<RecordCursor>(path_, ticksPerRecord_, std::move(divisors));
  return [cursor, map = std::move(map)](int64_t tick, int source, int channel) {
    const int i = map[static_cast<size_t>(source)][static_cast<size_t>(channel)];
    return i < 0 ? 0 : cursor->at(tick, i);
  };
}

}  // namespace vexa_sim
