// The plug-in object that the host queries and loads, and the module's
// exports (listed in vornCalc.def under undecorated names).
#pragma once

#include "plugin/host_interface.h"

class CCalcPlugIn : public CRhinoUtilityPlugIn {
 public:
  CCalcPlugIn();
  ~CCalcPlugIn() override;

  GUID PlugInID() const override;
  const wchar_t* PlugInName() const override;
  const wchar_t* PlugInVersion() const override;
  BOOL OnLoadPlugIn() override;
  void OnUnloadPlugIn() override;
  BOOL HostQueryOne() const override;
  BOOL HostQueryTwo() const override;

 private:
  ON_wString VersionText;
};

extern "C" {
int RhinoPlugInSdkVersion();
const wchar_t* RhinoPlugInDeveloperOrganization();
const wchar_t* RhinoPlugInDeveloperAddress();
const wchar_t* RhinoPlugInDeveloperCountry();
// Also exported as RhinoPlugInDeveloperFax.
const wchar_t* RhinoPlugInDeveloperPhone();
const wchar_t* RhinoPlugInDeveloperEmail();
const wchar_t* RhinoPlugInDeveloperWebsite();
const wchar_t* RhinoPlugInUpdateURL();
}
