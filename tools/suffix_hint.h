// A second line for the parser's message where a unit suffix ran into an
// operator: "5in*2" reads the suffix as "in*", which names nothing, and the
// message "Unknown token found: 5in <- here" seems to blame the unit.
#pragma once

#include <string>
#include <string_view>

// What to write instead ("A unit suffix ends at a blank, a comma or a
// bracket: write 5in *2"), given the line and the message it failed with;
// empty when the message is about something else.
std::string SuffixHint(std::string_view line, std::string_view message);
