// When the command line's text is to be evaluated, told from the command
// line's own messages (Enter pressed in it, or Ctrl tapped alone in it) and
// from the mouse and the keyboard anywhere in the host's thread.
#pragma once

#include <windows.h>

enum class Evaluation {
  None,
  OnEnter,  // before the host reads the line
  InPlace,  // a lone Ctrl tap: the line alone changes
};

class EvaluationTrigger {
 public:
  // Takes every message of the command line in the order they arrive; what
  // is to be evaluated before the control handles this one.
  //
  //   message                         effect
  //   WM_KEYDOWN Enter                evaluate (auto-repeats too: the host
  //                                   takes each as an Enter of its own)
  //   WM_KEYDOWN Ctrl, not a repeat   a Ctrl tap begins, unless Shift, Alt
  //                                   or a Windows key is held
  //   WM_KEYUP Ctrl                   evaluate in place if the tap is whole
  //   any other key down or up,       the tap is no longer alone: Ctrl+Z,
  //   a mouse button or wheel,        Ctrl+V, Ctrl+click and the like reach
  //   the focus coming or going       the control unchanged
  Evaluation Observe(UINT message, WPARAM wParam, LPARAM lParam);

  // Takes the mouse messages of every window of the host's thread: a
  // button or the wheel used anywhere, in a viewport that never takes the
  // focus too, ends the tap (Ctrl+click, Ctrl+wheel).
  void ObserveMouse(UINT message);

  // Takes every key that the host's thread takes from its queue, pressed or
  // released, before the host translates accelerators: any key but Ctrl
  // ends the tap, also one that never reaches the command line (Ctrl+S
  // taken by the host's frame, Ctrl let go first).
  void ObserveThreadKey(WPARAM virtualKey);

 private:
  bool CtrlTapUnderway = false;
};
