// The ASCII start command of the oldest family from firmware 0x0200 on:
// "@START,rrrr,MM,bb;" with the rate in four decimal digits (36 to 8000),
// the channel mask in two hexadecimal digits (01 to FF) and the sample
// width in two decimal digits (08 or 12).
#ifndef VEXA_SIM_CADRIUM_START_H_
#define VEXA_SIM_CADRIUM_START_H_

#include <string>

namespace vexa_sim {

struct CadriumStart {
  bool zStart = false;  // the single byte 'Z' of older firmware
  int rate = 1000;
  int mask = 0xFF;
  int nBits = 12;
};

// Throws std::invalid_argument, saying what is wrong, for any other text.
CadriumStart parseCadriumStart(const std::string& text);

}  // namespace vexa_sim

#endif  // VEXA_SIM_CADRIUM_START_H_
