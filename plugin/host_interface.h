// The host's operations that the plug-in calls or provides: the plug-in base
// classes, RhinoApp() with its documents and module state, RhLocalizeString,
// openNURBS strings and unit systems, and MFC's window objects. All of them
// come from the host's SDK module, which the plug-in links as its imports.
#pragma once

#include "host/sdk/mfc_types.h"
#include "host/sdk/opennurbs_types.h"
#include "host/sdk/rhino_sdk.h"
