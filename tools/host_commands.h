// The few commands of the terminal's stand-in host, tried on a line that
// did not evaluate as a formula.
#pragma once

#include <ostream>
#include <string_view>

enum class HostAction { Continue, Exit };

// Runs `units`, `units NAME`, `help`, `exit` or `quit`, writing any answer
// to out; unitSystem is the document's and may be changed.
HostAction RunHostCommand(std::string_view line, int& unitSystem, std::ostream& out);

// The vocabulary and the unit systems as a short table.
void PrintHelp(std::ostream& out);
