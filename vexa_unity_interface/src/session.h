// A session: one connected device with everything that belongs to it (its
// sample ring, its recording, its time fit, its events and the thread its
// loop runs on), so that a host can acquire from several devices at once.
// The interface's current device is a session too: the one the exports
// without a handle address, whose device the host replaces, whose loop runs
// on the host's thread and whose callbacks go to the host's handlers.
#ifndef VEXA_UNITY_SESSION_H_
#define VEXA_UNITY_SESSION_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "base_dev_unity.h"
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
  // Connects to path, with its ring on; throws what the connection throws,
  // leaving nothing open.
  Session(int handle, const std::string& path);
  // The interface's current device (handle 0): no device yet, the ring off
  // until the host turns it on.
  Session();
  // Closes.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int handle() const { return handle_; }
  // Whether the calling thread is this session's loop (its handler).
  bool onOwnThread() const { return loopThread_.load() == std::this_thread::get_id(); }
  // Whether a loop of this session runs, or its thread is still ending.
  bool loopAlive() const { return looping_ || loopThread_.load() != std::thread::id(); }
  // 0 when the calling thread may wait for this session's loop to end;
  // VEXA_EXT_ERR_OWN_THREAD from its own handler (it would wait for
  // itself), VEXA_EXT_ERR_STATE from another loop's handler while this
  // loop runs (its handler might be waiting for that loop in turn), with
  // the detail kept.
  int mayWaitForLoop() const;

  // The current device's: makes next the device (null: none), once a loop
  // on another thread has ended, and destroys the earlier one. False, with
  // nothing changed, when the calling thread may not wait for the loop.
  bool replaceDevice(std::unique_ptr<BaseDevUnity> next);
  // The current device's: runs the loop on the calling thread until it
  // ends. Throws Error::InvalidInstance (naming function) without a
  // device, Error::InvalidOperation while a loop runs, and what the loop
  // throws.
  void loopHere(const char* function);
  // Asks a running loop to end without waiting for it: retried while the
  // loop handles a message, until it waits for the next or has ended.
  void interruptLoop();
  // The time of the instant being handed to the host (after it, the last
  // one delivered); NaN before the acquisition's first or without device.
  double instantTime();
  // The device's communication flag; false without device.
  bool communicationFlag();
  // body(device) under the shared device lock, from any thread while a loop
  // runs on another (for what the device does safely beside its loop, such
  // as its wire trace); false, body not run, without device.
  template <class Body>
  bool withDevice(Body&& body) {
    std::shared_lock<std::shared_mutex> r(devLock_);
    if (dev_ == nullptr) return false;
    body(*dev_);
    return true;
  }

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
  // Ends a running loop, giving why as its end, and waits for it to end.
  // Under control_, only where mayWaitForLoop() allows.
  void endLoop(LoopEnd why);
  // The loop's bounds on the thread that runs it.
  void loopBegins();
  void loopEnded();

  const int handle_;
  SampleRing ring_;
  Recording recording_;
  SessionEvents events_;
  std::unique_ptr<BaseDevUnity> dev_;
  // Shared by the calls that read the device while it may be closed or
  // replaced; the close and the replacement take it alone.
  std::shared_mutex devLock_;
  // Guards dev_'s pointer for the calls that borrow the device without
  // devLock_ (an interrupt), counted in borrowers_.
  std::mutex borrowLock_;
  std::condition_variable returned_;
  int borrowers_ = 0;
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
