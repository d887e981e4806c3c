#pragma once

// A main window over the in-memory MIDI backend and scripted message boxes, opened in a fresh
// temporary folder that is the current directory and holds "Movrin Update/bin/".

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CLabelledProgressCtrl.h"
#include "CUpdaterDlg.h"
#include "InMemoryMidiBackend.h"
#include "ScriptedMessageBoxes.h"

namespace movrin::test {

using Bytes = std::vector<std::uint8_t>;

// Distinct bytes with the high bit set in places, so packing errors show.
[[nodiscard]] Bytes MakeImage(std::size_t length, std::uint32_t seed = 1);

// What a whole transfer of `image` puts on the wire: the announce, then every block.
[[nodiscard]] std::vector<Bytes> ExpectedStream(const Bytes& image);

// The in-memory backend with an xrun count, whether a MIDI system answered and what troubles it,
// as the test sets them.
class XrunBackend final : public MidiBackend {
 public:
  explicit XrunBackend(InMemoryMidiBackend& m) : m_(m) {}
  std::string ApiName() const override { return m_.ApiName(); }
  std::vector<MidiPortInfo> ListOutputs() override { return m_.ListOutputs(); }
  std::vector<MidiPortInfo> ListInputs() override { return m_.ListInputs(); }
  MidiPortInfo DefaultOutput() override { return m_.DefaultOutput(); }
  OpenInputResult OpenInput(const MidiPortInfo& p, ShortMessageHandler h) override {
    return m_.OpenInput(p, std::move(h));
  }
  OpenInputResult OpenVirtualInput(const std::string& n, RawMessageHandler h) override {
    return m_.OpenVirtualInput(n, std::move(h));
  }
  OpenOutputResult OpenVirtualOutput(const std::string& n) override {
    return m_.OpenVirtualOutput(n);
  }
  OpenOutputResult OpenOutput(const MidiPortInfo& p) override { return m_.OpenOutput(p); }
  MidiError SendSysEx(const MidiPortInfo& p, std::span<const std::uint8_t> b) override {
    return m_.SendSysEx(p, b);
  }
  std::uint64_t XrunCount() const override { return xruns; }
  std::vector<std::string> TakeNotices() override { return m_.TakeNotices(); }
  bool HasSystem() const override { return hasSystem; }
  std::string SystemTrouble() const override { return trouble; }
  std::uint64_t xruns = 0;
  bool hasSystem = true;
  std::string trouble;

 private:
  InMemoryMidiBackend& m_;
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest();
  ~WindowTest() override;

  [[nodiscard]] QString DataFolder() const;
  void ClearFolder() const;
  void WriteImage(const std::string& name, const Bytes& bytes) const;

  // Opens and shows the window as the application does (the constructor is its initialisation).
  void Open();
  // Opens it with `image` as "image.bin" in the data folder, selects it and presses Send.
  void StartTransfer(const Bytes& image);
  // Makes the window active, so that the focus and keys behave as for a user.
  void Activate() const;

  template <typename W = QWidget>
  [[nodiscard]] W* Find(const char* identifier) const {
    return dlg_->findChild<W*>(QLatin1String(identifier));
  }
  [[nodiscard]] QListWidget* FileList() const { return Find<QListWidget>("IDC_FILE_LIST"); }
  [[nodiscard]] QComboBox* DeviceList(const char* id) const { return Find<QComboBox>(id); }
  [[nodiscard]] QPushButton* Button(const char* id) const { return Find<QPushButton>(id); }
  [[nodiscard]] QLabel* Status() const { return Find<QLabel>("IDC_STATUS"); }
  [[nodiscard]] CLabelledProgressCtrl* Progress() const {
    return Find<CLabelledProgressCtrl>("IDC_PROGRESS");
  }
  [[nodiscard]] QStringList ListedFiles() const;
  [[nodiscard]] QString Shown(std::size_t i) const { return boxes_.shown().at(i).text; }

  // A user's selection in the file list; fails the test when the name is not listed.
  void Select(const QString& name) const;
  void PressSend() const { Button("IDC_SEND")->click(); }

  // The device answers on the open input port; the message crosses to the window as a posted
  // event, which is then handled. RunHandshake: the ready note, then `blocks` request notes.
  void FromDevice(std::uint32_t message);
  void HandlePosted() const;
  void RunHandshake(std::size_t blocks);

  [[nodiscard]] std::vector<Bytes> SentBytes() const;
  [[nodiscard]] std::vector<std::string> SentPorts() const;

  QTemporaryDir dir_;
  QString previousDir_;
  InMemoryMidiBackend midi_{{{"Synth A"}, {"Synth B"}}, {{"Keys In"}, {"Synth In"}}};
  XrunBackend backend_{midi_};
  ScriptedMessageBoxes boxes_;
  std::vector<QWidget*> aboutOwners_;  // each showing of the About box, by its owner
  int helpShown_ = 0;
  std::unique_ptr<CUpdaterDlg> dlg_;
};

}  // namespace movrin::test
