#include "plugin/command_line_hook.h"

#include <mbstring.h>

#include <array>
#include <cstring>

#include "plugin/command_line_proc.h"

namespace {

constexpr int TitleCount = 13;
constexpr int OsnapTitleIndex = 3;
constexpr int StatusTitleIndex = 12;
constexpr int CommandLineRichEditNumber = 3;

constexpr std::array<const wchar_t*, TitleCount> EnglishTitles = {
    L"Command",       L"Notes",           L"Layers",        L"Osnap[[0269]]", L"Properties",
    L"Zebra Options", L"Curvature Graph", L"Edge Analysis", L"EMap Options",  L"Draft Angle",
    L"Curvature",     L"MoveUVN",         L"Status"};

// The framework's standard bar and dock-bar identifiers.
constexpr UINT FirstStandardBarId = 0xE800, LastStandardBarId = 0xE805;
constexpr UINT FirstDockBarId = 0xE81B, LastDockBarId = 0xE81F;

int RichEditSeenCount = 0;
// Set by the load handler, cleared by the unload handler.
bool Loaded = false;
HHOOK MouseHook = nullptr;
HHOOK KeyboardHook = nullptr;

using TitleTable = std::array<ON_String, TitleCount>;

TitleTable LocalizeTitles() {
  TitleTable titles;
  for (int index = 0; index < TitleCount; ++index) {
    titles[index] =
        ON_String(RhLocalizeString(reinterpret_cast<const unsigned short*>(EnglishTitles[index]), 0));
  }
  return titles;
}

// Built at the first search, destroyed with the module.
const TitleTable& HostControlBarTitles() {
  static const TitleTable Titles = LocalizeTitles();
  return Titles;
}

bool IsFrameworkDockBar(const CControlBar& bar) {
  if (!bar.IsDockBar()) return false;
  UINT id = static_cast<UINT>(bar.GetDlgCtrlID());
  return (id >= FirstStandardBarId && id <= LastStandardBarId) ||
         (id >= FirstDockBarId && id <= LastDockBarId);
}

bool SameTitle(const char* text, const char* title) {
  return _mbsicmp(reinterpret_cast<const unsigned char*>(text),
                  reinterpret_cast<const unsigned char*>(title)) == 0;
}

bool BarMatches(const CControlBar& bar, int index, const ON_String& title) {
  char text[256] = "";
  bar.GetWindowText(text, sizeof text);
  if (bar.IsKindOf(RUNTIME_CLASS(CToolBar))) return index == OsnapTitleIndex && SameTitle(text, title);
  if (bar.IsKindOf(RUNTIME_CLASS(CStatusBar)) && index == StatusTitleIndex) return true;
  return text[0] != '\0' && SameTitle(text, title);
}

bool OnTopOfCommandLine() {
  return CommandLineWindow && IsWindow(CommandLineWindow) &&
         GetWindowLongPtrW(CommandLineWindow, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(CommandLineProc);
}

void PutPreviousProcedureBack() {
  SetWindowLongPtrW(CommandLineWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PreviousCommandLineProc));
}

// The mouse and the keyboard of the command line's thread: every click and
// every key, whichever window takes it and before the host translates it.
void WatchCommandLineThread() {
  DWORD thread = GetWindowThreadProcessId(CommandLineWindow, nullptr);
  MouseHook = SetWindowsHookExW(WH_MOUSE, CommandLineMouseProc, nullptr, thread);
  KeyboardHook = SetWindowsHookExW(WH_KEYBOARD, CommandLineKeyboardProc, nullptr, thread);
}

void StopWatchingCommandLineThread() {
  for (HHOOK* hook : {&MouseHook, &KeyboardHook}) {
    if (*hook) UnhookWindowsHookEx(*hook);
    *hook = nullptr;
  }
}

// Keeps the module in memory until the process ends, whatever frees it.
void PinModule() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&CommandLineProc), &self);
}

// Whether CommandLineProc is in the chain of a control that still exists:
// while the plug-in is loaded, and after an unload beneath another
// plug-in's subclass.
bool ProcedureInChain() { return CommandLineWindow && IsWindow(CommandLineWindow); }

// Searches the host's windows afresh and puts CommandLineProc in place.
void SubclassCommandLine() {
  CommandLineWindow = nullptr;
  RichEditSeenCount = 0;
  CWnd* commandBar = FindHostControlBar(CommandBarTitleIndex);
  if (!commandBar) return;
  EnumChildWindows(commandBar->m_hWnd, FindCommandLineEditProc, 0);
  if (!CommandLineWindow) return;
  // The wide-character call keeps the control a Unicode window: through an
  // ANSI procedure every character typed or set would pass the ANSI code page.
  PreviousCommandLineProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(CommandLineWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CommandLineProc)));
}

// Should the host free the module without its unload handler, the hook
// still goes if it can; beneath another subclass nothing can help then.
struct HookRemover {
  ~HookRemover() {
    StopWatchingCommandLineThread();
    if (OnTopOfCommandLine()) PutPreviousProcedureBack();
  }
} HookRemovalAtUnload;

}  // namespace

CWnd* FindHostControlBar(int index) {
  const ON_String title = HostControlBarTitles()[index];
  AFX_MAINTAIN_STATE2 hostState(RhinoApp().RhinoModuleState());
  CWnd* mainWindow = RhinoApp().m_pMainWnd;
  if (!mainWindow || !mainWindow->IsKindOf(RUNTIME_CLASS(CFrameWnd))) return nullptr;
  for (CControlBar* bar : static_cast<CFrameWnd*>(mainWindow)->GetControlBarList()) {
    if (bar && !IsFrameworkDockBar(*bar) && BarMatches(*bar, index, title)) return bar;
  }
  return nullptr;
}

BOOL CALLBACK FindCommandLineEditProc(HWND window, LPARAM) {
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "RichEdit20W") != 0) return TRUE;
  if (++RichEditSeenCount != CommandLineRichEditNumber) return TRUE;
  CommandLineWindow = window;
  return FALSE;
}

void InstallCommandLineHook() {
  // A second subclassing would make the previous procedure our own.
  if (Loaded) return;
  Loaded = true;
  if (!ProcedureInChain()) SubclassCommandLine();
  if (!CommandLineWindow) return;
  CommandLineEvaluates = true;
  WatchCommandLineThread();
}

// Another plug-in that subclassed the control after us holds our procedure
// as its previous one and calls it. Putting back the procedure we replaced
// would throw that one out, and freeing the module would leave it calling
// code that is gone. So our procedure stays in the chain, passing every
// message on, until a load arms it again. Comctl32's SetWindowSubclass chain
// does not help: it mends only subclasses made through it, and removing its
// last entry restores the control's first procedure over whatever another
// plug-in set with SetWindowLongPtr, as plug-ins for this host do.
//
// The module stays loaded either way. The C++ runtime linked into it cannot
// give back what it takes from the process at every load: the unwinder's
// registration of the module's frames starts the thread library, which
// keeps a TLS slot, two kernel handles and some memory for the loading
// thread. Kept loaded, the module sets its runtime up once per process, and
// a load after an unload arms it again.
void RemoveCommandLineHook() {
  StopWatchingCommandLineThread();
  CommandLineEvaluates = false;
  Loaded = false;
  PinModule();
  if (!ProcedureInChain()) {
    CommandLineWindow = nullptr;
    return;
  }
  if (OnTopOfCommandLine()) {
    PutPreviousProcedureBack();
    CommandLineWindow = nullptr;
  }
}
