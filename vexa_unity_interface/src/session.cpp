#include "session.h"

#include "cancellable_call.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "cancellable_call.h"
#include "host_calls.h"
#include "link_delay.h"
#include "report.h"
#include "vexa/exceptions.h"
#include "vexa/host_clock.h"

namespace Vexa {
namespace Unity {

int refuse(int code, const std::string& why) {
  rememberFailure(why);
  return code;
}

int refuseCurrentException() noexcept {
  try {
    try {
      throw;
    } catch (const Notification::LinkInUse& e) {
      return refuse(VEXA_EXT_ERR_IN_USE, e.detail().empty() ? e.getDescription() : e.detail());
    } catch (const Error::InvalidParameter& e) {
      return refuse(VEXA_EXT_ERR_ARGUMENT, e.detail().empty() ? e.getDescription() : e.detail());
    } catch (const Error::InvalidOperation& e) {
      // Code 0 is the library's own refusal for the state; any other the
      // device's.
      return refuse(e.code == 0 ? VEXA_EXT_ERR_STATE : VEXA_EXT_ERR_DEVICE,
                    e.detail().empty() ? e.getDescription() : e.detail());
    } catch (const NotifException& e) {
      return refuse(VEXA_EXT_ERR_LINK, e.detail().empty() ? e.getDescription() : e.getDescription() + " " + e.detail());
    } catch (const Error::MissingModule& e) {
      return refuse(VEXA_EXT_ERR_LINK, e.getDescription());
    } catch (const Error::Cancelled&) {
      // As a cancelled connect of the interface tells it.
      return refuse(VEXA_EXT_ERR_LINK, kCancelledDetail);
    } catch (const Exception& e) {
      return refuse(VEXA_EXT_ERR_DEVICE, e.detail().empty() ? e.getDescription() : e.detail());
    } catch (const std::invalid_argument& e) {
      return refuse(VEXA_EXT_ERR_ARGUMENT, e.what());
    } catch (const std::exception& e) {
      return refuse(VEXA_EXT_ERR_DEVICE, e.what());
    } catch (...) {
      return refuse(VEXA_EXT_ERR_DEVICE, "An unknown failure.");
    }
  } catch (...) {
    // Keeping the detail ran out of memory: the code alone.
    return VEXA_EXT_ERR_DEVICE;
  }
}

VexaExtEvent SessionEvents::make(int kind, int code, const char* text) const {
  VexaExtEvent e{};
  e.session = session_;
  e.kind = kind;
  e.code = code;
  e.tick = -1;
  e.time = hostTime();
  std::snprintf(e.text, sizeof e.text, "%s", text);
  return e;
}

void SessionEvents::post(const VexaExtEvent& event) {
  if (const VexaExtEventHandler handler = handler_.load()) {
    handler(&event);
    return;
  }
  std::lock_guard<std::mutex> l(lock_);
  if (queue_.size() >= kCapacity) {
    queue_.pop_front();
    ++dropped_;
  }
  queue_.push_back(event);
}

int SessionEvents::read(VexaExtEvent* events, int maxEvents) {
  if (maxEvents < 0 || (events == nullptr && maxEvents > 0)) {
    return refuse(VEXA_EXT_ERR_ARGUMENT, "maxEvents must be 0 or more, with a buffer of that many events: " +
                                             std::to_string(maxEvents) + ".");
  }
  std::lock_guard<std::mutex> l(lock_);
  int n = 0;
  if (dropped_ > 0 && n < maxEvents) {
    VexaExtEvent lost = make(VEXA_EXT_EVENT_OVERFLOW, 1, "Events were dropped: read them more often.");
    lost.count = dropped_;
    events[n++] = lost;
    dropped_ = 0;
  }
  for (; n < maxEvents && !queue_.empty(); ++n) {
    events[n] = queue_.front();
    queue_.pop_front();
  }
  return n;
}

// The session's device: its loop's callbacks feed the session's ring,
// recording and events instead of the interface's handlers.
class Session::Device : public BaseDevUnity {
 public:
  Device(const std::string& path, Session& session)
      : BaseDevUnity(path, session.ring_, session.recording_), session_(session) {}
  Device(const std::string& path, std::unique_ptr<IO> io, Session& session)
      : BaseDevUnity(path, std::move(io), session.ring_, session.recording_), session_(session) {}

  bool onRawFrame(int nSeq, const int data[]) override {
    takeInstant(nSeq, data);
    return session_.endRequested_;
  }

  bool onEvent(const Event& ev) override {
    recording().event(*this, ev);
    if (ev.type == Event::kDisconnect) {
      session_.events_.post(
          session_.events_.make(VEXA_EXT_EVENT_DISCONNECT, static_cast<const Events::Disconnect&>(ev).reason));
      session_.loopEnd_ = kLinkLost;
      return true;
    }
    if (ev.type == Event::kDigitalInput) {
      const auto& in = static_cast<const Events::DigitalInput&>(ev);
      VexaExtEvent e = session_.events_.make(VEXA_EXT_EVENT_DIGITAL_INPUT, in.input);
      e.value = in.state ? 1 : 0;
      e.clockSource = in.clockSource;
      e.clockValue = in.clockValue;
      if (in.clockSource == kTickClock) {
        e.tick = tickNamed(in.clockValue, *this);
        // Before the fit knows the acquisition's rate, the time it came.
        const double time = tickTimes().timeOf(e.tick);
        if (std::isfinite(time)) e.time = time;
      }
      session_.events_.post(e);
    }
    return session_.endRequested_;
  }

