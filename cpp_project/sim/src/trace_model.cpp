#include "vexa_sim/trace_model.h"

#include <chrono>
#include <cmath>
#include <string>

namespace vexa_sim {
namespace {

// Whole microseconds, as the trace writes them: pauses taken as differences
// of these are exact, where differences of the decimals are not.
std::chrono::microseconds microsecondsOf(double seconds) {
  return std::chrono::microseconds(std::llround(seconds * 1e6));
}

}  // namespace

TraceModel::TraceModel(const WireTrace& trace, TimePoint start) : cut_(trace.cut) {
  std::chrono::microseconds last{0};  // where pauses count from: trace start, then each chunk
  for (const TraceChunk& chunk : trace.chunks) {
    // A host chunk after a reply opens a new exchange; so does the first.
    if (exchanges_.empty() || (chunk.fromHost && !exchanges_.back().replies.empty())) {
      exchanges_.emplace_back();
      exchanges_.back().line = chunk.line;
    }
    Exchange& exchange = exchanges_.back();
    if (chunk.fromHost) {
      exchange.expected.insert(exchange.expected.end(), chunk.bytes.begin(), chunk.bytes.end());
    } else {
      exchange.replies.push_back({microsecondsOf(chunk.seconds) - last, chunk.bytes});
    }
    last = microsecondsOf(chunk.seconds);
  }
  // What the device sent before the host said anything.
  if (!exchanges_.empty() && exchanges_[0].expected.empty()) answer(exchanges_[next_++], start);
}

void TraceModel::answer(const Exchange& exchange, TimePoint now) {
  TimePoint at = now;
  for (const Reply& reply : exchange.replies) {
    at += reply.pause;
    due_.push_back({at, reply.bytes});
  }
}

void TraceModel::onHostBytes(const uint8_t* data, size_t len, TimePoint now) {
  for (size_t i = 0; i < len && failure().empty(); ++i) {
    if (next_ == exchanges_.size()) {
      fail("trace mismatch after the trace's end" + std::string(cut_ ? " (cut at its byte limit)" : "") +
           ": expected nothing got " + hexOf(std::vector<uint8_t>(data + i, data + len)));
      break;
    }
    const Exchange& exchange = exchanges_[next_];
    received_.push_back(data[i]);
    if (data[i] != exchange.expected[received_.size() - 1]) {
      received_.insert(received_.end(), data + i + 1, data + len);
      fail("trace mismatch at line " + std::to_string(exchange.line) + ": expected " + hexOf(exchange.expected) +
           " got " + hexOf(received_));
      break;
    }
    if (received_.size() == exchange.expected.size()) {
      answer(exchange, now);
      received_.clear();
      ++next_;
    }
  }
  if (!failure().empty()) due_.clear();
}

std::optional<DeviceModel::TimePoint> TraceModel::nextWake() const {
  if (due_.empty()) return std::nullopt;
  return due_.front().at;
}

void TraceModel::onWake(TimePoint now) {
  // In the trace's order: a reply never overtakes an earlier one.
  while (!due_.empty() && due_.front().at <= now) {
    emit(due_.front().bytes);
    due_.pop_front();
  }
}

bool TraceModel::finished() const { return next_ == exchanges_.size() && due_.empty(); }

}  // namespace vexa_sim
