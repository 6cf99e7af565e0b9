// Finds the version banner a legacy device sends after a stop or an
// interrupt, so that whatever streamed before it is discarded.
#ifndef VEXA_SRC_BASE_BANNER_SYNC_H_
#define VEXA_SRC_BASE_BANNER_SYNC_H_

#include <cstddef>
#include <cstdint>
#include <functional>

namespace Vexa {

// Slides a window over the bytes nextByte() returns until it equals banner,
// then reads on to the line feed that ends the banner's line. Gives up with
// Notification::ContactingDevice (location: function) after a bounded
// number of bytes, so a device that never stops streaming cannot hang the
// caller. The first `already` bytes come from `first`.
void awaitBanner(const char* banner, size_t bannerLength, const uint8_t* first, int already,
                 const std::function<uint8_t()>& nextByte, const char* function);

class IO;
// Single bytes from a byte stream, each within the stream's time-out.
std::function<uint8_t()> streamBytes(IO& io);

}  // namespace Vexa

#endif  // VEXA_SRC_BASE_BANNER_SYNC_H_
