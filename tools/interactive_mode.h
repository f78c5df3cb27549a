// The interactive calculator on a terminal: a prompt with line editing and
// history, values shown at once, and a few host commands for other lines.
#pragma once

#include "tools/session.h"

// Returns the exit status once the user leaves (exit, quit or end of input).
int RunInteractive(Session& session);
