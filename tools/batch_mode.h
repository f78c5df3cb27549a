// Non-interactive use: every text is a command line on which Enter was
// pressed, as the plug-in judges it. Standard output gets what the host
// would receive (the value, or the text unchanged when it is a plain number
// or no formula), standard error the message for each refused text.
// Definitions and `ans` carry from one text to the next. The commands
// (units, digits, help, vars, exit) run too: one that changes a setting
// quietly, one that shows something on standard output.
#pragma once

#include <istream>
#include <span>
#include <string>

#include "tools/session.h"

// Exit statuses of the terminal calculator.
constexpr int ExitAllEvaluated = 0;
constexpr int ExitSomeFailed = 1;
constexpr int ExitUsageError = 2;

int EvaluateTexts(std::span<const std::string> texts, Session& session);

// One text a line; a Windows line ending does not count as part of the
// text, and a blank line is skipped. Each message names its line number.
int EvaluateLines(std::istream& in, Session& session);
