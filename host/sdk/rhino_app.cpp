#include "host/sdk/rhino_host_side.h"

CRhinoDoc::CRhinoDoc(int unitSystem) : m_unitSystem(unitSystem) {}

ON::unit_system CRhinoDoc::UnitSystem() const { return static_cast<ON::unit_system>(m_unitSystem); }

CRhinoApp::CRhinoApp() : m_moduleState{"host"} {}

CRhinoDoc* CRhinoApp::ActiveDoc() const { return m_pActiveDoc; }

AFX_MODULE_STATE* CRhinoApp::RhinoModuleState() { return &m_moduleState; }

CRhinoApp& RhinoApp() {
  static CRhinoApp App;
  return App;
}

void CRhinoHostSide::SetActiveDoc(CRhinoDoc* doc) { RhinoApp().m_pActiveDoc = doc; }
