// The part of MFC 4.2 that the plug-in relies on: run-time class tests,
// window objects, the frame's control bars and module state.
#pragma once

#include <windows.h>

#include <vector>

#include "host/sdk/sdk_api.h"

struct AFX_MODULE_STATE {
  const char* Name;
};

// The module state current on this thread.
RHINO_SDK_API AFX_MODULE_STATE* AfxGetModuleState();

// Makes a module state current for a scope and restores the previous one.
class RHINO_SDK_API AFX_MAINTAIN_STATE2 {
 public:
  explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state);
  ~AFX_MAINTAIN_STATE2();
  AFX_MAINTAIN_STATE2(const AFX_MAINTAIN_STATE2&) = delete;
  AFX_MAINTAIN_STATE2& operator=(const AFX_MAINTAIN_STATE2&) = delete;

 private:
  AFX_MODULE_STATE* m_pPrevModuleState;
};

struct RHINO_SDK_API CRuntimeClass {
  const char* m_lpszClassName;
  const CRuntimeClass* m_pBaseClass;

  BOOL IsDerivedFrom(const CRuntimeClass* base) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)
#define DECLARE_DYNAMIC(class_name)             \
 public:                                        \
  static const CRuntimeClass class##class_name; \
  const CRuntimeClass* GetRuntimeClass() const override;

class RHINO_SDK_API CObject {
 public:
  static const CRuntimeClass classCObject;

  virtual ~CObject();
  virtual const CRuntimeClass* GetRuntimeClass() const;
  BOOL IsKindOf(const CRuntimeClass* runtimeClass) const;
};

// A window object wrapping a window handle. It remembers the module state it
// was created under: like MFC's handle maps, the host's window objects can be
// reached only under the host's module state.
class RHINO_SDK_API CWnd : public CObject {
  DECLARE_DYNAMIC(CWnd)

 public:
  HWND m_hWnd = nullptr;

  CWnd();
  int GetDlgCtrlID() const;
  int GetWindowText(LPSTR text, int size) const;

 protected:
  bool IsReachable() const;

 private:
  AFX_MODULE_STATE* m_pOwnerState;
};

class RHINO_SDK_API CControlBar : public CWnd {
  DECLARE_DYNAMIC(CControlBar)

 public:
  virtual BOOL IsDockBar() const;
};

class RHINO_SDK_API CToolBar : public CControlBar {
  DECLARE_DYNAMIC(CToolBar)
};

class RHINO_SDK_API CStatusBar : public CControlBar {
  DECLARE_DYNAMIC(CStatusBar)
};

class RHINO_SDK_API CDockBar : public CControlBar {
  DECLARE_DYNAMIC(CDockBar)

 public:
  BOOL IsDockBar() const override;
};

class RHINO_SDK_API CFrameWnd : public CWnd {
  DECLARE_DYNAMIC(CFrameWnd)

 public:
  // The frame's control bars from head to tail; an entry may hold no bar.
  // Empty when asked outside the module state that owns the frame.
  const std::vector<CControlBar*>& GetControlBarList() const;
  void AddControlBar(CControlBar* bar);

 private:
  std::vector<CControlBar*> m_listControlBars;
};

class RHINO_SDK_API CWinThread : public CObject {
  DECLARE_DYNAMIC(CWinThread)

 public:
  CWnd* m_pMainWnd = nullptr;
};
