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

 private:
  QApplication m_app;
};
