// The host's script: one command a line from standard input, each acting on
// the host as a user or the host itself would.
#pragma once

#include <istream>

#include "host/program/host_frame.h"
#include "host/program/host_options.h"
#include "host/program/plugin_loader.h"

// Runs commands until the end of the input, the command "quit" or the
// closing of the main window. Blank lines and lines starting with "#" are skipped. The input is
// read on a thread of its own, so that between commands the host's message
// loop goes on and a person can type into its windows. The options are
// those the plug-in was loaded with; "load" and "reload" load it alike.
void RunHostScript(std::istream& input, HostFrame& frame, PlugInSession& session, const HostOptions& options);
