#include "session.h"

#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "cancellable_call.h"
#include "current_device.h"
#include "host_calls.h"
#include "link_delay.h"
#include "report.h"
#include "vexa/exceptions.h"
#include "vexa/host_clock.h"

namespace Vexa {
namespace Unity {
namespace {

// Whether the calling thread runs some session's loop (a handler of it
// calls in).
thread_local bool onSomeLoop = false;

// Handle 0 is the interface's current device, "closed" while none is connected.
std::string closedText(int handle) {
  return handle == 0 ? "No device is connected." : "Session " + std::to_string(handle) + " is closed.";
}

}  // namespace

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

Session::Session() : handle_(0), events_(0) {}

int Session::mayWaitForLoop() const {
  if (onOwnThread()) {
    return refuse(VEXA_EXT_ERR_OWN_THREAD, "Called from the session's own handler, where it would wait for itself.");
  }
  if (onSomeLoop && loopAlive()) {
    return refuse(VEXA_EXT_ERR_STATE,
                  "Called from another loop's handler while this loop runs: each could wait for the other. Halt it "
                  "from a thread that runs no loop.");
  }
  return 0;
}

bool Session::replaceDevice(std::unique_ptr<BaseDevUnity> next) {
  if (next != nullptr) next->setLinkDelay(linkDelay());
  // Before control_: a handler calling in holds its device's lock, which
  // a holder of control_ may be waiting for to interrupt that loop.
  if (mayWaitForLoop() != 0) return false;
  std::unique_ptr<BaseDevUnity> earlier;
  {
    std::lock_guard<std::mutex> l(control_);
    endLoop(kHalted);
    std::unique_lock<std::shared_mutex> w(devLock_);
    std::unique_lock<std::mutex> b(borrowLock_);
    earlier = std::move(dev_);
    dev_ = std::move(next);
    vexaDev = dev_.get();
    returned_.wait(b, [this] { return borrowers_ == 0; });
  }
  // earlier is destroyed here, with no lock held: its destructor may talk
  // to the device for a while.
  return true;
}

void Session::loopBegins() {
  loopThread_ = std::this_thread::get_id();
}

void Session::loopEnded() {
  looping_ = false;
  loopThread_ = std::thread::id();
}

void Session::loopHere(const char* function) {
  BaseDevUnity* dev;
  {
    std::lock_guard<std::mutex> l(control_);
    if (dev_ == nullptr) VEXA_THROW_AT(Error::InvalidInstance, function);
    if (looping_) VEXA_THROW(Error::InvalidOperation, 0);
    looping_ = true;
    loopBegins();
    dev = dev_.get();
  }
  // The claim ends before the caller reports a failure, so that a host may
  // disconnect from its exception handler.
  struct Claim {
    Session& session;
    const bool outer = onSomeLoop;
    ~Claim() {
      onSomeLoop = outer;
      session.loopEnded();
    }
  } claim{*this};
  onSomeLoop = true;
  dev->loop();
}

void Session::interruptLoop() {
  // From inside the loop's own callbacks there is no waiting loop to wake.
  if (onOwnThread()) return;
  for (;;) {
    // Borrowed, not locked: the interrupt waits for the device's own lock,
    // which the loop holds while a handler may call in. A replacement of
    // the device waits until this attempt is over.
    BaseDevUnity* dev;
    {
      std::lock_guard<std::mutex> b(borrowLock_);
      dev = dev_.get();
      if (dev == nullptr) return;
      ++borrowers_;
    }
    bool again = false;
    try {
      dev->interrupt(nullptr);
    } catch (const Error::InvalidOperation&) {
      // The loop is handling a message and takes an interrupt only while
      // it waits for the next: dropping the request would leave a
      // streaming loop running.
      again = looping_;
    } catch (...) {
      // The link is gone: the loop ends on its own failure.
    }
    {
      std::lock_guard<std::mutex> b(borrowLock_);
      if (--borrowers_ == 0) returned_.notify_all();
    }
    if (!again) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

double Session::instantTime() {
  std::shared_lock<std::shared_mutex> r(devLock_);
  if (dev_ == nullptr) return std::numeric_limits<double>::quiet_NaN();
  const int64_t tick = dev_->instantTick.load(std::memory_order_relaxed);
  if (tick == BaseDevUnity::kNoInstant) return std::numeric_limits<double>::quiet_NaN();
  return dev_->tickTimes().timeOf(tick);
}

bool Session::communicationFlag() {
  std::lock_guard<std::mutex> b(borrowLock_);
  return dev_ != nullptr && dev_->communicationFlag;
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
  if (closed_ || dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, closedText(handle_));
  // The loop reads the link and would take the device's replies.
  if (looping_) {
    return refuse(VEXA_EXT_ERR_STATE,
                  "Session " + std::to_string(handle_) + "'s loop runs: halt it first (VexaExtHalt).");
  }
  return outcomeOf([&] { return body(*dev_); });
}

int Session::close() {
  // Checked before control_, as in replaceDevice().
  if (const int refused = mayWaitForLoop()) return refused;
  std::unique_ptr<BaseDevUnity> gone;
  {
    std::lock_guard<std::mutex> l(control_);
    if (closed_ || dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, closedText(handle_));
    closed_ = true;
    endLoop(kHalted);
    recording_.end(*dev_, "the session was closed");
    try {
      if (dev_->channelCount() > 0) dev_->stop();
    } catch (...) {
      // A device that no longer answers is let go all the same.
    }
    std::unique_lock<std::shared_mutex> w(devLock_);
    std::unique_lock<std::mutex> b(borrowLock_);
    gone = std::move(dev_);
    returned_.wait(b, [this] { return borrowers_ == 0; });
  }
  return 0;  // gone disconnects here, with no lock held
}

int Session::startByMask(int baseFreq, int channelMask, int nBits) {
  return command([=](BaseDevUnity& dev) {
    Unity::startByMask(dev, baseFreq, channelMask, nBits);
    return 0;
  });
}

int Session::startBySources(int baseFreq, const VexaSource* sources, int nSources) {
  return command([=](BaseDevUnity& dev) {
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
  if (const int refused = mayWaitForLoop()) return refused;
  std::lock_guard<std::mutex> l(control_);
  if (closed_ || dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, closedText(handle_));
  endLoop(kStopped);
  return outcomeOf([this] {
    dev_->stopAcquisition();
    return 0;
  });
}

int Session::run() {
  if (onOwnThread()) return refuse(VEXA_EXT_ERR_OWN_THREAD, "The session's loop runs on this very thread.");
  std::lock_guard<std::mutex> l(control_);
  if (closed_ || dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, closedText(handle_));
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
  loopBegins();
  onSomeLoop = true;
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
  loopEnded();
}

void Session::endLoop(LoopEnd why) {
  haltReason_ = why;
  if (looping_) interruptLoop();
  if (loop_.joinable()) {
    loop_.join();
    return;
  }
  // A loop on a host's thread: it ends once its callback returns.
  while (looping_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int Session::halt() {
  if (onOwnThread()) {
    return refuse(VEXA_EXT_ERR_OWN_THREAD, "A session's loop cannot be halted from its own handler: it would wait for itself.");
  }
  if (const int refused = mayWaitForLoop()) return refused;
  std::lock_guard<std::mutex> l(control_);
  if (closed_ || dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, closedText(handle_));
  endLoop(kHalted);
  return 0;
}

int Session::setParameter(int port, int index, const int* data, int dataType) {
  return command([=](BaseDevUnity& dev) {
    const ParameterBytes p = parameterBytes(index, data, dataType, "VexaExtSetSessionParameter");
    dev.setParameter(port, index, p.bytes, p.length);
    return 0;
  });
}

int Session::battery() {
  return command([](BaseDevUnity& dev) {
    const float charge = dev.getBattery();
    if (charge < 0) VEXA_THROW_DETAIL(Error::NotSupported, "The device has no battery reading.");
    return static_cast<int>(charge);
  });
}

int Session::productId(int* productId) {
  if (productId == nullptr) return refuse(VEXA_EXT_ERR_ARGUMENT, "productId must not be null.");
  std::shared_lock<std::shared_mutex> r(devLock_);
  if (dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, closedText(handle_));
  return outcomeOf([&] {
    *productId = dev_->getProperties()["productID"].asInt();
    return 0;
  });
}

int Session::deviceType(const char** type) {
  if (type == nullptr) return refuse(VEXA_EXT_ERR_ARGUMENT, "type must not be null.");
  std::shared_lock<std::shared_mutex> r(devLock_);
  if (dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, closedText(handle_));
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
  if (closed_ || dev_ == nullptr) return refuse(VEXA_EXT_ERR_SESSION, closedText(handle_));
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