  bool onTimeout() override {
    session_.events_.post(session_.events_.make(VEXA_EXT_EVENT_DISCONNECT, 1));
    session_.loopEnd_ = kLinkLost;
    return true;
  }

  bool onInterrupt(void*) override {
    communicationFlag = false;
    session_.loopEnd_ = session_.haltReason_.load();
    return true;
  }

  bool onOwnLoopThread() const override { return session_.onOwnThread(); }

  void reportFailure(int code, const char* text) const override {
    session_.events_.post(session_.events_.make(VEXA_EXT_EVENT_FAILURE, code, text));
  }

 protected:
  void ringOverflowed(int64_t count, bool) override {
    // At the first drop and each time the count doubles: the host learns
    // its reader fell behind without an event per lost instant.
    if ((count & (count - 1)) != 0) return;
    VexaExtEvent e = session_.events_.make(VEXA_EXT_EVENT_OVERFLOW, 0, kSampleRingOverflowText);
    e.count = count;
    session_.events_.post(e);
  }

 private:
  Session& session_;
};

Session::Session(int handle, const std::string& path) : handle_(handle), events_(handle) {
  ring_.enable(0);
  dev_ = connectDevice<Device>(path, *this);
  dev_->setLinkDelay(linkDelay());
}

Session::~Session() {
  // The last reference goes after a close, never on the loop's thread.
  if (!closed_ && dev_ != nullptr) close();
}

template <class Body>
int Session::command(Body&& body) {
  // The loop's own handler has the device to itself, and another thread
  // holding control_ may be waiting for this very loop.
  if (onOwnThread()) return outcomeOf([&] { return body(*dev_); });
  std::lock_guard<std::mutex> l(control_);
  if (closed_) return refuse(VEXA_EXT_ERR_SESSION, "Session " + std::to_string(handle_) + " is closed.");
  // The loop reads the link and would take the device's replies.
  if (looping_) {
    return refuse(VEXA_EXT_ERR_STATE,
                  "Session " + std::to_string(handle_) + "'s loop runs: halt it first (VexaExtHalt).");
  }
  return outcomeOf([&] { return body(*dev_); });
}

int Session::close() {
  if (onOwnThread()) {
    return refuse(VEXA_EXT_ERR_OWN_THREAD, "A session cannot be closed from its own handler: it would wait for itself.");
  }
  std::unique_ptr<Device> gone;
  {
    std::lock_guard<std::mutex> l(control_);
    if (closed_ || dev_ == nullptr) {
      return refuse(VEXA_EXT_ERR_SESSION, "Session " + std::to_string(handle_) + " is closed.");
    }
    closed_ = true;
    endLoop(kHalted);
    recording_.end(*dev_, "the session was closed");
    try {
      if (dev_->channelCount() > 0) dev_->stop();
    } catch (...) {
      // A device that no longer answers is let go all the same.
    }
    std::unique_lock<std::shared_mutex> w(devLock_);
    gone = std::move(dev_);
  }
  return 0;  // gone disconnects here, with no lock held
}

int Session::startByMask(int baseFreq, int channelMask, int nBits) {
  return command([=](Device& dev) {
    Unity::startByMask(dev, baseFreq, channelMask, nBits);
    return 0;
  });
}

int Session::startBySources(int baseFreq, const VexaSource* sources, int nSources) {
  return command([=](Device& dev) {
    Unity::startBySources(dev, baseFreq, sources, nSources, "VexaExtStartBySources");
    return 0;
  });
}

int Session::stop() {
  if (onOwnThread()) {
    const int result = outcomeOf([this] {
      dev_->stopAcquisition();
      return 0;
    });
    // Nothing is left for the loop to deliver.
    if (result == 0) {
      loopEnd_ = kStopped;
      endRequested_ = true;
    }
    return result;
  }
  std::lock_guard<std::mutex> l(control_);
  if (closed_) return refuse(VEXA_EXT_ERR_SESSION, "Session " + std::to_string(handle_) + " is closed.");
  endLoop(kStopped);
  return outcomeOf([this] {
    dev_->stopAcquisition();
    return 0;
  });
}

int Session::run() {
  if (onOwnThread()) return refuse(VEXA_EXT_ERR_OWN_THREAD, "The session's loop runs on this very thread.");
  std::lock_guard<std::mutex> l(control_);
  if (closed_) return refuse(VEXA_EXT_ERR_SESSION, "Session " + std::to_string(handle_) + " is closed.");
  if (looping_) return refuse(VEXA_EXT_ERR_STATE, "The session's loop runs already.");
  if (dev_->channelCount() <= 0) {
    return refuse(VEXA_EXT_ERR_STATE, "No acquisition runs: start one before running the loop.");
  }
  if (loop_.joinable()) loop_.join();  // a loop that ended by itself
  endRequested_ = false;
  loopEnd_ = kLinkLost;
  haltReason_ = kHalted;
  looping_ = true;
  try {
    loop_ = std::thread([this] { runLoop(); });
  } catch (...) {
    looping_ = false;
    return refuseCurrentException();
  }
  return 0;
}

void Session::runLoop() {
  loopThread_ = std::this_thread::get_id();
  try {
    dev_->loop();
  } catch (const Exception& e) {
    loopEnd_ = kLinkLost;
    events_.post(events_.make(VEXA_EXT_EVENT_FAILURE, 21, e.getDescription().c_str()));
  } catch (const std::exception& e) {
    loopEnd_ = kLinkLost;
    events_.post(events_.make(VEXA_EXT_EVENT_FAILURE, 24, e.what()));
  } catch (...) {
    loopEnd_ = kLinkLost;
    events_.post(events_.make(VEXA_EXT_EVENT_FAILURE, -1, ""));
  }
  looping_ = false;
  events_.post(events_.make(VEXA_EXT_EVENT_LOOP_ENDED, loopEnd_));
  loopThread_ = std::thread::id();
}

void Session::endLoop(LoopEnd why) {
  if (!loop_.joinable()) return;
  haltReason_ = why;
  while (looping_) {
    try {
      dev_->interrupt(nullptr);
      break;
    } catch (const Error::InvalidOperation&) {
      // The loop is handling a message, or ending: try again until it
      // waits or has ended.
    } catch (...) {
      break;  // the link is gone: the loop ends on its own failure
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  loop_.join();
}

int Session::halt() {
  if (onOwnThread()) {
    return refuse(VEXA_EXT_ERR_OWN_THREAD, "A session's loop cannot be halted from its own handler: it would wait for itself.");
  }
  std::lock_guard<std::mutex> l(control_);
  if (closed_) return refuse(VEXA_EXT_ERR_SESSION, "Session " + std::to_string(handle_) + " is closed.");
  endLoop(kHalted);
  return 0;
}

int Session::setParameter(int port, int index, const int* data, int dataType) {
  return command([=](Device& dev) {
    const ParameterBytes p = parameterBytes(index, data, dataType, "VexaExtSetSessionParameter");
    dev.setParameter(port, index, p.bytes, p.length);
    return 0;
  });
}

int Session::battery() {
  return command([](Device& dev) {
    const float charge = dev.getBattery();
    if (charge < 0) VEXA_THROW_DETAIL(Error::NotSupported, "The device has no battery reading.");
    return static_cast<int>(charge);
  });
}

int Session::productId(int* productId) {
  if (productId == nullptr) return refuse(VEXA_EXT_ERR_ARGUMENT, "productId must not be null.");
  std::shared_lock<std::shared_mutex> r(devLock_);
  if (dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, "Session " + std::to_string(handle_) + " is closed.");
  return outcomeOf([&] {
    *productId = dev_->getProperties()["productID"].asInt();
    return 0;
  });
}

int Session::deviceType(const char** type) {
  if (type == nullptr) return refuse(VEXA_EXT_ERR_ARGUMENT, "type must not be null.");
  std::shared_lock<std::shared_mutex> r(devLock_);
  if (dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, "Session " + std::to_string(handle_) + " is closed.");
  return outcomeOf([&] {
    const Properties props = dev_->getProperties();
    const auto it = props.find("description");
    *type = it == props.end() ? "undefined_device" : deviceTypeName(it->second.asString());
    return 0;
  });
}

int Session::startRecording(const char* path) {
  if (path == nullptr) return refuse(VEXA_EXT_ERR_ARGUMENT, "The recording needs a file path.");
  const auto start = [&] {
    recording_.start(*dev_, path);
    return 0;
  };
  if (onOwnThread()) return outcomeOf(start);
  // Not while a close ends the recording and lets the device go.
  std::lock_guard<std::mutex> l(control_);
  if (closed_) return refuse(VEXA_EXT_ERR_SESSION, "Session " + std::to_string(handle_) + " is closed.");
  return outcomeOf(start);
}

int Session::stopRecording() {
  return outcomeOf([this] {
    recording_.stop();
    return 0;
  });
}

int Session::addMarker(const char* text, double hostTime) {
  if (text == nullptr) return refuse(VEXA_EXT_ERR_ARGUMENT, "The marker needs a text.");
  return outcomeOf([&] {
    recording_.markerAt(text, hostTime);
    return 0;
  });
}

void Session::fillTimes(const long long* ticks, double* times, int count) {
  std::shared_lock<std::shared_mutex> r(devLock_);
  for (int i = 0; i < count; ++i) {
    times[i] = dev_ != nullptr ? dev_->tickTimes().timeOf(ticks[i]) : std::numeric_limits<double>::quiet_NaN();
  }
}

void Session::setLinkDelay(double seconds) {
  std::shared_lock<std::shared_mutex> r(devLock_);
  if (dev_ != nullptr) dev_->setLinkDelay(seconds);
}

}  // namespace Unity
}  // namespace Vexa
