// Finding the dongle: friendly names, the sysfs identity of USB ttys, and
// the probing of candidate ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ble_test_support.h"
#include "io/ble/com_ble.h"
#include "vexa/exceptions.h"
#include "vexa_sim/pty_link.h"

namespace vexa_test {
namespace {

namespace fs = std::filesystem;

TEST(FriendlyName, SplitsDescriptionAndPort) {
  struct Case {
    const char* name;
    bool split;
    const char* description;
    const char* port;
  } cases[] = {
      {"Bluegiga Bluetooth Low Energy (COM7)", true, "Bluegiga Bluetooth Low Energy", "COM7"},
      {"  Bluegiga Bluetooth Low Energy  ( COM12 ) tail", true, "Bluegiga Bluetooth Low Energy", "COM12"},
      {"USB Serial Port (COM3", true, "USB Serial Port", "COM3"},
      {"(COM4)", true, "", "COM4"},
      {"Communications Port", false, "", ""},
  };
  for (const Case& c : cases) {
    std::optional<Vexa::PortFriendlyName> got = Vexa::splitFriendlyName(c.name);
    ASSERT_EQ(got.has_value(), c.split) << c.name;
    if (!got) continue;
    EXPECT_EQ(got->description, c.description);
    EXPECT_EQ(got->port, c.port);
  }
}

// A sysfs-like tree: class/tty/<name>/device links to a device directory
// whose USB device holds idVendor and idProduct.
class FakeSysfs {
 public:
  FakeSysfs() {
    char pattern[] = "/tmp/vexa-sysfs-XXXXXX";
    root_ = mkdtemp(pattern);
    fs::create_directories(root_ / "class/tty");
  }
  ~FakeSysfs() { fs::remove_all(root_); }
  // usbLevelsUp: how far above the tty's device the USB device sits.
  void addTty(const std::string& name, const char* vendor, const char* product, int usbLevelsUp) {
    fs::path usb = root_ / "devices" / name / "usb";
    fs::path device = usb;
    for (int i = 0; i < usbLevelsUp; ++i) device /= "level" + std::to_string(i);
    fs::create_directories(device);
    if (vendor) std::ofstream(usb / "idVendor") << vendor << "\n";
    if (product) std::ofstream(usb / "idProduct") << product << "\n";
    fs::create_directories(root_ / "class/tty" / name);
    fs::create_directory_symlink(device, root_ / "class/tty" / name / "device");
  }
  void addVirtualTty(const std::string& name) { fs::create_directories(root_ / "class/tty" / name); }
  std::string classTty() const { return (root_ / "class/tty").string(); }

 private:
  fs::path root_;
};

TEST(UsbTtyPorts, KeepsTheDonglesIdentityInNameOrder) {
  FakeSysfs sys;
  sys.addTty("ttyACM1", "2458", "0001", 1);
  sys.addTty("ttyACM0", "2458", "0001", 1);
  sys.addTty("ttyUSB1", "2458", "0001", 2);  // behind a USB-serial port
  sys.addTty("ttyUSB0", "0403", "6001", 2);  // another vendor's adapter
  sys.addTty("ttyACM2", "2458", "0002", 1);  // the vendor's other product
  sys.addTty("ttyACM3", "2458", nullptr, 1);
  sys.addVirtualTty("tty0");
  EXPECT_EQ(Vexa::usbTtyPorts(sys.classTty(), 0x2458, 0x0001),
            (std::vector<std::string>{"COM/dev/ttyACM0", "COM/dev/ttyACM1", "COM/dev/ttyUSB1"}));
  EXPECT_TRUE(Vexa::usbTtyPorts("/nonexistent/class/tty", 0x2458, 0x0001).empty());
}

TEST(FindDongle, TakesTheFirstPortThatOpensAndTakesTheReset) {
  vexa_sim::PtyLink dongle;
  DonglePorts ports({"COM/dev/vexa-no-such-port", dongle.comPath()});
  EXPECT_EQ(Vexa::COM_BLE::find_ble_dongle(0), dongle.comPath());
  uint8_t got[8];
  ASSERT_EQ(dongle.read(got, sizeof got, std::chrono::seconds(5)), 5);
  EXPECT_EQ(Bytes(got, got + 5), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00}));
}

TEST(FindDongle, NoCandidateMeansNoAdapter) {
  vexa_sim::PtyLink busy;
  Vexa::COM holder(busy.comPath());  // held exclusively
  for (Vexa::DonglePortLister lister : std::vector<Vexa::DonglePortLister>{
           [] { return std::vector<std::string>{}; },
           [&busy] { return std::vector<std::string>{busy.comPath()}; },
           []() -> std::vector<std::string> { throw std::runtime_error("no list"); },
       }) {
    DonglePorts ports(lister);
    EXPECT_THROW(Vexa::COM_BLE::find_ble_dongle(0), Vexa::Notification::AdapterNotFound);
    EXPECT_THROW(Vexa::COM_BLE link(fastTimings()), Vexa::Notification::AdapterNotFound);
  }
}

}  // namespace
}  // namespace vexa_test
