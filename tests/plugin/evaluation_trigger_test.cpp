// Which messages of the command line make it evaluate: Enter pressed there,
// or Ctrl tapped alone there. Run under Wine, with the real GetKeyState.
#include "plugin/evaluation_trigger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Who reports a message to the trigger.
enum class Seen {
  ByCommandLine,  // its window procedure
  ByMouseHook,    // a mouse message of any window of the thread
  ByKeyboardHook  // a key the thread took from its queue, before any accelerator
};

struct Message {
  UINT Id;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  Seen By = Seen::ByCommandLine;
};

Message InViewport(UINT id) { return {id, 0, 0, Seen::ByMouseHook}; }
Message ThreadKey(WPARAM key) { return {WM_KEYDOWN, key, 0, Seen::ByKeyboardHook}; }

constexpr LPARAM Repeat = 1 << 30;

const Message CtrlDown{WM_KEYDOWN, VK_CONTROL};
const Message CtrlRepeat{WM_KEYDOWN, VK_CONTROL, Repeat};
const Message CtrlUp{WM_KEYUP, VK_CONTROL};

// The positions of the messages after which the line would be evaluated,
// e.g. "1" or "0 2"; empty when none.
std::string EvaluatedAt(const std::vector<Message>& messages) {
  EvaluationTrigger trigger;
  std::string at;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const Message& m = messages[i];
    if (m.By == Seen::ByMouseHook) {
      trigger.ObserveMouse(m.Id);
      continue;
    }
    if (m.By == Seen::ByKeyboardHook) {
      trigger.ObserveThreadKey(m.WParam);
      continue;
    }
    if (trigger.Observe(m.Id, m.WParam, m.LParam) == Evaluation::None) continue;
    if (!at.empty()) at += ' ';
    at += std::to_string(i);
  }
  return at;
}

// Holds the given keys in this thread's keyboard state for the test's span.
class KeysHeld {
 public:
  explicit KeysHeld(std::initializer_list<int> keys) {
    GetKeyboardState(Saved);
    BYTE state[256];
    GetKeyboardState(state);
    for (int key : keys) state[key] |= 0x80;
    SetKeyboardState(state);
  }
  ~KeysHeld() { SetKeyboardState(Saved); }

 private:
  BYTE Saved[256];
};

