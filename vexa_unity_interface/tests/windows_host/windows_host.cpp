// A Windows host for the plug-in, run under Wine by the test script. It
// loads vexa_unity_interface.dll the way Unity does (LoadLibrary by full
// path from a plug-in folder that is neither the program's nor the current
// one, then GetProcAddress for every export), registers its handlers and
// acquires from a simulated device behind a COM port, checking every tick
// and sample its raw-data handler receives. What the exports do is the
// native tests' business: this proves the Windows build loads, links and
// streams, finds the FTDI libraries beside itself, and takes UTF-8 paths.
// Ends with "N passed, N failed".
//
//   windows_host.exe DLL PORT FAMILY
//
// PORT may be SIM, the plug-in's built-in simulated device.
// FAMILY is current, cadrium or quillbox for a device behind PORT (current
// also records to a BDF+ file in a folder named in letters beyond ASCII);
// usb for a current device behind the fake FTDI libraries beside the DLL
// (PORT is then found by a scan); usb-missing when one of those libraries
// is absent.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pattern_check.h"

namespace {

using Vexa::Source;  // the layout the plug-in's start takes

// The exports the host calls, with their types.
struct Api {
  int (*WelcomeFunction)();
  void (*VexaDevUnity)(const char*);
  void (*DisconnectVexaDevUnity)();
  void (*SetNewDeviceFoundHandler)(void (*)(const char*));
  void (*SetOnRawDataHandler)(void (*)(int, const int*, int));
  void (*SetOnExceptionRaisedHandler)(void (*)(int, const char*));
  void (*SetOnEventDetectedHandlers)(void (*)(int), void (*)(int, int, int, bool));
  void (*StartAcquisition)(int, const char*, int);
  void (*StartAcquisitionBySources)(int, const Source*, int);
  void (*StartLoop)();
  void (*InterruptAcquisition)();
  void (*StopAcquisition)();
  void (*GetDetectableDevices)(const char*);
  int (*GetProductId)();
  const char* (*GetDeviceType)();
  void** vexaDev;
  const char* (*VexaExtGetLastErrorDetail)();
  int (*VexaExtDescribeRecordingChannel)(int, const char*, const char*, double, double);
  int (*VexaExtStartRecording)(const char*);
  int (*VexaExtStopRecording)();
};
// The rest, which the native suites call: the DLL must still export them by name.
const char* const kOtherExports[] = {
    "OnNewDeviceFound",         "OnExceptionRaised",         "OnDisconnectEventDetected",
    "OnDigInEventDetected",     "OnDataReceived",            "GetAllDetectableDevices",
    "SetParameter",             "VexaExtGetVersion",         "VexaExtEnableSampleRing",
    "VexaExtDisableSampleRing", "VexaExtReadSamples",        "VexaExtGetSampleRingChannels",
    "VexaExtGetSampleRingOverflow", "StartAcquisitionByNbr", "StartAcquisitionStrandelo",
    "GetBattery",               "GetNbrChannels",            "GetCommunicationFlag",
    "VexaExtAddMarker",         "VexaExtDescribeRecording",  "VexaExtReadBlock",
    "VexaExtGetAcquisitionLayout", "VexaExtGetHostTime", "VexaExtGetInstantTime",
    "VexaExtSetLinkDelay",      "VexaExtAddMarkerAt"};

int passed = 0, failed = 0;
// WelcomeFunction sends standard output to the log file: the results keep
// a handle on the console of their own.
FILE* console = stdout;

void check(bool ok, const std::string& what) {
  std::fprintf(console, "%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(console);
  (ok ? passed : failed)++;
}

int finish() {
  std::fprintf(console, "%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
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
std::vector<std::string> found;
std::atomic<long long> ticks{0}, lost{0}, wrong{0};
std::atomic<int> lastTick{-1};
// The sources of the running acquisition, for the pattern of current
// devices; empty for the legacy families, which are checked for their
// ticks only.
std::vector<Source> running;

void onFrame(int nSeq, const int* samples, int n) {
  const int last = lastTick.exchange(nSeq);
  if (last >= 0 && nSeq != last + 1) lost += 1;
  ++ticks;
  if (!running.empty() && vexa_test::expectedSamples(running, nSeq) != std::vector<int>(samples, samples + n)) {
    ++wrong;
  }
}
void onException(int code, const char* message) {
  std::lock_guard<std::mutex> l(seenLock);
  reports.emplace_back(code, message);
}
void onDisconnect(int) {}
void onDigIn(int, int, int, bool) {}
void onDevice(const char* path) { found.push_back(path); }

int lastReportCode() {
  std::lock_guard<std::mutex> l(seenLock);
  return reports.empty() ? 0 : reports.back().first;
}

// Adds an FT4222H adapter playing a current device to the fake FTDI
// library that the DLL loaded.
bool addFakeAdapter(HMODULE fake) {
  using AddAdapter = int (*)(uint32_t, uint32_t, uint32_t, uint32_t, const char*);
  auto add = fake ? reinterpret_cast<AddAdapter>(reinterpret_cast<void*>(GetProcAddress(fake, "FakeFtdi_AddAdapter")))
                  : nullptr;
  // High speed, FT4222H, the adapter's identifier, chip revision B.
  return add != nullptr && add(2, 12, 0x0403601C, 0x42220200, "current") == 0;
}

// By its wide (UTF-16) name.
std::string readFile(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string utf8(const std::wstring& wide) {
  std::string out(static_cast<size_t>(wide.size()) * 4, '\0');
  out.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0],
                                                     static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

// The folder of a loaded module, with its final backslash.
std::wstring folderOf(HMODULE module) {
  wchar_t file[MAX_PATH] = {};
  std::wstring path(file, GetModuleFileNameW(module, file, MAX_PATH));
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// A recording of the current device's acquisition to a BDF+ file in a
// folder named in letters beyond ASCII (as a user's name may be in
// Application.persistentDataPath), the path handed over in UTF-8; read
// back by its wide name, so a file the plug-in opened under another name
// (its bytes read in the system's code page) is not found.
class NonAsciiRecording {
 public:
  NonAsciiRecording() {
    const std::wstring folder = std::filesystem::current_path().wstring() + L"\\J\u00fcrgen_\u00c6r\u00f8_\u65e5\u672c";
    CreateDirectoryW(folder.c_str(), nullptr);
    file_ = folder + L"\\Aufnahme_\u00e9t\u00e9.bdf";
    DeleteFileW(file_.c_str());
  }

  // The first channel's description and the file, before the loop runs.
  void begin(const Api& api) {
    const bool started = api.VexaExtDescribeRecordingChannel(0, "EMG", "uV", -2.5, 1.25) == 0 &&
                         api.VexaExtStartRecording(utf8(file_).c_str()) == 0;
    check(started, started ? "recording started"
                           : std::string("recording refused: ") + api.VexaExtGetLastErrorDetail());
  }

  // After the acquisition stopped, which ended the recording.
  void finish(const Api& api) {
    check(api.VexaExtStopRecording() == 0, "recording completed");
    const std::string bdf = readFile(file_);
    const size_t ns = bdf.size() >= 256 ? std::strtoul(bdf.substr(252, 4).c_str(), nullptr, 10) : 0;
    // Per signal: label 16, transducer 80, unit 8, physical minimum 8 and
    // maximum 8; the range's ends are the fourth (a register) and fifth
    // (the stack) arguments, which must both cross.
    auto field = [&](size_t offset) { return ns > 0 && bdf.size() > offset + 8 ? bdf.substr(offset, 8) : ""; };
    check(ns == 6 && bdf.substr(256, 3) == "EMG" && field(256 + 96 * ns) == "uV      " &&
              field(256 + 104 * ns) == "-2.5    " && field(256 + 112 * ns) == "1.25    " &&
              std::atol(bdf.substr(236, 8).c_str()) > 0 && bdf.size() > 256 * (ns + 1),
          "the recording under a non-ASCII path holds the described channels and data");
  }

 private:
  std::wstring file_;
};

// Starts with `start`, runs StartLoop on a worker thread until 300 ticks
// arrived, interrupts it from this thread and stops; records meanwhile
// when given a recording.
template <class Start>
void acquire(const Api& api, const std::string& name, Start start, std::vector<Source> sources,
             NonAsciiRecording* recording = nullptr) {
  running = std::move(sources);
  lastTick = -1;
  const long long target = ticks + 300;
  const size_t before = reports.size();
  start();
  check(reports.size() == before, name + ": started");
  if (recording != nullptr) recording->begin(api);
  std::thread loop([&api] { api.StartLoop(); });
  const DWORD began = GetTickCount();
  while (ticks < target && GetTickCount() - began < 10000) Sleep(5);
  // The loop may sit between two frames; an interrupt lands at the next one.
  api.InterruptAcquisition();
  loop.join();
  check(ticks >= target, name + ": loop delivered 300 ticks and ended on interrupt");
  check(lost == 0 && wrong == 0, name + ": every tick once, every sample as the device sent it");
  api.StopAcquisition();
  if (recording != nullptr) recording->finish(api);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: windows_host DLL PORT FAMILY\n");
    return 2;
  }
  std::string family = argv[3], port = argv[2];
  HMODULE dll = LoadLibraryA(argv[1]);
  check(dll != nullptr, "LoadLibrary");
  if (dll == nullptr) return 1;
  Api api{};
  bool all = true;
#define LOOK_UP(name) all = lookUp(dll, #name, api.name) && all;
  LOOK_UP(WelcomeFunction) LOOK_UP(VexaDevUnity) LOOK_UP(DisconnectVexaDevUnity) LOOK_UP(SetNewDeviceFoundHandler)
  LOOK_UP(SetOnRawDataHandler) LOOK_UP(SetOnExceptionRaisedHandler) LOOK_UP(SetOnEventDetectedHandlers)
  LOOK_UP(StartAcquisition) LOOK_UP(StartAcquisitionBySources) LOOK_UP(StartLoop) LOOK_UP(InterruptAcquisition)
  LOOK_UP(StopAcquisition) LOOK_UP(GetDetectableDevices) LOOK_UP(GetProductId) LOOK_UP(GetDeviceType)
  LOOK_UP(vexaDev) LOOK_UP(VexaExtGetLastErrorDetail)
  LOOK_UP(VexaExtDescribeRecordingChannel) LOOK_UP(VexaExtStartRecording) LOOK_UP(VexaExtStopRecording)
#undef LOOK_UP
  for (const char* name : kOtherExports) {
    void* unused;
    all = lookUp(dll, name, unused) && all;
  }
  check(all, "every export found by name");
  if (!all) return 1;

  console = _fdopen(_dup(_fileno(stdout)), "w");
  const int welcome = api.WelcomeFunction();
  check(welcome >= 0 && welcome <= 99 && readFile(L"vexa_logs_file.txt").empty(), "WelcomeFunction: an empty log");
  api.SetOnExceptionRaisedHandler(onException);
  api.SetOnRawDataHandler(onFrame);
  api.SetOnEventDetectedHandlers(onDisconnect, onDigIn);
  api.SetNewDeviceFoundHandler(onDevice);

  // A failure: its code through the handler, the system's cause, the log.
  api.VexaDevUnity("COM250");
  check(lastReportCode() == 1 && *api.vexaDev == nullptr, "missing port reports 1");
  const std::string detail = api.VexaExtGetLastErrorDetail();
  check(detail.find("open \\\\.\\COM250: ") == 0 && detail.find("(error 2)") != std::string::npos,
        "the system's cause of the failure: " + detail);
  check(readFile(L"vexa_logs_file.txt").find("line number 384 in file vexa_unity_interface.cpp") != std::string::npos,
        "failure logged to the file");

  if (family == "usb-missing") {
    api.GetDetectableDevices("usb");
    check(lastReportCode() == 27 && reports.back().second.find("The API module LibFT4222-64.dll is missing or "
                                                               "invalid.") != std::string::npos,
          "a missing FTDI library is reported as a missing module");
    api.VexaDevUnity("USB0");
    check(lastReportCode() == 2, "connecting without it reports 2");
    return finish();
  }
  if (family == "usb") {
    // The first scan loads the libraries from the plug-in's folder, which
    // the system's search for a bare name does not look at.
    const size_t before = reports.size();
    api.GetDetectableDevices("USB");
    const HMODULE fake = GetModuleHandleW(L"FTD2XX.dll");
    check(reports.size() == before && found.empty() && fake != nullptr && folderOf(fake) == folderOf(dll),
          "the first scan loads the FTDI libraries from beside the plug-in");
    check(addFakeAdapter(fake), "fake FTDI adapter added");
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
    return finish();
  }

  const char* const type = api.GetDeviceType();
  if (family == "current") {
    check(std::strcmp(type, "tessarimodular") == 0 && api.GetProductId() == 513, "device type and product");
    // Mixed widths, divisors and masks: the source records cross as the
    // plug-in lays them out.
    const Source sources[] = {{2, 1, 16, 0x83}, {5, 4, 8, 0x3}};
    NonAsciiRecording recording;
    acquire(api, "StartAcquisitionBySources", [&] { api.StartAcquisitionBySources(2000, sources, 2); },
            {sources[0], sources[1]}, &recording);
  } else {
    const bool cadrium = family == "cadrium";
    check(std::strcmp(type, cadrium ? "Cadrium" : "Quillbox") == 0, "device type");
    const int bits = cadrium ? 12 : 16;
    acquire(api, "StartAcquisition", [&] { api.StartAcquisition(1000, cadrium ? "11110000" : "111111", bits); }, {});
  }

  api.DisconnectVexaDevUnity();
  check(*api.vexaDev == nullptr, "disconnected");
  return finish();
}
