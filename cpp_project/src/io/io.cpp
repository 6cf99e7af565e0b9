#include "vexa/io.h"

#include <algorithm>
#include <utility>

#include "vexa/exceptions.h"
#include "vexa/wire_trace.h"

namespace Vexa {

int IO::recv(void* buf, int len) {
  const int n = doRecv(buf, len);
  if (n > 0 && traced_.load(std::memory_order_acquire)) tap(true, buf, n);
  return n;
}

// Traced before it goes out: a reply cannot then be traced ahead of the
// command that asked for it, even when another thread reads it.
void IO::send(const void* buf, int len) {
  if (len > 0 && buf != nullptr && traced_.load(std::memory_order_acquire)) tap(false, buf, len);
  doSend(buf, len);
}

void IO::attachTrace(std::shared_ptr<WireTrace> trace) {
  std::shared_ptr<WireTrace> earlier;
  {
    std::lock_guard<std::mutex> hold(traceLock_);
    traced_.store(trace != nullptr, std::memory_order_release);
    earlier = std::exchange(trace_, std::move(trace));
  }
  // A last owner's release closes the file: not under the lock a call takes.
}

std::shared_ptr<WireTrace> IO::trace() const {
  std::lock_guard<std::mutex> hold(traceLock_);
  return trace_;
}

void IO::tap(bool fromDevice, const void* data, int len) {
  if (const std::shared_ptr<WireTrace> t = trace()) {
    t->record(fromDevice ? WireDirection::kIn : WireDirection::kOut, data, len);
  }
}

void IO::recvAll(IO& io, void* buf, int len) {
  auto* out = static_cast<uint8_t*>(buf);
  int got = 0;
  if (len > 0 && !io.putBack.empty()) {
    int take = std::min<int>(len, static_cast<int>(io.putBack.size()));
    std::copy_n(io.putBack.begin(), take, out);
    io.putBack.erase(io.putBack.begin(), io.putBack.begin() + take);
    got = take;
  }
  while (got < len) {
    int n = io.recv(out + got, len - got);
    if (n <= 0) VEXA_THROW(Notification::ContactingDevice);
    got += n;
  }
}

}  // namespace Vexa
