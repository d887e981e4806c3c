#pragma once

// Command lines are split by CLI11; each tool checks the values itself, so that its messages
// and exit codes stay its own, and prints its own --help (call app.set_help_flag() first).

#include <CLI/CLI.hpp>
#include <cctype>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace movrin {

// Flags of the tool's `app`, which refuse a value ("--list=yes").
inline void AddFlags(CLI::App& app, std::initializer_list<std::pair<const char*, bool*>> flags) {
  for (const auto& [name, value] : flags) {
    app.add_flag(name, *value)->disable_flag_override();
  }
}

// Parses `args` (without the program name); the reason when the command line is malformed.
[[nodiscard]] inline std::optional<std::string> ParseCommandLine(
    CLI::App& app, std::span<const std::string_view> args) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  // CLI11 on Windows reads "/name" as an option: a path such as /tmp/image.bin must stay one.
  app.allow_windows_style_options(false);
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    // Two of CLI11's phrases in the tools' own words, naming the option as it is typed.
    std::string text = e.what();
    const std::pair<const char*, const char*> phrases[] = {
        {"^(\\S+): 1 required \\S+ missing$", "$1 needs a value"},
        {"^(\\S+) was given a disallowed flag override$", "--$1 takes no value"}};
    for (const auto& [pattern, words] : phrases) {
      text = std::regex_replace(text, std::regex(pattern), words);
    }
    // The tools' messages start in lower case, CLI11's ("The following argument...") do not.
    if (!text.empty()) {
      text.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(text.front())));
    }
    return text;
  }
  return std::nullopt;
}

}  // namespace movrin
