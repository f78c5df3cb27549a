// What only the host program itself uses of its SDK module: choosing the
// language and the active document, and finding the plug-in object that the
// last loaded module registered.
#pragma once

#include "host/sdk/rhino_sdk.h"

// Blank: a host whose translation gives an empty text for every title.
enum class HostLanguage { English, German, Blank };

class RHINO_SDK_API CRhinoHostSide {
 public:
  static void SetLanguage(HostLanguage language);
  static void SetActiveDoc(CRhinoDoc* doc);
  // The plug-in object registered by its constructor and not yet destroyed.
  static CRhinoPlugIn* RegisteredPlugIn();
  // How often the base load and unload handlers have run.
  static int BaseLoadHandlerCalls();
  static int BaseUnloadHandlerCalls();
};
