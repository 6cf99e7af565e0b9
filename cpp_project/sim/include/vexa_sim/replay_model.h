// A current-generation device that plays a BDF+ recording made by the
// recorder instead of the sample pattern: it names itself after the
// recording's header, accepts a start only for the recorded rate and
// channels, streams the recorded samples in real time from the file's first
// instant and, when the recording ends, sends a disconnect event
// (kEndOfSignalReason) and streams no more.
#ifndef VEXA_SIM_REPLAY_MODEL_H_
#define VEXA_SIM_REPLAY_MODEL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vexa/recorder.h"
#include "vexa/signals_dev.h"
#include "vexa_sim/current_device_model.h"

namespace vexa_sim {

// Why a recording cannot serve a start at rate with sources, said by what
// it holds ("recorded at 1000 Hz; asked 500 Hz"); empty when it can. A
// source's divisor must be a multiple of its channels' recorded ones.
std::string replayRefusal(const Vexa::RecordingInfo& recording, double rate,
                          const std::vector<Vexa::Source>& sources);

class ReplayModel : public CurrentDeviceModel {
 public:
  // config gives what the recording does not say (battery, uid, colour...);
  // the description, product and firmware come from the recording where it
  // has them. Reads the whole file once to find where the recording ends.
  // Throws std::invalid_argument, saying why, for a file that cannot be
  // read, is not a recording or holds no instant.
  ReplayModel(CurrentDeviceConfig config, std::string filePath);

  const Vexa::RecordingInfo& recording() const { return info_; }
  // Instants the recording holds: every acquisition plays this many ticks.
  int64_t recordedTicks() const { return ticks_; }

 protected:
  std::string refuseStart(const StartRequest& request) const override;
  FrameStream::SampleFn samplesFor(const StartRequest& request) override;
  std::optional<int64_t> endTick() const override { return ticks_; }

 private:
  std::string path_;
  Vexa::RecordingInfo info_;
  int64_t ticksPerRecord_ = 0;
  int64_t ticks_ = 0;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_REPLAY_MODEL_H_
