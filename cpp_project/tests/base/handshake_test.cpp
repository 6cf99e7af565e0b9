#include <gtest/gtest.h>

#include "support/scripted_device.h"

namespace vexa_test {
namespace {

using Vexa::PropertyValue;

TEST(Handshake, CurrentGenerationProperties) {
  struct Row {
    const char* name;
    uint16_t productId, fwVersion, hwVersion;
    Bytes uid;
    std::vector<Bytes> commandsAfterVersion;
    const char* uidText;  // null: no "uid"
    int color;            // -1: no "color"
    int family;
  } rows[] = {
      {"uid from fw 3.4", 0x0201, 0x0304, 0xFFFF, {0x00, 0x12, 0xAB, 0xFF}, {{0x03, 0x03}}, "0012ABFF", -1, 1},
      {"no uid before fw 3.4", 0x0201, 0x0303, 0x0100, {1}, {}, nullptr, -1, 1},
      {"uid all 00/FF", 0x021E, 0x0100, 0x0100, {0xFF, 0xFF, 0x00, 0xFF}, {{0x03, 0x03}}, nullptr, -1, 1},
      {"uid empty", 0x021E, 0x0100, 0x0100, {}, {{0x03, 0x03}}, nullptr, -1, 1},
      {"colour from fw 4.0", 0x0502, 0x0400, 0x0001, {}, {{0x03, 0x04}}, nullptr, 4, 4},
      {"no colour before fw 4.0", 0x0502, 0x03FF, 0x0001, {}, {}, nullptr, -1, 4},
      {"colour on 0x0803", 0x0803, 0x0100, 0x0001, {}, {{0x03, 0x04}}, nullptr, 4, 4},
      {"colour on 0x0801", 0x0801, 0x0100, 0x0001, {}, {{0x03, 0x04}}, nullptr, 4, 4},
      {"family 2", 0x020A, 0x0100, 0x0001, {}, {}, nullptr, -1, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DeviceScript script;
    script.productId = row.productId;
    script.fwVersion = row.fwVersion;
    script.hwVersion = row.hwVersion;
    script.uid = row.uid;
    std::vector<Bytes> commands;
    script.extra = [&commands](const Bytes& payload, FakeIO&) {
      commands.push_back(payload);
      return false;
    };
    FakeIO* io = nullptr;
    auto dev = connectScripted(script, &io, "COM/dev/pts/9");
    auto props = dev->getProperties();
    EXPECT_EQ(props["path"], PropertyValue(std::string("COM/dev/pts/9")));
    EXPECT_EQ(props["description"], PropertyValue(std::string("tessarimodular")));
    EXPECT_EQ(props["productID"], PropertyValue(row.productId));
    EXPECT_EQ(props["fwVersion"], PropertyValue(row.fwVersion));
    EXPECT_EQ(props.count("hwVersion"), row.hwVersion == 0xFFFF ? 0u : 1u);
    EXPECT_EQ(props.count("uid"), row.uidText ? 1u : 0u);
    if (row.uidText) {
      EXPECT_EQ(props["uid"].asString(), row.uidText);
    }
    EXPECT_EQ(props.count("color"), row.color >= 0 ? 1u : 0u);
    if (row.color >= 0) {
      EXPECT_EQ(props["color"], PropertyValue(row.color));
    }
    EXPECT_EQ(static_cast<int>(dev->impl()->family), row.family);
    std::vector<Bytes> expected = {{0x03, 0x00}};
    expected.insert(expected.end(), row.commandsAfterVersion.begin(), row.commandsAfterVersion.end());
    EXPECT_EQ(commands, expected);
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
    if (c == Bytes{0x07}) self.feed(Bytes(line.begin(), line.end()));
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
  for (uint16_t productId : {0x0001, 0x0301, 0x0401, 0x0901}) {
    DeviceScript script;
    script.productId = productId;
    EXPECT_THROW(connectScripted(script, nullptr), Vexa::Error::NotSupported) << productId;
  }
  for (uint16_t productId : {0x0101, 0x0201, 0x0502, 0x0601, 0x0701, 0x0801}) {
    DeviceScript script;
    script.productId = productId;
    EXPECT_NO_THROW(connectScripted(script, nullptr)) << productId;
  }
}

}  // namespace
}  // namespace vexa_test
