// The exports against a simulated device on a pseudo-terminal.
#include "host.h"
#include "signals/signals_x.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"

namespace vexa_unity_test {
namespace {

using vexa_sim::CurrentDeviceModel;
using Commands = std::vector<std::vector<uint8_t>>;

class Exports : public HostTest {
 protected:
  void connect(vexa_sim::CurrentDeviceConfig config = {}) {
    sim = std::make_unique<vexa_sim::PtySimulator>(std::make_unique<CurrentDeviceModel>(config));
    VexaDevUnity(sim->comPath().c_str());
    ASSERT_NE(vexaDev, nullptr) << (reports().empty() ? "" : reports()[0].message);
  }
  // Commands the device received after the handshake.
  Commands commands() {
    return sim->engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) {
      Commands all = m.receivedCommands();
      Commands after;
      for (const auto& c : all) {
        if (c != std::vector<uint8_t>{0x03, 0x00} && c != std::vector<uint8_t>{0x03, 0x03}) after.push_back(c);
      }
      return after;
    });
  }
  // The source entries (port byte, divisor, mask) of the last start command.
  std::vector<std::vector<uint8_t>> lastStartSources() {
    Commands all = commands();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
      const auto& c = *it;
      if (c.size() > 21 && c[0] == 0x07) {
        std::vector<std::vector<uint8_t>> entries;
        for (size_t i = 0; i < c[20]; ++i) entries.emplace_back(c.begin() + 21 + 8 * i, c.begin() + 25 + 8 * i);
        return entries;
      }
    }
    return {};
  }
  std::vector<int> channelPorts() { return std::vector<int>(vexaDev->channelPorts.begin(), vexaDev->channelPorts.end()); }

  std::unique_ptr<vexa_sim::PtySimulator> sim;
};

TEST_F(Exports, ConnectFailuresAreReportedAndLeaveNoDevice) {
  std::string log = logOf([] { VexaDevUnity("COM/dev/nonexistent"); });
  EXPECT_EQ(log,
            "VEXA Notification Exception at line number 384 in file vexa_unity_interface.cpp (v20220517): The "
            "communication port does not exist or it is already being used.\n");
  VexaDevUnity(nullptr);
  ASSERT_EQ(reports().size(), 2u);
  EXPECT_EQ(reports()[0].code, 1);
  EXPECT_EQ(reports()[1].code, 2);
  EXPECT_EQ(vexaDev, nullptr);
}

TEST_F(Exports, ConnectedDeviceQueries) {
  vexa_sim::CurrentDeviceConfig config;
  config.description = "quillbox_rev";
  connect(config);
  EXPECT_FALSE(GetCommunicationFlag());
  EXPECT_EQ(vexaDev->impl()->loopTimeout, 2000);
  EXPECT_EQ(GetProductId(), 513);
  std::string log = logOf([] { EXPECT_STREQ(GetDeviceType(), "Quillbox"); });
  EXPECT_EQ(log, "quillbox_rev\n");
  EXPECT_EQ(GetBattery(), 96);
  EXPECT_EQ(GetNbrChannels(), 0);
  EXPECT_TRUE(reports().empty());
}

// The values of the unwrapped queries without a device (the reports of the
// others are in the misuse matrix).
TEST_F(Exports, WithoutADevice) {
  EXPECT_EQ(GetBattery(), -1);
  EXPECT_EQ(GetNbrChannels(), 0);
  EXPECT_FALSE(GetCommunicationFlag());
  logOf([] { StartLoop(); });
  ASSERT_EQ(reports().size(), 1u);
  EXPECT_EQ(reports()[0].message, "The object instance is invalid.");
}

TEST_F(Exports, ChannelListsOfTheStarts) {
  vexa_sim::CurrentDeviceConfig config;
  config.productId = 517;  // takes masks above 8 bits
  connect(config);
  StartAcquisition(1000, "1011", 16);
  EXPECT_EQ(channelPorts(), (std::vector<int>{1, 3, 4}));
  EXPECT_TRUE(GetCommunicationFlag());
  EXPECT_EQ(GetNbrChannels(), 3);
  StopAcquisition();
  EXPECT_EQ(GetNbrChannels(), 0);

  StartAcquisitionByNbr(1000, 5, 16);
  EXPECT_EQ(channelPorts(), (std::vector<int>{1, 3}));
  EXPECT_EQ(lastStartSources().size(), 2u);
  StopAcquisition();

  // Bits above the low 16 of a mask count for nothing.
  const VexaSource sources[] = {{2, 1, 16, 0x0103}, {3, 1, 16, 0x30001}};
  StartAcquisitionBySources(1000, sources, 2);
  EXPECT_EQ(channelPorts(), (std::vector<int>{2, 2, 2, 3}));
  StopAcquisition();

  StartAcquisitionStrandelo(1000, 77, 16, 300);
  EXPECT_EQ(channelPorts(), std::vector<int>{1});
  StopAcquisition();
  EXPECT_TRUE(reports().empty()) << reports()[0].message;
}

