// What movrin-send tells the user besides errors: which port a name finds, and the progress line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PortResolver.h"
#include "ProgressReporter.h"

namespace movrin {
namespace {

TEST(PortResolver, FindsByExactNameIndexOrUniquePartAndSaysWhyNot) {
  const std::vector<MidiPortInfo> ports = {{"Midi Through:Midi Through Port-0"},
                                           {"movrin-device:in"},
                                           {"movrin-device-2:in"},
                                           {"USB Synth:MIDI 1"},
                                           {"1"}};
  struct Row {
    std::string wanted;
    PortMatch match;
    std::string port;  // when Found, else a part of the message
  };
  const std::vector<Row> rows = {
      {"movrin-device:in", PortMatch::Found, "movrin-device:in"},  // exact beats a part
      {"0", PortMatch::Found, "Midi Through:Midi Through Port-0"},
      {"3", PortMatch::Found, "USB Synth:MIDI 1"},
      {"1", PortMatch::Found, "1"},  // a port named "1" beats index 1
      {"Synth", PortMatch::Found, "USB Synth:MIDI 1"},
      {"usb synth", PortMatch::Found, "USB Synth:MIDI 1"},  // case only breaks ties
      {"device-2", PortMatch::Found, "movrin-device-2:in"},
      {"MIDI", PortMatch::Found, "USB Synth:MIDI 1"},  // exact case is unique
      {"movrin-device", PortMatch::Ambiguous, "\"movrin-device:in\", \"movrin-device-2:in\""},
      {"midi", PortMatch::Ambiguous, "ambiguous"},
      {"7", PortMatch::NotFound, "index 7"},
      {"99999999999999999999999", PortMatch::NotFound, "99999999999999999999999"},
      {"fenwor", PortMatch::NotFound, "fenwor"},
      {"", PortMatch::NotFound, "output"},
  };
  for (const Row& row : rows) {
    const PortResolution r = ResolvePort(ports, row.wanted);
    EXPECT_EQ(r.match, row.match) << row.wanted;
    const std::string text = r.match == PortMatch::Found
                                 ? r.port.name
                                 : DescribePortResolution(r, row.wanted, "output", ports.size());
    EXPECT_NE(text.find(row.port), std::string::npos) << row.wanted << ": " << text;
  }
  EXPECT_EQ(ResolvePort({}, "0").match, PortMatch::NoPorts);
  EXPECT_NE(DescribePortResolution(ResolvePort({}, "0"), "0", "input", 0).find("no MIDI input"),
            std::string::npos);
}

TEST(ProgressFormat, ShowsBlocksPercentRateAndTimeLeft) {
  using std::chrono::milliseconds;
  const std::vector<std::pair<ProgressSnapshot, std::string>> rows = {
      {{0, 74, 0, 76000, milliseconds(0)}, "0/74 blocks 0%"},  // no rate yet, no division by 0
      // Percent truncates, as a bar that only fills when a block is really done.
      {{1, 3, 1038, 3114, milliseconds(1000)}, "1/3 blocks 33%  1.0 KiB/s  0:02 left"},
      {{73, 74, 75774, 75813, milliseconds(1000)}, "73/74 blocks 98%  74.0 KiB/s  0:00 left"},
      {{1, 2000, 500, 2'000'000, milliseconds(1000)}, "1/2000 blocks 0%  500 B/s  1:06:39 left"},
      {{1000, 1000, 3 << 20, 3 << 20, milliseconds(1000)},
       "1000/1000 blocks 100%  3.0 MiB/s  0:00 left"},
  };
  for (const auto& [snapshot, expected] : rows) {
    EXPECT_EQ(FormatProgress(snapshot), expected);
  }
}

}  // namespace
}  // namespace movrin
