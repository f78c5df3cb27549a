#include "host/program/host_options.h"

#include <map>
#include <string_view>

namespace {

const std::map<std::string_view, HostLanguage> Languages = {
    {"en", HostLanguage::English}, {"de", HostLanguage::German}, {"blank", HostLanguage::Blank}};

// The options that take no value.
const std::map<std::string_view, bool HostOptions::*> Flags = {
    {"--brief", &HostOptions::Brief},
    {"--upper-case-titles", &HostOptions::UpperCaseTitles},
    {"--focus-away-on-read", &HostOptions::FocusAwayOnRead},
    {"--utf8-ansi-code-page", &HostOptions::Utf8AnsiCodePage},
    {"--accelerators", &HostOptions::Accelerators}};

const std::map<std::string_view, HostLayout> Layouts = {{"standard", HostLayout::Standard},
                                                        {"two-rich-edits", HostLayout::TwoRichEdits},
                                                        {"no-command-bar", HostLayout::NoCommandBar},
                                                        {"no-frame", HostLayout::NoFrame}};

template <typename Value>
bool Lookup(const std::map<std::string_view, Value>& choices, std::string_view name, Value& value) {
  auto found = choices.find(name);
  if (found == choices.end()) return false;
  value = found->second;
  return true;
}

}  // namespace

std::optional<HostOptions> ParseHostOptions(int argc, char** argv, std::string& error) {
  HostOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string_view option = argv[i];
    if (auto flag = Flags.find(option); flag != Flags.end()) {
      options.*(flag->second) = true;
      continue;
    }
    if (i + 1 == argc) {
      error = "missing value or unknown option: " + std::string(option);
      return std::nullopt;
    }
    std::string_view value = argv[++i];
    bool known = (option == "--plugin" && (options.PlugInPath = value, true)) ||
                 (option == "--language" && Lookup(Languages, value, options.Language)) ||
                 (option == "--layout" && Lookup(Layouts, value, options.Layout));
    if (!known) {
      error = "bad option: " + std::string(option) + " " + std::string(value);
      return std::nullopt;
    }
  }
  return options;
}
