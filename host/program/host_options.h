// The host program's command-line options.
#pragma once

#include <optional>
#include <string>

#include "host/sdk/rhino_host_side.h"

enum class HostLayout { Standard, TwoRichEdits, NoCommandBar, NoFrame };

struct HostOptions {
  std::string PlugInPath;  // empty: vornCalc.dll beside the host program
  HostLanguage Language = HostLanguage::English;
  HostLayout Layout = HostLayout::Standard;
  // Report of the plug-in's exports and identity cut down to its name.
  bool Brief = false;
  // The bars show their titles in capitals, unlike the host's title table.
  bool UpperCaseTitles = false;
  // The command line gives the focus to the Notes bar whenever its selected
  // text is read, as a host might that opens a list of completions.
  bool FocusAwayOnRead = false;
  // The plug-in's conversions through the ANSI code page act as they do
  // where Windows' ANSI code page is UTF-8.
  bool Utf8AnsiCodePage = false;
  // The message loop translates the frame's accelerators (Ctrl+S, Ctrl+N)
  // before dispatching, as an MFC frame's PreTranslateMessage does.
  bool Accelerators = false;
};

inline constexpr const char* HostUsage =
    "usage: vorncalc-host [--plugin PATH] [--language en|de|blank]\n"
    "                     [--layout standard|two-rich-edits|no-command-bar|no-frame]\n"
    "                     [--brief] [--upper-case-titles] [--focus-away-on-read]\n"
    "                     [--utf8-ansi-code-page] [--accelerators]\n"
    "Reads a script from standard input, one command a line: units N, units none,\n"
    "type TEXT, settext TEXT, select A B, enter, ctrl, chord KEY ..., down KEY,\n"
    "up KEY, click viewport, wheel viewport, clip TEXT, focus away, focus back,\n"
    "undo, show, state, subclass, onload, unload, load PATH, reload N, mark,\n"
    "leaks, sleep MS, quit.\n";

// The options, or nothing with `error` set.
std::optional<HostOptions> ParseHostOptions(int argc, char** argv, std::string& error);
