// Shared by the fuzz targets: the input read from both ends, a transport
// that serves it in chunks whose sizes also come from the input, a device
// object whose callbacks take their answers from it, and the replies a
// device gives while a connection is made.
//
// Input layout: parameters and the device's byte stream are read from the
// front; chunk sizes and callback decisions from the back. The two ends
// meet, so an input runs dry as a whole.
#ifndef VEXA_FUZZ_FUZZ_IO_H_
#define VEXA_FUZZ_FUZZ_IO_H_

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "signals/signals_x.h"
#include "vexa/exceptions.h"
#include "vexa/io.h"
#include "vexa/signals_dev.h"
#include "vexa_sim/message_codec.h"

namespace vexa_fuzz {

using Bytes = std::vector<uint8_t>;

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  size_t left() const { return static_cast<size_t>(end_ - p_); }
  uint8_t front() { return p_ < end_ ? *p_++ : 0; }
  uint8_t back() { return p_ < end_ ? *--end_ : 0; }
  uint16_t front16() {
    const uint16_t lo = front();
    return static_cast<uint16_t>(lo | front() << 8);
  }
  int32_t front32() {
    const uint32_t lo = front16();
    return static_cast<int32_t>(lo | static_cast<uint32_t>(front16()) << 16);
  }
  Bytes frontBytes(size_t n) {
    Bytes b(std::min(n, left()));
    take(b.data(), b.size());
    return b;
  }
  // Copies up to n front bytes to out; returns how many.
  size_t take(uint8_t* out, size_t n) {
    n = std::min(n, left());
    std::copy_n(p_, n, out);
    p_ += n;
    return n;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// The device's side of the link. What the device answers to the host's
// sends (`replies`) comes first; then, once `live`, the input's stream, in
// chunks sized by back bytes: 1 to 32 bytes, or nothing at all (a time-out)
// for one back byte in eight. On a packet link each recv is one packet.
class FuzzIO : public Vexa::IO {
 public:
  FuzzIO(FuzzInput& in, int packetSize = 0) : in_(in), packetSize_(packetSize) {}

  void setRcvTimeout(int ms) override { rcvTimeout = ms; }

  int doRecv(void* buf, int len) override {
    if (len <= 0) return 0;
    if (beforeRecv) beforeRecv();
    auto* out = static_cast<uint8_t*>(buf);
    if (replies.empty() && onIdle) onIdle();
    if (!replies.empty()) {
      Bytes& r = replies.front();
      const int n = std::min<int>(len, static_cast<int>(r.size()));
      std::copy_n(r.begin(), n, out);
      r.erase(r.begin(), r.begin() + n);
      // A packet is read whole or its rest is lost, as a BLE value is.
      if (r.empty() || packetSize_ != 0) replies.pop_front();
      return n;
    }
    if (!live || in_.left() == 0) {
      if (live && dryReads <= 0) VEXA_THROW(Vexa::Notification::ContactingDevice);
      if (live) --dryReads;
      return 0;
    }
    const uint8_t c = in_.back();
    if ((c & 7) == 7) return 0;
    int n = std::min(len, 1 + (c >> 3));
    if (packetSize_ != 0) n = std::min(n, packetSize_);
    return static_cast<int>(in_.take(out, static_cast<size_t>(n)));
  }

  void doSend(const void* buf, int len) override {
    const auto* p = static_cast<const uint8_t*>(buf);
    const Bytes chunk(p, p + std::max(len, 0));
    sent.insert(sent.end(), chunk.begin(), chunk.end());
    if (onSend) onSend(chunk);
  }

  void reply(Bytes bytes) { replies.push_back(std::move(bytes)); }

  std::deque<Bytes> replies;
  Bytes sent;
  bool live = false;
  // Once dry and live: reads that still time out, then the link stays
  // broken (INT32_MAX: it never breaks).
  int dryReads = 0x7FFFFFFF;
  std::function<void(const Bytes&)> onSend;
  std::function<void()> onIdle;      // may add replies when none wait
  std::function<void()> beforeRecv;  // runs while a reader waits

 private:
  FuzzInput& in_;
  int packetSize_;
};

// Callbacks answer from the back of the input; time-outs and interrupts end
// the loop, so every loop ends once the input runs dry.
class FuzzDev : public Vexa::SignalsDev {
 public:
  FuzzDev(const std::string& path, std::unique_ptr<Vexa::IO> io, FuzzInput& in)
      : SignalsDev(path, std::move(io)), in_(in) {}
  using BaseDev::impl;

  bool onEvent(const Vexa::Event&) override { return (in_.back() & 3) == 3; }
  bool onTimeout() override { return true; }
  bool onInterrupt(void*) override { return true; }
  bool onRawFrame(int, const int data[]) override {
    // Touch every sample: a stale or short array shows up under ASan.
    volatile int sum = 0;
    for (int i = 0; i < impl()->sigX->totalChannels; ++i) sum = sum + data[i];
    const uint8_t c = in_.back();
    if (onFrame && (c & 0xF0) == 0xF0) onFrame();
    return (c & 7) == 7;
  }
  std::function<void()> onFrame;

 private:
  FuzzInput& in_;
};

// What a current-generation device answers while the host connects.
struct CurrentAnswers {
  std::string description = "tessarimodular";
  uint16_t productId = 0x0205;
  uint16_t fwVersion = 0x0400;
  uint8_t replyCode = 0x00;  // for commands after the handshake
};

// Plays a current-generation device's answers on io: the description to
// 'V', the version record, identifier and colour, and a reply with
// `answers.replyCode` to any other command.
inline void answerAsCurrent(FuzzIO& io, bool packets, const CurrentAnswers& answers) {
  io.onSend = [&io, packets, answers](const Bytes& chunk) {
    // Every code answered is below 0x80: a packet's first byte.
    auto answer = [&](uint8_t code, Bytes payload) {
      if (packets) payload.insert(payload.begin(), code);
      io.reply(packets ? payload : vexa_sim::encodeMessage(code, payload));
    };
    if (chunk == Bytes{'V'} || (packets && chunk == Bytes{0x07})) {
      answer(0, Bytes(answers.description.begin(), answers.description.end()));
      return;
    }
    if (chunk.size() < 3 || chunk[0] != 0xAA) return;
    const std::map<Bytes, Bytes> handshake = {
        {{0x03, 0x00},
         {static_cast<uint8_t>(answers.productId >> 8), static_cast<uint8_t>(answers.productId),
          static_cast<uint8_t>(answers.fwVersion >> 8), static_cast<uint8_t>(answers.fwVersion), 0xFF, 0xFF}},
        {{0x03, 0x03}, {0x12, 0x34}},
        {{0x03, 0x04}, {3}}};
    const auto found = handshake.find(Bytes(chunk.begin() + 2, chunk.end() - 1));
    if (found != handshake.end()) return answer(0, found->second);
    answer(answers.replyCode, answers.replyCode == 0 ? Bytes{} : Bytes{5});
  };
}

// Connects a FuzzDev (packets: over BLE) while `answer` plays the device's
// side of the handshake on the link; the input's stream flows afterwards.
inline std::unique_ptr<FuzzDev> connect(FuzzInput& in, bool packets, FuzzIO** ioOut,
                                        const std::function<void(FuzzIO&)>& answer) {
  auto io = std::make_unique<FuzzIO>(in, packets ? 20 : 0);
  FuzzIO* raw = io.get();
  answer(*raw);
  auto dev = std::make_unique<FuzzDev>(packets ? "BLEfuzz" : "COMfuzz", std::move(io), in);
  raw->live = true;
  if (ioOut) *ioOut = raw;
  return dev;
}

// A current-generation device, which goes on answering commands.
inline std::unique_ptr<FuzzDev> connectCurrent(FuzzInput& in, bool packets, const CurrentAnswers& answers = {},
                                               FuzzIO** ioOut = nullptr) {
  return connect(in, packets, ioOut, [&](FuzzIO& io) { answerAsCurrent(io, packets, answers); });
}

// A legacy device that answers its probe (0x07 for the compact board, 'V'
// for the oldest family) with `line`; afterwards only the input speaks.
inline std::unique_ptr<FuzzDev> connectLegacy(FuzzInput& in, const std::string& line, bool packets, FuzzIO** ioOut) {
  auto dev = connect(in, packets, ioOut, [&](FuzzIO& io) {
    const uint8_t probe = line.rfind("Quillbox", 0) == 0 ? 0x07 : 'V';
    io.onSend = [&io, probe, line](const Bytes& chunk) {
      if (chunk == Bytes{probe}) io.reply(Bytes(line.begin(), line.end()));
    };
  });
  (*ioOut)->onSend = nullptr;
  return dev;
}

// Runs f, letting the library's own exceptions end it: they are the
// expected answer to bad input. Anything else escapes and is a finding.
template <class F>
void guarded(F&& f) {
  try {
    f();
  } catch (const Vexa::Exception&) {
  }
}

// A legacy device's session: loops (interrupted at times while they wait),
// stops that search the stream for the version banner, restarts and
// battery queries, in an order the input picks.
inline void legacySession(FuzzInput& in, FuzzDev& dev, FuzzIO& io, const std::function<void()>& start) {
  Vexa::BaseDev::X& x = *dev.impl();
  // The host's other thread, arriving while the loop waits for data.
  io.beforeRecv = [&] {
    if (x.state == Vexa::kReceiving && (in.back() & 0x0F) == 0x0F) dev.interrupt(nullptr);
  };
  guarded(start);
  for (int i = 0; i < 16 && in.left() > 0; ++i) {
    guarded([&] {
      switch (in.back() % 6) {
        case 0: dev.stop(); break;
        case 1: start(); break;
        case 2: dev.getBattery(); break;
        default: dev.loop(); break;
      }
    });
  }
}

// The message reader of either link: messages cut anywhere (on a packet
// link, one per packet), commands waiting for their reply among them, and
// what they leave queued, handed on as the loop would.
inline void readMessages(FuzzInput& in, bool packets) {
  FuzzIO* io = nullptr;
  std::unique_ptr<FuzzDev> dev;
  guarded([&] { dev = connectCurrent(in, packets, {}, &io); });
  if (!dev) return;
  io->onSend = nullptr;  // replies to commands come from the input too
  Vexa::BaseDev::X& x = *dev->impl();
  for (int i = 0; i < 64 && in.left() > 0; ++i) {
    guarded([&] {
      const uint8_t op = in.back();
      if (op % 5 == 4) {
        x.sendCommand({static_cast<uint8_t>(packets ? 0x03 : 0x04), 0x00});
        return;
      }
      uint16_t len = 0;
      const uint16_t code = x.recvMsg(len, 100, !packets && op % 5 == 3);
      if (code == Vexa::kNoMessage) return;
      if (x.rxBuf.size() < static_cast<size_t>(len) + 1 || (packets && len > 19)) std::abort();
      if (op % 5 == 2) {
        x.queueMsg(code, len);
      } else if (packets) {
        x.dispatchMsg(code, x.rxBuf.data(), len);
      }
    });
  }
  guarded([&] { x.dispatchPending(); });
}

}  // namespace vexa_fuzz

#endif  // VEXA_FUZZ_FUZZ_IO_H_
