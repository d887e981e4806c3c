#include "MidiBackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace movrin {
namespace {

TEST(ShortMessageValue, PacksWhatTheInputDeliversAndDropsTheRest) {
  struct Row {
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> value;
  };
  const Row rows[] = {
      {{0x90, 0x3C, 0x11}, 0x113C90},                  // the device's ready note
      {{0x90, 0x3C, 0x33}, 0x333C90},                  // its request note
      {{0x8F, 0x7F, 0x7F}, 0x7F7F8F},                  // highest channel, highest data
      {{0xC0, 0x05}, 0x05C0},                          // two bytes: data2 stays zero
      {{0xF2, 0x01, 0x02}, 0x0201F2},                  // song position
      {{0xF3, 0x07}, 0x07F3},                          // song select
      {{0xF6}, 0xF6},                                  // tune request
      {{}, std::nullopt},                              // nothing
      {{0xF0, 0x00, 0x20, 0x63, 0xF7}, std::nullopt},  // System Exclusive
      {{0xF0, 0x7E, 0xF7}, std::nullopt},              // short System Exclusive
      {{0xF7}, std::nullopt},                          // stray end of exclusive
      {{0xF1, 0x10}, std::nullopt},                    // MTC quarter frame (timing)
      {{0xF8}, std::nullopt},                          // clock
      {{0xFA}, std::nullopt},                          // start
      {{0xFE}, std::nullopt},                          // active sensing
      {{0xFF}, std::nullopt},                          // reset
      {{0xF4}, std::nullopt},                          // undefined
      {{0x3C, 0x11}, std::nullopt},                    // running status: no status byte
      {{0x90, 0x3C, 0x11, 0x00}, std::nullopt},        // too long
      {{0x90, 0x90, 0x11}, std::nullopt},              // a status byte where data belongs
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ShortMessageValue(row.bytes), row.value)
        << "first byte " << (row.bytes.empty() ? -1 : row.bytes[0]);
  }
}

TEST(Describe, EveryErrorHasItsOwnText) {
  const MidiError errors[] = {MidiError::None,       MidiError::Unavailable,
                              MidiError::NoSuchPort, MidiError::OpenFailed,
                              MidiError::SendFailed, MidiError::DrainTimeout};
  std::vector<std::string> texts;
  for (const MidiError error : errors) {
    const std::string text = Describe(error);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
}

}  // namespace
}  // namespace movrin
