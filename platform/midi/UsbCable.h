#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace movrin {

// One cable of one MIDI streaming interface, in one direction.
struct UsbCable {
  std::string name;      // as listed
  std::string product;   // the device's product string
  std::string location;  // where it is plugged in, as sysfs names it ("1-1.4")
  int number = 1;        // the port's number on its device, counted as the kernel does
  std::uint8_t bus = 0;
  std::uint8_t address = 0;
  std::uint8_t interface = 0;
  std::uint8_t endpoint = 0;  // with the direction bit
  std::uint16_t packetSize = 64;
  bool interrupt = false;  // an interrupt endpoint rather than a bulk one
  std::uint8_t cable = 0;
};

// Names each cable as the kernel names its port ("<product> MIDI <n>"), marked as ours. Two
// devices of the same product would list the same names, and only the first could be picked:
// theirs also say where each is plugged in, which stays the same across replugs into the same
// socket.
void NameUsbCables(std::vector<UsbCable>& cables);

}  // namespace movrin
