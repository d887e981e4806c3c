#pragma once

// The application object: owns the QApplication, runs the main window as its own window and
// lets the program end as soon as that window closes.

#include <QApplication>

class CUpdaterApp {
 public:
  CUpdaterApp(int& argc, char** argv);
  ~CUpdaterApp();
  CUpdaterApp(const CUpdaterApp&) = delete;
  CUpdaterApp& operator=(const CUpdaterApp&) = delete;

  // Runs the main window until it closes, however it closes. Returns false: there is nothing
  // left to run afterwards.
  bool InitInstance();
  // The program's exit code: 0, or 128 + the signal that ended the window (130 for Ctrl-C).
  [[nodiscard]] int ExitInstance() const { return m_nExitCode; }

 private:
  QApplication m_app;
  int m_nExitCode = 0;
};
