// The host's script: one command a line from standard input, each acting on
// the host as a user or the host itself would.
#pragma once

#include <istream>

#include "host/program/host_frame.h"
#include "host/program/plugin_loader.h"

// Runs commands until the end of the input. Blank lines and lines starting
// with "#" are skipped.
void RunHostScript(std::istream& input, HostFrame& frame, PlugInSession& session);
