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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pattern_check.h"
#include "vexa_unity_interface.h"

namespace {

// Every name the plug-in exports, from its export list.
const char* const kExports[] = {
#include "export_names.inc"
};

HMODULE dll;
// An export by name, with the type its declaration gives it.
#define API(name) reinterpret_cast<decltype(&name)>(reinterpret_cast<void*>(GetProcAddress(dll, #name)))

int passed = 0, failed = 0;
// WelcomeFunction sends standard output to the log file: the results keep
// a handle on the console of their own.
FILE* console = stdout;

bool check(bool ok, const std::string& what) {
  std::fprintf(console, "%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(console);
  (ok ? passed : failed)++;
  return ok;
}

int finish() {
  std::fprintf(console, "%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

// --- what the handlers saw: the loop's thread writes, the main thread reads
// the checker once the loop has ended ---------------------------------------
std::vector<std::pair<int, std::string>> reports;
std::vector<std::string> found;
vexa_test::PatternChecker checker({});
std::atomic<long long> frames{0};

void onFrame(int nSeq, const int* samples, int n) {
  checker.check(nSeq, samples, n);
  ++frames;
}
void onException(int code, const char* message) { reports.emplace_back(code, message); }
void onDisconnect(int) {}
void onDigIn(int, int, int, bool) {}
void onDevice(const char* path) { found.push_back(path); }
int lastReportCode() { return reports.empty() ? 0 : reports.back().first; }

// By its wide (UTF-16) name.
std::string readFile(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The folder of a loaded module, with its final backslash.
std::wstring folderOf(HMODULE module) {
  wchar_t file[MAX_PATH] = {};
  std::wstring path(file, GetModuleFileNameW(module, file, MAX_PATH));
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// Starts with `start`, runs StartLoop on a worker thread until 300 ticks
// arrived, interrupts it from this thread and stops. Checks the samples
// against the simulator's pattern when given the sources.
template <class Start>
void acquire(const std::string& name, Start start, std::vector<Vexa::Source> sources) {
  checker = vexa_test::PatternChecker(sources);
  const long long target = frames + 300;
  const size_t before = reports.size();
  start();
  check(reports.size() == before, name + ": started");
  std::thread loop([] { API(StartLoop)(); });
  const DWORD began = GetTickCount();
  while (frames < target && GetTickCount() - began < 10000) Sleep(5);
  // The loop may sit between two frames; an interrupt lands at the next one.
  API(InterruptAcquisition)();
  loop.join();
  check(frames >= target, name + ": loop delivered 300 ticks and ended on interrupt");
  const bool whole = checker.lost() == 0 && (sources.empty() || checker.badTicks() == 0);
  check(whole, name + ": every tick once, every sample as the device sent it " + (whole ? "" : checker.firstError()));
  API(StopAcquisition)();
}

// A recording of the current device's acquisition to a BDF+ file in a
// folder named in letters beyond ASCII (as a user's name may be in
// Application.persistentDataPath), the path handed over in UTF-8; read
// back by its wide name, so a file the plug-in opened under another name
// (its bytes read in the system's code page) is not found.
void acquireRecording(const Vexa::Source (&sources)[2]) {
  const std::filesystem::path folder = std::filesystem::current_path() / L"J\u00fcrgen_\u00c6r\u00f8_\u65e5\u672c";
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / L"Aufnahme_\u00e9t\u00e9.bdf";
  std::filesystem::remove(file);
  acquire("StartAcquisitionBySources", [&] {
    API(StartAcquisitionBySources)(2000, reinterpret_cast<const VexaSource*>(sources), 2);
    const bool started = API(VexaExtDescribeRecordingChannel)(0, "EMG", "uV", -2.5, 1.25) == 0 &&
                         API(VexaExtStartRecording)(file.u8string().c_str()) == 0;
    check(started, std::string("recording started ") + (started ? "" : API(VexaExtGetLastErrorDetail)()));
  }, {sources[0], sources[1]});
  check(API(VexaExtStopRecording)() == 0, "recording completed");
  const std::string bdf = readFile(file.wstring());
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: windows_host DLL PORT FAMILY\n");
    return 2;
  }
  std::string family = argv[3], port = argv[2];
  dll = LoadLibraryA(argv[1]);
  if (!check(dll != nullptr, "LoadLibrary")) return finish();
  std::string missing;
  for (const char* name : kExports) {
    if (GetProcAddress(dll, name) == nullptr) missing += std::string(" ") + name;
  }
  if (!check(missing.empty(), "every export found by name; missing:" + missing)) return finish();
  void** const device = reinterpret_cast<void**>(GetProcAddress(dll, "vexaDev"));

  console = _fdopen(_dup(_fileno(stdout)), "w");
  const int welcome = API(WelcomeFunction)();
  check(welcome >= 0 && welcome <= 99 && readFile(L"vexa_logs_file.txt").empty(), "WelcomeFunction: an empty log");
  API(SetOnExceptionRaisedHandler)(onException);
  API(SetOnRawDataHandler)(onFrame);
  API(SetOnEventDetectedHandlers)(onDisconnect, onDigIn);
  API(SetNewDeviceFoundHandler)(onDevice);

  // A failure: its code through the handler, the system's cause, the log.
  API(VexaDevUnity)("COM250");
  check(lastReportCode() == 1 && *device == nullptr, "missing port reports 1");
  const std::string detail = API(VexaExtGetLastErrorDetail)();
  check(detail.find("open \\\\.\\COM250: ") == 0 && detail.find("(error 2)") != std::string::npos,
        "the system's cause of the failure: " + detail);
  check(readFile(L"vexa_logs_file.txt").find("line number 384 in file vexa_unity_interface.cpp") != std::string::npos,
        "failure logged to the file");

  if (family == "usb-missing") {
    API(GetDetectableDevices)("usb");
    check(lastReportCode() == 27 && reports.back().second.find("The API module LibFT4222-64.dll is missing or "
                                                               "invalid.") != std::string::npos,
          "a missing FTDI library is reported as a missing module");
    API(VexaDevUnity)("USB0");
    check(lastReportCode() == 2, "connecting without it reports 2");
    return finish();
  }
  if (family == "usb") {
    // The first scan loads the libraries from the plug-in's folder, which
    // the system's search for a bare name does not look at.
    const size_t before = reports.size();
    API(GetDetectableDevices)("USB");
    const HMODULE fake = GetModuleHandleW(L"FTD2XX.dll");
    check(reports.size() == before && found.empty() && fake != nullptr && folderOf(fake) == folderOf(dll),
          "the first scan loads the FTDI libraries from beside the plug-in");
    // An FT4222H adapter playing a current device: high speed, FT4222H,
    // the adapter's identifier, chip revision B.
    using AddAdapter = int (*)(uint32_t, uint32_t, uint32_t, uint32_t, const char*);
    auto add = reinterpret_cast<AddAdapter>(reinterpret_cast<void*>(GetProcAddress(fake, "FakeFtdi_AddAdapter")));
    check(add != nullptr && add(2, 12, 0x0403601C, 0x42220200, "current") == 0, "fake FTDI adapter added");
    API(GetDetectableDevices)("USB");
    check(found == std::vector<std::string>{"USB0"}, "the USB scan finds USB0");
    port = "USB0";
    family = "current";
  }

  const size_t before = reports.size();
  API(VexaDevUnity)(port.c_str());
  if (!check(reports.size() == before && *device != nullptr, "connected on " + port)) {
    for (const auto& r : reports) std::fprintf(console, "  report %d: %s", r.first, r.second.c_str());
    return finish();
  }
  const char* const type = API(GetDeviceType)();
  if (family == "current") {
    check(std::strcmp(type, "tessarimodular") == 0 && API(GetProductId)() == 513, "device type and product");
    // Mixed widths, divisors and masks: the source records cross as the
    // plug-in lays them out.
    acquireRecording({{2, 1, 16, 0x83}, {5, 4, 8, 0x3}});
  } else {
    const bool cadrium = family == "cadrium";
    check(std::strcmp(type, cadrium ? "Cadrium" : "Quillbox") == 0, "device type");
    const char* const channels = cadrium ? "11110000" : "111111";
    acquire("StartAcquisition", [&] { API(StartAcquisition)(1000, channels, cadrium ? 12 : 16); }, {});
  }
  API(DisconnectVexaDevUnity)();
  check(*device == nullptr, "disconnected");
  return finish();
}
