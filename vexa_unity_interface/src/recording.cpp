#include "recording.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>

#include "base_dev_unity.h"
#include "report.h"
#include "sample_ring.h"
#include "vexa/exceptions.h"
#include "vexa/host_clock.h"
#include "vexa/log.h"

namespace Vexa {
namespace Unity {
namespace {

const char kNotWritten[] = "The recording could not be written: ";
constexpr int kMaxChannels = 512;
// The widths of the file's header fields that hold these texts.
constexpr size_t kLabelChars = 16, kUnitChars = 8, kFieldChars = 80;

// A header field of the file holds printable ASCII only, and so many
// characters.
void checkText(const std::string& what, const std::string& text, size_t maxChars) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) VEXA_THROW_DETAIL(Error::InvalidParameter, what + " must be printable ASCII.");
  }
  if (text.size() > maxChars) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, what + " has " + std::to_string(text.size()) +
                                                   " characters; the file holds " + std::to_string(maxChars) + ".");
  }
}

bool isDefault(const ChannelDescription& d) {
  return d.label.empty() && d.unit.empty() && d.physicalMin == 0 && d.physicalMax == 0;
}

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
    return kNotWritten + causeOf(e);
  } catch (const std::exception& e) {
    return kNotWritten + std::string(e.what());
  }
}

}  // namespace

int64_t tickNamed(uint32_t clockValue, const BaseDevUnity& dev) {
  const int64_t last = dev.instantTick.load(std::memory_order_relaxed);
  const int64_t near = last == BaseDevUnity::kNoInstant ? 0 : last;
  return near + static_cast<int32_t>(clockValue - static_cast<uint32_t>(near));
}

std::vector<Source> portSources(const std::vector<int32_t>& ports, int nBits) {
  std::vector<Source> sources;
  for (int32_t port : ports) sources.push_back(Source{port, 1, nBits, 1});
  return sources;
}

std::vector<RecordedChannel> channelLayout(const BaseDevUnity& dev) {
  std::vector<RecordedChannel> channels;
  // The compact board sends four 10-bit values, then two 6-bit ones,
  // whatever resolution the start asked for.
  const bool compactBoard = dev.family() == DeviceFamily::kCompactBoard;
  for (const Source& s : dev.startedSources()) {
    for (int32_t ch = 0; ch < 16; ++ch) {
      if ((s.chMask >> ch & 1) == 0) continue;
      const int32_t bits = compactBoard ? (channels.size() < 4 ? 10 : 6) : s.nBits;
      channels.push_back(RecordedChannel{s.port, ch, s.freqDivisor, bits});
    }
  }
  // As many channels as the raw-data handler gets, never more than the
  // samples the decoder holds.
  const size_t delivered = std::min(dev.channelPorts.size(), static_cast<size_t>(std::max(dev.channelCount(), 0)));
  if (channels.size() > delivered) channels.resize(delivered);
  return channels;
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
  info.channels = dev.ring().acquisition().channels;
  return info;
}

Recording::~Recording() {
  // Deliberately not closed: see the header.
  static_cast<void>(recorder_.release());
}

void Recording::describeChannel(int position, const ChannelDescription& description) {
  if (position < 0 || position >= kMaxChannels) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "The channel position must be 0 to " +
                                                   std::to_string(kMaxChannels - 1) + ": " + std::to_string(position));
  }
  const std::string channel = " of channel " + std::to_string(position);
  checkText("The label" + channel, description.label, kLabelChars);
  checkText("The unit" + channel, description.unit, kUnitChars);
  const double lo = description.physicalMin, hi = description.physicalMax;
  if (!std::isfinite(lo) || !std::isfinite(hi)) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "The physical range" + channel + " must be finite.");
  }
  if (lo == hi && lo != 0) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "The physical range" + channel + " is empty: its ends must differ.");
  }
  std::lock_guard<std::mutex> finishing(finishing_);
  if (described_.size() <= static_cast<size_t>(position)) described_.resize(position + 1);
  described_[position] = description;
  // Trailing defaults describe nothing: a start need not have their channels.
  while (!described_.empty() && isDefault(described_.back())) described_.pop_back();
}

