#include "PortResolver.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace movrin {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

PortResolution Unique(std::vector<MidiPortInfo> matches) {
  PortResolution result;
  if (matches.size() == 1) {
    result.match = PortMatch::Found;
    result.port = std::move(matches.front());
  } else if (matches.size() > 1) {
    result.match = PortMatch::Ambiguous;
    result.candidates = std::move(matches);
  }
  return result;
}

}  // namespace

PortResolution ResolvePort(std::span<const MidiPortInfo> ports, std::string_view wanted) {
  PortResolution result;
  if (ports.empty()) {
    result.match = PortMatch::NoPorts;
    return result;
  }
  if (wanted.empty()) {
    return result;
  }
  // An exact name wins, even over an index: a port may well be called "1".
  for (const auto& port : ports) {
    if (port.name == wanted) {
      result.match = PortMatch::Found;
      result.port = port;
      return result;
    }
  }
  if (std::all_of(wanted.begin(), wanted.end(), [](unsigned char c) { return std::isdigit(c); })) {
    std::size_t index = 0;
    const auto [end, ec] = std::from_chars(wanted.data(), wanted.data() + wanted.size(), index);
    if (ec == std::errc{} && end == wanted.data() + wanted.size() && index < ports.size()) {
      result.match = PortMatch::Found;
      result.port = ports[index];
    }
    return result;
  }
  std::vector<MidiPortInfo> matches;
  for (const auto& port : ports) {
    if (port.name.find(wanted) != std::string::npos) {
      matches.push_back(port);
    }
  }
  if (!matches.empty()) {
    return Unique(std::move(matches));
  }
  const std::string lowered = Lower(wanted);
  for (const auto& port : ports) {
    if (Lower(port.name).find(lowered) != std::string::npos) {
      matches.push_back(port);
    }
  }
  return Unique(std::move(matches));
}

std::string DescribePortResolution(const PortResolution& resolution, std::string_view wanted,
                                   std::string_view direction, std::size_t portCount) {
  std::string quoted(1, '"');
  quoted.append(wanted).push_back('"');
  const std::string dir(direction);
  switch (resolution.match) {
    case PortMatch::Found:
      return "MIDI " + dir + " port " + quoted + " is \"" + resolution.port.name + "\"";
    case PortMatch::NoPorts:
      return "there are no MIDI " + dir + " ports (looking for " + quoted + ")";
    case PortMatch::NotFound:
      if (!wanted.empty() && std::all_of(wanted.begin(), wanted.end(),
                                         [](unsigned char c) { return std::isdigit(c); })) {
        return "no MIDI " + dir + " port has index " + std::string(wanted) + " (there are " +
               std::to_string(portCount) + "; see --list)";
      }
      return "no MIDI " + dir + " port matches " + quoted + " (see --list)";
    case PortMatch::Ambiguous: {
      std::string text = "MIDI " + dir + " port " + quoted + " is ambiguous: it matches";
      for (std::size_t i = 0; i < resolution.candidates.size(); ++i) {
        text += (i == 0 ? " \"" : ", \"") + resolution.candidates[i].name + "\"";
      }
      return text;
    }
  }
  return {};
}

}  // namespace movrin
