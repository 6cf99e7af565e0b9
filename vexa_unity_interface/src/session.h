// A session: one connected device with everything that belongs to it (its
// sample ring, always on, its recording, its time fit, its events and the
// thread its loop runs on), so that a host can acquire from several
// devices at once, each on a thread the library owns.
#ifndef VEXA_UNITY_SESSION_H_
#define VEXA_UNITY_SESSION_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "recording.h"
#include "sample_ring.h"
#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {

// Keeps why as the calling thread's last failure detail and returns code.
int refuse(int code, const std::string& why);
// From inside a catch block: the extension's code for the failure being
// handled, its cause kept as the thread's last failure detail.
int refuseCurrentException() noexcept;

// Runs body (which returns 0 or a result of its own) and turns whatever it
// throws into a code.
template <class Body>
int outcomeOf(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return refuseCurrentException();
  }
}

// The events of one session, taken on its loop's thread: handed to the
// host's handler there when one is set, queued for VexaExtReadEvents
// otherwise. The queue keeps the newest kCapacity; what it drops is
// counted and told by the next read.
class SessionEvents {
 public:
  static constexpr size_t kCapacity = 256;

  explicit SessionEvents(int session) : session_(session) {}
  // An event of kind with code, taken now; no tick.
  VexaExtEvent make(int kind, int code, const char* text = "") const;
  void post(const VexaExtEvent& event);
  // Oldest first, at most maxEvents; after a loss the first is an
  // overflow event (code 1) whose count says how many were dropped.
  int read(VexaExtEvent* events, int maxEvents);
  void setHandler(VexaExtEventHandler handler) { handler_ = handler; }

 private:
  const int session_;
  std::atomic<VexaExtEventHandler> handler_{nullptr};
  std::mutex lock_;
  std::deque<VexaExtEvent> queue_;
  long long dropped_ = 0;
};

class Session {
 public:
  // Connects to path; throws what the connection throws, leaving nothing
  // open.
  Session(int handle, const std::string& path);
  // Closes.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int handle() const { return handle_; }
  // Whether the calling thread is this session's loop (its handler).
  bool onOwnThread() const { return loopThread_.load() == std::this_thread::get_id(); }

  // Each returns 0 (or its result) or a negative code, with the cause as
  // the thread's last failure detail.
  // Halts the loop, ends the recording, stops the acquisition and
  // disconnects, in that order; later calls find the session closed.
  int close();
  int startByMask(int baseFreq, int channelMask, int nBits);
  int startBySources(int baseFreq, const VexaSource* sources, int nSources);
  int stop();
  int run();
  int halt();
  int setParameter(int port, int index, const int* data, int dataType);
  int battery();
  int productId(int* productId);
  int deviceType(const char** type);
  int readEvents(VexaExtEvent* events, int maxEvents) { return events_.read(events, maxEvents); }
  void setEventHandler(VexaExtEventHandler handler) { events_.setHandler(handler); }
  int startRecording(const char* path);
  int stopRecording();
  // A marker at the instant nearest hostTime, in this session's recording.
  int addMarker(const char* text, double hostTime);

  SampleRing& ring() { return ring_; }
  Recording& recording() { return recording_; }
  // Each tick's host time from the device's fit, NaN once it is closed.
  void fillTimes(const long long* ticks, double* times, int count);
  void setLinkDelay(double seconds);

 private:
  class Device;
  // Why a loop ended, as VEXA_EXT_EVENT_LOOP_ENDED tells it.
  enum LoopEnd { kHalted = 0, kStopped = 1, kLinkLost = 2 };

  // body(dev) with the device to itself: from the loop's own handler at
  // once, from any other thread only while no loop runs and the session is
  // open.
  template <class Body>
  int command(Body&& body);
  void runLoop();
  // Ends a running loop, giving why as its end, and waits for its thread.
  // Under control_, not on the loop's thread.
  void endLoop(LoopEnd why);

  const int handle_;
  SampleRing ring_;
  Recording recording_;
  SessionEvents events_;
  std::unique_ptr<Device> dev_;
  // Shared by the calls that read the device while it may be closed; the
  // close takes it alone to disconnect.
  std::shared_mutex devLock_;
  // Serialises the calls that change the session's state.
  std::mutex control_;
  bool closed_ = false;
  std::thread loop_;
  std::atomic<bool> looping_{false};
  std::atomic<std::thread::id> loopThread_{};
  std::atomic<int> loopEnd_{kLinkLost};
  std::atomic<int> haltReason_{kHalted};
  // Set by a stop from the loop's own handler: the loop ends after the
  // callback.
  std::atomic<bool> endRequested_{false};
};

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_SESSION_H_
