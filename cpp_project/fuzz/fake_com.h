// The transport behind the stand-in serial port of fake_com.cpp.
#ifndef VEXA_FUZZ_FAKE_COM_H_
#define VEXA_FUZZ_FAKE_COM_H_

#include "vexa/io.h"

namespace vexa_fuzz {

// What "COMfuzz" reads and writes; null: the port does not exist.
extern Vexa::IO* comBackend;
// Drops replies still waiting, as opening a real port flushes it.
void flushBackend();

}  // namespace vexa_fuzz

#endif  // VEXA_FUZZ_FAKE_COM_H_
