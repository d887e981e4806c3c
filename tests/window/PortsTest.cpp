// The device lists: which ports a transfer uses, Refresh, and missing or refusing ports.

#include <QTest>

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

// An entry keeps the port it was made from when ports come and go after the lists were filled;
// Refresh lists the ports present now and selects the first entries again. The file list is
// filled only when the window opens.
TEST_F(PortsTest, ListsTheDefaultRouteFirstThenEveryPortAndRefreshReadsThemAgain) {
  midi_.SetOutputs({{"Midi Through Port-0"}, {"Synth A"}, {"Synth B"}});
  WriteImage("a.bin", MakeImage(10));
  Open();
  QComboBox* out = DeviceList("IDC_MIDI_OUT");
  QComboBox* in = DeviceList("IDC_MIDI_IN");
  EXPECT_EQ(Entries(out),
            (QStringList{"Default (Synth A)", "Midi Through Port-0", "Synth A", "Synth B"}));
  EXPECT_EQ(Entries(in), (QStringList{"Keys In", "Synth In"}));
  EXPECT_EQ(out->currentIndex() + in->currentIndex(), 0);
  out->setCurrentIndex(3);
  in->setCurrentIndex(1);
  midi_.SetOutputs({{"Synth B"}, {"Synth A"}});
  midi_.SetInputs({{"Synth In"}, {"Keys In"}});
  Select(QStringLiteral("a.bin"));
  PressSend();
  EXPECT_EQ(midi_.openInputPort().value_or(MidiPortInfo{}).name, "Synth In");
  RunHandshake(1);
  midi_.SetOutputs({{"Synth C"}});
  midi_.SetInputs({{"Synth C In"}, {"Keys In"}});
  WriteImage("added-later.bin", MakeImage(10));
  Button("IDC_REFRESH")->click();
  EXPECT_EQ(Entries(out), (QStringList{"Default (Synth C)", "Synth C"}));
  EXPECT_EQ(Entries(in), (QStringList{"Synth C In", "Keys In"}));
  EXPECT_EQ(out->currentIndex() + in->currentIndex(), 0);
  EXPECT_EQ(ListedFiles(), QStringList{"a.bin"});
  // A name longer than the box can be read whole: in the tooltip, and in the dropped list.
  const QString longName = QStringLiteral("Synth C In: a port name far longer than its box");
  midi_.SetInputs({{longName.toStdString()}});
  Button("IDC_REFRESH")->click();
  EXPECT_EQ(in->toolTip(), longName);
  EXPECT_GT(in->view()->minimumWidth(), in->view()->fontMetrics().horizontalAdvance(longName));
  midi_.SetInputs({{"Synth C In"}, {"Keys In"}});
  Button("IDC_REFRESH")->click();
  PressSend();
  EXPECT_EQ(SentPorts(), (std::vector<std::string>{"Synth B", "Synth B", "Synth C"}));
  EXPECT_EQ(midi_.openInputPort()->name, "Synth C In");
}

// A choice is stored when the user leaves the list, as the Send button takes the focus (Send
// itself does not read the lists), and the ports chosen at Send carry the whole transfer: the
// lists and Refresh are disabled until it ends, and nothing done to them meanwhile moves a block.
TEST_F(PortsTest, ThePortsChosenWhenLeavingTheListsCarryTheWholeTransfer) {
  WriteImage("image.bin", MakeImage(3000));  // 4 blocks
  Open();
  Select(QStringLiteral("image.bin"));
  Activate();
  for (const char* id : {"IDC_MIDI_OUT", "IDC_MIDI_IN"}) {
    DeviceList(id)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(DeviceList(id), Qt::Key_Down);  // entries further down, still in the list
    QTest::keyClick(DeviceList(id), Qt::Key_Down);
  }
  Button("IDC_SEND")->setFocus(Qt::MouseFocusReason);
  PressSend();
  EXPECT_EQ(midi_.openInputPort().value_or(MidiPortInfo{}).name, "Synth In");
  RunHandshake(1);
  const char* choices[] = {"IDC_MIDI_OUT", "IDC_MIDI_IN", "IDC_REFRESH"};
  for (const char* id : choices) {
    EXPECT_FALSE(Find(id)->isEnabled()) << id;
  }
  midi_.SetOutputs({{"Synth C"}, {"Synth B"}});
  Button("IDC_REFRESH")->click();
  DeviceList("IDC_MIDI_OUT")->setCurrentIndex(1);
  RunHandshake(3);
  EXPECT_EQ(SentPorts(), std::vector<std::string>(5, "Synth B"));
  EXPECT_EQ(SentBytes(), ExpectedStream(MakeImage(3000)));
  for (const char* id : choices) {
    EXPECT_TRUE(Find(id)->isEnabled()) << id << " after the transfer";
  }
}

