#include "host_calls.h"

#include <stdexcept>
#include <vector>

#include "recording.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace Unity {

void requireArgument(bool ok, const char* function) {
  if (!ok) VEXA_THROW_AT(Error::InvalidParameter, function);
}

void startByMask(BaseDevUnity& dev, int baseFreq, int channelMask, int nBits) {
  const auto mask = static_cast<uint32_t>(channelMask);
  dev.communicationFlag = true;
  dev.startByMask(static_cast<float>(baseFreq), mask, nBits);
  dev.channelPorts.clear();
  for (int bit = 0; bit < 32; ++bit) {
    if (mask & (1u << bit)) dev.channelPorts.push_back(bit + 1);
  }
  dev.acquisitionStarted(baseFreq, portSources(dev.channelPorts, nBits));
}

void startBySources(BaseDevUnity& dev, int baseFreq, const VexaSource* sources, int nSources,
                    const char* function) {
  requireArgument(nSources <= 0 || sources != nullptr, function);
  dev.communicationFlag = true;
  std::vector<Source> list;
  // Taken over only once the start succeeds: a refused start must not
  // change the channel count of an acquisition that still runs.
  std::vector<int32_t> ports;
  for (int i = 0; i < nSources; ++i) {
    const VexaSource& s = sources[i];
    list.push_back(Source{s.port, s.freqDivisor, s.nBits, s.chMask});
    for (uint32_t m = static_cast<uint32_t>(s.chMask) & 0xFFFF; m != 0; m &= m - 1) ports.push_back(s.port);
    // This port's sensor needs its gain set before it acquires all four
    // channels.
    if (s.port == 9 && s.chMask == 15) {
      const uint8_t gain[] = {80, 40};
      dev.setParameter(9, 3, gain, 2);
    }
  }
  dev.start(static_cast<float>(baseFreq), list);
  dev.channelPorts = std::move(ports);
  dev.acquisitionStarted(baseFreq, list);
}

ParameterBytes parameterBytes(int index, const int* data, int dataType, const char* function) {
  ParameterBytes p{};
  if (dataType == 2 && index == 3) {
    requireArgument(data != nullptr, function);
    p.bytes[0] = static_cast<uint8_t>(data[0]);
    p.bytes[1] = static_cast<uint8_t>(data[1]);
    p.length = 2;
  } else if (dataType == 1 && index >= 1 && index <= 3) {
    requireArgument(data != nullptr, function);
    p.bytes[0] = static_cast<uint8_t>(data[0]);
    p.length = 1;
  } else {
    throw std::invalid_argument("The type of input provided is not currently supported.");
  }
  return p;
}

const char* deviceTypeName(const std::string& description) {
  static const char* const kKnown[][2] = {
      {"tessarimodular", "tessarimodular"},       {"Quillbox", "Quillbox"},       {"quillbox_rev", "Quillbox"},
      {"Strandelo QZ Vexa", "Strandelo QZ Vexa"}, {"FernlitVexa", "FernlitVexa"}, {"Cadrium", "Cadrium"},
  };
  for (const auto& row : kKnown) {
    if (description == row[0]) return row[1];
  }
  return "Not supported device";
}

}  // namespace Unity
}  // namespace Vexa
