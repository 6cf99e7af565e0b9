// The host's setting of the link's constant delay, which every device
// connected from then on takes.
#ifndef VEXA_UNITY_LINK_DELAY_H_
#define VEXA_UNITY_LINK_DELAY_H_

#include <atomic>

namespace Vexa {
namespace Unity {

// Seconds, 0 or more; 0 until the host sets it.
std::atomic<double>& linkDelay();

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_LINK_DELAY_H_