// Without an input port no reply can come: the window says so and ends as its OK action does.
// A refused announce is reported with its text; the transfer stops and Send is offered again.
// Without a MIDI system the hint strip says so, and which systems were tried, before Send.
TEST_F(PortsTest, WithoutAMidiSystemTheHintSaysSoAtOnce) {
  midi_.SetOutputs({});
  midi_.SetInputs({});
  backend_.hasSystem = false;
  Open();
  auto* hint = Find<QLabel>("IDC_HINT");
  EXPECT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->text(), QStringLiteral("No MIDI system answered (tried ALSA, JACK and USB)."));
  EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(PortsTest, MissingOrRefusingPortsShowTheirMessage) {
  const QString noIn = QStringLiteral("There are no MIDI input devices!");
  const QString noOut = QStringLiteral("There are no MIDI output devices!");
  const QString refused = QStringLiteral("Send the longMSG is err!");
  struct Row {
    std::vector<MidiPortInfo> outputs, inputs;
    MidiError openError, sendError;
    QString text, caption;
  };
  const std::vector<MidiPortInfo> out{{"Synth A"}}, in{{"Keys In"}};
  const MidiError none = MidiError::None;
  for (const Row& row : {Row{out, {}, none, none, noIn, "Lisket Updata"},
                         Row{out, in, MidiError::OpenFailed, none, noIn, "Lisket Updata"},
                         Row{{}, in, none, none, noOut, "Fenwor Updata"},
                         Row{out, in, none, MidiError::NoSuchPort, noOut, "Fenwor Updata"},
                         Row{out, in, none, MidiError::DrainTimeout, refused, {}}}) {
    SCOPED_TRACE(row.text.toStdString() + std::to_string(int(row.sendError)));
    midi_.SetOutputs(row.outputs);
    midi_.SetInputs(row.inputs);
    WriteImage("a.bin", MakeImage(10));
    Open();
    midi_.FailNextOpen(row.openError);
    if (row.sendError != none) {
      midi_.FailSends(row.sendError);
    }
    Select(QStringLiteral("a.bin"));
    PressSend();
    ASSERT_EQ(boxes_.shown().size(), 2u) << "the confirmation, then this";
    EXPECT_EQ(Shown(1), row.text);
    EXPECT_EQ(boxes_.shown()[1].caption.isNull(), row.caption.isNull());
    EXPECT_EQ(boxes_.shown()[1].caption, row.caption);
    EXPECT_EQ(boxes_.shown()[1].style, kMessageBoxOk);
    EXPECT_FALSE(midi_.inputOpen());
    const bool ends = row.text == noIn;
    EXPECT_EQ(dlg_->isVisible(), !ends) << "only a missing input port ends the window";
    EXPECT_EQ(dlg_->result(), ends ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_TRUE(midi_.sent().empty());
    EXPECT_TRUE(Button("IDC_SEND")->isEnabled());
    EXPECT_TRUE(Button("IDC_REFRESH")->isEnabled());
  }
}

}  // namespace
}  // namespace movrin::test
