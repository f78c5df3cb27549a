// Non-interactive use: every text is a command line on which Enter was
// pressed. Standard output gets what the host would receive (the value, or
// the text unchanged when it is no formula), standard error the message for
// each failure. Definitions and `ans` carry from one text to the next.
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
