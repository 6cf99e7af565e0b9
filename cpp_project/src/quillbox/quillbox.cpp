// The compact board's acquisition. Not carried by this build yet: every
// entry point refuses with Error::NotSupported.
#include "base/x.h"
#include "signals/signals_x.h"
#include "vexa/exceptions.h"

namespace Vexa {

void SignalsX::startBit(float, int, int) { VEXA_THROW(Error::NotSupported, "SignalsX::startBit"); }
bool SignalsX::recvBytesBit(uint8_t*, int) { VEXA_THROW(Error::NotSupported, "SignalsX::recvBytesBit"); }
bool SignalsX::recvFrameBit() { VEXA_THROW(Error::NotSupported, "SignalsX::recvFrameBit"); }
void BaseDev::X::syncBit(int) { VEXA_THROW(Error::NotSupported, "Vexa::BaseDev::X::syncBit"); }

}  // namespace Vexa
