// The version lines of the two legacy families, as the handshake parses
// them into properties and the family code.
#include <gtest/gtest.h>

#include "support/scripted_device.h"

namespace vexa_test {
namespace {

TEST(VersionLines, LegacyFamilies) {
  struct Row {
    const char* line;
    int productId;  // 0: refused
    int fwVersion;  // -1: none stored
  } rows[] = {
      {"Cadrium 2 v.3.1", 513, 0x0301},
      {"Cadrium EMG v.1.5", 257, 0x0105},
      {"Cadrium_2 v.2.0", 513, 0x0200},  // index 7 is not examined
      {"Cadrium 2 v.3", 513, 0x0300},    // ends before the minor number
      {"Cadrium ECG v.1.5", 0, 0},
      {"Cadrium 2 v.0.9", 0, 0},
      {"Cadrium 2 v.256.1", 0, 0},  // low 8 bits of the major are 0
      {"Cadrium 2 3.1", 0, 0},
      {"Cadrium", 0, 0},
      {"Cadrium ", 0, 0},
      {"Cadrium EM", 0, 0},
      {"cadrium 2 v.3.1", 0, 0},
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
    const bool board = row.line[0] != 'C' && row.line[0] != 'c';
    auto parse = [&] { board ? x.parseVersionBit(row.line) : x.parseVersionOld(row.line); };
    x.properties.clear();
    if (row.productId == 0) {
      EXPECT_THROW(parse(), Vexa::Notification::ContactingDevice);
      continue;
    }
    parse();
    EXPECT_EQ(x.properties["description"].asString(), board ? "Quillbox" : "Cadrium");
    EXPECT_EQ(x.properties["productID"].asInt(), row.productId);
    EXPECT_EQ(x.properties.count("fwVersion"), row.fwVersion < 0 ? 0u : 1u);
    if (row.fwVersion >= 0) {
      EXPECT_EQ(x.properties["fwVersion"].asInt(), row.fwVersion);
    }
    EXPECT_EQ(static_cast<int>(x.family), board ? 3 : 0);
  }
}

}  // namespace
}  // namespace vexa_test
