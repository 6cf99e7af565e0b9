// A pseudo-terminal whose slave side looks like a serial port to the host
// ("COM/dev/pts/N" for the device library). POSIX only.
#ifndef VEXA_SIM_PTY_LINK_H_
#define VEXA_SIM_PTY_LINK_H_

#include <string>

#include "vexa_sim/link.h"
#include "vexa_sim/unique_fd.h"

namespace vexa_sim {

class PtyLink : public Link {
 public:
  // Creates a raw pseudo-terminal; throws std::system_error on failure.
  PtyLink();

  // Reads what a client wrote to the slave side. A client closing the slave
  // is not an end: the next client may open it again.
  int read(uint8_t* buf, int len, std::chrono::milliseconds timeout) override;
  // Waits a bounded time for room; what still does not fit (no client
  // reading) is dropped, as a serial line would.
  void write(const uint8_t* data, size_t len) override;
  void wakeReader() override;

  const std::string& devicePath() const { return devicePath_; }
  std::string comPath() const { return "COM" + devicePath_; }
  // Closes both sides so a connected client sees the line go down; reads
  // then return -1. Call it while no read or write is in progress.
  void hangUp();

 private:
  // Waits on the wake pipe alone, for when the master cannot be polled.
  void idle(std::chrono::milliseconds timeout);
  void drainWakePipe();

  UniqueFd master_;
  // Our own slave descriptor, never read: with it open the master never
  // reports a hang-up between two client connections.
  UniqueFd slave_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::string devicePath_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_PTY_LINK_H_
