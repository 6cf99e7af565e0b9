// The simulated device's end of a byte link to the host.
#ifndef VEXA_SIM_LINK_H_
#define VEXA_SIM_LINK_H_

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vexa_sim {

class Link {
 public:
  virtual ~Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Reads 1..len bytes sent by the host. Returns 0 when the time-out passed
  // (a time-out of 0 or less polls) or when wakeReader() cut the wait short,
  // and -1 once the link is closed for good.
  virtual int read(uint8_t* buf, int len, std::chrono::milliseconds timeout) = 0;
  // Sends bytes to the host. A device cannot tell whether anyone listens:
  // bytes that cannot be delivered (closed link, nobody reading) are lost.
  virtual void write(const uint8_t* data, size_t len) = 0;
  // Makes a read in progress, or else the next one, return 0 at once. Safe
  // from any thread; lets the engine re-plan its wait or shut down.
  virtual void wakeReader() = 0;
  // Breaks the link: the host reads what was written before, then finds it
  // broken. Called by the engine's thread when the model fails; a link whose
  // host notices otherwise (its process ends) may leave it as it is.
  virtual void breakLink() {}

 protected:
  Link() = default;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_LINK_H_
