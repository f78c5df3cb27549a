#include "host/program/host_frame.h"

#include <richedit.h>

#include "host/program/host_output.h"
#include "host/sdk/rhino_host_side.h"

namespace {

constexpr wchar_t WindowClass[] = L"VorncalcHostWindow";
constexpr int FrameWidth = 720;
constexpr int BarHeight = 70;
// The command bar is taller, for the labels under its boxes.
constexpr int CommandBarHeight = 84;
constexpr int ViewportHeight = 120;
constexpr int BoxHeight = 30;

// The framework's toolbar, status bar and dock-bar identifiers.
constexpr int ToolBarId = 0xE800, StatusBarId = 0xE801;
constexpr int DockBarTopId = 0xE81B, DockBarLeftId = 0xE81C, DockBarRightId = 0xE81D,
              DockBarBottomId = 0xE81E;

enum class BarKind { Dock, Tool, Status, Plain };

// What a bar holds, besides its title.
enum class BarContent { Nothing, ThreeRichEdits, CommandLine, TwoRichEditCommandLine, NotesEdit };

struct BarPlan {
  BarKind Kind;
  int Id;
  std::wstring Title;
  BarContent Content;
  std::string Label;
};

std::wstring Localized(const wchar_t* english) {
  return reinterpret_cast<const wchar_t*>(
      RhLocalizeString(reinterpret_cast<const unsigned short*>(english), 0));
}

// Bars that a search for the command bar must pass over come first; each
// holds rich edits that would be taken if it were matched.
std::vector<BarPlan> BarsOf(HostLayout layout) {
  std::vector<BarPlan> bars = {
      {BarKind::Dock, DockBarTopId, Localized(L"Command"), BarContent::ThreeRichEdits, "dock bar"},
      {BarKind::Tool, ToolBarId, Localized(L"Command"), BarContent::ThreeRichEdits, "toolbar"},
      {BarKind::Status, StatusBarId, L"Ready", BarContent::Nothing, "status bar"},
      {BarKind::Plain, 0xE902, L"", BarContent::ThreeRichEdits, "untitled bar"},
      {BarKind::Plain, 0xE903, Localized(L"Layers"), BarContent::ThreeRichEdits, "layers bar"},
  };
  if (Localized(L"Command") != L"Command") {
    bars.push_back({BarKind::Plain, 0xE904, L"Command", BarContent::ThreeRichEdits, "English-titled bar"});
  }
  std::wstring commandTitle = layout == HostLayout::NoCommandBar ? L"Command History" : Localized(L"Command");
  BarContent commandContent =
      layout == HostLayout::TwoRichEdits ? BarContent::TwoRichEditCommandLine : BarContent::CommandLine;
  bars.push_back({BarKind::Plain, 0xE905, commandTitle, commandContent, "command bar"});
  bars.push_back({BarKind::Plain, 0xE906, Localized(L"Notes"), BarContent::NotesEdit, "notes bar"});
  for (int id : {DockBarLeftId, DockBarRightId, DockBarBottomId}) {
    bars.push_back({BarKind::Dock, id, L"", BarContent::Nothing, "dock bar"});
  }
  return bars;
}

std::unique_ptr<CControlBar> NewBarObject(BarKind kind) {
  switch (kind) {
    case BarKind::Dock: return std::make_unique<CDockBar>();
    case BarKind::Tool: return std::make_unique<CToolBar>();
    case BarKind::Status: return std::make_unique<CStatusBar>();
    case BarKind::Plain: break;
  }
  return std::make_unique<CControlBar>();
}

void RegisterWindowClass() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.lpszClassName = WindowClass;
  RegisterClassW(&windowClass);
}

int RichEditWidth(const std::string& label) {
  if (label == "command line") return 240;
  return label == "history" ? 170 : 90;
}

int HeightOf(const BarPlan& plan) {
  return plan.Content == BarContent::CommandLine || plan.Content == BarContent::TwoRichEditCommandLine
             ? CommandBarHeight
             : BarHeight;
}

// The command bar's boxes in a size that a picture of them shows legibly,
// their labels smaller.
HFONT CommandBarFont(int pixels) {
  return CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

HWND CreateChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id,
                 RECT place) {
  return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, place.left, place.top,
                         place.right - place.left, place.bottom - place.top, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                         nullptr);
}

int FramePlanHeight(const std::vector<BarPlan>& bars) {
  int height = 0;
  for (const BarPlan& plan : bars) height += HeightOf(plan);
  return height;
}

class BarFiller {
 public:
  explicit BarFiller(HostFrame& frame) : Frame(frame) {}

  void Fill(HWND bar, BarContent content, const std::string& label) {
    NextX = 4;
    switch (content) {
      case BarContent::Nothing: break;
      case BarContent::ThreeRichEdits:
        for (int i = 1; i <= 3; ++i) AddRichEdit(bar, label + " edit " + std::to_string(i));
        break;
      case BarContent::CommandLine: FillCommandBar(bar, true); break;
      case BarContent::TwoRichEditCommandLine: FillCommandBar(bar, false); break;
      case BarContent::NotesEdit:
        Frame.Notes = CreateChild(bar, L"Edit", L"", WS_BORDER | ES_AUTOHSCROLL, 1, Next(300));
        break;
    }
  }

