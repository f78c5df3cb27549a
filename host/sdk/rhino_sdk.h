// The part of the host SDK that the plug-in relies on: the plug-in base
// classes, the application and document objects, and localisation.
#pragma once

#include <windows.h>

#include "host/sdk/mfc_types.h"
#include "host/sdk/opennurbs_types.h"
#include "host/sdk/sdk_api.h"

class CRhinoProfileContext;
class CRhinoDoc;
class CRhinoObjectPropertiesDialogPage;
class CRhinoOptionsDialogPage;

// The base of every plug-in object. Constructing one registers it with the
// host. The order of the virtual operations is the host's, and plug-ins built
// against it depend on it.
class RHINO_SDK_API CRhinoPlugIn : public ON_Object {
 public:
  enum plugin_type {
    unknown_plugin_type = 0,
    render_plugin = 1,
    file_import_plugin = 2,
    file_export_plugin = 4,
    digitizer_plugin = 8,
    utility_plugin = 16,
  };

  CRhinoPlugIn();
  ~CRhinoPlugIn() override;
  BOOL IsValid(ON_TextLog* textLog = nullptr) const override;

  virtual GUID PlugInID() const = 0;
  virtual const wchar_t* PlugInName() const = 0;
  virtual const wchar_t* PlugInVersion() const = 0;
  virtual plugin_type PlugInType() const = 0;
  virtual BOOL OnLoadPlugIn();
  virtual BOOL CanUnLoad();
  virtual void OnUnloadPlugIn();
  virtual void LoadProfile(const wchar_t* section, CRhinoProfileContext& context);
  virtual void SaveProfile(const wchar_t* section, CRhinoProfileContext& context);
  virtual const wchar_t* GetPlugInRegistryKey() const;
  virtual BOOL OnRegisterPlugIn();
  // Two yes/no queries whose meaning belongs to the host.
  virtual BOOL HostQueryOne() const;
  virtual BOOL HostQueryTwo() const;
  virtual BOOL OnDisplayPlugInHelp(HWND window) const;
  virtual void OnInitPlugInMenuPopups(WPARAM wParam, LPARAM lParam);
  virtual BOOL OnPlugInMenuCommand(WPARAM wParam);
  virtual BOOL ReadDocument(CRhinoDoc& doc, ON_BinaryArchive& archive);
  virtual BOOL WriteDocument(CRhinoDoc& doc, ON_BinaryArchive& archive);
  virtual void AddPagesToObjectPropertiesDialog(CRhinoObjectPropertiesDialogPage** pages, int capacity);
  virtual void AddPagesToOptionsDialog(CRhinoOptionsDialogPage** pages, int capacity);
};

class RHINO_SDK_API CRhinoUtilityPlugIn : public CRhinoPlugIn {
 public:
  static const ON_ClassId m_CRhinoUtilityPlugIn_class_id;

  const ON_ClassId* ClassId() const override;
  ON_Object* DuplicateObject() const override;
  plugin_type PlugInType() const override;
};

class RHINO_SDK_API CRhinoDoc {
 public:
  explicit CRhinoDoc(int unitSystem);
  ON::unit_system UnitSystem() const;

 private:
  int m_unitSystem;
};

class RHINO_SDK_API CRhinoApp : public CWinThread {
 public:
  CRhinoApp();
  // The active document, or null when the host has none.
  CRhinoDoc* ActiveDoc() const;
  // The host's module state, under which its window objects can be reached.
  AFX_MODULE_STATE* RhinoModuleState();

 private:
  friend class CRhinoHostSide;
  CRhinoDoc* m_pActiveDoc = nullptr;
  AFX_MODULE_STATE m_moduleState;
};

RHINO_SDK_API CRhinoApp& RhinoApp();

// The text of an English title in the host's current language. A trailing
// "[[nnnn]]" tag, which tells equal English texts apart, is never shown.
RHINO_SDK_API const unsigned short* RhLocalizeString(const unsigned short* english, int context);
