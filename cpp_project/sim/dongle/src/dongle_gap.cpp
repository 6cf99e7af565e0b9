// GAP: scanning with its advertisements, connecting, ending a procedure.
#include <algorithm>

#include "vexa_sim/dongle_model.h"

namespace vexa_sim {
namespace {

constexpr uint8_t kClassGap = 6;
constexpr int8_t kRssi = -60;
// Advertisements written per wake at most, so a late wake cannot flood.
constexpr int kBatch = 16;

}  // namespace

void DongleModel::handleGap(uint8_t id, const std::vector<uint8_t>& p, TimePoint now) {
  switch (id) {
    case 2:  // discover
      if (p.size() != 1 || scanning_ || connecting_) {
        response(kClassGap, id, result(kWrongState));
        return;
      }
      response(kClassGap, id, result(0));
      scanning_ = true;
      advertisementIndex_ = 0;
      nextAdvertisement_ = now;
      return;
    case 3:  // connect direct
      if (p.size() == 15) connect(p);
      return;
    case 4:  // end procedure
      response(kClassGap, id, result(scanning_ || connecting_ ? 0 : kWrongState));
      scanning_ = connecting_ = false;
      return;
    case 7:  // set scan parameters
      response(kClassGap, id, result(p.size() == 5 ? 0 : kWrongState));
      return;
    default:
      return;
  }
}

void DongleModel::emitDueAdvertisements(TimePoint now) {
  const auto& ads = config_.advertisements;
  for (int n = 0; n < kBatch && !ads.empty() && nextAdvertisement_ <= now; ++n) {
    const Advertisement& ad = ads[advertisementIndex_++ % ads.size()];
    // rssi, packet type, sender (least significant first), address type,
    // bond, data.
    std::vector<uint8_t> p(11 + ad.data.size());
    p[0] = static_cast<uint8_t>(kRssi);
    p[1] = ad.packetType;
    for (size_t i = 0; i < ad.address.size(); ++i) p[2 + i] = ad.address[5 - i];
    p[8] = 0x00;
    p[9] = 0xFF;
    p[10] = static_cast<uint8_t>(ad.data.size());
    std::copy(ad.data.begin(), ad.data.end(), p.begin() + 11);
    event(kClassGap, 0, p);
    nextAdvertisement_ += config_.advertisingInterval;
    if (strayResponse_) {
      const uint16_t code = *strayResponse_;
      strayResponse_.reset();
      response(kClassGap, 2, {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)});
    }
  }
}

}  // namespace vexa_sim
