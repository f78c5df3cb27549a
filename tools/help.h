// The text of "help": an overview and topics that together hold the whole
// vocabulary, read from the parser as completion reads it, grouped as in
// the manual page.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

struct NameGroup {
  std::string Title;
  std::vector<std::string> Names;
};

// The functions and the postfix operators of the calculator in their
// groups; a name that no group lists lands in a last group "others", so that
// help never leaves a name out.
std::vector<NameGroup> FunctionGroups();
std::vector<NameGroup> SuffixGroups();

// Prints the overview (topic "") or a topic, "functions", "units" or
// "commands" in any case, each short enough for a terminal of 24 lines;
// for an unknown topic says so and returns false.
bool PrintHelp(std::ostream& out, const std::vector<std::string_view>& commands, std::string_view topic = {});

// The topics' names, for completion.
std::vector<std::string_view> HelpTopics();
