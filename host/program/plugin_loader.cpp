#include "host/program/plugin_loader.h"

#include <cstdio>
#include <string>

#include "host/program/host_output.h"
#include "host/program/other_plugin.h"
#include "host/program/plugin_observers.h"
#include "host/program/system_emulation.h"
#include "host/sdk/rhino_host_side.h"

namespace {

constexpr int HostSdkVersion = 200211190;

constexpr const char* DeveloperExports[] = {"RhinoPlugInDeveloperOrganization", "RhinoPlugInDeveloperAddress",
                                            "RhinoPlugInDeveloperCountry",      "RhinoPlugInDeveloperPhone",
                                            "RhinoPlugInDeveloperFax",          "RhinoPlugInDeveloperEmail",
                                            "RhinoPlugInDeveloperWebsite",      "RhinoPlugInUpdateURL"};

using SdkVersionExport = int (*)();
using TextExport = const wchar_t* (*)();

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool Refuse(PlugInSession& session, const std::string& reason) {
  PrintLine("refused: " + reason);
  FreeLibrary(session.Module);
  session.Module = nullptr;
  return false;
}

std::string FormatGuid(const GUID& id) {
  char text[40];
  std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", id.Data1, id.Data2,
                id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5],
                id.Data4[6], id.Data4[7]);
  return text;
}

// Every developer export must give a terminated UTF-16 text.
bool CheckDeveloperTexts(PlugInSession& session, bool report) {
  std::string texts;
  for (const char* name : DeveloperExports) {
    TextExport text = Export<TextExport>(session.Module, name);
    if (!text || !text()) return Refuse(session, std::string("no text from ") + name);
    texts += (texts.empty() ? "" : " | ") + ToUtf8(text());
  }
  if (!report) return true;
  PrintLine("developer: " + texts);
  auto phone = Export<TextExport>(session.Module, "RhinoPlugInDeveloperPhone");
  auto fax = Export<TextExport>(session.Module, "RhinoPlugInDeveloperFax");
  PrintLine(phone == fax && phone() == fax() ? "fax: the phone function" : "fax: not the phone function");
  return true;
}

void ReportIdentity(const CRhinoPlugIn& plugIn, bool brief) {
  PrintLine("loaded: " + ToUtf8(plugIn.PlugInName()) + " " + ToUtf8(plugIn.PlugInVersion()));
  if (brief) return;
  PrintLine("id: " + FormatGuid(plugIn.PlugInID()));
  std::string type = plugIn.PlugInType() == CRhinoPlugIn::utility_plugin ? "utility" : "other";
  PrintLine("type: " + type + ", queries " + std::to_string(plugIn.HostQueryOne()) + " " +
            std::to_string(plugIn.HostQueryTwo()));
}

bool InLoadedModule(LONG_PTR address) {
  HMODULE module = nullptr;
  return GetModuleHandleExW(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             reinterpret_cast<LPCWSTR>(address), &module) != 0;
}

// Each rich edit's procedure, or the one below the other plug-in's.
std::vector<LONG_PTR> CurrentProcedures(const HostFrame& frame) {
  std::vector<LONG_PTR> procedures;
  for (const LabelledWindow& edit : frame.RichEdits)
    procedures.push_back(ProcedureBelowOtherPlugIn(edit.Window));
  return procedures;
}

// The labels of the rich edits whose procedure is no longer the host's; in
// `kept`, whether all of those procedures still lie in a loaded module.
std::string HookedControls(const PlugInSession& session, const HostFrame& frame, bool* kept = nullptr) {
  std::vector<LONG_PTR> now = CurrentProcedures(frame);
  std::string hooked;
  for (std::size_t i = 0; i < now.size(); ++i) {
    if (now[i] == session.HostProcedures[i]) continue;
    hooked += (hooked.empty() ? "" : ", ") + frame.RichEdits[i].Label;
    if (kept) *kept = *kept && InLoadedModule(now[i]);
  }
  return hooked;
}

void ReportModuleState(const PlugInSession& session) {
  if (AfxGetModuleState() != &session.ModuleState) PrintLine("module state: not restored");
}

}  // namespace

bool LoadPlugIn(const HostOptions& options, const HostFrame& frame, PlugInSession& session) {
  if (session.HostProcedures.empty()) session.HostProcedures = CurrentProcedures(frame);
  session.Module = LoadLibraryA(options.PlugInPath.c_str());
  if (!session.Module) {
    PrintLine("refused: cannot load " + options.PlugInPath + ", error " + std::to_string(GetLastError()));
    return false;
  }
  auto sdkVersion = Export<SdkVersionExport>(session.Module, "RhinoPlugInSdkVersion");
  if (!sdkVersion) return Refuse(session, "no RhinoPlugInSdkVersion");
  if (!options.Brief) PrintLine("sdk version: " + std::to_string(sdkVersion()));
  if (sdkVersion() != HostSdkVersion) return Refuse(session, "built for SDK " + std::to_string(sdkVersion()));
  if (!CheckDeveloperTexts(session, !options.Brief)) return false;
  session.Object = CRhinoHostSide::RegisteredPlugIn();
  if (!session.Object) return Refuse(session, "no plug-in object");
  if (!ObservePlugInBeeps(session.Module)) PrintLine("note: the plug-in does not import MessageBeep");
  if (options.Utf8AnsiCodePage && !EmulateUtf8AnsiCodePage(session.Module))
    PrintLine("note: the plug-in does not import WideCharToMultiByte");
  ReportIdentity(*session.Object, options.Brief);
  return true;
}

void RunLoadHandler(PlugInSession& session, const HostFrame& frame) {
  if (!session.Object) return PrintLine("onload: no plug-in loaded");
  int baseCalls = CRhinoHostSide::BaseLoadHandlerCalls();
  BOOL result = FALSE;
  {
    AFX_MAINTAIN_STATE2 plugInState(&session.ModuleState);
    result = session.Object->OnLoadPlugIn();
    ReportModuleState(session);
  }
  std::string hooked = HookedControls(session, frame);
  PrintLine(hooked.empty()             ? "hook: not installed"
            : hooked == "command line" ? "hook: installed"
                                       : "hook: installed on " + hooked);
  PrintLine("onload: " + std::to_string(result));
  if (CRhinoHostSide::BaseLoadHandlerCalls() == baseCalls) PrintLine("onload: base handler not called");
}

void UnloadPlugIn(PlugInSession& session, const HostFrame& frame) {
  if (!session.Object) return PrintLine("unload: no plug-in loaded");
  int baseCalls = CRhinoHostSide::BaseUnloadHandlerCalls();
  {
    AFX_MAINTAIN_STATE2 plugInState(&session.ModuleState);
    session.Object->OnUnloadPlugIn();
    ReportModuleState(session);
  }
  if (CRhinoHostSide::BaseUnloadHandlerCalls() == baseCalls) PrintLine("unload: base handler not called");
  FreeLibrary(session.Module);
  session.Module = nullptr;
  session.Object = nullptr;
  bool kept = true;
  std::string hooked = HookedControls(session, frame, &kept);
  if (hooked.empty()) return PrintLine("unloaded, hook removed");
  PrintLine("unloaded, hook left on " + hooked + (kept ? ", its module kept loaded" : ", its module freed"));
}
