#include "base/banner_sync.h"

#include <cstring>
#include <vector>

#include "vexa/exceptions.h"
#include "vexa/io.h"

namespace Vexa {
namespace {

// Far more than a stream can hold between a stop and the banner.
constexpr size_t kMaxScannedBytes = size_t{1} << 20;

}  // namespace

void awaitBanner(const char* banner, size_t bannerLength, const uint8_t* first, int already,
                 const std::function<uint8_t()>& nextByte, const char* function) {
  size_t scanned = 0;
  int taken = 0;
  auto next = [&]() -> uint8_t {
    if (++scanned > kMaxScannedBytes) VEXA_THROW_AT(Notification::ContactingDevice, function);
    // Every byte already received is scanned before anything new is read:
    // on a packet link the banner's line feed may be among them.
    return taken < already ? first[taken++] : nextByte();
  };
  std::vector<uint8_t> window(bannerLength);
  for (uint8_t& b : window) b = next();
  while (std::memcmp(window.data(), banner, bannerLength) != 0) {
    std::memmove(window.data(), window.data() + 1, bannerLength - 1);
    window[bannerLength - 1] = next();
  }
  while (next() != 0x0A) {
  }
}

std::function<uint8_t()> streamBytes(IO& io) {
  return [&io] {
    uint8_t b;
    IO::recvAll(io, &b, 1);
    return b;
  };
}

}  // namespace Vexa
