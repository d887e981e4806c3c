#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PortResolver.h"

namespace movrin {
namespace {

const std::vector<MidiPortInfo> kPorts = {
    {"Midi Through:Midi Through Port-0"},
    {"movrin-device:in"},
    {"movrin-device-2:in"},
    {"USB Synth:MIDI 1"},
    {"1"},
};

TEST(PortResolver, FindsByExactNameIndexOrUniquePart) {
  struct Row {
    std::string wanted;
    PortMatch match;
    std::string port;  // when Found
    std::size_t candidates = 0;
  };
  const std::vector<Row> rows = {
      {"movrin-device:in", PortMatch::Found, "movrin-device:in"},  // exact beats substring
      {"0", PortMatch::Found, "Midi Through:Midi Through Port-0"},
      {"3", PortMatch::Found, "USB Synth:MIDI 1"},
      {"1", PortMatch::Found, "1"},  // a port named "1" beats index 1
      {"5", PortMatch::NotFound, ""},
      {"99999999999999999999999", PortMatch::NotFound, ""},
      {"Synth", PortMatch::Found, "USB Synth:MIDI 1"},
      {"usb synth", PortMatch::Found, "USB Synth:MIDI 1"},  // case only matters to break ties
      {"device-2", PortMatch::Found, "movrin-device-2:in"},
      {"movrin-device", PortMatch::Ambiguous, "", 2},
      {"MIDI", PortMatch::Found, "USB Synth:MIDI 1"},  // exact case is unique
      {"midi", PortMatch::Ambiguous, "", 2},
      {"fenwor", PortMatch::NotFound, ""},
      {"", PortMatch::NotFound, ""},
  };
  for (const Row& row : rows) {
    const PortResolution r = ResolvePort(kPorts, row.wanted);
    EXPECT_EQ(r.match, row.match) << row.wanted;
    if (row.match == PortMatch::Found) {
      EXPECT_EQ(r.port.name, row.port) << row.wanted;
    }
    EXPECT_EQ(r.candidates.size(), row.candidates) << row.wanted;
  }
}

TEST(PortResolver, NoPortsIsItsOwnCase) {
  EXPECT_EQ(ResolvePort({}, "0").match, PortMatch::NoPorts);
}

TEST(PortResolver, MessagesNameTheSpecAndTheCandidates) {
  const auto ambiguous = ResolvePort(kPorts, "movrin-device");
  const std::string text = DescribePortResolution(ambiguous, "movrin-device", "output", 5);
  EXPECT_NE(text.find("ambiguous"), std::string::npos) << text;
  EXPECT_NE(text.find("\"movrin-device:in\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"movrin-device-2:in\""), std::string::npos) << text;

  const std::string index =
      DescribePortResolution(ResolvePort(kPorts, "7"), "7", "input", kPorts.size());
  EXPECT_NE(index.find("index 7"), std::string::npos) << index;
  const std::string none = DescribePortResolution(ResolvePort({}, "x"), "x", "input", 0);
  EXPECT_NE(none.find("no MIDI input ports"), std::string::npos) << none;
}

}  // namespace
}  // namespace movrin