void Recording::describe(const std::string& subject, const std::string& note) {
  checkText("The subject", subject, kFieldChars);
  checkText("The note", note, kFieldChars);
  std::lock_guard<std::mutex> finishing(finishing_);
  subject_ = subject;
  note_ = note;
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
  RecordingInfo info = describeAcquisition(dev, path);
  if (described_.size() > info.channels.size()) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "Channel " + std::to_string(described_.size() - 1) +
                                                   " is described, but the acquisition has " +
                                                   std::to_string(info.channels.size()) + " channels.");
  }
  if (!described_.empty()) {
    info.descriptions = described_;
    info.descriptions.resize(info.channels.size());
  }
  info.subject = subject_;
  info.note = note_;
  std::unique_ptr<Recorder> rec;
  try {
    RecorderOptions options;
    options.clock = &dev.tickTimes();
    rec = std::make_unique<Recorder>(path, info, options);
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
  described_.clear();
  subject_.clear();
  note_.clear();
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

void Recording::instant(int64_t tick, const int* data) {
  std::string cause;
  const BaseDevUnity* dev = nullptr;
  {
    std::lock_guard<std::mutex> l(lock_);
    if (!recorder_ || !refused_.empty()) return;
    // The writer's flag costs an atomic load; its cause is read once.
    if (recorder_->counters().writeFailed) {
      dev = device_;
      cause = recorder_->failure();
      refused_ = kNotWritten + cause;
    } else {
      try {
        recorder_->addInstant(tick, data, channels_);
      } catch (const Exception& e) {
        // A tick that went backwards or leapt: the file cannot hold what
        // follows; the stop says so.
        refused_ = "The recording stopped taking samples at tick " + std::to_string(tick) + ": " + causeOf(e);
      }
      return;
    }
  }
  // Once, on the loop's thread, without a lock: the handler may stop the
  // recording.
  const std::string text = kNotWritten + cause;
  rememberFailure(cause);
  logMessage(LogLevel::kError, text);
  // The loop calls this for its own device, which outlives the call.
  dev->reportFailure(VEXA_EXT_RECORDING_FAILED, text.c_str());
}

void Recording::event(const BaseDevUnity& dev, const Event& ev) {
  {
    std::lock_guard<std::mutex> l(lock_);
    if (!recorder_) return;
    if (ev.type == Event::kDigitalInput && static_cast<const Events::DigitalInput&>(ev).clockSource == kTickClock) {
      recorder_->addEvent(ev, tickNamed(static_cast<const Events::DigitalInput&>(ev).clockValue, dev));
    } else {
      recorder_->addEvent(ev);
    }
  }
  if (ev.type == Event::kDisconnect) end(dev, "the device reported a disconnect");
}

void Recording::marker(const std::string& text) {
  // Another thread's call lands where the device was when it was made, not
  // on whichever instant the loop delivered last (the link's delay behind).
  const double now = hostTime();
  std::lock_guard<std::mutex> l(lock_);
  if (!recorder_) VEXA_THROW_DETAIL(Error::InvalidOperation, "No recording is running.", 0);
  const bool onLoop = device_->onOwnLoopThread();
  if (!refused_.empty()) VEXA_THROW_DETAIL(Error::InvalidOperation, refused_, 0);
  if (!(onLoop ? recorder_->addMarker(text) : recorder_->addMarkerAt(text, now))) {
    VEXA_THROW_DETAIL(Error::InvalidOperation,
                      "The marker was not added: too many markers wait to be written; add them less often.", 0);
  }
}

void Recording::markerAt(const std::string& text, double hostTime) {
  if (!std::isfinite(hostTime)) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "The marker's host time must be a finite number of seconds.");
  }
  std::lock_guard<std::mutex> l(lock_);
  if (!recorder_) VEXA_THROW_DETAIL(Error::InvalidOperation, "No recording is running.", 0);
  if (!refused_.empty()) VEXA_THROW_DETAIL(Error::InvalidOperation, refused_, 0);
  if (!recorder_->addMarkerAt(text, hostTime)) {
    VEXA_THROW_DETAIL(Error::InvalidOperation,
                      "The marker was not added: too many markers wait to be written; add them less often.", 0);
  }
}

}  // namespace Unity
}  // namespace Vexa
