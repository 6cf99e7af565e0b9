// The BGAPI reader of the BLE dongle link and its waits: responses, events
// and attribute values cut anywhere, through a whole connection and then
// reads and writes, or through the link's own reads and waits. Waits are
// either unlimited (they end when the link breaks after the input) or
// zero (they end after one read).
#include "fake_com.h"
#include "fuzz_io.h"
#include "io/ble/ble.h"
#include "io/ble/dongle_ports.h"

using namespace vexa_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Vexa::DonglePortLister kPorts = [] { return std::vector<std::string>{"COMfuzz"}; };
  Vexa::setDonglePortLister(kPorts);
  FuzzInput in(data, size);
  const uint8_t mode = in.front();
  Vexa::BleTimings t;
  t.restartPauseMs = 0;
  const int wait = (mode & 2) ? 60000 : 0;
  t.responseMs = t.procedureMs = t.connectMs = t.searchReplyMs = wait;
  FuzzIO io(in);
  io.live = true;
  io.dryReads = 2;
  comBackend = &io;
  guarded([&] {
    if (mode & 1) {
      Vexa::BLE ble("BLE00:07:80:12:34:56", t);
      for (int i = 0; i < 16 && in.left() > 0; ++i) {
        uint8_t buf[32] = {};
        const uint8_t op = in.back();
        ble.setRcvTimeout(op & 0x80 ? 0 : 100);
        if (op & 1) ble.send(buf, 1 + op % 30);
        if (!(op & 1) && ble.recv(buf, 1 + op % 32) > 1 + op % 32) std::abort();
      }
      return;
    }
    Vexa::COM_BLE link(t);
    link.setRcvTimeout(100);
    for (int i = 0; i < 16 && in.left() > 0; ++i) {
      uint8_t buf[64] = {};
      const uint8_t op = in.back();
      const int len = op >> 3;
      switch (op & 7) {
        case 0: link.wait_response(); break;
        case 1: link.wait_connected(); break;
        case 2:
        case 3:
          link.command(Vexa::bgapi::endProcedure());
          link.wait_prccomplete(op & 1);
          break;
        case 4:
          if (link.receiveValue(buf, len) > len) std::abort();
          break;
        case 5: link.awaitResponse(len, wait); break;
        default: link.read_ble(buf, len); break;
      }
    }
  });
  comBackend = nullptr;
  return 0;
}
