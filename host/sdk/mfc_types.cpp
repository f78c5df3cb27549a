#include "host/sdk/mfc_types.h"

namespace {
AFX_MODULE_STATE* CurrentModuleState = nullptr;
}  // namespace

AFX_MODULE_STATE* AfxGetModuleState() { return CurrentModuleState; }

AFX_MAINTAIN_STATE2::AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state) : m_pPrevModuleState(CurrentModuleState) {
  CurrentModuleState = state;
}

AFX_MAINTAIN_STATE2::~AFX_MAINTAIN_STATE2() { CurrentModuleState = m_pPrevModuleState; }

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
  for (const CRuntimeClass* runtimeClass = this; runtimeClass; runtimeClass = runtimeClass->m_pBaseClass) {
    if (runtimeClass == base) return TRUE;
  }
  return FALSE;
}

const CRuntimeClass CObject::classCObject = {"CObject", nullptr};

CObject::~CObject() = default;

const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

BOOL CObject::IsKindOf(const CRuntimeClass* runtimeClass) const {
  return GetRuntimeClass()->IsDerivedFrom(runtimeClass);
}

#define IMPLEMENT_DYNAMIC(class_name, base_name)                                               \
  const CRuntimeClass class_name::class##class_name = {#class_name, RUNTIME_CLASS(base_name)}; \
  const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

IMPLEMENT_DYNAMIC(CWnd, CObject)
IMPLEMENT_DYNAMIC(CControlBar, CWnd)
IMPLEMENT_DYNAMIC(CToolBar, CControlBar)
IMPLEMENT_DYNAMIC(CStatusBar, CControlBar)
IMPLEMENT_DYNAMIC(CDockBar, CControlBar)
IMPLEMENT_DYNAMIC(CFrameWnd, CWnd)
IMPLEMENT_DYNAMIC(CWinThread, CObject)

CWnd::CWnd() : m_pOwnerState(CurrentModuleState) {}

int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }

int CWnd::GetWindowText(LPSTR text, int size) const { return ::GetWindowTextA(m_hWnd, text, size); }

bool CWnd::IsReachable() const { return CurrentModuleState == m_pOwnerState; }

BOOL CControlBar::IsDockBar() const { return FALSE; }

BOOL CDockBar::IsDockBar() const { return TRUE; }

const std::vector<CControlBar*>& CFrameWnd::GetControlBarList() const {
  static const std::vector<CControlBar*> Unreachable;
  return IsReachable() ? m_listControlBars : Unreachable;
}

void CFrameWnd::AddControlBar(CControlBar* bar) { m_listControlBars.push_back(bar); }
