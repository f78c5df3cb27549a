// The few commands of the terminal's stand-in host: help, units, exit and
// quit. A line whose first word names one runs it instead of evaluating.
#pragma once

#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

enum class HostAction { Continue, Exit };

// Runs the line when its first word (in any case) is a command, writing any
// answer to out; unitSystem is the document's and may be changed. Returns
// nothing for a line that is no command.
std::optional<HostAction> RunHostCommand(std::string_view line, int& unitSystem, std::ostream& out);

// The text without its surrounding blanks when it reads as a command name:
// one word of letters, digits, '_' and '-', with a letter in it and no digit
// first ("Circle", "_Line"; not "sin(30" nor "5mm+1").
std::optional<std::string_view> CommandLikeWord(std::string_view text);

// The commands' names, in lower case.
std::vector<std::string_view> HostCommandNames();

// The vocabulary and the unit systems as a short table.
void PrintHelp(std::ostream& out);
