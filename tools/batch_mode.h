// Non-interactive use: every text is a command line on which Enter was
// pressed. Standard output gets what the host would receive (the value, or
// the text unchanged when it is no formula), standard error the parser's
// message for each failure.
#pragma once

#include <istream>
#include <span>
#include <string>

// Exit statuses of the terminal calculator.
constexpr int ExitAllEvaluated = 0;
constexpr int ExitSomeFailed = 1;
constexpr int ExitUsageError = 2;

int EvaluateTexts(std::span<const std::string> texts, int unitSystem);

// One text a line; a Windows line ending does not count as part of the text.
int EvaluateLines(std::istream& in, int unitSystem);
