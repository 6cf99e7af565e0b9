#include "signals/signals_x.h"

#include "vexa/exceptions.h"

namespace Vexa {

void SignalsX::setUp(std::vector<SourceLayout> newLayouts, double baseFreq) {
  layouts = std::move(newLayouts);
  nSources = static_cast<int32_t>(layouts.size());
  totalChannels = 0;
  everyTick = true;
  bytesPerTick = 0;
  for (const SourceLayout& l : layouts) {
    totalChannels += l.nChannels;
    everyTick = everyTick && l.divisor == 1;
    bytesPerTick += l.nBits / 8 * l.nChannels;
  }
  samples.assign(static_cast<size_t>(totalChannels), 0);
  counter = 0;
  tickTimes.start(baseFreq);
  ++generation;
}

void SignalsX::release() {
  std::vector<SourceLayout>().swap(layouts);
  std::vector<int32_t>().swap(samples);
  nSources = 0;
  totalChannels = 0;
  ++generation;
}

void SignalsX::validateSource(const Source& source) {
  const int32_t productId = x.intProperty("productID");
  const bool takes24Bits = productId == 517 || productId == 533 || productId == 534 || productId == 542 ||
                           (productId == 513 && x.intProperty("fwVersion") >= 0x0307);
  if (static_cast<uint32_t>(source.port) > 63) VEXA_THROW(Error::InvalidParameter);
  if (source.freqDivisor <= 0) VEXA_THROW(Error::InvalidParameter);
  if (source.nBits != 8 && source.nBits != 16 && !(source.nBits == 24 && takes24Bits)) {
    VEXA_THROW(Error::InvalidParameter);
  }
}

}  // namespace Vexa
