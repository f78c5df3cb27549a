// The commands of the terminal's stand-in host: help, units, digits, vars,
// exit and quit. A line whose first word names one runs it instead of
// evaluating.
#pragma once

#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "tools/session.h"

enum class HostAction { Continue, Exit };

// What a command did: whether it changed a setting ("units m"), only showed
// something ("units", "help"), or refused its argument ("units parsec",
// whose answer then says why).
struct HostReply {
  HostAction Action = HostAction::Continue;
  bool Changed = false;
  bool Refused = false;
};

// Runs the line when its first word (in any case) is a command, writing its
// answer to out; the command may change the session's settings. Returns
// nothing for a line that is no command.
std::optional<HostReply> RunHostCommand(std::string_view line, Session& session, std::ostream& out);

// The commands' names, in lower case.
std::vector<std::string_view> HostCommandNames();
