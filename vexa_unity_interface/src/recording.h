// The plug-in's recording of an acquisition to a BDF+ or CSV file: started
// and stopped by the host, fed by the device's callbacks on the loop
// thread, finished by whatever ends the acquisition or releases the device.
#ifndef VEXA_UNITY_RECORDING_H_
#define VEXA_UNITY_RECORDING_H_

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

// One source per port at the base rate: the layout of the starts that name
// ports only (a channel text, a mask).
std::vector<Source> portSources(const std::vector<int32_t>& ports, int nBits);

// The description of a recording of dev's running acquisition: the device's
// properties, and one channel per sample the raw-data handler gets, taken
// from the sources the acquisition was started with.
RecordingInfo describeAcquisition(const BaseDevUnity& dev, const std::string& path);

class Recording {
 public:
  // A recording still running when the process ends is left as it is: its
  // writer thread may already be gone, and waiting for it could hang the
  // host's exit. The file holds every record written until then.
  ~Recording();

  // Starts recording dev's running acquisition from its next instant.
  // Throws with the cause as the detail: no acquisition, a recording
  // already running, a bad path, a file that cannot be created.
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

  // Loop thread: one sample instant; never waits for the disk.
  void instant(int tick, const int* data);
  // Loop thread: digital inputs and disconnects are written; a disconnect
  // ends the recording.
  void event(const BaseDevUnity& dev, const Event& ev);
  // Any thread: a host marker at the current instant.
  void marker(const std::string& text);

 private:
  bool running();
  std::unique_ptr<Recorder> take(const BaseDevUnity* dev);

  // Held through a start, a stop or an end, so that one waits for another
  // to finish its file; the loop's instants take lock_ alone.
  std::mutex finishing_;
  std::mutex lock_;
  std::unique_ptr<Recorder> recorder_;
  const BaseDevUnity* device_ = nullptr;
  int channels_ = 0;
  std::string refused_;  // why the loop's instants were refused, if they were
  // The outcome of a recording that ended by itself, for the next stop().
  bool ended_ = false;
  std::string endFailure_;
};

// The plug-in's one recording.
Recording& recording();

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_RECORDING_H_
