#include "OwnPorts.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace movrin {

std::string OwnPorts::Next(const char* stem) {
  return std::string(stem) + "-" + std::to_string(++made_);
}

bool OwnPorts::Owns(const std::string& fullName) const {
  const std::string client = fullName.substr(0, fullName.find(':'));
  if (client == client_) {
    return true;
  }
  if (client.size() <= client_.size() + 1 || client.compare(0, client_.size(), client_) != 0 ||
      client[client_.size()] != '-') {
    return false;
  }
  return std::all_of(client.begin() + static_cast<std::ptrdiff_t>(client_.size()) + 1, client.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::vector<MidiPortInfo> OwnPorts::Others(std::vector<std::string> names) const {
  std::vector<MidiPortInfo> ports;
  for (std::string& name : names) {
    if (!name.empty() && !Owns(name)) {
      ports.push_back(MidiPortInfo{std::move(name)});
    }
  }
  return ports;
}

}  // namespace movrin
