// Connection paths of Bluetooth classic devices.
#include <gtest/gtest.h>

#include "io/bth/bth_address.h"

namespace Vexa {
namespace bth {
namespace {

TEST(BthAddress, AcceptedForms) {
  const uint64_t expected = 0x0A1B2C3D4E5FULL;
  for (const char* path : {"BTH0A:1B:2C:3D:4E:5F", "bth0a:1b:2c:3d:4e:5f", "Bth0A:1b:2C:3d:4E:5f",
                           "0A:1B:2C:3D:4E:5F", "BTH(0A:1B:2C:3D:4E:5F)", "(0a:1b:2c:3d:4e:5f)"}) {
    EXPECT_EQ(parseAddress(path), expected) << path;
  }
  EXPECT_EQ(parseAddress("BTHFF:FF:FF:FF:FF:FF"), 0xFFFFFFFFFFFFULL);
}

TEST(BthAddress, RejectedForms) {
  for (const char* path : {"", "BTH", "BTH0A:1B:2C:3D:4E", "BTH0A:1B:2C:3D:4E:5F:", "BTH0A-1B-2C-3D-4E-5F",
                           "BTH0A:1B:2C:3D:4E:5G", "BTH 0A:1B:2C:3D:4E:5F", "BTH0A:1B:2C:3D:4E:5F ",
                           "BTH0A:1B:2C:3D:4E5F:", "BTH(0A:1B:2C:3D:4E:5F", "BTHBTH0A:1B:2C:3D:4E:5F",
                           "0A1B2C3D4E5F", "BTH0A:1B:2C:3D:4E:+5"}) {
    EXPECT_EQ(parseAddress(path), std::nullopt) << path;
  }
  EXPECT_EQ(parseAddress(std::string("BTH0A:1B:2C:3D:4E:5F\0", 21)), std::nullopt);
}

TEST(BthAddress, FormatsMostSignificantFirstAndParsesBack) {
  EXPECT_EQ(formatPath(0x0A1B2C3D4E5FULL), "BTH0A:1B:2C:3D:4E:5F");
  EXPECT_EQ(formatPath(0x000000000001ULL), "BTH00:00:00:00:00:01");
  for (uint64_t address : {0ULL, 1ULL, 0xABCDEF012345ULL, 0xFFFFFFFFFFFFULL}) {
    EXPECT_EQ(parseAddress(formatPath(address)), address);
  }
}

}  // namespace
}  // namespace bth
}  // namespace Vexa
