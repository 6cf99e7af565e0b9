// The extension exports of sessions: the table of open sessions and the
// calls on one of them. Each returns 0 (or its result) or a negative code
// with the cause as the calling thread's last failure detail; none calls
// the exception handler.
#include <climits>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "cancellable_call.h"
#include "current_device.h"
#include "recording.h"
#include "session_table.h"
#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {
namespace {

struct Table {
  std::mutex lock;
  std::map<int, std::shared_ptr<Session>> open;
  // The last handle given out; handles are never reused, so the count
  // stops rather than wrap.
  int last = 0;
};

// Never destroyed: sessions still open when the process ends are left as
// they are, as the interface's recording is.
Table& table() {
  static Table* const one = new Table;
  return *one;
}

std::string notOpen(int session) { return "Session " + std::to_string(session) + " is not open."; }

// body(session) on the open session of this handle, held for the call.
template <class Body>
int withSession(int session, Body&& body) {
  const std::shared_ptr<Session> s = findSession(session);
  if (s == nullptr) return refuse(VEXA_EXT_ERR_SESSION, notOpen(session));
  return body(*s);
}

}  // namespace

std::shared_ptr<Session> findSession(int handle) {
  std::lock_guard<std::mutex> l(table().lock);
  const auto it = table().open.find(handle);
  return it == table().open.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<Session>> openSessions() {
  std::lock_guard<std::mutex> l(table().lock);
  std::vector<std::shared_ptr<Session>> all;
  for (const auto& entry : table().open) all.push_back(entry.second);
  return all;
}

}  // namespace Unity
}  // namespace Vexa

using Vexa::Unity::Session;
using Vexa::Unity::outcomeOf;
using Vexa::Unity::refuse;
using Vexa::Unity::withSession;

extern "C" {

VEXA_UNITY_API int VexaExtOpen(const char* path) {
  if (path == nullptr || *path == '\0') return refuse(VEXA_EXT_ERR_ARGUMENT, "The session needs a connection path.");
  int handle;
  {
    std::lock_guard<std::mutex> l(Vexa::Unity::table().lock);
    if (Vexa::Unity::table().last == INT_MAX) {
      return refuse(VEXA_EXT_ERR_STATE, "Every session handle of this process has been given out.");
    }
    handle = ++Vexa::Unity::table().last;
  }
  // The connection takes a while: other sessions go on meanwhile, and
  // VexaExtCancel may end it.
  return outcomeOf([&] {
    const Vexa::Unity::CancellableCall call;
    auto session = std::make_shared<Session>(handle, path);
    call.throwIfCancelled();
    std::lock_guard<std::mutex> l(Vexa::Unity::table().lock);
    Vexa::Unity::table().open.emplace(handle, std::move(session));
    return handle;
  });
}

VEXA_UNITY_API int VexaExtClose(int session) {
  std::shared_ptr<Session> s;
  {
    std::lock_guard<std::mutex> l(Vexa::Unity::table().lock);
    const auto it = Vexa::Unity::table().open.find(session);
    if (it == Vexa::Unity::table().open.end()) return refuse(VEXA_EXT_ERR_SESSION, Vexa::Unity::notOpen(session));
    // From a handler whose loop the close cannot wait for, the session
    // stays open.
    if (const int refused = it->second->mayWaitForLoop()) return refused;
    s = it->second;
    Vexa::Unity::table().open.erase(it);
  }
  const int closed = s->close();
  if (closed == VEXA_EXT_ERR_STATE || closed == VEXA_EXT_ERR_OWN_THREAD) {
    // Its loop started meanwhile from a handler that cannot wait: still open.
    std::lock_guard<std::mutex> l(Vexa::Unity::table().lock);
    Vexa::Unity::table().open.emplace(session, std::move(s));
  }
  return closed;
}

VEXA_UNITY_API int VexaExtStartByMask(int session, int baseFreq, int channelMask, int nBits) {
  return withSession(session, [=](Session& s) { return s.startByMask(baseFreq, channelMask, nBits); });
}

VEXA_UNITY_API int VexaExtStartBySources(int session, int baseFreq, const VexaSource* sources, int nSources) {
  return withSession(session, [=](Session& s) { return s.startBySources(baseFreq, sources, nSources); });
}

VEXA_UNITY_API int VexaExtStop(int session) {
  return withSession(session, [](Session& s) { return s.stop(); });
}

VEXA_UNITY_API int VexaExtRun(int session) {
  return withSession(session, [](Session& s) { return s.run(); });
}

VEXA_UNITY_API int VexaExtHalt(int session) {
  return withSession(session, [](Session& s) { return s.halt(); });
}

VEXA_UNITY_API int VexaExtSetSessionParameter(int session, int port, int index, const int* data, int dataType) {
  return withSession(session, [=](Session& s) { return s.setParameter(port, index, data, dataType); });
}

VEXA_UNITY_API int VexaExtGetSessionBattery(int session) {
  return withSession(session, [](Session& s) { return s.battery(); });
}

VEXA_UNITY_API int VexaExtGetSessionProductId(int session, int* productId) {
  return withSession(session, [=](Session& s) { return s.productId(productId); });
}

VEXA_UNITY_API int VexaExtGetSessionDeviceType(int session, const char** type) {
  return withSession(session, [=](Session& s) { return s.deviceType(type); });
}

VEXA_UNITY_API int VexaExtReadEvents(int session, VexaExtEvent* events, int maxEvents) {
  return withSession(session, [=](Session& s) { return s.readEvents(events, maxEvents); });
}

VEXA_UNITY_API int VexaExtSetEventHandler(int session, VexaExtEventHandler handler) {
  return withSession(session, [=](Session& s) {
    s.setEventHandler(handler);
    return 0;
  });
}

VEXA_UNITY_API int VexaExtStartSessionRecording(int session, const char* path) {
  return withSession(session, [=](Session& s) { return s.startRecording(path); });
}

VEXA_UNITY_API int VexaExtStopSessionRecording(int session) {
  return withSession(session, [](Session& s) { return s.stopRecording(); });
}

VEXA_UNITY_API int VexaExtAddSessionMarker(int session, const char* text, double hostTime) {
  if (text == nullptr) return refuse(VEXA_EXT_ERR_ARGUMENT, "The marker needs a text.");
  if (!std::isfinite(hostTime)) {
    return refuse(VEXA_EXT_ERR_ARGUMENT, "The marker's host time must be a finite number of seconds.");
  }
  if (session != 0) return withSession(session, [=](Session& s) { return s.addMarker(text, hostTime); });
  // Every recording, the interface's current device's included, each at
  // its own instant nearest hostTime; a failure of one does not keep the
  // marker from the others.
  int result = 0, marked = 0;
  const auto mark = [&](int outcome) {
    if (outcome == 0) ++marked;
    else if (result == 0) result = outcome;
  };
  Session& current = Vexa::Unity::currentSession();
  if (current.recording().running()) mark(current.addMarker(text, hostTime));
  for (const auto& s : Vexa::Unity::openSessions()) {
    if (s->recording().running()) mark(s->addMarker(text, hostTime));
  }
  if (result == 0 && marked == 0) return refuse(VEXA_EXT_ERR_STATE, "No recording is running.");
  return result;
}

}  // extern "C"
