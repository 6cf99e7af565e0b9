#include <gtest/gtest.h>

#include "support/scripted_device.h"

namespace vexa_test {
namespace {

using Vexa::PropertyValue;

// The description and version records of current devices, then the
// version lines of the two legacy families, into properties and the family
// code.
TEST(Handshake, CurrentGenerationProperties) {
  struct Row {
    uint16_t productId, fwVersion, hwVersion;
    Bytes uid;
    std::vector<Bytes> commandsAfterVersion;
    const char* properties;  // besides path and description
    int family;
  } rows[] = {
      {0x0201, 0x0304, 0xFFFF, {0x00, 0x12, 0xAB, 0xFF}, {{3, 3}}, "fwVersion=772 productID=513 uid='0012ABFF'", 1},
      {0x0201, 0x0303, 0x0100, {1}, {}, "fwVersion=771 hwVersion=256 productID=513", 1},  // no uid before 3.4
      {0x021E, 0x0100, 0x0100, {0xFF, 0xFF, 0x00, 0xFF}, {{3, 3}}, "fwVersion=256 hwVersion=256 productID=542", 1},
      {0x021E, 0x0100, 0x0100, {}, {{3, 3}}, "fwVersion=256 hwVersion=256 productID=542", 1},
      {0x0502, 0x0400, 0x0001, {}, {{3, 4}}, "color=4 fwVersion=1024 hwVersion=1 productID=1282", 4},
      {0x0502, 0x03FF, 0x0001, {}, {}, "fwVersion=1023 hwVersion=1 productID=1282", 4},  // no colour before 4.0
      {0x0803, 0x0100, 0x0001, {}, {{3, 4}}, "color=4 fwVersion=256 hwVersion=1 productID=2051", 4},
      {0x0801, 0x0100, 0x0001, {}, {{3, 4}}, "color=4 fwVersion=256 hwVersion=1 productID=2049", 4},
      {0x020A, 0x0100, 0x0001, {}, {}, "fwVersion=256 hwVersion=1 productID=522", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.properties);
    DeviceScript script;
    script.productId = row.productId;
    script.fwVersion = row.fwVersion;
    script.hwVersion = row.hwVersion;
    script.uid = row.uid;
    auto dev = connectScripted(script, nullptr, "COM/dev/pts/9");
    Vexa::Properties props = dev->getProperties();
    EXPECT_EQ(describe({{"description", props["description"]}, {"path", props["path"]}}),
              "description='tessarimodular' path='COM/dev/pts/9'");
    props.erase("description");
    props.erase("path");
    EXPECT_EQ(describe(props), row.properties);
    EXPECT_EQ(static_cast<int>(dev->impl()->family), row.family);
    std::vector<Bytes> expected = {{0x03, 0x00}};
    expected.insert(expected.end(), row.commandsAfterVersion.begin(), row.commandsAfterVersion.end());
    EXPECT_EQ(*script.commands, expected);
  }
}

TEST(Handshake, MalformedAnswersFail) {
  struct Row {
    const char* name;
    std::function<void(const Bytes&, FakeIO&)> play;
  } rows[] = {
      {"silent", [](const Bytes&, FakeIO&) {}},
      {"3-byte description",
       [](const Bytes& c, FakeIO& io) {
         if (c == Bytes{'V'}) io.feed(reply({'a', 'b', 'c'}));
       }},
      {"version reply of 5 bytes",
       [](const Bytes& c, FakeIO& io) {
         if (c == Bytes{'V'}) io.feed(reply({'a', 'b', 'c', 'd'}));
         if (c.size() > 2) io.feed(reply({1, 1, 1, 0, 0}));
       }},
      {"2-byte colour reply",
       [](const Bytes& c, FakeIO& io) {
         if (c == Bytes{'V'}) io.feed(reply({'a', 'b', 'c', 'd'}));
         if (c.size() > 3 && c[3] == 0x00) io.feed(reply({0x08, 0x01, 1, 0, 0, 1}));
         if (c.size() > 3 && c[3] == 0x04) io.feed(reply({1, 2}));
       }},
      {"event instead of the description",
       [](const Bytes& c, FakeIO& io) {
         // The zero byte's message fails its CRC; what follows is no reply.
         if (c == Bytes{'V'}) io.feed(Bytes{0x00, 0x00, 0x00} + message(13, {1}));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto io = std::make_unique<FakeIO>();
    io->onSend = row.play;
    EXPECT_THROW(RecordingDev("COM1", std::move(io)), Vexa::Notification::ContactingDevice);
  }
}

TEST(Handshake, OverlongVersionLineStaysInItsBuffer) {
  auto io = std::make_unique<FakeIO>();
  std::string line = "Quillbox_v5.1" + std::string(100, 'x') + "\n";
  io->onSend = [line](const Bytes& c, FakeIO& self) {
    if (c == Bytes{0x07}) self.feed(text(line));
  };
  FakeIO* raw = io.get();
  RecordingDev dev("COM1", std::move(io));
  EXPECT_EQ(dev.getProperties()["fwVersion"].asInt(), 0x0501);
  // The first byte and 29 more were taken; the rest is left for later.
  EXPECT_EQ(raw->inbox.size(), line.size() - 30);
}

TEST(Handshake, PropertiesKeepTheFirstValue) {
  auto dev = connectScripted({}, nullptr);
  auto& x = *dev->impl();
  x.insertProperty("description", PropertyValue(std::string("other")));
  EXPECT_EQ(dev->getProperties()["description"].asString(), "tessarimodular");
  EXPECT_EQ(x.intProperty("missing"), 0);
  EXPECT_EQ(x.properties["missing"].kind(), PropertyValue::kEmpty);
}

TEST(Handshake, ProductsThatCannotAcquireAreRefused) {
  for (uint16_t productId : {0x0001, 0x0101, 0x0201, 0x0301, 0x0401, 0x0502, 0x0601, 0x0701, 0x0801, 0x0901}) {
    DeviceScript script;
    script.productId = productId;
    const bool acquires = productId != 0x0001 && productId != 0x0301 && productId != 0x0401 && productId != 0x0901;
    EXPECT_EQ(thrownType([&script] { connectScripted(script, nullptr); }),
              acquires ? "nothing" : typeName<Vexa::Error::NotSupported>())
        << productId;
  }
}

// The version lines of the two legacy families.
TEST(VersionLines, LegacyFamilies) {
  struct Row {
    const char* line;
    int productId;
    int fwVersion;  // -1: none stored
  } accepted[] = {
      {"Cadrium 2 v.3.1", 513, 0x0301}, {"Cadrium EMG v.1.5", 257, 0x0105},
      {"Cadrium_2 v.2.0", 513, 0x0200},  // index 7 is not examined
      {"Cadrium 2 v.3", 513, 0x0300},    // ends before the minor number
      {"Quillbox_v5.1", 1538, 0x0501},  {"Quillbox_v4.2", 1537, 0x0402},
      {"Quillbox_V5.0", 1538, 0x0500},  {"Quillbox", 1537, -1},
      {"Quillbox_x", 1537, -1},
  };
  const char* refused[] = {
      "Cadrium ECG v.1.5", "Cadrium 2 v.0.9", "Cadrium 2 3.1",  "Cadrium",         "Cadrium ",        "Cadrium EM",
      "cadrium 2 v.3.1",   "Quillbox_v256.1", "Quillbox_v5.256", "Quillbox_v5",     "Quillbox_v",      "Quillbox_v-1.2",
      "Quillbo",           "quillbox_v5.1",
      "Cadrium 2 v.256.1",  // low 8 bits of the major are 0
  };
  auto dev = connectScripted({}, nullptr);
  auto& x = *dev->impl();
  auto parse = [&x](const char* line) {
    x.properties.clear();
    (line[0] == 'C' || line[0] == 'c') ? x.parseVersionOld(line) : x.parseVersionBit(line);
  };
  for (const Row& row : accepted) {
    parse(row.line);
    const bool board = row.line[0] == 'Q';
    EXPECT_EQ(describe(x.properties), std::string("description='") + (board ? "Quillbox' " : "Cadrium' ") +
                                          (row.fwVersion < 0 ? "" : "fwVersion=" + std::to_string(row.fwVersion) + " ") +
                                          "productID=" + std::to_string(row.productId));
    EXPECT_EQ(static_cast<int>(x.family), board ? 3 : 0) << row.line;
  }
  for (const char* line : refused) EXPECT_THROW(parse(line), Vexa::Notification::ContactingDevice) << line;
}

}  // namespace
}  // namespace vexa_test
