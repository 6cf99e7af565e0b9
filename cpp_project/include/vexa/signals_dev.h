/// @file
/// A device that streams sampled signals.
#ifndef VEXA_SIGNALS_DEV_H_
#define VEXA_SIGNALS_DEV_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/base_dev.h"
#include "vexa/tick_time_fit.h"

namespace Vexa {

/// One channel source of an acquisition; the layout the host passes in.
struct Source {
  int32_t port;         ///< 0 to 63
  int32_t freqDivisor;  ///< sampled on every freqDivisor-th tick, at least 1; the device gets its low 16 bits
  int32_t nBits;        ///< 8, 16, or 24 where the product takes it
  int32_t chMask;       ///< bit i: channel i of the port (bits 0 to 15; above bit 7 only where the product takes 16-bit masks)
};

/// A device that streams sampled signals: starts and stops an acquisition
/// and delivers every sample instant through onRawFrame() while loop() runs.
/// start() and stop() take no lock: call them while no loop runs on another
/// thread (or from the loop's own callbacks).
class SignalsDev : public BaseDev {
 public:
  /// Connects as BaseDev does and refuses products that cannot acquire
  /// signals.
  /// @throws Error::NotSupported for such a product (the connection is
  ///   closed again), and every failure of BaseDev's constructor.
  explicit SignalsDev(const std::string& path);
  /// The same on a transport the caller opened; it throws as the
  /// constructor above and as BaseDev's with a transport.
  SignalsDev(const std::string& path, std::unique_ptr<IO> io);
  /// Stops a running acquisition first; a device that no longer answers is
  /// let go all the same.
  ~SignalsDev() override;

  /// Starts a current-generation device on a list of sources at freq hertz
  /// and waits for the device's acknowledgement. Frames of an earlier
  /// acquisition still queued are dropped. Every refusal comes before
  /// anything is sent, and a failed start sets nothing up.
  /// @throws Error::NotSupported on the oldest family and the compact board.
  /// @throws Error::InvalidParameter for freq not above 0, no source or more
  ///   than 32, a port above 63 or used twice, a freqDivisor below 1, an
  ///   nBits the product does not take, a chMask above 255 on a product
  ///   that takes 8-bit masks only, or a command longer than 255 bytes (more
  ///   than 29 sources, 25 with 16-bit masks).
  /// @throws Error::InvalidOperation code 0 while an acquisition runs, or
  ///   with the device's code when the device refuses the start.
  /// @throws Notification::ContactingDevice when the acknowledgement does
  ///   not come.
  void start(float freq, const std::vector<Source>& sources);
  /// One channel per port at the base rate (freqDivisor 1, chMask 1), with
  /// the failures of the form above; also starts the legacy families, whose
  /// ports are 1 to 8, each at most once, in any order.
  /// @throws Error::InvalidParameter on a legacy family for a port outside 1
  ///   to 8 or given twice, and for a set-up the family does not take: the
  ///   oldest family takes 36 to 8000 Hz in whole hertz, 8- or 12-bit
  ///   samples (its first firmware only 1000 Hz, all eight ports, 12 bits);
  ///   the compact board 1, 10, 100 or 1000 Hz on ports 1 to 6.
  /// @throws Error::InvalidOperation (code 0) on a legacy family while an
  ///   acquisition runs.
  /// @throws Notification::ContactingDevice when a legacy start cannot be
  ///   written; the legacy families do not acknowledge a start.
  void start(float freq, const std::vector<int>& ports, int nBits);
  /// Starts the ports whose bits are set in mask (bit 0: port 1), one
  /// channel each at the base rate, on any family; the legacy families take
  /// the mask as their own channel mask (1 to 255 for the oldest family, 1
  /// to 63 for the compact board). Fails as start().
  void startByMask(float freq, uint32_t mask, int nBits);
  /// Ends the running acquisition and waits until the device is back in
  /// command mode (on the compact board's first revision this takes a
  /// second longer). Data still arriving is dropped.
  /// @throws Error::InvalidOperation code 0 when no acquisition runs, or
  ///   with the device's code when it refuses the stop.
  /// @throws Notification::ContactingDevice when the device goes silent
  ///   for 5 s before it confirms the stop, or the stop cannot be written;
  ///   the acquisition then still counts as running.
  /// @throws Error::InvalidInstance only for an object without its
  ///   implementation, as every operation here.
  void stop();
  /// Channels the running acquisition delivers per sample instant; 0 while
  /// none runs (before the first start, after a stop, after the device
  /// reported a disconnect). Never throws.
  int channelCount() const;

  /// The host time (hostTime()) at which the device sampled each tick of
  /// the running or last acquisition, fitted to the arrivals of its
  /// messages; started anew at each start. Read it from any thread while
  /// the object lives.
  /// @throws Error::InvalidInstance only for an object without its
  ///   implementation.
  const TickTimeFit& tickTimes() const;
  /// The part of every message's delay that no host can see (the link's
  /// constant latency), in seconds: tickTimes() gives times that much
  /// earlier, from now on and through later starts. Any thread.
  /// @throws Error::InvalidParameter for a value not finite or negative.
  /// @throws Error::InvalidInstance as tickTimes().
  void setLinkDelay(double seconds);
  /// The tick of the instant onRawFrame() is being handed, as a 64-bit
  /// count from the acquisition's first that never wraps (onRawFrame gets
  /// its low 32 bits); after the call, the last one delivered (before an
  /// acquisition's first instant it names none). On the loop's thread.
  /// @throws Error::InvalidInstance as tickTimes().
  int64_t deliveredTick() const;

  /// Called once per sample instant with the tick counter and one sample per
  /// acquired channel (channelCount() of them: the sources in start order,
  /// each source's channels in ascending order). data is valid only during
  /// the call and is rewritten for the next tick: copy what you keep. A
  /// source not sampled at this tick keeps its last values; a tick at which
  /// no source is sampled is delivered all the same. Runs on the loop's
  /// thread with the device's lock held. Returning true ends the loop once
  /// the frame being decoded has been delivered; the base version returns
  /// false.
  virtual bool onRawFrame(int nSeq, const int data[]);

 private:
  void validateSignalsDev();
  void attachSignals();
};

}  // namespace Vexa

#endif  // VEXA_SIGNALS_DEV_H_
