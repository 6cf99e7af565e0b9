// The search on every link, with each transport's search played by a script
// in place of the real one (this executable builds the search without the
// transports' own).
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "io/ble/ble.h"
#include "io/bth/bth.h"
#include "io/usb/usb.h"
#include "vexa/base_dev.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

using Found = std::vector<DevInfo>;

// What each link's search does, and the links searched so far.
struct Script {
  std::function<Found()> bth, ble, usb;
  std::vector<std::string> searched;
} script;

Found run(const char* link, const std::function<Found()>& search) {
  script.searched.push_back(link);
  return search();
}

}  // namespace

std::vector<DevInfo> BTH::findDevices() { return run("BTH", script.bth); }
std::vector<DevInfo> BLE::findDevices() { return run("BLE", script.ble); }
std::vector<DevInfo> USB::findDevices() { return run("USB", script.usb); }

namespace {

const Found kBth = {{"BTH00:11:22:33:44:55", "Vexa 7"}, {"BTH0A:1B:2C:3D:4E:5F", "quillbox"}};
const Found kBle = {{"BLE00:07:80:4C:1E:01", "FernlitVexa"}};
const Found kUsb = {{"USB0", "USB adapter"}, {"USB3", "USB adapter"}};

template <class E>
std::function<Found()> fails() {
  return [] () -> Found { VEXA_THROW(E); };
}
std::function<Found()> finds(const Found& found) {
  return [found] { return found; };
}

std::vector<std::string> paths(const Found& found) {
  std::vector<std::string> out;
  for (const DevInfo& d : found) out.push_back(d.path + "=" + d.description);
  return out;
}

// Every link in turn, skipping only a missing adapter or library; any other
// failure ends the search.
TEST(FindDevices, EveryLinkInTurn) {
  const auto adapter = fails<Notification::AdapterNotFound>();
  const auto library = [] () -> Found { VEXA_THROW(Error::MissingModule, "FTD2XX.dll"); };
  const std::vector<std::string> all = {"BTH", "BLE", "USB"};
  // what, each link's search, what is found (none: the search throws), the links searched
  const std::tuple<const char*, std::function<Found()>, std::function<Found()>, std::function<Found()>,
                   std::optional<Found>, std::vector<std::string>>
      rows[] = {
          {"all three", finds(kBth), finds(kBle), finds(kUsb), Found{kBth[0], kBth[1], kBle[0], kUsb[0], kUsb[1]}, all},
          {"no Bluetooth adapter", adapter, finds(kBle), finds(kUsb), Found{kBle[0], kUsb[0], kUsb[1]}, all},
          {"no dongle", finds(kBth), adapter, finds(kUsb), Found{kBth[0], kBth[1], kUsb[0], kUsb[1]}, all},
          {"no USB library", finds(kBth), finds(kBle), library, Found{kBth[0], kBth[1], kBle[0]}, all},
          {"nothing at all", adapter, adapter, library, Found{}, all},
          {"Bluetooth search fails", fails<Exception>(), finds(kBle), finds(kUsb), std::nullopt, {"BTH"}},
          {"dongle lost", finds(kBth), fails<Notification::ContactingDevice>(), finds(kUsb), std::nullopt,
           {"BTH", "BLE"}},
          {"USB without an adapter", finds(kBth), finds(kBle), adapter, std::nullopt, all},
      };
  for (const auto& [name, bth, ble, usb, expected, searched] : rows) {
    SCOPED_TRACE(name);
    script = {bth, ble, usb, {}};
    if (expected) {
      EXPECT_EQ(paths(BaseDev::findDevices("")), paths(*expected));
    } else {
      EXPECT_THROW(BaseDev::findDevices(""), Exception);
    }
    EXPECT_EQ(script.searched, searched);
  }
}

TEST(FindDevices, OneLinkByNameInAnyCase) {
  script = {finds(kBth), finds(kBle), fails<Notification::AdapterNotFound>(), {}};
  EXPECT_EQ(paths(BaseDev::findDevices("bth")), paths(kBth));
  EXPECT_EQ(paths(BaseDev::findDevices("bLe")), paths(kBle));
  EXPECT_THROW(BaseDev::findDevices("Usb"), Notification::AdapterNotFound);
  EXPECT_EQ(script.searched, (std::vector<std::string>{"BTH", "BLE", "USB"}));
  for (const char* domain : {"USB1", " BTH", "BL", "COM"}) {
    EXPECT_THROW(BaseDev::findDevices(domain), Error::InvalidParameter) << domain;
  }
  EXPECT_EQ(script.searched.size(), 3u);
}

}  // namespace
}  // namespace Vexa