TEST_F(Exports, StartCommandsOfTheStarts) {
  connect();
  StartAcquisitionStrandelo(1000, 77, 16, 300);
  auto cmd = commands().back();
  EXPECT_EQ(std::vector<uint8_t>(cmd.begin() + 21, cmd.begin() + 25), (std::vector<uint8_t>{0x81, 0x03, 0x00, 0x01}));
  StopAcquisition();

  const VexaSource sources[] = {{1, 1, 8, 1}, {9, 1, 16, 15}};
  StartAcquisitionBySources(500, sources, 2);
  Commands after = commands();
  ASSERT_GE(after.size(), 2u);
  EXPECT_EQ(after[after.size() - 2], (std::vector<uint8_t>{0x01, 0x05, 0x09, 0x03, 0x50, 0x28}));
  EXPECT_EQ(after.back()[0], 0x07);
  StopAcquisition();

  const VexaSource seven[] = {{9, 1, 16, 7}};
  size_t before = commands().size();
  StartAcquisitionBySources(500, seven, 1);
  EXPECT_EQ(commands().size(), before + 1);  // the start only
}

TEST_F(Exports, FailedStartsKeepTheFlagRaised) {
  connect();
  logOf([] {
    StartAcquisitionStrandelo(1000, 0, 16, 0);
    StartAcquisition(0, "1", 16);
  });
  ASSERT_EQ(reports().size(), 2u);
  EXPECT_EQ(reports()[0].code, 18);
  EXPECT_EQ(reports()[1].code, 14);
  EXPECT_TRUE(GetCommunicationFlag());
  EXPECT_TRUE(channelPorts().empty());

  // A start refused while another runs leaves that one's channel list.
  StartAcquisition(1000, "01", 16);
  const VexaSource three[] = {{3, 1, 16, 0x0B}};
  logOf([&] { StartAcquisitionBySources(1000, three, 1); });
  EXPECT_EQ(reports().back().code, 10);
  EXPECT_EQ(channelPorts(), std::vector<int>{2});
}

TEST_F(Exports, SetParameterBytes) {
  connect();
  const int gain[] = {80, 40};
  const int one[] = {0x2A5B};
  SetParameter(9, 3, gain, 2);
  SetParameter(1, 1, one, 1);
  std::string log = logOf([&] {
    SetParameter(1, 4, one, 1);
    SetParameter(1, 2, gain, 2);
  });
  Commands after = commands();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0], (std::vector<uint8_t>{0x01, 0x05, 0x09, 0x03, 0x50, 0x28}));
  EXPECT_EQ(after[1], (std::vector<uint8_t>{0x01, 0x05, 0x01, 0x01, 0x5B}));
  const std::string line =
      "C++ Exception at line number 940 in file vexa_unity_interface.cpp (v20220517): The type of input provided "
      "is not currently supported.\n";
  EXPECT_EQ(log, line + line);
  ASSERT_EQ(reports().size(), 2u);
  EXPECT_EQ(reports()[0].code, 40);
  EXPECT_EQ(reports()[0].message, line);
}

TEST_F(Exports, ConnectingAgainReleasesTheEarlierDevice) {
  connect();
  auto first = std::move(sim);
  connect();
  // The first port is free again: the earlier device was closed.
  EXPECT_NO_THROW(Vexa::SignalsDev probe(first->comPath()));
  // Connecting to the port that is in use fails and keeps the current one.
  Vexa::BaseDevUnity* current = vexaDev;
  logOf([&] { VexaDevUnity(sim->comPath().c_str()); });
  EXPECT_EQ(vexaDev, current);
  EXPECT_EQ(reports().back().code, 1);
}

TEST_F(Exports, ForwardersPassArgumentsThrough) {
  OnExceptionRaised(7, "text");
  OnNewDeviceFound("COM9");
  OnDisconnectEventDetected(4);
  // The fourth argument arrives as a whole register: only its low byte counts.
  auto digIn = reinterpret_cast<void (*)(int, int, int, int)>(reinterpret_cast<void (*)()>(&OnDigInEventDetected));
  digIn(1, 2, 3, 0x0101);
  digIn(1, 2, 3, 0x0100);
  const int samples[] = {10, 11, 12};
  OnDataReceived(5, samples, {1, 1, 2});
  EXPECT_EQ(reports().at(0).code, 7);
  EXPECT_EQ(seen().devices, std::vector<std::string>{"COM9"});
  EXPECT_EQ(seen().disconnects, std::vector<int>{4});
  EXPECT_EQ(seen().digIns, (std::vector<DigIn>{{1, 2, 3, true}, {1, 2, 3, false}}));
  ASSERT_EQ(seen().frames.size(), 1u);
  EXPECT_EQ(seen().frames[0], (std::pair<int, std::vector<int>>{5, {10, 11, 12}}));
}

}  // namespace
}  // namespace vexa_unity_test
