// Loading a plug-in module as the host's plug-in manager does: check its
// exports, find the plug-in object its construction registered, call its
// load handler and see where the command line's procedure went.
#pragma once

#include <windows.h>

#include <vector>

#include "host/program/host_frame.h"
#include "host/program/host_options.h"
#include "host/sdk/rhino_sdk.h"

struct PlugInSession {
  HMODULE Module = nullptr;
  CRhinoPlugIn* Object = nullptr;
  // The plug-in module's own MFC state, current while the host calls it.
  AFX_MODULE_STATE ModuleState{"plug-in"};
  // The rich edits' window procedures before a plug-in was first loaded.
  std::vector<LONG_PTR> HostProcedures;
};

// Loads the module at the options' path and reports its exports and its
// identity. False when the host refuses the module; the reason has been
// reported.
bool LoadPlugIn(const HostOptions& options, const HostFrame& frame, PlugInSession& session);
// Calls OnLoadPlugIn and reports its result and which control it hooked.
void RunLoadHandler(PlugInSession& session, const HostFrame& frame);
// Calls OnUnloadPlugIn, frees the module and reports whether the host's
// procedures are back (below another plug-in's, if that subclassed since)
// or, if not, whether what is left in their place is still loaded.
void UnloadPlugIn(PlugInSession& session, const HostFrame& frame);
