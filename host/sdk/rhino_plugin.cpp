#include "host/sdk/rhino_host_side.h"

namespace {
CRhinoPlugIn* LivePlugIn = nullptr;
int LoadHandlerCallCount = 0;
int UnloadHandlerCallCount = 0;
}  // namespace

CRhinoPlugIn::CRhinoPlugIn() { LivePlugIn = this; }

CRhinoPlugIn::~CRhinoPlugIn() {
  if (LivePlugIn == this) LivePlugIn = nullptr;
}

BOOL CRhinoPlugIn::IsValid(ON_TextLog*) const { return TRUE; }

BOOL CRhinoPlugIn::OnLoadPlugIn() {
  ++LoadHandlerCallCount;
  return TRUE;
}

BOOL CRhinoPlugIn::CanUnLoad() { return TRUE; }

void CRhinoPlugIn::OnUnloadPlugIn() { ++UnloadHandlerCallCount; }

void CRhinoPlugIn::LoadProfile(const wchar_t*, CRhinoProfileContext&) {}

void CRhinoPlugIn::SaveProfile(const wchar_t*, CRhinoProfileContext&) {}

const wchar_t* CRhinoPlugIn::GetPlugInRegistryKey() const { return L""; }

BOOL CRhinoPlugIn::OnRegisterPlugIn() { return TRUE; }

BOOL CRhinoPlugIn::HostQueryOne() const { return FALSE; }

BOOL CRhinoPlugIn::HostQueryTwo() const { return FALSE; }

BOOL CRhinoPlugIn::OnDisplayPlugInHelp(HWND) const { return FALSE; }

void CRhinoPlugIn::OnInitPlugInMenuPopups(WPARAM, LPARAM) {}

BOOL CRhinoPlugIn::OnPlugInMenuCommand(WPARAM) { return FALSE; }

BOOL CRhinoPlugIn::ReadDocument(CRhinoDoc&, ON_BinaryArchive&) { return TRUE; }

BOOL CRhinoPlugIn::WriteDocument(CRhinoDoc&, ON_BinaryArchive&) { return TRUE; }

void CRhinoPlugIn::AddPagesToObjectPropertiesDialog(CRhinoObjectPropertiesDialogPage**, int) {}

void CRhinoPlugIn::AddPagesToOptionsDialog(CRhinoOptionsDialogPage**, int) {}

const ON_ClassId CRhinoUtilityPlugIn::m_CRhinoUtilityPlugIn_class_id("CRhinoUtilityPlugIn",
                                                                     &ON_Object::m_ON_Object_class_id);

const ON_ClassId* CRhinoUtilityPlugIn::ClassId() const { return &m_CRhinoUtilityPlugIn_class_id; }

// A plug-in object is unique to its module and cannot be copied.
ON_Object* CRhinoUtilityPlugIn::DuplicateObject() const { return nullptr; }

CRhinoPlugIn::plugin_type CRhinoUtilityPlugIn::PlugInType() const { return utility_plugin; }

CRhinoPlugIn* CRhinoHostSide::RegisteredPlugIn() { return LivePlugIn; }

int CRhinoHostSide::BaseLoadHandlerCalls() { return LoadHandlerCallCount; }

int CRhinoHostSide::BaseUnloadHandlerCalls() { return UnloadHandlerCallCount; }