TEST(EvaluationTrigger, WhichMessagesEvaluate) {
  const struct {
    const char* What;
    std::vector<Message> Messages;
    const char* EvaluatedAt;
  } cases[] = {
      {"Enter", {{WM_KEYDOWN, VK_RETURN}, {WM_KEYUP, VK_RETURN}}, "0"},
      {"Enter held: each repeat is an Enter of its own",
       {{WM_KEYDOWN, VK_RETURN}, {WM_KEYDOWN, VK_RETURN, Repeat}},
       "0 1"},
      {"Enter released here after a press elsewhere", {{WM_KEYUP, VK_RETURN}}, ""},
      {"Ctrl tapped alone", {CtrlDown, CtrlUp}, "1"},
      {"Ctrl held until it repeats, then released", {CtrlDown, CtrlRepeat, CtrlRepeat, CtrlUp}, "3"},
      {"Ctrl released here after a press elsewhere", {CtrlUp}, ""},
      {"a second release does not evaluate again", {CtrlDown, CtrlUp, CtrlUp}, "1"},
      {"Ctrl+Z", {CtrlDown, {WM_KEYDOWN, 'Z'}, {WM_KEYUP, 'Z'}, CtrlUp}, ""},
      {"Ctrl+V, the V released after Ctrl", {CtrlDown, {WM_KEYDOWN, 'V'}, CtrlUp, {WM_KEYUP, 'V'}}, ""},
      {"Ctrl+Left", {CtrlDown, {WM_KEYDOWN, VK_LEFT}, {WM_KEYUP, VK_LEFT}, CtrlUp}, ""},
      {"Ctrl+Alt", {CtrlDown, {WM_SYSKEYDOWN, VK_MENU}, {WM_SYSKEYUP, VK_MENU}, CtrlUp}, ""},
      {"Ctrl+click", {CtrlDown, {WM_LBUTTONDOWN}, CtrlUp}, ""},
      {"Ctrl+wheel", {CtrlDown, {WM_MOUSEWHEEL}, CtrlUp}, ""},
      {"the focus leaves during the tap", {CtrlDown, {WM_KILLFOCUS}, CtrlUp}, ""},
      {"the focus returns during the tap", {CtrlDown, {WM_SETFOCUS}, CtrlUp}, ""},
      {"a tap after a chord", {CtrlDown, {WM_KEYDOWN, 'C'}, {WM_KEYUP, 'C'}, CtrlUp, CtrlDown, CtrlUp}, "5"},
      {"Ctrl+Enter evaluates on the Enter only", {CtrlDown, {WM_KEYDOWN, VK_RETURN}, CtrlUp}, "1"},
      {"messages that are no input leave the tap whole", {CtrlDown, {WM_PAINT}, {WM_TIMER}, CtrlUp}, "3"},
      {"Ctrl+click in a viewport",
       {CtrlDown, InViewport(WM_LBUTTONDOWN), InViewport(WM_LBUTTONUP), CtrlUp},
       ""},
      {"Ctrl+wheel in a viewport", {CtrlDown, InViewport(WM_MOUSEWHEEL), CtrlUp}, ""},
      {"Ctrl held while a button is let go elsewhere", {CtrlDown, InViewport(WM_RBUTTONUP), CtrlUp}, ""},
      {"Ctrl+click on another window's frame", {CtrlDown, InViewport(WM_NCLBUTTONDOWN), CtrlUp}, ""},
      {"the mouse moved elsewhere leaves the tap whole", {CtrlDown, InViewport(WM_MOUSEMOVE), CtrlUp}, "2"},
      {"a click before the tap does not spoil it", {InViewport(WM_LBUTTONDOWN), CtrlDown, CtrlUp}, "2"},
      {"a double click in the command line", {CtrlDown, {WM_LBUTTONDBLCLK}, CtrlUp}, ""},
      // The keyboard hook sees each key before the command line does.
      {"Ctrl tapped alone, seen by the hook too",
       {ThreadKey(VK_CONTROL), CtrlDown, ThreadKey(VK_CONTROL), CtrlUp},
       "3"},
      {"Ctrl+S taken by an accelerator, Ctrl let go first",
       {ThreadKey(VK_CONTROL), CtrlDown, ThreadKey('S'), ThreadKey(VK_CONTROL), CtrlUp},
       ""},
      {"a left or right Ctrl reported as such by the hook",
       {CtrlDown, ThreadKey(VK_LCONTROL), ThreadKey(VK_RCONTROL), CtrlUp},
       "3"},
      {"a key taken before Ctrl goes down does not spoil the tap", {ThreadKey('S'), CtrlDown, CtrlUp}, "2"},
      {"a tap after a chord taken by an accelerator",
       {CtrlDown, ThreadKey('N'), CtrlUp, CtrlDown, CtrlUp},
       "4"},
  };
  for (const auto& c : cases) EXPECT_EQ(EvaluatedAt(c.Messages), c.EvaluatedAt) << c.What;
}

TEST(EvaluationTrigger, EnterEvaluatesBeforeTheHostReadsATapInPlace) {
  EvaluationTrigger trigger;
  EXPECT_EQ(trigger.Observe(WM_KEYDOWN, VK_RETURN, 0), Evaluation::OnEnter);
  EXPECT_EQ(trigger.Observe(WM_KEYDOWN, VK_CONTROL, 0), Evaluation::None);
  EXPECT_EQ(trigger.Observe(WM_KEYUP, VK_CONTROL, 0), Evaluation::InPlace);
}

TEST(EvaluationTrigger, CtrlWithAnotherModifierHeldIsNoTap) {
  for (int modifier : {VK_SHIFT, VK_MENU, VK_LWIN, VK_RWIN}) {
    KeysHeld held{modifier};
    EXPECT_EQ(EvaluatedAt({CtrlDown, CtrlUp}), "") << "modifier " << modifier;
  }
  EXPECT_EQ(EvaluatedAt({CtrlDown, CtrlUp}), "1");  // and the state given back
}

}  // namespace
