// Links claimed while open: the registry, the spellings that name one link,
// and the serial transport refusing a port this process has open already.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#ifndef _WIN32
#include <unistd.h>

#include "io/com.h"
#include "vexa_sim/pty_link.h"
#endif
#include "io/link_claim.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

TEST(LinkRegistry, OneHolderPerKeyUntilItsClaimIsGone) {
  LinkRegistry registry;
  LinkClaim first = registry.claim("port A");
  EXPECT_THROW(registry.claim("port A"), Notification::LinkInUse);
  LinkClaim moved = std::move(first);  // moves with its owner, released once
  moved = registry.claim("port B");    // gives up A
  EXPECT_FALSE(first.held());
  EXPECT_TRUE(registry.tryClaim("port A").held());
  EXPECT_FALSE(registry.tryClaim("port B").held());
  moved = LinkClaim();
  EXPECT_FALSE(registry.held("port B"));
}

TEST(LinkKeys, SpellingsOfOneLinkMeetAndOthersDoNot) {
  using KeyOf = std::function<std::string(const std::string&)>;
  const KeyOf serial = serialLinkKey, bluetooth = bluetoothLinkKey, ble = bleLinkKey, usb = usbLinkKey;
  const struct {
    const KeyOf& keyOf;
    std::string a, b;
    bool same;
  } cases[] = {
#ifdef _WIN32
      {serial, "COM7", "com7", true},
      {serial, "\\\\.\\cOm7", "COM7", true},
      {serial, "COM7", "COM17", false},
#else
      {serial, "COM/dev/ttyS0", "COM1", true},
      {serial, "COM/dev/../dev/null", "COM/dev/null", true},
      {serial, "COM/dev/ttyS1", "COM/dev/ttyS10", false},
#endif
      {bluetooth, "BTH0A:1B:2C:3D:4E:5F", "BTH5F:4E:3D:2C:1B:0A", false},
      {ble, "ble0:7:80:4C:1E:1", "BLE00:07:80:4c:1e:01", true},
      {ble, "00:07:80:4C:1E:01", "BLE00:07:80:4C:1E:10", false},
      {usb, "USB1", "USB12", false},
      // Different kinds of link never meet, even at one address.
      {ble, "BLE00:07:80:4C:1E:01", "", false},
  };
  for (const auto& c : cases) {
    const std::string b = c.b.empty() ? bluetooth("BTH00:07:80:4C:1E:01") : c.keyOf(c.b);
    EXPECT_EQ(c.keyOf(c.a) == b, c.same) << c.a << " / " << c.b;
  }
}

#ifndef _WIN32
TEST(SerialClaim, APortOpenUnderAnySpellingIsRefusedUntilItCloses) {
  vexa_sim::PtyLink peer;
  char folder[] = "/tmp/vexa-link-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  // As /dev/serial/by-id/... names a tty.
  const std::string alias = std::string(folder) + "/usb-Vexa-if00";
  ASSERT_EQ(symlink(peer.devicePath().c_str(), alias.c_str()), 0);
  {
    COM open(peer.comPath());
    try {
      COM again("COM" + alias);
      ADD_FAILURE() << "opened twice";
    } catch (const Notification::LinkInUse& e) {
      EXPECT_EQ(e.detail(), "serial port " + peer.devicePath() + " is already open in this process");
    }
  }
  EXPECT_NO_THROW(COM("COM" + alias));
  // A port that fails after its claim gives the claim back.
  EXPECT_THROW(COM("COM/dev/null"), Notification::OpeningPort);
  EXPECT_FALSE(LinkRegistry::process().held(serialLinkKey("COM/dev/null")));
  unlink(alias.c_str());
  rmdir(folder);
}
#endif

}  // namespace
}  // namespace Vexa
