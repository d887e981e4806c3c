#pragma once

// The ports of our own client: fresh names for the ports a backend opens, and the check that
// keeps them out of its lists and away from its opens (a program talking to itself).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "MidiBackend.h"

namespace movrin {

class OwnPorts {
 public:
  explicit OwnPorts(std::string clientName) : client_(std::move(clientName)) {}

  [[nodiscard]] const std::string& client() const { return client_; }

  // "<stem>-1", "<stem>-2", ...: no two ports of one backend share a name.
  [[nodiscard]] std::string Next(const char* stem);

  // True for "<client>:port", and for "<client>-NN:port", JACK's name for a second client of
  // the same name.
  [[nodiscard]] bool Owns(const std::string& fullName) const;

  // The system's ports without ours and without nameless ones, in the given order.
  [[nodiscard]] std::vector<MidiPortInfo> Others(std::vector<std::string> names) const;

 private:
  std::string client_;
  std::uint64_t made_ = 0;
};

}  // namespace movrin
