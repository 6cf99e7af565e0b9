// The exported interface driven by a sequence of calls decoded from the
// input, against an in-process simulated device (a current device, the
// oldest family or the compact board) behind the stand-in serial port. The
// device streams only as many frames as the input allows, and may slip
// bytes of the input into what it sends; a loop ends at the device's
// time-out once nothing more comes, or by an interrupt while it waits.
#include <cstdio>

#include "current_device.h"
#include "fake_com.h"
#include "fuzz_io.h"
#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/quillbox_model.h"
#include "vexa_unity_interface.h"

using namespace vexa_fuzz;

namespace {

void onFrame(int, const int* samples, int n) {
  volatile int sum = 0;
  for (int i = 0; i < n; ++i) sum = sum + samples[i];
}
void onException(int, const char* message) { (void)std::strlen(message); }
void onDevice(const char*) {}
void onDisconnect(int) {}
void onDigIn(int, int, int, bool) {}

std::unique_ptr<vexa_sim::DeviceModel> modelFor(uint8_t kind) {
  static const uint16_t kProducts[] = {0x0201, 0x0205, 0x020A, 0x0502, 0x0801, 0x021E, 0x0701, 0x0301};
  switch (kind % 4) {
    case 0: {
      vexa_sim::CadriumConfig c;
      if (kind & 4) c.versionLine = "Cadrium EMG v.1.5\n";
      c.digitalInputs = {0, 1, 1};
      return std::make_unique<vexa_sim::CadriumModel>(c);
    }
    case 1: {
      vexa_sim::QuillboxConfig c;  // revision 5: no one-second pauses
      c.digitalInputs = {0x5, 0xA};
      return std::make_unique<vexa_sim::QuillboxModel>(c);
    }
    default: {
      vexa_sim::CurrentDeviceConfig c;
      c.productId = kProducts[(kind >> 2) & 7];
      c.ticksPerFrame = 1 + (kind >> 5);
      return std::make_unique<vexa_sim::CurrentDeviceModel>(c);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The plug-in logs every callback to standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  auto model = modelFor(in.front());
  auto now = vexa_sim::DeviceModel::TimePoint() + std::chrono::hours(1);
  int frames = 0;  // how many more frames the device may stream
  FuzzIO io(in);
  io.onSend = [&](const Bytes& b) {
    model->onHostBytes(b.data(), b.size(), now);
    const Bytes out = model->takeOutput();
    if (!out.empty()) io.reply(out);
  };
  io.onIdle = [&] {
    const auto wake = model->nextWake();
    if (!wake || frames <= 0) return;
    --frames;
    now = std::max(now, *wake);
    model->onWake(now);
    const Bytes out = model->takeOutput();
    if (!out.empty()) io.reply(out);
  };
  io.beforeRecv = [&] {
    // InterruptAcquisition from the host's other thread, while the loop waits.
    if (vexaDev != nullptr && vexaDev->impl()->state == Vexa::kReceiving && (in.back() & 0x1F) == 0x1F) {
      vexaDev->interrupt(nullptr);
    }
  };
  comBackend = &io;
  SetOnRawDataHandler(onFrame);
  SetOnExceptionRaisedHandler(onException);
  SetNewDeviceFoundHandler(onDevice);
  SetOnEventDetectedHandlers(onDisconnect, onDigIn);
  VexaDevUnity("COMfuzz");

  for (int step = 0; step < 24 && in.left() > 0; ++step) {
    const uint8_t op = in.front();
    const int freq = (op & 0x80) ? in.front32() : 1000;
    switch (op % 16) {
      case 0: VexaDevUnity((op & 0x10) ? nullptr : "COMfuzz"); break;
      case 1: DisconnectVexaDevUnity(); break;
      case 2: {
        const Bytes mask = in.frontBytes(in.front() % 12);
        std::string channels;
        for (uint8_t b : mask) channels += (b & 1) ? '1' : static_cast<char>(b >> 1);
        StartAcquisition(freq, channels.c_str(), in.front());
        break;
      }
      case 3: StartAcquisitionByNbr(freq, in.front32(), in.front()); break;
      case 4: {
        std::vector<VexaSource> sources(in.front() % 12);
        for (VexaSource& s : sources)
          s = VexaSource{in.front(), 1 + in.front() % 4, (op & 0x40) ? 24 : 16, in.front16()};
        StartAcquisitionBySources(freq, sources.empty() ? nullptr : sources.data(), static_cast<int>(sources.size()));
        break;
      }
      case 5: StartAcquisitionStrandelo(freq, 0, in.front(), in.front32()); break;
      case 6:
      case 7:
        frames = in.front() % 32;
        StartLoop();
        break;
      case 8: InterruptAcquisition(); break;
      case 9: StopAcquisition(); break;
      case 10: GetBattery(), GetProductId(), GetNbrChannels(), GetCommunicationFlag(); break;
      case 11: (void)std::strlen(GetDeviceType()); break;
      case 12: {
        const int values[2] = {in.front(), in.front()};
        SetParameter(in.front(), in.front() % 5, (op & 0x10) ? nullptr : values, in.front() % 3);
        break;
      }
      // A search of no link the plug-in knows: refused without scanning.
      case 13: GetDetectableDevices((op & 0x10) ? "ble2" : "XYZ"); break;
      case 14: io.reply(in.frontBytes(in.front() % 24)); break;  // the device garbles its output
      default:
        SetOnRawDataHandler((op & 0x10) ? nullptr : onFrame);
        SetOnEventDetectedHandlers((op & 0x20) ? nullptr : onDisconnect, (op & 0x40) ? nullptr : onDigIn);
        break;
    }
  }
  DisconnectVexaDevUnity();
  comBackend = nullptr;
  return 0;
}
