// The compact board, with its state query.
#ifndef VEXA_QUILLBOX_DEV_H_
#define VEXA_QUILLBOX_DEV_H_

#include <cstdint>

#include "vexa/signals_dev.h"

namespace Vexa {

class QuillboxDev : public SignalsDev {
 public:
  struct State {
    uint32_t analog[6];
    int32_t battery;
    int32_t aux;
    bool digital[4];
  };

  using SignalsDev::SignalsDev;

  // Reads the board's inputs and battery; only while no acquisition runs,
  // and not on the first board revision.
  State getState();
  // The same query on any connected device object of the compact-board
  // family.
  static State getState(BaseDev::X& x);
};

}  // namespace Vexa

#endif  // VEXA_QUILLBOX_DEV_H_
