#include "recording.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "base_dev_unity.h"
#include "vexa/exceptions.h"
#include "vexa/log.h"

namespace Vexa {
namespace Unity {
namespace {


bool hasRecordingExtension(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".bdf" || ext == ".csv";
}

// What a failure of the recorder says: the system's cause when it gave one.
std::string causeOf(const Exception& e) { return e.detail().empty() ? e.getDescription() : e.detail(); }

// Closes rec; "" when the file was completed, else why it was not.
std::string closeFile(Recorder& rec) {
  try {
    rec.close();
    return "";
  } catch (const Exception& e) {
    return "The recording could not be written: " + causeOf(e);
  } catch (const std::exception& e) {
    return std::string("The recording could not be written: ") + e.what();
  }
}

}  // namespace

std::vector<Source> portSources(const std::vector<int32_t>& ports, int nBits) {
  std::vector<Source> sources;
  for (int32_t port : ports) sources.push_back(Source{port, 1, nBits, 1});
  return sources;
}

RecordingInfo describeAcquisition(const BaseDevUnity& dev, const std::string& path) {
  Properties props = dev.getProperties();
  RecordingInfo info;
  info.deviceType = props["description"].asString();
  info.productId = props["productID"].asInt();
  const int32_t fw = props["fwVersion"].asInt();
  info.firmware = std::to_string(fw >> 8) + "." + std::to_string(fw & 0xFF);
  info.path = props["path"].asString();
  info.start = RecordingStart::now();
  info.baseFrequency = dev.startedFrequency();
  // The compact board sends four 10-bit values, then two 6-bit ones,
  // whatever resolution the start asked for.
  const bool compactBoard = dev.family() == DeviceFamily::kCompactBoard;
  for (const Source& s : dev.startedSources()) {
    for (int32_t ch = 0; ch < 16; ++ch) {
      if ((s.chMask >> ch & 1) == 0) continue;
      const int32_t bits = compactBoard ? (info.channels.size() < 4 ? 10 : 6) : s.nBits;
      info.channels.push_back(RecordedChannel{s.port, ch, s.freqDivisor, bits});
    }
  }
  // As many channels as the raw-data handler gets, never more than the
  // samples the decoder holds.
  const size_t delivered = std::min(dev.channelPorts.size(), static_cast<size_t>(std::max(dev.channelCount(), 0)));
  if (info.channels.size() < delivered) {
    VEXA_THROW_DETAIL(Error::InvalidOperation, "The acquisition's channels are not known.", 0);
  }
  info.channels.resize(delivered);
  return info;
}

Recording::~Recording() {
  // Deliberately not closed: see the header.
  static_cast<void>(recorder_.release());
}

void Recording::start(const BaseDevUnity& dev, const std::string& path) {
  std::lock_guard<std::mutex> finishing(finishing_);
  if (path.empty()) VEXA_THROW_DETAIL(Error::InvalidParameter, "The recording needs a file path.");
  if (!hasRecordingExtension(path)) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "The recording's file must end in .bdf or .csv: " + path);
  }
  if (dev.channelCount() <= 0 || dev.channelPorts.empty()) {
    VEXA_THROW_DETAIL(Error::InvalidOperation, "No acquisition runs: start one before recording.", 0);
  }
  if (running()) {
    VEXA_THROW_DETAIL(Error::InvalidOperation, "A recording is already running: stop it first.", 0);
  }
  const RecordingInfo info = describeAcquisition(dev, path);
  std::unique_ptr<Recorder> rec;
  try {
    rec = std::make_unique<Recorder>(path, info);
  } catch (const Exception& e) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "The recording could not start: " + causeOf(e));
  }
  std::lock_guard<std::mutex> l(lock_);
  recorder_ = std::move(rec);
  device_ = &dev;
  channels_ = static_cast<int>(info.channels.size());
  refused_.clear();
  ended_ = false;
  endFailure_.clear();
}

bool Recording::running() {
  std::lock_guard<std::mutex> l(lock_);
  return recorder_ != nullptr;
}

std::unique_ptr<Recorder> Recording::take(const BaseDevUnity* dev) {
  std::lock_guard<std::mutex> l(lock_);
  if (!recorder_ || (dev != nullptr && dev != device_)) return nullptr;
  device_ = nullptr;
  return std::move(recorder_);
}

void Recording::stop() {
  std::lock_guard<std::mutex> finishing(finishing_);
  std::unique_ptr<Recorder> rec;
  std::string failure;
  {
    std::lock_guard<std::mutex> l(lock_);
    if (!recorder_) {
      if (!ended_) VEXA_THROW_DETAIL(Error::InvalidOperation, "No recording is running.", 0);
      ended_ = false;
      failure.swap(endFailure_);
    } else {
      device_ = nullptr;
      rec = std::move(recorder_);
      failure.swap(refused_);
    }
  }
  if (rec) {
    const std::string written = closeFile(*rec);
    if (!written.empty()) failure = written;
  }
  if (!failure.empty()) VEXA_THROW_DETAIL(Error::InvalidOperation, failure, 0);
}

void Recording::end(const BaseDevUnity& dev, const char* why) {
  std::lock_guard<std::mutex> finishing(finishing_);
  std::unique_ptr<Recorder> rec = take(&dev);
  if (!rec) return;
  std::string failure = closeFile(*rec);
  logMessage(failure.empty() ? LogLevel::kInfo : LogLevel::kWarning,
             std::string("The recording ended: ") + why + (failure.empty() ? "." : ". " + failure));
  std::lock_guard<std::mutex> l(lock_);
  if (failure.empty()) failure.swap(refused_);
  refused_.clear();
  ended_ = true;
  endFailure_ = std::move(failure);
}

void Recording::instant(int tick, const int* data) {
  std::lock_guard<std::mutex> l(lock_);
  if (!recorder_ || !refused_.empty()) return;
  try {
    recorder_->addInstant(tick, data, channels_);
  } catch (const Exception& e) {
    // A tick that went backwards or leapt: the file cannot hold what
    // follows; the stop says so.
    refused_ = "The recording stopped taking samples at tick " + std::to_string(tick) + ": " + causeOf(e);
  }
}

void Recording::event(const BaseDevUnity& dev, const Event& ev) {
  {
    std::lock_guard<std::mutex> l(lock_);
    if (!recorder_) return;
    recorder_->addEvent(ev);
  }
  if (ev.type == Event::kDisconnect) end(dev, "the device reported a disconnect");
}

void Recording::marker(const std::string& text) {
  std::lock_guard<std::mutex> l(lock_);
  if (!recorder_) VEXA_THROW_DETAIL(Error::InvalidOperation, "No recording is running.", 0);
  recorder_->addMarker(text);
}

Recording& recording() {
  static Recording one;
  return one;
}

}  // namespace Unity
}  // namespace Vexa
