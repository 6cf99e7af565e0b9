#include <gtest/gtest.h>

#include "support/scripted_device.h"

namespace vexa_test {
namespace {

TEST(VersionLines, OldestFamily) {
  struct Row {
    const char* line;
    int productId;  // 0: refused
    int fwVersion;
  } rows[] = {
      {"Cadrium 2 v.3.1", 513, 0x0301},
      {"Cadrium EMG v.1.5", 257, 0x0105},
      {"Cadrium_2 v.2.0", 513, 0x0200},  // index 7 is not examined
      {"Cadrium ECG v.1.5", 0, 0},
      {"Cadrium 2 v.0.9", 0, 0},
      {"Cadrium 2 v.256.1", 0, 0},  // low 8 bits of the major are 0
      {"Cadrium 2 3.1", 0, 0},
      {"Cadrium", 0, 0},
      {"Cadrium ", 0, 0},
      {"Cadrium EM", 0, 0},
      {"cadrium 2 v.3.1", 0, 0},
      {"Cadrium 2 v.3", 513, 0x0300},  // ends before the minor number
  };
  auto dev = connectScripted({}, nullptr);
  auto& x = *dev->impl();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    x.properties.clear();
    if (row.productId == 0) {
      EXPECT_THROW(x.parseVersionOld(row.line), Vexa::Notification::ContactingDevice);
      continue;
    }
    x.parseVersionOld(row.line);
    EXPECT_EQ(x.properties["description"].asString(), "Cadrium");
    EXPECT_EQ(x.properties["productID"].asInt(), row.productId);
    EXPECT_EQ(x.properties["fwVersion"].asInt(), row.fwVersion);
    EXPECT_EQ(static_cast<int>(x.family), 0);
  }
}

}  // namespace
}  // namespace vexa_test
