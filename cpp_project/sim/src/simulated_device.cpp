#include "vexa_sim/simulated_device.h"

#include <cctype>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "vexa/exceptions.h"
#include "vexa_sim/cli_options.h"
#include "vexa_sim/in_process_simulator.h"

namespace vexa_sim {
namespace {

constexpr char kPrefix[] = "SIM";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;

// The host's end of an in-process simulator, owning the simulator so that
// the device plays exactly as long as the transport exists.
class SimulatedDeviceIO : public Vexa::IO {
 public:
  explicit SimulatedDeviceIO(std::unique_ptr<InProcessSimulator> sim)
      : sim_(std::move(sim)), host_(sim_->takeHostIo()) {}

  void setRcvTimeout(int ms) override {
    host_->setRcvTimeout(ms);
    rcvTimeout = host_->rcvTimeout;
  }
  int doRecv(void* buf, int len) override {
    try {
      return host_->recv(buf, len);
    } catch (const Vexa::Exception&) {
      throwFailure();
      throw;
    }
  }
  void doSend(const void* buf, int len) override {
    try {
      host_->send(buf, len);
    } catch (const Vexa::Exception&) {
      throwFailure();
      throw;
    }
  }

 private:
  // A device that failed broke the link: the host learns why.
  void throwFailure() {
    if (std::string why = sim_->engine().failure(); !why.empty()) {
      VEXA_THROW_DETAIL(Vexa::Notification::ContactingDevice, "simulated device: " + why);
    }
  }

  std::unique_ptr<InProcessSimulator> sim_;
  // Declared last: closed first, which ends the simulator's thread.
  std::unique_ptr<Vexa::IO> host_;
};

constexpr char kTraceForm[] = "trace:";

// The vexa-sim options that the text after "SIM:" stands for.
std::vector<std::string> optionsOf(const std::string& path) {
  // "SIM:trace:FILE": all the rest is the file, colons and blanks included.
  const std::string rest = path.substr(kPrefixLength + 1);
  if (rest.rfind(kTraceForm, 0) == 0) return {"--play-trace", rest.substr(sizeof kTraceForm - 1)};
  std::vector<std::string> args;
  std::istringstream words(path.substr(kPrefixLength + 1));
  for (std::string word; words >> word;) {
    // A recording to play: "SIM:session.bdf".
    std::string tail = word.size() > 4 ? word.substr(word.size() - 4) : "";
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail == ".bdf") args.push_back("--replay");
    args.push_back(word);
  }
  if (!args.empty() && args[0].rfind("--", 0) != 0) args.insert(args.begin(), "--family");
  return args;
}

}  // namespace

bool isSimulatedDevicePath(const std::string& path) {
  if (path.size() < kPrefixLength) return false;
  for (size_t i = 0; i < kPrefixLength; ++i) {
    if (std::toupper(static_cast<unsigned char>(path[i])) != kPrefix[i]) return false;
  }
  return path.size() == kPrefixLength || path[kPrefixLength] == ':';
}

std::unique_ptr<Vexa::IO> openSimulatedDevice(const std::string& path) {
  if (!isSimulatedDevicePath(path)) {
    VEXA_THROW_DETAIL(Vexa::Notification::OpeningPort, "\"" + path + "\" names no simulated device");
  }
  std::unique_ptr<DeviceModel> model;
  try {
    model = makeModel(path.size() > kPrefixLength ? parseCliOptions(optionsOf(path)) : CliOptions{});
  } catch (const std::invalid_argument& e) {
    VEXA_THROW_DETAIL(Vexa::Notification::OpeningPort, std::string("simulated device: ") + e.what());
  }
  return std::make_unique<SimulatedDeviceIO>(std::make_unique<InProcessSimulator>(std::move(model)));
}

}  // namespace vexa_sim
