#include <gtest/gtest.h>

#include "support/scripted_device.h"

namespace vexa_test {
namespace {

TEST(VersionLines, CompactBoard) {
  struct Row {
    const char* line;
    int productId;  // 0: refused
    int fwVersion;  // -1: none stored
  } rows[] = {
      {"Quillbox_v5.1", 1538, 0x0501},
      {"Quillbox_v4.2", 1537, 0x0402},
      {"Quillbox_V5.0", 1538, 0x0500},
      {"Quillbox", 1537, -1},
      {"Quillbox_x", 1537, -1},
      {"Quillbox_v256.1", 0, 0},
      {"Quillbox_v5.256", 0, 0},
      {"Quillbox_v5", 0, 0},
      {"Quillbox_v", 0, 0},
      {"Quillbox_v-1.2", 0, 0},
      {"Quillbo", 0, 0},
      {"quillbox_v5.1", 0, 0},
  };
  auto dev = connectScripted({}, nullptr);
  auto& x = *dev->impl();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    x.properties.clear();
    if (row.productId == 0) {
      EXPECT_THROW(x.parseVersionBit(row.line), Vexa::Notification::ContactingDevice);
      continue;
    }
    x.parseVersionBit(row.line);
    EXPECT_EQ(x.properties["description"].asString(), "Quillbox");
    EXPECT_EQ(x.properties["productID"].asInt(), row.productId);
    EXPECT_EQ(x.properties.count("fwVersion"), row.fwVersion < 0 ? 0u : 1u);
    if (row.fwVersion >= 0) {
      EXPECT_EQ(x.properties["fwVersion"].asInt(), row.fwVersion);
    }
    EXPECT_EQ(static_cast<int>(x.family), 3);
  }
}

}  // namespace
}  // namespace vexa_test
