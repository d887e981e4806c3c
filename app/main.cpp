// Movrin Update: writes a firmware image into a MIDI device.

#include "CUpdaterApp.h"
#include "MidiBackend.h"

int main(int argc, char** argv) {
  movrin::IgnoreBrokenPipe();
  CUpdaterApp app(argc, argv);
  app.InitInstance();
  return app.ExitInstance();
}
