// The plug-in's recording of an acquisition to a BDF+ or CSV file: started
// and stopped by the host, fed by the device's callbacks on the loop
// thread, finished by whatever ends the acquisition or releases the device.
#ifndef VEXA_UNITY_RECORDING_H_
#define VEXA_UNITY_RECORDING_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vexa/event.h"
#include "vexa/recorder.h"
#include "vexa/signals_dev.h"

namespace Vexa {

class BaseDevUnity;

namespace Unity {

// A digital input whose clock value is the acquisition's tick (its low 32
// bits), the legacy loop's stamp.
constexpr int32_t kTickClock = 2;

// The 64-bit tick whose low 32 bits are clockValue, nearest the instant the
// loop delivered last: an input is stamped close to the instant it came
// with.
int64_t tickNamed(uint32_t clockValue, const BaseDevUnity& dev);

// One source per port at the base rate: the layout of the starts that name
// ports only (a channel text, a mask).
std::vector<Source> portSources(const std::vector<int32_t>& ports, int nBits);

// The channels of dev's last start, one per sample the raw-data handler
// gets, in their order: taken from the sources the acquisition was started
// with. Worked out once per start and kept by the sample ring, which both
// the recording and the host read it from.
std::vector<RecordedChannel> channelLayout(const BaseDevUnity& dev);

// The description of a recording of dev's running acquisition: the device's
// properties, and the channels of its start.
RecordingInfo describeAcquisition(const BaseDevUnity& dev, const std::string& path);

class Recording {
 public:
  // A recording still running when the process ends is left as it is: its
  // writer thread may already be gone, and waiting for it could hang the
  // host's exit. The file holds every record written until then.
  ~Recording();

  // Describes the channel at position (in the file's order) for the next
  // recording; an empty label, an empty unit and a range of 0 to 0 take the
  // defaults. Throws with the reason as the detail for a position outside
  // 0 to 511, texts that are not printable ASCII or too long for the file,
  // or a range that is not finite or empty.
  void describeChannel(int position, const ChannelDescription& description);
  // The subject and the note of the next recording; empty for none. Throws
  // as describeChannel() for texts the file cannot hold.
  void describe(const std::string& subject, const std::string& note);

  // Starts recording dev's running acquisition from its next instant, with
  // the descriptions given since the last start, which it uses up.
  // Throws with the cause as the detail: no acquisition, a recording
  // already running, a bad path, a channel described beyond the
  // acquisition's, a file that cannot be created.
  void start(const BaseDevUnity& dev, const std::string& path);
  // Finishes the file. Throws when nothing was recording (and no recording
  // that ended by itself is left to account for) or when the file could not
  // be written. A recording that ended by itself (a disconnect, a new
  // start, the device's release) is accounted for here: its outcome is
  // this call's.
  void stop();
  // Finishes a running recording on the host's behalf; its outcome waits
  // for the next stop(). Only the recording of dev is finished.
  void end(const BaseDevUnity& dev, const char* why);

  // Loop thread: one sample instant; never waits for the disk. The first
  // instant after the file could not be written reports the cause to the
  // host's exception handler, once; later instants are not taken.
  void instant(int64_t tick, const int* data);
  // Loop thread: digital inputs and disconnects are written; a disconnect
  // ends the recording.
  void event(const BaseDevUnity& dev, const Event& ev);
  // A host marker: from the loop's thread (its raw-data handler) at the
  // current instant, from any other thread at the instant nearest the host
  // time of the call. Throws when nothing records, the recording stopped
  // taking instants, or too many markers wait for the file.
  void marker(const std::string& text);
  // Any thread: a host marker at the instant nearest hostTime. Throws as
  // marker(), and for a hostTime that is not a finite number.
  void markerAt(const std::string& text, double hostTime);

  // Whether a recording runs now.
  bool running();

 private:
  std::unique_ptr<Recorder> take(const BaseDevUnity* dev);

  // Held through a start, a stop or an end, so that one waits for another
  // to finish its file; the loop's instants take lock_ alone.
  std::mutex finishing_;
  std::mutex lock_;
  std::unique_ptr<Recorder> recorder_;
  // The recorded device, while recorder_ is; its callbacks feed the file.
  const BaseDevUnity* device_ = nullptr;
  int channels_ = 0;
  std::string refused_;  // why the loop's instants were refused, if they were
  // For the next start; guarded by finishing_.
  std::vector<ChannelDescription> described_;
  std::string subject_, note_;
  // The outcome of a recording that ended by itself, for the next stop().
  bool ended_ = false;
  std::string endFailure_;
};

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_RECORDING_H_
