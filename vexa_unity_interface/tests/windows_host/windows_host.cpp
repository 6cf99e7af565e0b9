// A Windows host for the plug-in, run under Wine by the test script. It
// loads vexa_unity_interface.dll the way Unity does (LoadLibrary, then
// GetProcAddress for every export), registers its handlers and drives the
// main use against a simulated device behind a COM port, checking every
// tick and sample. Ends with "N passed, N failed".
//
//   windows_host.exe DLL PORT FAMILY
//
// PORT may be SIM, the plug-in's built-in simulated device.
// FAMILY is current, cadrium or quillbox for a device behind PORT; usb for
// a current device behind the fake FTDI libraries beside the DLL (PORT is
// then found by a scan); usb-missing when one of those libraries is absent.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pattern_check.h"

namespace {

using Vexa::Source;  // the layout the plug-in's start takes
using Handler1 = void (*)(int);
using DigInHandler = void (*)(int, int, int, bool);
using RawHandler = void (*)(int, const int*, int);
using ExcHandler = void (*)(int, const char*);
using PathHandler = void (*)(const char*);

// The exports the host calls, with their types.
struct Api {
  int (*WelcomeFunction)();
  void (*VexaDevUnity)(const char*);
  void (*DisconnectVexaDevUnity)();
  void (*SetNewDeviceFoundHandler)(PathHandler);
  void (*SetOnRawDataHandler)(RawHandler);
  void (*SetOnExceptionRaisedHandler)(ExcHandler);
  void (*SetOnEventDetectedHandlers)(Handler1, DigInHandler);
  void (*StartAcquisition)(int, const char*, int);
  void (*StartAcquisitionByNbr)(int, int, int);
  void (*StartAcquisitionBySources)(int, const Source*, int);
  void (*StartAcquisitionStrandelo)(int, int, int, int);
  void (*StartLoop)();
  void (*InterruptAcquisition)();
  void (*StopAcquisition)();
  void (*GetDetectableDevices)(const char*);
  int (*GetProductId)();
  const char* (*GetDeviceType)();
  int (*GetBattery)();
  int (*GetNbrChannels)();
  bool (*GetCommunicationFlag)();
  void** vexaDev;
  const char* (*VexaExtGetLastErrorDetail)();
  int (*VexaExtDescribeRecordingChannel)(int, const char*, const char*, double, double);
};
// The rest, which the native suites call: the DLL must still export them by name.
const char* const kOtherExports[] = {
    "OnNewDeviceFound",         "OnExceptionRaised",         "OnDisconnectEventDetected",
    "OnDigInEventDetected",     "OnDataReceived",            "GetAllDetectableDevices",
    "SetParameter",             "VexaExtGetVersion",         "VexaExtEnableSampleRing",
    "VexaExtDisableSampleRing", "VexaExtReadSamples",        "VexaExtGetSampleRingChannels",
    "VexaExtGetSampleRingOverflow", "VexaExtStartRecording",     "VexaExtStopRecording",
    "VexaExtAddMarker",             "VexaExtDescribeRecording"};

int passed = 0, failed = 0;
// WelcomeFunction sends standard output to the log file: the results keep
// a handle on the console of their own.
FILE* console = stdout;

void check(bool ok, const std::string& what) {
  std::fprintf(console, "%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(console);
  (ok ? passed : failed)++;
}

template <class T>
bool lookUp(HMODULE dll, const char* name, T& out) {
  out = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  if (out == nullptr) check(false, std::string("export ") + name);
  return out != nullptr;
}

// --- what the handlers saw --------------------------------------------------
std::mutex seenLock;
std::vector<std::pair<int, std::string>> reports;
std::atomic<long long> ticks{0}, lost{0}, wrong{0};
std::atomic<int> lastTick{-1};
std::string family;
// The sources of the running acquisition, for the pattern of current devices.
std::vector<Source> running;

void onFrame(int nSeq, const int* samples, int n) {
  const int last = lastTick.exchange(nSeq);
  if (last >= 0 && nSeq != last + 1) lost += 1;
  ++ticks;
  // Legacy families are checked for their ticks only.
  if (family == "current" && vexa_test::expectedSamples(running, nSeq) != std::vector<int>(samples, samples + n)) {
    ++wrong;
  }
}
void onException(int code, const char* message) {
  std::lock_guard<std::mutex> l(seenLock);
  reports.emplace_back(code, message);
}
void onDisconnect(int) {}
void onDigIn(int, int, int, bool) {}
std::vector<std::string> found;
void onDevice(const char* path) { found.push_back(path); }

// Adds an FT4222H adapter playing a current device to the fake FTDI
// library that the DLL will load from the same folder.
bool addFakeAdapter() {
  HMODULE fake = LoadLibraryA("FTD2XX.dll");
  using AddAdapter = int (*)(uint32_t, uint32_t, uint32_t, uint32_t, const char*);
  auto add = fake ? reinterpret_cast<AddAdapter>(reinterpret_cast<void*>(GetProcAddress(fake, "FakeFtdi_AddAdapter")))
                  : nullptr;
  if (add == nullptr) return false;
  // High speed, FT4222H, the adapter's identifier, chip revision B.
  return add(2, 12, 0x0403601C, 0x42220200, "current") == 0;
}

int lastReportCode() {
  std::lock_guard<std::mutex> l(seenLock);
  return reports.empty() ? 0 : reports.back().first;
}

std::string readFile(const char* path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs StartLoop on a worker thread until `count` more ticks arrived, then
// interrupts it from this thread; true when the loop ended.
bool acquire(const Api& api, long long count) {
  const long long target = ticks + count;
  std::thread loop([&api] { api.StartLoop(); });
  const DWORD began = GetTickCount();
  while (ticks < target && GetTickCount() - began < 10000) Sleep(5);
  // The loop may sit between two frames; an interrupt lands at the next one.
  api.InterruptAcquisition();
  loop.join();
  return ticks >= target;
}

void runAcquisition(const Api& api, const std::string& name, const std::function<void()>& start,
                    std::vector<Source> sources, int channels) {
  running = std::move(sources);
  lastTick = -1;
  lost = 0;
  wrong = 0;
  const size_t before = reports.size();
  start();
  check(reports.size() == before, name + ": started");
  check(api.GetCommunicationFlag(), name + ": communication flag raised");
  check(api.GetNbrChannels() == channels, name + ": " + std::to_string(channels) + " channels");
  check(acquire(api, 300), name + ": loop delivered 300 ticks and ended on interrupt");
  check(!api.GetCommunicationFlag(), name + ": interrupt lowered the flag");
  check(lost == 0, name + ": no tick lost or repeated");
  check(wrong == 0, name + ": every sample matches the pattern");
  api.StopAcquisition();
  check(api.GetNbrChannels() == 0, name + ": stopped");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: windows_host DLL PORT FAMILY\n");
    return 2;
  }
  family = argv[3];
  HMODULE dll = LoadLibraryA(argv[1]);
  check(dll != nullptr, "LoadLibrary");
  if (dll == nullptr) return 1;
  Api api{};
  bool all = true;
#define LOOK_UP(name) all = lookUp(dll, #name, api.name) && all;
  LOOK_UP(WelcomeFunction) LOOK_UP(VexaDevUnity) LOOK_UP(DisconnectVexaDevUnity) LOOK_UP(SetNewDeviceFoundHandler)
  LOOK_UP(SetOnRawDataHandler) LOOK_UP(SetOnExceptionRaisedHandler) LOOK_UP(SetOnEventDetectedHandlers)
  LOOK_UP(StartAcquisition) LOOK_UP(StartAcquisitionByNbr) LOOK_UP(StartAcquisitionBySources)
  LOOK_UP(StartAcquisitionStrandelo) LOOK_UP(StartLoop) LOOK_UP(InterruptAcquisition) LOOK_UP(StopAcquisition)
  LOOK_UP(GetDetectableDevices) LOOK_UP(GetProductId) LOOK_UP(GetDeviceType) LOOK_UP(GetBattery)
  LOOK_UP(GetNbrChannels) LOOK_UP(GetCommunicationFlag) LOOK_UP(vexaDev) LOOK_UP(VexaExtGetLastErrorDetail)
  LOOK_UP(VexaExtDescribeRecordingChannel)
#undef LOOK_UP
  for (const char* name : kOtherExports) {
    void* unused;
    all = lookUp(dll, name, unused) && all;
  }
  check(all, "every export found by name");
  if (!all) return 1;

  console = _fdopen(_dup(_fileno(stdout)), "w");
  const int welcome = api.WelcomeFunction();
  check(welcome >= 0 && welcome <= 99, "WelcomeFunction returns 0 to 99");
  check(readFile("vexa_logs_file.txt").empty(), "log file created empty");
  api.SetOnExceptionRaisedHandler(onException);
  api.SetOnRawDataHandler(onFrame);
  api.SetOnEventDetectedHandlers(onDisconnect, onDigIn);
  api.SetNewDeviceFoundHandler(onDevice);

  // Failures reported with their codes.
  api.StartAcquisition(1000, "1", 16);
  check(lastReportCode() == 14, "start without a device reports 14");
  api.VexaDevUnity("COM250");
  check(lastReportCode() == 1 && *api.vexaDev == nullptr, "missing port reports 1");
  const std::string detail = api.VexaExtGetLastErrorDetail();
  check(detail.find("open \\\\.\\COM250: ") == 0 && detail.find("(error 2)") != std::string::npos,
        "the system's cause of the failure: " + detail);
  check(readFile("vexa_logs_file.txt").find("line number 384 in file vexa_unity_interface.cpp") != std::string::npos,
        "failure logged to the file");

  // The range's ends are the fourth (a register) and fifth (the stack)
  // arguments: an empty range is refused, a true one taken.
  check(api.VexaExtDescribeRecordingChannel(0, "EMG", "uV", 2.5, 2.5) == -1 &&
            std::string(api.VexaExtGetLastErrorDetail()).find("is empty") != std::string::npos &&
            api.VexaExtDescribeRecordingChannel(0, nullptr, nullptr, -2.5, 2.5) == 0 &&
            api.VexaExtDescribeRecordingChannel(0, nullptr, nullptr, 0, 0) == 0,
        "a channel's physical range reaches the library");

  std::string port = argv[2];
  if (family == "usb-missing") {
    api.GetDetectableDevices("usb");
    check(lastReportCode() == 27 && reports.back().second.find("The API module LibFT4222-64.dll is missing or "
                                                               "invalid.") != std::string::npos,
          "a missing FTDI library is reported as a missing module");
    api.VexaDevUnity("USB0");
    check(lastReportCode() == 2, "connecting without it reports 2");
    std::fprintf(console, "%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
  }
  if (family == "usb") {
    check(addFakeAdapter(), "fake FTDI adapter added");
    api.GetDetectableDevices("USB");
    check(found == std::vector<std::string>{"USB0"}, "the USB scan finds USB0");
    port = found.empty() ? "USB0" : found[0];
    family = "current";
  }

  const size_t before = reports.size();
  api.VexaDevUnity(port.c_str());
  check(reports.size() == before && *api.vexaDev != nullptr, "connected on " + port);
  if (*api.vexaDev == nullptr) {
    for (const auto& r : reports) std::fprintf(console, "  report %d: %s", r.first, r.second.c_str());
    std::fprintf(console, "%d passed, %d failed\n", passed, failed);
    return 1;
  }

  if (family == "current") {
    check(std::strcmp(api.GetDeviceType(), "tessarimodular") == 0, "device type");
    check(api.GetProductId() == 513, "product identifier");
    check(api.GetBattery() == 96, "battery");
    runAcquisition(api, "StartAcquisition", [&] { api.StartAcquisition(1000, "1011", 16); },
                   {{1, 1, 16, 1}, {3, 1, 16, 1}, {4, 1, 16, 1}}, 3);
    runAcquisition(api, "StartAcquisitionByNbr", [&] { api.StartAcquisitionByNbr(1000, 5, 16); },
                   {{1, 1, 16, 1}, {3, 1, 16, 1}}, 2);
    const Source sources[] = {{2, 1, 16, 0x83}, {5, 4, 8, 0x3}};
    runAcquisition(api, "StartAcquisitionBySources", [&] { api.StartAcquisitionBySources(2000, sources, 2); },
                   {sources[0], sources[1]}, 5);
    runAcquisition(api, "StartAcquisitionStrandelo", [&] { api.StartAcquisitionStrandelo(1000, 0, 16, 250); },
                   {{1, 4, 16, 1}}, 1);
  } else if (family == "cadrium") {
    check(std::strcmp(api.GetDeviceType(), "Cadrium") == 0, "device type");
    runAcquisition(api, "StartAcquisition", [&] { api.StartAcquisition(1000, "11110000", 12); }, {}, 4);
  } else {
    check(std::strcmp(api.GetDeviceType(), "Quillbox") == 0, "device type");
    runAcquisition(api, "StartAcquisition", [&] { api.StartAcquisition(1000, "111111", 16); }, {}, 6);
  }

  api.DisconnectVexaDevUnity();
  check(*api.vexaDev == nullptr, "disconnected");
  std::fprintf(console, "%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
