#include "vexa/wire_trace.h"

#include <cerrno>
#include <cinttypes>
#include <utility>

#include "io/os_error.h"
#include "io/utf8_path.h"
#include "vexa/exceptions.h"
#include "vexa/log.h"
#include "vexa/version.h"

namespace Vexa {

namespace {

// "2026-12-07T12:00:00.123Z" for a time in milliseconds since 1970, UTC.
// The civil date is computed here: gmtime is not thread-safe and its safe
// forms differ between systems.
std::string isoUtc(int64_t millis) {
  const int64_t secs = millis / 1000;
  int64_t days = secs / 86400;
  const int64_t inDay = secs % 86400;
  days += 719468;  // days from 0000-03-01 to 1970-01-01
  const int64_t era = days / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[40];
  std::snprintf(text, sizeof text, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 "T%02" PRId64 ":%02" PRId64 ":%02" PRId64
                ".%03" PRId64 "Z",
                year, month, day, inDay / 3600, inDay / 60 % 60, inDay % 60, millis % 1000);
  return text;
}

std::string nowIsoUtc() {
  using namespace std::chrono;
  return isoUtc(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace

const char* familyName(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::kOldest:
      return "oldest";
    case DeviceFamily::kCurrent:
      return "current";
    case DeviceFamily::kCurrentPaced:
      return "current-paced";
    case DeviceFamily::kCompactBoard:
      return "compact-board";
    case DeviceFamily::kCurrentScaled:
      return "current-scaled";
  }
  return "unknown";
}

void WireTrace::FileCloser::operator()(std::FILE* f) const { std::fclose(f); }

WireTrace::WireTrace(const std::string& path, std::string link, uint64_t byteLimit)
    : path_(path),
      link_(std::move(link)),
      byteLimit_(byteLimit),
      start_(std::chrono::steady_clock::now()),
      startText_(nowIsoUtc()),
      file_(openFile(path, "wb")) {
  if (!file_) VEXA_THROW_DETAIL(Error::InvalidParameter, "create " + path + ": " + errnoText(errno));
  writer_ = std::thread([this] { run(); });
}

WireTrace::~WireTrace() {
  try {
    stop();
  } catch (const Exception&) {
    // Reported to whoever called stop(); a destructor has no one to tell.
  }
}

void WireTrace::setFamily(DeviceFamily family) {
  std::lock_guard<std::mutex> hold(lock_);
  if (family_) return;
  family_ = family;
  wake_.notify_one();
}

void WireTrace::record(WireDirection direction, const void* data, int len) noexcept {
  if (len <= 0 || data == nullptr) return;
  try {
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> copy(bytes, bytes + len);
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_ || limitReached_) return;
    // Timed under the lock, so the lines keep the order of their times.
    const int64_t micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count();
    if (traced_ + static_cast<uint64_t>(len) > byteLimit_) {
      limitReached_ = true;
      queue_.push_back(Chunk{-1, direction, {}});
    } else {
      traced_ += static_cast<uint64_t>(len);
      queue_.push_back(Chunk{micros, direction, std::move(copy)});
    }
    wake_.notify_one();
  } catch (...) {
    // Out of memory: the chunk is not traced; the link goes on regardless.
  }
}

void WireTrace::stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    wake_.notify_one();
  }
  if (writer_.joinable()) writer_.join();
  if (!failure_.empty()) {
    std::string failure = std::exchange(failure_, std::string());
    VEXA_THROW_DETAIL(NotifException, failure);
  }
}

void WireTrace::run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [this] { return stopping_ || !queue_.empty() || (family_ && !headerWritten_); });
    std::deque<Chunk> batch = std::move(queue_);
    queue_.clear();
    const bool stopping = stopping_;
    const bool familyKnown = family_.has_value();
    hold.unlock();

    for (Chunk& chunk : batch) {
      heldBytes_ += chunk.bytes.size();
      held_.push_back(std::move(chunk));
    }
    if (!headerWritten_ && (familyKnown || stopping || heldBytes_ > kHeldBytes)) writeHeader();
    if (headerWritten_) {
      for (const Chunk& chunk : held_) {
        if (!writeChunk(chunk)) break;
      }
      held_.clear();
      heldBytes_ = 0;
      if (std::fflush(file_.get()) != 0 && failure_.empty()) failure_ = "write: " + errnoText(errno);
    }
    if (stopping) {
      finish();
      return;
    }
    hold.lock();
  }
}

void WireTrace::writeHeader() {
  std::optional<DeviceFamily> family;
  {
    std::lock_guard<std::mutex> hold(lock_);
    family = family_;
  }
  const std::string text = std::string("# vexa wire trace 1\n# link: ") + link_ +
                           "\n# family: " + (family ? familyName(*family) : "unknown") +
                           "\n# library: " VEXA_VERSION_STRING "\n# start: " + startText_ + "\n";
  if (std::fputs(text.c_str(), file_.get()) < 0) failure_ = "write: " + errnoText(errno);
  headerWritten_ = true;
}

bool WireTrace::writeChunk(const Chunk& chunk) {
  if (!failure_.empty()) return false;
  static const char kHex[] = "0123456789abcdef";
  std::string line;
  if (chunk.micros < 0) {
    line = "# limit reached: " + std::to_string(byteLimit_) + " bytes; nothing more is traced\n";
    logMessage(LogLevel::kWarning, "Wire trace " + path_ + ": limit of " + std::to_string(byteLimit_) +
                                       " bytes reached; nothing more is traced.");
  } else {
    char time[32];
    std::snprintf(time, sizeof time, "%" PRId64 ".%06" PRId64 " ", chunk.micros / 1000000, chunk.micros % 1000000);
    line.reserve(24 + 2 * chunk.bytes.size());
    line += time;
    line += chunk.direction == WireDirection::kOut ? "out " : "in ";
    for (uint8_t b : chunk.bytes) {
      line += kHex[b >> 4];
      line += kHex[b & 15];
    }
    line += '\n';
  }
  if (std::fwrite(line.data(), 1, line.size(), file_.get()) != line.size()) {
    failure_ = "write: " + errnoText(errno);
    logMessage(LogLevel::kError, "Wire trace " + path_ + ": " + failure_ + "; nothing more is traced.");
    return false;
  }
  return true;
}

void WireTrace::finish() {
  if (std::FILE* f = file_.release()) {
    if (std::fclose(f) != 0 && failure_.empty()) failure_ = "close: " + errnoText(errno);
  }
}

}  // namespace Vexa
