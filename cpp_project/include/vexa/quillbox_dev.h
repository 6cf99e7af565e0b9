/// @file
/// The compact board, with its state query.
#ifndef VEXA_QUILLBOX_DEV_H_
#define VEXA_QUILLBOX_DEV_H_

#include <cstdint>

#include "vexa/signals_dev.h"

namespace Vexa {

/// The compact board ("Quillbox"): a SignalsDev that can also read the
/// board's inputs and battery while it is not acquiring.
class QuillboxDev : public SignalsDev {
 public:
  /// What the board reports about its inputs.
  struct State {
    uint32_t analog[6];  ///< the six analog inputs, 16-bit readings
    int32_t battery;     ///< raw battery reading; volts = battery * 3.3 / 512
    int32_t aux;         ///< the auxiliary byte
    bool digital[4];     ///< digital inputs 0 to 3
  };

  /// Connects as SignalsDev does.
  using SignalsDev::SignalsDev;

  /// Reads the board's inputs and battery; only while no acquisition runs,
  /// and not on the first board revision. Waits for the reply under the
  /// receive time-out the link has at that moment; takes no lock, so not
  /// while a loop runs on another thread.
  /// @throws Error::NotSupported on the first board revision (product 1537).
  /// @throws Error::InvalidOperation (code 0) while an acquisition runs.
  /// @throws Notification::ContactingDevice when the board does not answer
  ///   in full.
  /// @throws Error::InvalidInstance only for an object without its
  ///   implementation.
  State getState();
  /// The same query on any connected device object of the compact-board
  /// family (x is not checked for it), with the same failures.
  static State getState(BaseDev::X& x);
};

}  // namespace Vexa

#endif  // VEXA_QUILLBOX_DEV_H_
