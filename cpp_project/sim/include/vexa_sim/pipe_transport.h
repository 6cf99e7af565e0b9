// Both ends of an in-process link: the host's transport and the device's
// link, joined by two byte channels. Lets tests run the device library
// against a simulated device without any operating-system port.
#ifndef VEXA_SIM_PIPE_TRANSPORT_H_
#define VEXA_SIM_PIPE_TRANSPORT_H_

#include <memory>
#include <utility>

#include "vexa/io.h"
#include "vexa_sim/byte_channel.h"
#include "vexa_sim/link.h"

namespace vexa_sim {

// The host end. recv and send may run on two threads at once (one reader,
// one writer). Destroying it breaks the link for the device end.
class PipeTransport : public Vexa::IO {
 public:
  explicit PipeTransport(ChannelPair channels);
  ~PipeTransport() override;

  // Stored unchanged: > 0 waits at most ms, 0 polls, < 0 waits without limit.
  void setRcvTimeout(int ms) override;
  // 1..len bytes, or 0 when the time-out passed; throws
  // Notification::ContactingDevice once the device end is gone.
  int doRecv(void* buf, int len) override;
  // All len bytes, or Notification::ContactingDevice when the link is broken.
  void doSend(const void* buf, int len) override;

 private:
  ChannelPair channels_;
};

// The device end. Destroying it breaks the link for the host end.
class PipeLink : public Link {
 public:
  explicit PipeLink(ChannelPair channels);
  ~PipeLink() override;

  int read(uint8_t* buf, int len, std::chrono::milliseconds timeout) override;
  void write(const uint8_t* data, size_t len) override;
  void wakeReader() override;
  void breakLink() override { channels_.close(); }

 private:
  ChannelPair channels_;
};

// A fresh link: first the host end, then the device end.
std::pair<std::unique_ptr<PipeTransport>, std::unique_ptr<PipeLink>> makePipe();

}  // namespace vexa_sim

#endif  // VEXA_SIM_PIPE_TRANSPORT_H_
