// The device lists and what the window does when a port is missing or refuses a message.

#include "Protocol.h"
#include "Strings.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

using PortsTest = WindowTest;

QStringList Entries(const QComboBox* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) {
    entries << list->itemText(i);
  }
  return entries;
}

TEST_F(PortsTest, ListsTheDefaultRouteFirstThenEveryPortAndSelectsTheFirstEntries) {
  midi_.SetOutputs({{"Midi Through Port-0"}, {"Synth A"}});
  Open();
  EXPECT_EQ(Entries(DeviceList("IDC_MIDI_OUT")),
            (QStringList{"Default (Synth A)", "Midi Through Port-0", "Synth A"}));
  EXPECT_EQ(Entries(DeviceList("IDC_MIDI_IN")), (QStringList{"Keys In", "Synth In"}));
  EXPECT_EQ(DeviceList("IDC_MIDI_OUT")->currentIndex(), 0);
  EXPECT_EQ(DeviceList("IDC_MIDI_IN")->currentIndex(), 0);
}

// Which entry the user chose decides where the messages go and where replies are heard.
TEST_F(PortsTest, SendUsesThePortsChosenInTheLists) {
  struct Row {
    int outEntry;
    int inEntry;
    const char* output;
    const char* input;
  };
  const Row rows[] = {
      {0, 0, "Synth A", "Keys In"},  // the default route
      {1, 1, "Synth A", "Synth In"},
      {2, 0, "Synth B", "Keys In"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.outEntry);
    WriteImage("a.bin", MakeImage(10));
    midi_.ClearSent();
    Open();
    DeviceList("IDC_MIDI_OUT")->setCurrentIndex(row.outEntry);
    DeviceList("IDC_MIDI_IN")->setCurrentIndex(row.inEntry);
    Select(QStringLiteral("a.bin"));
    PressSend();
    ASSERT_EQ(midi_.sent().size(), 1u);
    EXPECT_EQ(midi_.sent()[0].port.name, row.output);
    ASSERT_TRUE(midi_.openInputPort().has_value());
    EXPECT_EQ(midi_.openInputPort()->name, row.input);
  }
}

// An entry keeps the port it was made from: ports that come and go after the lists were filled
// never move an entry onto another device.
TEST_F(PortsTest, AnEntryKeepsItsPortWhenThePortsChangeAfterwards) {
  WriteImage("a.bin", MakeImage(10));
  Open();
  DeviceList("IDC_MIDI_OUT")->setCurrentIndex(2);  // Synth B
  DeviceList("IDC_MIDI_IN")->setCurrentIndex(1);   // Synth In
  midi_.SetOutputs({{"Synth B"}, {"Synth A"}});
  midi_.SetInputs({{"Synth In"}, {"Keys In"}});
  Select(QStringLiteral("a.bin"));
  PressSend();
  ASSERT_EQ(midi_.sent().size(), 1u);
  EXPECT_EQ(midi_.sent()[0].port.name, "Synth B");
  EXPECT_EQ(midi_.openInputPort()->name, "Synth In");
}

TEST_F(PortsTest, RefreshListsThePortsPresentNowAndSelectsTheFirstEntriesAgain) {
  WriteImage("a.bin", MakeImage(10));
  Open();
  DeviceList("IDC_MIDI_OUT")->setCurrentIndex(2);
  DeviceList("IDC_MIDI_IN")->setCurrentIndex(1);
  midi_.SetOutputs({{"Synth C"}});
  midi_.SetInputs({{"Synth C In"}, {"Keys In"}});
  WriteImage("added-later.bin", MakeImage(10));

  Button("IDC_REFRESH")->click();
  EXPECT_EQ(Entries(DeviceList("IDC_MIDI_OUT")), (QStringList{"Default (Synth C)", "Synth C"}));
  EXPECT_EQ(Entries(DeviceList("IDC_MIDI_IN")), (QStringList{"Synth C In", "Keys In"}));
  EXPECT_EQ(DeviceList("IDC_MIDI_OUT")->currentIndex(), 0);
  EXPECT_EQ(DeviceList("IDC_MIDI_IN")->currentIndex(), 0);
  EXPECT_EQ(ListedFiles(), QStringList{"a.bin"}) << "the file list is filled only at opening";
}

// Without an input port no reply can come: the window says so and ends as its OK action does.
TEST_F(PortsTest, NoInputPortShowsItsMessageAndEndsTheWindow) {
  struct Row {
    const char* label;
    bool noInputs;
  };
  for (const Row row : {Row{"no input device", true}, Row{"open refused", false}}) {
    SCOPED_TRACE(row.label);
    midi_.SetInputs(row.noInputs ? std::vector<MidiPortInfo>{}
                                 : std::vector<MidiPortInfo>{{"Keys In"}});
    WriteImage("a.bin", MakeImage(10));
    boxes_.Clear();
    Open();
    if (!row.noInputs) {
      midi_.FailNextOpen(MidiError::OpenFailed);
    }
    EXPECT_EQ(DeviceList("IDC_MIDI_IN")->count(), row.noInputs ? 0 : 1);
    Select(QStringLiteral("a.bin"));
    PressSend();
    ASSERT_EQ(boxes_.shown().size(), 2u);  // the confirmation, then this
    EXPECT_EQ(boxes_.shown()[1].text, QStringLiteral("There are no MIDI input devices!"));
    EXPECT_EQ(boxes_.shown()[1].caption, QStringLiteral("Lisket Updata"));
    EXPECT_EQ(boxes_.shown()[1].style, kMessageBoxOk);
    EXPECT_EQ(dlg_->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_TRUE(midi_.sent().empty());
  }
}

// A refused announce is reported with the right text; the transfer then stops visibly.
TEST_F(PortsTest, RefusedSendsShowTheirMessage) {
  struct Row {
    const char* label;
    bool noOutputs;
    MidiError error;
    QString text;
    QString caption;
  };
  const Row rows[] = {
      {"no output device", true, MidiError::None,
       QStringLiteral("There are no MIDI output devices!"), QStringLiteral("Fenwor Updata")},
      {"port gone", false, MidiError::NoSuchPort,
       QStringLiteral("There are no MIDI output devices!"), QStringLiteral("Fenwor Updata")},
      {"open failed", false, MidiError::OpenFailed,
       QStringLiteral("There are no MIDI output devices!"), QStringLiteral("Fenwor Updata")},
      {"refused", false, MidiError::SendFailed, QStringLiteral("Send the longMSG is err!"),
       QString()},
      {"not played out", false, MidiError::DrainTimeout, QStringLiteral("Send the longMSG is err!"),
       QString()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    midi_.SetOutputs(row.noOutputs ? std::vector<MidiPortInfo>{}
                                   : std::vector<MidiPortInfo>{{"Synth A"}});
    WriteImage("a.bin", MakeImage(10));
    boxes_.Clear();
    Open();
    if (!row.noOutputs) {
      midi_.FailSends(row.error);
    }
    Select(QStringLiteral("a.bin"));
    PressSend();
    ASSERT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(boxes_.shown()[1].text, row.text);
    EXPECT_EQ(boxes_.shown()[1].caption.isNull(), row.caption.isNull());
    EXPECT_EQ(boxes_.shown()[1].caption, row.caption);
    EXPECT_EQ(boxes_.shown()[1].style, kMessageBoxOk);
    EXPECT_FALSE(midi_.inputOpen());
    EXPECT_TRUE(Button("IDC_SEND")->isEnabled());
  }
}

}  // namespace
}  // namespace movrin::test
