// A device that streams sampled signals.
#ifndef VEXA_SIGNALS_DEV_H_
#define VEXA_SIGNALS_DEV_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/base_dev.h"

namespace Vexa {

// One channel source of an acquisition; the layout the host passes in.
struct Source {
  int32_t port;         // 0 to 63
  int32_t freqDivisor;  // sampled on every freqDivisor-th tick, at least 1
  int32_t nBits;        // 8, 16, or 24 where the product takes it
  int32_t chMask;       // bit i: channel i of the port (bits 0 to 15)
};

class SignalsDev : public BaseDev {
 public:
  // Connects and refuses products that cannot acquire signals.
  explicit SignalsDev(const std::string& path);
  SignalsDev(const std::string& path, std::unique_ptr<IO> io);
  // Stops a running acquisition first.
  ~SignalsDev() override;

  // Starts a current-generation device on a list of sources at freq hertz.
  void start(float freq, const std::vector<Source>& sources);
  // One channel per port at the base rate; also starts the legacy families.
  void start(float freq, const std::vector<int>& ports, int nBits);
  // Starts the ports whose bits are set in mask (bit 0: port 1), one
  // channel each at the base rate, on any family.
  void startByMask(float freq, uint32_t mask, int nBits);
  void stop();
  // Channels the running acquisition delivers per sample instant; 0 before
  // the first start.
  int channelCount() const;

  // Called once per sample instant with the tick counter and one sample per
  // acquired channel; returning true ends the loop.
  virtual bool onRawFrame(int nSeq, const int data[]);

 private:
  void validateSignalsDev();
  void attachSignals();
};

}  // namespace Vexa

#endif  // VEXA_SIGNALS_DEV_H_
