#include "vexa/io.h"

#include <algorithm>

#include "vexa/exceptions.h"

namespace Vexa {

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
