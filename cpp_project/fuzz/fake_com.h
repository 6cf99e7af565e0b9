// The transport behind the stand-in serial port of fake_com.cpp.
#ifndef VEXA_FUZZ_FAKE_COM_H_
#define VEXA_FUZZ_FAKE_COM_H_

#include "fuzz_io.h"

namespace vexa_fuzz {

// What "COMfuzz" reads and writes; null: the port does not exist.
extern FuzzIO* comBackend;

}  // namespace vexa_fuzz

#endif  // VEXA_FUZZ_FAKE_COM_H_
