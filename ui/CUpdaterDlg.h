#pragma once

// The main window: the file list, the two device lists, Send, and the progress of a transfer.
// It owns everything the program holds for the whole run; the handshake rules themselves are
// movrin::TransferDriver's. MIDI input arrives on the backend's thread and is posted to this
// window as MM_MIM_DATA; every member is touched on the UI thread only.

#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "MessageBoxes.h"
#include "MidiBackend.h"
#include "TransferDriver.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class ImageListWidget;
class QListWidget;
class QPushButton;
class QTimer;
class CLabelledProgressCtrl;

class CUpdaterDlg : public QDialog {
  Q_OBJECT

 public:
  // The input port's short messages, posted from the MIDI thread.
  static constexpr QEvent::Type MM_MIM_DATA = static_cast<QEvent::Type>(QEvent::User + 0x3C3);

  class CMidiInDataEvent : public QEvent {
   public:
    CMidiInDataEvent(quintptr wParam, std::uint32_t message)
        : QEvent(MM_MIM_DATA), m_wParam(wParam), m_message(message) {}
    [[nodiscard]] quintptr wParam() const { return m_wParam; }
    [[nodiscard]] std::uint32_t message() const { return m_message; }

   private:
    quintptr m_wParam;
    std::uint32_t m_message;
  };

  // What the application hands the window: its About box, its help and its icon.
  struct Shell {
    std::function<void(QWidget* owner)> about;
    std::function<void()> help;
    QIcon icon;
  };

  // How long the device may stay silent, after the announce or between blocks, before the
  // window says so. The transfer itself keeps waiting.
  static constexpr int kSilenceHintMs = 5000;

  CUpdaterDlg(movrin::MidiBackend& midi, movrin::MessageBoxPresenter& boxes, Shell shell = {},
              QWidget* pParent = nullptr);
  ~CUpdaterDlg() override;
  CUpdaterDlg(const CUpdaterDlg&) = delete;
  CUpdaterDlg& operator=(const CUpdaterDlg&) = delete;

  // Every way out (Escape, Enter, the close box, a failed input port) comes through here.
  void done(int result) override;

  // For a signal's end: stops a running transfer without asking and closes the input port, so
  // that a USB interface goes back to the kernel. Returns what the MIDI layer had to say about
  // that, for the terminal, since no box can be shown any more.
  [[nodiscard]] std::vector<std::string> ReleaseMidi();

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  // Opening state and the small handlers (CUpdaterDlg.cpp).
  void CreateControls();
  void OnInitDialog();
  void OnAbout();
  void OnSelectMidiOut();
  void OnSelectMidiIn();
  void OnRefresh();
  void OnSelectImage();
  void OnHelpButton();
  void WatchDeviceList(QComboBox* list, bool& chosen, void (CUpdaterDlg::*store)());
  void DeviceListEvent(QObject* watched, QEvent* e);
  void AddAboutItem();

  // Image list and loader (CUpdaterDlgImages.cpp).
  void FillImageList(QString pattern);
  [[nodiscard]] bool LoadSelectedImage();

  // MIDI ports (CUpdaterDlgPorts.cpp).
  void FillDeviceLists();
  int OpenMidiIn(int index);
  void CloseMidiIn();
  // Sends on the port chosen at Send; the failure's box is ShowSendFailure's, opened once the
  // driver has been told, so that the replies the box's loop delivers already see the result.
  [[nodiscard]] movrin::MidiError SendSysEx(std::span<const std::uint8_t> message);
  void ShowSendFailure(movrin::MidiError error, const QString& caption);
  [[nodiscard]] std::optional<movrin::MidiPortInfo> OutputPort(int device) const;
  [[nodiscard]] std::optional<movrin::MidiPortInfo> InputPort(int device) const;
  [[nodiscard]] QComboBox* DeviceList(const char* identifier) const;

  // Transfer handshake (CUpdaterDlgTransfer.cpp).
  void OnSend();
  long OnMidiInData(quintptr wParam, std::uint32_t lParam);
  [[nodiscard]] movrin::MidiError SendAnnounce(std::span<const std::uint8_t> announce);
  [[nodiscard]] movrin::MidiError SendBlock(std::span<const std::uint8_t> block);
  // Carries out the driver's actions until it waits for the device again.
  void Step(movrin::TransferDriver::Action action);
  void Act(const movrin::TransferDriver::Action& action);
  void ShowTransferStopped();
  // The end of a transfer, however it ended: the port choices are the user's again.
  void TransferEnded();
  void ShowMidiNotices();
  void LockPortChoice(bool locked);
  void OnSilentDevice();
  void ClearSilenceHint();
  // A line on the status line or the hint strip, written to fit it; the tooltip tells it whole,
  // with `detail` where there is more to say.
  void ShowLine(QLabel* line, const QString& text, const QString& detail = {});
  void ShowNoMidiSystem();
  void ShowSystemTrouble();

  movrin::MidiBackend& m_midi;
  movrin::MessageBoxPresenter& m_boxes;
  Shell m_shell;

  // The raw image of the last load. The packed image, the block plan and the counters of the
  // running transfer (blocks sent, sending or not) are the driver's. It has no timeout: the
  // window waits for the device as long as the user does.
  std::vector<std::uint8_t> m_pImage;
  movrin::TransferDriver m_driver;
  QString m_strFolder;
  bool m_bCompleted = false;  // a transfer has completed since start-up; never cleared
  std::unique_ptr<movrin::MidiInput> m_hMidiIn;
  QString m_strPattern;
  int m_nMidiIn = 0;    // entry of the MIDI In list
  int m_nMidiOut = -1;  // entry of the MIDI Out list - 1; -1 is the default route

  // Whether the dropped list of each device list was closed by choosing an entry: such a
  // choice is stored when the list is left, not when it is made.
  bool m_bOutChosen = false;
  bool m_bInChosen = false;

  // The ports chosen at Send: the whole transfer uses them, whatever the lists show meanwhile.
  std::optional<movrin::MidiPortInfo> m_sendPort;
  QString m_strInPort;
  std::uint64_t m_nXrunsAtAnnounce = 0;
  QElapsedTimer m_transferClock;  // since Send, for the completed hint
  QTimer* m_silence = nullptr;
  QLabel* m_hint = nullptr;  // above the bar: the silence hint while blocks are due
  QString m_strTrouble;      // the MIDI system's trouble the hint told of last

  QPushButton* m_btnSend = nullptr;
  QLabel* m_status = nullptr;
  ImageListWidget* m_fileList = nullptr;
  CLabelledProgressCtrl* m_progress = nullptr;
  QIcon m_hIcon;
};
