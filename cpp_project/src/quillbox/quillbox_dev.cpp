#include "vexa/quillbox_dev.h"

#include "signals/signals_x.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr uint8_t kStateRequest = 0x0B;
constexpr int kStateReplySize = 16;

}  // namespace

QuillboxDev::State QuillboxDev::getState() {
  if (impl() == nullptr) VEXA_THROW(Error::InvalidInstance);
  return getState(*impl());
}

QuillboxDev::State QuillboxDev::getState(BaseDev::X& x) {
  if (x.intProperty("productID") == 1537) VEXA_THROW(Error::NotSupported);
  if (x.acquiring()) VEXA_THROW(Error::InvalidOperation, 0);
  x.io->send(&kStateRequest, 1);
  uint8_t reply[kStateReplySize];
  IO::recvAll(*x.io, reply, kStateReplySize);

  State state{};
  for (int i = 0; i < 6; ++i) state.analog[i] = static_cast<uint32_t>(reply[2 * i] | reply[2 * i + 1] << 8);
  state.battery = reply[12] | reply[13] << 8;
  state.aux = reply[14];
  for (int i = 0; i < 4; ++i) state.digital[i] = (reply[15] >> (7 - i)) & 1;
  return state;
}

}  // namespace Vexa