 private:
  // The history, then a panel with a plain edit (the document's units),
  // the prompt and the command line, then the options; without the prompt
  // there are two rich edits. Each box but the prompt has a label under it.
  void FillCommandBar(HWND bar, bool withPrompt) {
    Frame.History = Labelled(bar, AddRichEdit(bar, "history"), L"what the host received");
    RECT panelPlace = Next(428);
    panelPlace.top = 0;                    // its boxes line up with the bar's
    panelPlace.bottom = CommandBarHeight;  // room for the labels
    HWND panel = CreateChild(bar, WindowClass, L"", WS_CLIPCHILDREN, 2, panelPlace);
    int panelX = NextX;
    NextX = 0;
    Frame.Units =
        Labelled(panel, CreateChild(panel, L"Edit", L"", WS_BORDER | ES_READONLY, 3, Next(80)), L"units");
    if (withPrompt) Frame.Prompt = Larger(AddRichEdit(panel, "prompt"));
    Frame.CommandLine = Labelled(panel, AddRichEdit(panel, "command line"), L"command line");
    NextX = panelX;
    if (withPrompt) Labelled(bar, AddRichEdit(bar, "options"), L"options");
  }

  HWND AddRichEdit(HWND parent, const std::string& label) {
    HWND edit =
        CreateChild(parent, L"RichEdit20W", L"", WS_BORDER | ES_AUTOHSCROLL, 10, Next(RichEditWidth(label)));
    Frame.RichEdits.push_back({edit, label});
    return edit;
  }

  HWND Larger(HWND box) {
    SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(BoxFont), FALSE);
    return box;
  }

  // Puts the label under the box, which it returns in the larger font.
  HWND Labelled(HWND parent, HWND box, const wchar_t* label) {
    RECT place{};
    GetWindowRect(box, &place);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
    HWND text = CreateChild(parent, L"Static", label, 0, 0xFFFF,
                            RECT{place.left, place.bottom + 2, place.right, place.bottom + 20});
    SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(LabelFont), FALSE);
    return Larger(box);
  }

  RECT Next(int width) {
    RECT place = {NextX, 4, NextX + width, 4 + BoxHeight};
    NextX += width + 6;
    return place;
  }

  HostFrame& Frame;
  int NextX = 4;
  HFONT BoxFont = CommandBarFont(18);
  HFONT LabelFont = CommandBarFont(13);
};

}  // namespace

std::unique_ptr<HostFrame> CreateHostFrame(const HostOptions& options) {
  LoadLibraryW(L"riched20.dll");
  RegisterWindowClass();
  auto frame = std::make_unique<HostFrame>();
  const HostLayout layout = options.Layout;
  std::vector<BarPlan> bars = BarsOf(layout);
  if (options.UpperCaseTitles) {
    for (BarPlan& plan : bars) CharUpperW(plan.Title.data());
  }
  frame->MainWindow = CreateWindowExW(
      0, WindowClass, L"vorncalc stand-in host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, FrameWidth + 16,
      FramePlanHeight(bars) + ViewportHeight + 40, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  auto mainObject = layout == HostLayout::NoFrame ? std::make_unique<CWnd>() : std::make_unique<CFrameWnd>();
  mainObject->m_hWnd = frame->MainWindow;
  auto* frameObject = layout == HostLayout::NoFrame ? nullptr : static_cast<CFrameWnd*>(mainObject.get());
  if (frameObject) frameObject->AddControlBar(nullptr);  // an entry that holds no bar

  BarFiller filler(*frame);
  int y = 0;
  for (const BarPlan& plan : bars) {
    HWND bar = CreateChild(frame->MainWindow, WindowClass, plan.Title.c_str(),
                           WS_CAPTION | WS_BORDER | WS_CLIPCHILDREN, plan.Id,
                           RECT{0, y, FrameWidth, y + HeightOf(plan)});
    y += HeightOf(plan);
    filler.Fill(bar, plan.Content, plan.Label);
    if (plan.Label == "command bar" && frame->Prompt)
      SetWindowTextW(frame->Prompt, (plan.Title + L":").c_str());
    std::unique_ptr<CControlBar> barObject = NewBarObject(plan.Kind);
    barObject->m_hWnd = bar;
    if (frameObject) frameObject->AddControlBar(barObject.get());
    frame->WindowObjects.push_back(std::move(barObject));
  }
  // Like a CAD viewport, it takes clicks and the wheel but never the focus:
  // a plain child window that sets no focus when clicked.
  frame->Viewport = CreateChild(frame->MainWindow, WindowClass, L"viewport", WS_BORDER, 0xE907,
                                RECT{0, y, FrameWidth, y + ViewportHeight});
  RhinoApp().m_pMainWnd = mainObject.get();
  frame->WindowObjects.push_back(std::move(mainObject));

  ShowWindow(frame->MainWindow, SW_SHOW);
  SetForegroundWindow(frame->MainWindow);
  SetFocus(frame->CommandLine);
  return frame;
}

void DestroyHostFrame(HostFrame& frame) {
  RhinoApp().m_pMainWnd = nullptr;
  DestroyWindow(frame.MainWindow);
}
