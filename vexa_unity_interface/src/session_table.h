// The process's open sessions, by handle.
#ifndef VEXA_UNITY_SESSION_TABLE_H_
#define VEXA_UNITY_SESSION_TABLE_H_

#include <memory>
#include <vector>

#include "session.h"

namespace Vexa {
namespace Unity {

// The open session of this handle, kept alive for as long as the caller
// holds it (a close meanwhile leaves it closed, not gone); null when none.
std::shared_ptr<Session> findSession(int handle);
// Every open session, for the calls that address them all.
std::vector<std::shared_ptr<Session>> openSessions();

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_SESSION_TABLE_H_
