// A device that plays the device side of a wire trace: the bytes the host
// sends between two of the device's replies are matched with the trace's,
// then answered with the replies recorded after them, at the recorded
// pauses. Anything else the host sends is a mismatch, which ends the play
// and becomes the model's failure.
#ifndef VEXA_SIM_TRACE_MODEL_H_
#define VEXA_SIM_TRACE_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "vexa_sim/device_model.h"
#include "vexa_sim/wire_trace_file.h"

namespace vexa_sim {

class TraceModel : public DeviceModel {
 public:
  // Replies recorded before the host's first bytes are due from start on.
  explicit TraceModel(const WireTrace& trace, TimePoint start = Clock::now());

  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;
  std::optional<TimePoint> nextWake() const override;
  void onWake(TimePoint now) override;

  // True once the host sent everything the trace holds and every reply is out.
  bool finished() const;

 private:
  struct Reply {
    Clock::duration pause;  // after the host's bytes, or the reply before
    std::vector<uint8_t> bytes;
  };
  // The host's bytes between two device replies, joined, and what followed.
  struct Exchange {
    int line = 0;  // of the first host chunk, for the mismatch report
    std::vector<uint8_t> expected;
    std::vector<Reply> replies;
  };
  struct Due {
    TimePoint at;
    std::vector<uint8_t> bytes;
  };

  void answer(const Exchange& exchange, TimePoint now);

  std::vector<Exchange> exchanges_;
  bool cut_ = false;
  size_t next_ = 0;                // the exchange the host's bytes go to
  std::vector<uint8_t> received_;  // its bytes so far, all matching
  std::deque<Due> due_;            // replies not yet sent, in order
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_TRACE_MODEL_H_
