#include "plugin/plugin_object.h"

#include "plugin/command_line_hook.h"

namespace {
constexpr int HostSdkVersion = 200211190;
constexpr GUID VornCalcId = {0x3C1F7A52, 0x9B4E, 0x4D27, {0xA6, 0xE0, 0x1D, 0x58, 0xB2, 0xC9, 0x4E, 0x73}};
}  // namespace

// The one plug-in object; constructing it registers it with the host.
CCalcPlugIn ThePlugIn;

CCalcPlugIn::CCalcPlugIn() { VersionText = "Oct  2 2004  00:06:17"; }

CCalcPlugIn::~CCalcPlugIn() = default;

GUID CCalcPlugIn::PlugInID() const { return VornCalcId; }

const wchar_t* CCalcPlugIn::PlugInName() const { return L"vornCalc"; }

const wchar_t* CCalcPlugIn::PlugInVersion() const { return VersionText; }

// Without a command line the plug-in still loads and stays inert.
BOOL CCalcPlugIn::OnLoadPlugIn() {
  InstallCommandLineHook();
  return CRhinoUtilityPlugIn::OnLoadPlugIn();
}

// The hook goes while the module's code is still there.
void CCalcPlugIn::OnUnloadPlugIn() {
  RemoveCommandLineHook();
  CRhinoUtilityPlugIn::OnUnloadPlugIn();
}

BOOL CCalcPlugIn::HostQueryOne() const { return TRUE; }

BOOL CCalcPlugIn::HostQueryTwo() const { return TRUE; }

int RhinoPlugInSdkVersion() { return HostSdkVersion; }

const wchar_t* RhinoPlugInDeveloperOrganization() { return L"vorncalc developers"; }

const wchar_t* RhinoPlugInDeveloperAddress() { return L"no postal address"; }

const wchar_t* RhinoPlugInDeveloperCountry() { return L"no country given"; }

const wchar_t* RhinoPlugInDeveloperPhone() { return L"no telephone"; }

const wchar_t* RhinoPlugInDeveloperEmail() { return L"no e-mail address"; }

const wchar_t* RhinoPlugInDeveloperWebsite() { return L"no web site"; }

const wchar_t* RhinoPlugInUpdateURL() { return L"no update address"; }
