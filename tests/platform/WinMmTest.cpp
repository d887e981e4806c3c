// The Windows side of the MIDI layer without a device: names as Windows gives them, short
// messages as WinMM packs them, the backend's answers for what WinMM cannot do or cannot find,
// the inbox's event across threads, and Ctrl-C through the console's control handler.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "MidiBackend.h"
#include "MidiInbox.h"
#include "SignalWatcher.h"
#include "WinMmSupport.h"

namespace movrin {
namespace {

using namespace std::chrono_literals;

TEST(WinMmNames, AreUtf8AndTellTwinDevicesApart) {
  EXPECT_EQ(Utf8FromWide(L"USB MIDI"), "USB MIDI");
  EXPECT_EQ(Utf8FromWide(L"Gr\u00FC\u00DFe \u266A"),
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE2\x99\xAA");
  EXPECT_EQ(Utf8FromWide(L"\U0001F3B9"), "\xF0\x9F\x8E\xB9");  // a surrogate pair
  EXPECT_EQ(Utf8FromWide(std::wstring{L'a', wchar_t(0xD800), L'b'}),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(DistinctNames({"USB MIDI", "Other", "USB MIDI", "USB MIDI", "USB MIDI (2)"}),
            (std::vector<std::string>{"USB MIDI", "Other", "USB MIDI (2)", "USB MIDI (3)",
                                      "USB MIDI (2) (2)"}));
}

// As MIM_DATA packs them: only the bytes the status counts, then the same filter as on Linux.
TEST(WinMmShortMessages, UnpackByTheirStatus) {
  const struct {
    DWORD_PTR packed;
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> value;
  } rows[] = {
      {0x7F3C90, {0x90, 0x3C, 0x7F}, 0x7F3C90u},
      {0x00055C0, {0xC0, 0x55}, 0x55C0u},  // the byte after a program change is no data
      {0x1234F3, {0xF3, 0x34}, 0x34F3u},
      {0x0000F8, {0xF8}, std::nullopt},  // clock
      {0x0000FE, {0xFE}, std::nullopt},  // active sensing
  };
  for (const auto& row : rows) {
    const auto bytes = UnpackShortMessage(row.packed);
    EXPECT_EQ(bytes, row.bytes) << row.packed;
    EXPECT_EQ(ShortMessageValue(bytes), row.value) << row.packed;
  }
}

TEST(WinMmBackend, IsTheSystemAndRefusesWhatItCannotDo) {
  EXPECT_EQ(BuiltMidiSystems(), std::vector<std::string>{"WinMM"});
  const auto backend = CreateSystemMidiBackend("movrin-test");
  ASSERT_TRUE(backend->HasSystem());
  EXPECT_EQ(backend->ApiName(), "WinMM");
  EXPECT_EQ(backend->OpenVirtualInput("in", [](std::span<const std::uint8_t>) {}).error,
            MidiError::Unavailable);
  EXPECT_EQ(backend->OpenVirtualOutput("out").error, MidiError::Unavailable);
  const MidiPortInfo nowhere{"no such device"};
  EXPECT_EQ(backend->OpenOutput(nowhere).error, MidiError::NoSuchPort);
  EXPECT_EQ(backend->OpenInput(nowhere, [](std::uint32_t) {}).error, MidiError::NoSuchPort);
  const std::vector<std::uint8_t> sysex{0xF0, 0x7E, 0xF7};
  EXPECT_EQ(backend->SendSysEx(nowhere, sysex), MidiError::NoSuchPort);
  // The default is listed, and is the mapper when there is a device behind it.
  const auto outputs = backend->ListOutputs();
  const MidiPortInfo fallback = backend->DefaultOutput();
  EXPECT_EQ(fallback.name.empty(), outputs.empty());
  if (!outputs.empty()) {
    EXPECT_EQ(fallback, outputs.front());
  }
}

// Pushes and the interrupt come from other threads, as from WinMM's and the console's.
TEST(MidiInboxWin, WakesOnAPushAndOnAnInterruptFromAnotherThread) {
  MidiInbox inbox;
  std::thread pusher([&] { inbox.Push(7); });
  EXPECT_EQ(inbox.WaitPopUntil(std::chrono::steady_clock::time_point::max()), 7u);
  pusher.join();
  std::thread interrupter([&] { inbox.Interrupt(); });
  EXPECT_EQ(inbox.WaitPopUntil(std::chrono::steady_clock::time_point::max()), std::nullopt);
  interrupter.join();
  EXPECT_TRUE(inbox.interrupted());
}

TEST(SignalWatcherWin, CtrlCIsSigint) {
  // Ctrl-C goes to the processes of a console of our own: the one inherited may not take it.
  ::FreeConsole();
  ASSERT_NE(::AllocConsole(), 0);
  MidiInbox got;
  const SignalWatcher watcher([&](int signal) { got.Push(static_cast<std::uint32_t>(signal)); });
  ASSERT_TRUE(watcher.ok());
  ASSERT_NE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0), 0);
  EXPECT_EQ(got.WaitPop(60s), static_cast<std::uint32_t>(SIGINT));  // a safety net, not a timing
  EXPECT_EQ(watcher.received(), SIGINT);
}

}  // namespace
}  // namespace movrin
