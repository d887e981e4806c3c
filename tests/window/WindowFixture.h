#pragma once

// A main window over the in-memory MIDI backend and scripted message boxes, opened in a fresh
// temporary folder that is the current directory and holds "Movrin Update/bin/".

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QString>
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

class WindowTest : public ::testing::Test {
 protected:
  WindowTest();
  ~WindowTest() override;

  // Files in the data folder.
  void WriteImage(const std::string& name, const Bytes& bytes) const;
  [[nodiscard]] QString DataFolder() const;

  // Opens and shows the window as the application does (the constructor is its initialisation).
  CUpdaterDlg& Open();

  [[nodiscard]] QListWidget* FileList() const;
  [[nodiscard]] QComboBox* DeviceList(const char* identifier) const;
  [[nodiscard]] QPushButton* Button(const char* identifier) const;
  [[nodiscard]] QLabel* Status() const;
  [[nodiscard]] CLabelledProgressCtrl* Progress() const;
  [[nodiscard]] QStringList ListedFiles() const;

  // A user's selection in the file list; fails the test when the name is not listed.
  void Select(const QString& name) const;
  void PressSend() const;

  // The device answers on the open input port; the message crosses to the window as a posted
  // event, which is then handled.
  void FromDevice(std::uint32_t message);
  // The same, posted from another thread as the system backend does.
  void FromDeviceOnOtherThread(std::uint32_t message);
  void HandlePosted() const;

  // Ready note, then a request note per block.
  void RunHandshake(std::size_t blocks);

  [[nodiscard]] std::vector<Bytes> SentBytes() const;

  QTemporaryDir dir_;
  QString previousDir_;
  InMemoryMidiBackend midi_{{{"Synth A"}, {"Synth B"}}, {{"Keys In"}, {"Synth In"}}};
  ScriptedMessageBoxes boxes_;
  std::unique_ptr<CUpdaterDlg> dlg_;
};

}  // namespace movrin::test
