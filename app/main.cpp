// Movrin Update: writes a firmware image into a MIDI device.

#include "CUpdaterApp.h"

int main(int argc, char** argv) {
  CUpdaterApp app(argc, argv);
  app.InitInstance();
  return 0;
}
