// A scripted transport for unit tests: the test feeds the bytes the device
// sends, and reads back what the host sent. recv never blocks: an empty
// inbox is a time-out.
#ifndef VEXA_TESTS_SUPPORT_FAKE_IO_H_
#define VEXA_TESTS_SUPPORT_FAKE_IO_H_

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "vexa/exceptions.h"
#include "vexa/io.h"

namespace vexa_test {

using Bytes = std::vector<uint8_t>;
inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class FakeIO : public Vexa::IO {
 public:
  void feed(const Bytes& bytes) { inbox.insert(inbox.end(), bytes.begin(), bytes.end()); }
  // Marks the end of what one recv may return, as a packet transport would.
  void feedPacket(const Bytes& packet) { packets.push_back(packet); }

  void setRcvTimeout(int ms) override {
    timeouts.push_back(ms);
    rcvTimeout = ms;
  }

  int doRecv(void* buf, int len) override {
    ++recvCalls;
    if (beforeRecv) beforeRecv(*this);
    if (broken) VEXA_THROW(Vexa::Notification::ContactingDevice);
    if (!packets.empty()) {
      Bytes p = packets.front();
      packets.pop_front();
      int n = std::min<int>(len, static_cast<int>(p.size()));
      std::memcpy(buf, p.data(), n);
      return n;
    }
    int n = std::min({len, maxChunk, static_cast<int>(inbox.size())});
    std::copy_n(inbox.begin(), n, static_cast<uint8_t*>(buf));
    inbox.erase(inbox.begin(), inbox.begin() + n);
    return n;
  }

  void doSend(const void* buf, int len) override {
    const auto* p = static_cast<const uint8_t*>(buf);
    Bytes chunk(p, p + len);
    sent.insert(sent.end(), chunk.begin(), chunk.end());
    sends.push_back(chunk);
    if (onSend) onSend(chunk, *this);
  }

  // Forgets what the handshake sent and set, so a test sees only its own.
  void forget() {
    sent.clear();
    sends.clear();
    recvCalls = 0;
    timeouts.clear();
  }

  std::deque<uint8_t> inbox;
  std::deque<Bytes> packets;
  Bytes sent;               // every byte the host sent, in order
  std::vector<Bytes> sends;  // one entry per send call
  std::vector<int> timeouts;
  int recvCalls = 0;
  int maxChunk = INT_MAX;  // at most this many bytes per recv
  bool broken = false;
  // Plays the device: called after every send with what was sent.
  std::function<void(const Bytes&, FakeIO&)> onSend;
  // Runs at the start of every recv, while a loop would be waiting.
  std::function<void(FakeIO&)> beforeRecv;
};

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_FAKE_IO_H_
