// The oldest family's acquisition. Not carried by this build yet: every
// entry point refuses with Error::NotSupported.
#include "base/x.h"
#include "signals/signals_x.h"
#include "vexa/exceptions.h"

namespace Vexa {

void SignalsX::startOld(float, int, int) { VEXA_THROW(Error::NotSupported, "SignalsX::startOld"); }
bool SignalsX::recvFrameOld() { VEXA_THROW(Error::NotSupported, "SignalsX::recvFrameOld"); }
void BaseDev::X::syncOld(int) { VEXA_THROW(Error::NotSupported, "Vexa::BaseDev::X::syncOld"); }
void BaseDev::X::loopOld_Bit() { VEXA_THROW(Error::NotSupported, "Vexa::BaseDev::X::loopOld_Bit"); }

}  // namespace Vexa
