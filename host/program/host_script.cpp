#include "host/program/host_script.h"

#include <richedit.h>

#include <charconv>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/program/clipboard.h"
#include "host/program/host_command_line.h"
#include "host/program/host_output.h"
#include "host/program/key_input.h"
#include "host/program/mouse_input.h"
#include "host/program/other_plugin.h"
#include "host/program/resource_count.h"
#include "host/sdk/rhino_host_side.h"

namespace {

// The blank-separated words of a text.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  while (!text.empty()) {
    std::size_t end = text.find(' ');
    if (end != 0) words.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return words;
}

// The whole text as a decimal integer, "-1" included.
bool ReadInteger(std::string_view text, int& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

// What the host's units box shows for an ON::unit_system value.
std::wstring UnitSystemName(int unitSystem) {
  static const std::map<int, std::wstring> Names = {{0, L"none"},        {1, L"microns"}, {2, L"millimetres"},
                                                    {3, L"centimetres"}, {4, L"metres"},  {5, L"kilometres"},
                                                    {6, L"microinches"}, {7, L"mils"},    {8, L"inches"},
                                                    {9, L"feet"},        {10, L"miles"}};
  auto name = Names.find(unitSystem);
  return name != Names.end() ? name->second : L"system " + std::to_wstring(unitSystem);
}

// A change as "+2", "+0" or "-1".
std::string Signed(long change) {
  char text[24];
  std::snprintf(text, sizeof text, "%+ld", change);
  return text;
}

// The reports of one unload, load and load handler, the second and later
// rounds compared with the first.
class ReloadRounds {
 public:
  // Whether the round went as the first did, the plug-in loaded.
  bool Record(std::vector<std::string> report, bool loaded) {
    if (First.empty()) First = report;
    if (loaded && report == First) return true;
    Failed = std::move(report);
    return false;
  }
  const std::vector<std::string>& FailedReport() const { return Failed; }

 private:
  std::vector<std::string> First, Failed;
};

class ScriptRunner {
 public:
  ScriptRunner(HostFrame& frame, PlugInSession& session, const HostOptions& options)
      : Frame(frame), Session(session), Options(options) {}

  void Run(std::string_view line) {
    if (auto plain = PlainCommands.find(line); plain != PlainCommands.end()) return (this->*plain->second)();
    std::size_t blank = line.find(' ');
    auto command = CommandsWithText.find(line.substr(0, blank));
    bool done = blank != std::string_view::npos && command != CommandsWithText.end() &&
                (this->*command->second)(line.substr(blank + 1));
    if (!done) PrintLine("unknown command: " + std::string(line));
  }

 private:
  using PlainCommand = void (ScriptRunner::*)();
  // False when the command cannot take the text.
  using CommandWithText = bool (ScriptRunner::*)(std::string_view text);
  static const std::map<std::string_view, PlainCommand> PlainCommands;
  static const std::map<std::string_view, CommandWithText> CommandsWithText;

  // "units N" makes a document in unit system N active; "units none" leaves
  // the host without an active document.
  bool Units(std::string_view text) {
    int unitSystem = 0;
    if (text == "none") {
      Document.reset();
    } else if (ReadInteger(text, unitSystem)) {
      Document = std::make_unique<CRhinoDoc>(unitSystem);
    } else {
      return false;
    }
    CRhinoHostSide::SetActiveDoc(Document.get());
    SetWindowTextW(Frame.Units, Document ? UnitSystemName(unitSystem).c_str() : L"no document");
    return true;
  }

  bool Type(std::string_view text) {
    TypeText(FromUtf8(text));
    return true;
  }

  // "chord ctrl shift left": the named keys, pressed in order and released
  // in reverse order.
  bool Chord(std::string_view names) {
    std::vector<Key> keys;
    for (std::string_view name : Words(names)) {
      std::optional<Key> key = KeyNamed(name);
      if (!key) return false;
      keys.push_back(*key);
    }
    if (keys.empty()) return false;
    PressChord(keys);
    return true;
  }

  // "down KEY" and "up KEY" press, or release, one key and leave it so.
  bool Down(std::string_view name) { return WithKey(name, PressDown); }
  bool Up(std::string_view name) { return WithKey(name, Release); }

  bool WithKey(std::string_view name, void (*act)(Key)) {
    std::optional<Key> key = KeyNamed(name);
    if (key) act(*key);
    return key.has_value();
  }

  // "click viewport", "wheel viewport": the mouse in the host's viewport.
  bool Click(std::string_view where) { return InViewport(where, ClickIn); }
  bool Wheel(std::string_view where) { return InViewport(where, WheelIn); }

  bool InViewport(std::string_view where, void (*act)(HWND)) {
    if (where != "viewport") return false;
    act(Frame.Viewport);
    return true;
  }

  // "clip TEXT" puts TEXT, its escapes \t \n \r turned into characters,
  // on the clipboard.
  bool Clip(std::string_view text) {
    if (!PutOnClipboard(Frame.MainWindow, Unescaped(FromUtf8(text)))) PrintLine("clipboard: not available");
    return true;
  }

  // "select A B" sends EM_SETSEL A, B to the command line.
  bool Select(std::string_view text) {
    std::vector<std::string_view> words = Words(text);
    int range[2] = {0, 0};
    if (words.size() != 2 || !ReadInteger(words[0], range[0]) || !ReadInteger(words[1], range[1]))
      return false;
    SendMessageW(Frame.CommandLine, EM_SETSEL, range[0], range[1]);
    ProcessPendingMessages();
    return true;
  }

  bool SetText(std::string_view text) {
    SetWindowTextW(Frame.CommandLine, FromUtf8(text).c_str());
    ProcessPendingMessages();
    return true;
  }

  void Enter() { PressKey({VK_RETURN}); }
  void Ctrl() { PressKey({VK_CONTROL}); }
  void FocusAway() { MoveFocus(Frame.Notes); }
  void FocusBack() { MoveFocus(Frame.CommandLine); }
  void OnLoad() { RunLoadHandler(Session, Frame); }
  void Unload() { UnloadPlugIn(Session, Frame); }
  void Show() { PrintLine("line: " + WindowTextUtf8(Frame.CommandLine)); }

  // "load PATH": loads a module as the host does at its start, and runs its
  // load handler.
  bool Load(std::string_view path) {
    if (Session.Object) {
      PrintLine("load: a plug-in is loaded; unload it first");
      return true;
    }
    Options.PlugInPath = path;
    if (LoadPlugIn(Options, Frame, Session)) RunLoadHandler(Session, Frame);
    return true;
  }

  // "reload N": N rounds of unload, load and load handler, reported only
  // where a round goes otherwise than the first; then "reloaded N times"
  // with the number of rounds that went as the first.
  bool Reload(std::string_view text) {
    int rounds = 0;
    if (!ReadInteger(text, rounds) || rounds < 1) return false;
    if (!Session.Object) {
      PrintLine("reload: no plug-in loaded");
      return true;
    }
    ReloadRounds record;
    int done = 0;
    {
      HeldOutput held;
      for (; done < rounds; ++done) {
        UnloadPlugIn(Session, Frame);
        if (LoadPlugIn(Options, Frame, Session)) RunLoadHandler(Session, Frame);
        if (!record.Record(held.Take(), Session.Object != nullptr)) break;
      }
    }
    for (const std::string& line : record.FailedReport()) PrintLine(line);
    PrintLine("reloaded " + std::to_string(done) + " times");
    return true;
  }

  void Mark() { Marked = CountResources(); }

  // "since mark: kernel handles +H, TLS slots +T".
  void Leaks() {
    if (!Marked) return PrintLine("leaks: no mark");
    ResourceCount now = CountResources();
    PrintLine("since mark: kernel handles " + Signed(now.KernelHandles - Marked->KernelHandles) +
              ", TLS slots " + Signed(now.TlsSlots - Marked->TlsSlots));
  }

  // "sleep MS": the host goes on handling its messages meanwhile.
  bool Sleep(std::string_view text) {
    int milliseconds = 0;
    if (!ReadInteger(text, milliseconds) || milliseconds < 0) return false;
    HandleMessagesFor(static_cast<DWORD>(milliseconds));
    return true;
  }

  void Subclass() {
    SubclassAsAnotherPlugIn(Frame.CommandLine);
    PrintLine("subclassed by another plug-in");
  }

  void MoveFocus(HWND window) {
    SetFocus(window);
    ProcessPendingMessages();
  }

  void Undo() {
    SendMessageW(Frame.CommandLine, EM_UNDO, 0, 0);
    ProcessPendingMessages();
  }

  // "selection: whole line", "none" or the range; then who has the focus.
  void State() {
    CHARRANGE selection{};
    SendMessageW(Frame.CommandLine, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    bool whole = selection.cpMin == 0 && selection.cpMax > 0 &&
                 selection.cpMax >= GetWindowTextLengthW(Frame.CommandLine);
    std::string selected = whole ? "whole line"
                           : selection.cpMin == selection.cpMax
                               ? "none"
                               : std::to_string(selection.cpMin) + "-" + std::to_string(selection.cpMax);
    HWND focus = GetFocus();
    std::string owner = focus == Frame.CommandLine ? "command line"
                        : focus == Frame.Notes     ? "notes"
                                                   : "elsewhere";
    PrintLine("selection: " + selected + ", focus: " + owner);
  }

  HostFrame& Frame;
  PlugInSession& Session;
  HostOptions Options;
  std::unique_ptr<CRhinoDoc> Document;
  std::optional<ResourceCount> Marked;
};

const std::map<std::string_view, ScriptRunner::PlainCommand> ScriptRunner::PlainCommands = {
    {"enter", &ScriptRunner::Enter},
    {"ctrl", &ScriptRunner::Ctrl},
    {"focus away", &ScriptRunner::FocusAway},
    {"focus back", &ScriptRunner::FocusBack},
    {"undo", &ScriptRunner::Undo},
    {"show", &ScriptRunner::Show},
    {"state", &ScriptRunner::State},
    {"onload", &ScriptRunner::OnLoad},
    {"unload", &ScriptRunner::Unload},
    {"subclass", &ScriptRunner::Subclass},
    {"mark", &ScriptRunner::Mark},
    {"leaks", &ScriptRunner::Leaks}};

const std::map<std::string_view, ScriptRunner::CommandWithText> ScriptRunner::CommandsWithText = {
    {"units", &ScriptRunner::Units},   {"type", &ScriptRunner::Type},       {"chord", &ScriptRunner::Chord},
    {"select", &ScriptRunner::Select}, {"settext", &ScriptRunner::SetText}, {"down", &ScriptRunner::Down},
    {"up", &ScriptRunner::Up},         {"click", &ScriptRunner::Click},     {"wheel", &ScriptRunner::Wheel},
    {"clip", &ScriptRunner::Clip},     {"load", &ScriptRunner::Load},       {"reload", &ScriptRunner::Reload},
    {"sleep", &ScriptRunner::Sleep}};

// Reads the script's lines on its own thread and hands them to the host's
// thread, which waits for them together with its window messages.
class ScriptLineReader {
 public:
  explicit ScriptLineReader(std::istream& input) : Ready(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    // Detached: a person may close the window while the thread waits for input.
    std::thread([this, &input] { ReadAll(input); }).detach();
  }

  HANDLE ReadyEvent() const { return Ready; }

  // The next line, or nothing when none has arrived yet; `ended` after the
  // last line.
  std::optional<std::string> Take(bool& ended) {
    std::lock_guard<std::mutex> lock(Mutex);
    ended = Ended && Lines.empty();
    if (Lines.empty()) return std::nullopt;
    std::string line = std::move(Lines.front());
    Lines.pop_front();
    return line;
  }

 private:
  void ReadAll(std::istream& input) {
    std::string line;
    while (std::getline(input, line)) Hand(std::move(line), false);
    Hand({}, true);
  }

  void Hand(std::string line, bool ended) {
    {
      std::lock_guard<std::mutex> lock(Mutex);
      if (ended)
        Ended = true;
      else
        Lines.push_back(std::move(line));
    }
    SetEvent(Ready);
  }

  HANDLE Ready;
  std::mutex Mutex;
  std::deque<std::string> Lines;
  bool Ended = false;
};

bool IsCommand(const std::string& line) { return !line.empty() && line.front() != '#'; }

}  // namespace

void RunHostScript(std::istream& input, HostFrame& frame, PlugInSession& session,
                   const HostOptions& options) {
  ScriptRunner runner(frame, session, options);
  // Never freed: when the window is closed, its thread may still wait for input.
  auto* reader = new ScriptLineReader(input);
  HANDLE ready = reader->ReadyEvent();
  for (bool ended = false; !ended && IsWindow(frame.MainWindow);) {
    while (std::optional<std::string> line = reader->Take(ended)) {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      if (*line == "quit") return;
      if (IsCommand(*line)) runner.Run(*line);
    }
    if (!ended) MsgWaitForMultipleObjects(1, &ready, FALSE, INFINITE, QS_ALLINPUT);
    DispatchQueuedMessages();
  }
}
