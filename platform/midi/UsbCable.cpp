#include "UsbCable.h"

#include <algorithm>

namespace movrin {

void NameUsbCables(std::vector<UsbCable>& cables) {
  for (UsbCable& cable : cables) {
    const bool twin = std::any_of(cables.begin(), cables.end(), [&](const UsbCable& other) {
      return other.product == cable.product && other.location != cable.location;
    });
    cable.name = cable.product + " MIDI " + std::to_string(cable.number) +
                 (twin ? " (USB " + cable.location + ")" : " (USB)");
  }
}

}  // namespace movrin
