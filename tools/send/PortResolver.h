#pragma once

// Finds the port a user means: by its index in the list, its exact name, or a part of its name
// that only one port has.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MidiBackend.h"

namespace movrin {

enum class PortMatch { Found, NoPorts, NotFound, Ambiguous };

struct PortResolution {
  PortMatch match = PortMatch::NotFound;
  MidiPortInfo port;                     // when Found
  std::vector<MidiPortInfo> candidates;  // when Ambiguous
};

[[nodiscard]] PortResolution ResolvePort(std::span<const MidiPortInfo> ports,
                                         std::string_view wanted);

// One line for the user; `direction` is "output" or "input".
[[nodiscard]] std::string DescribePortResolution(const PortResolution& resolution,
                                                 std::string_view wanted,
                                                 std::string_view direction, std::size_t portCount);

}  // namespace movrin
