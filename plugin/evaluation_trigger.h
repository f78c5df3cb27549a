// When the command line's text is to be evaluated, told from the command
// line's own messages: Enter pressed in it, or Ctrl tapped alone in it.
#pragma once

#include <windows.h>

class EvaluationTrigger {
 public:
  // Takes every message of the command line in the order they arrive; true
  // when the text is to be evaluated before the control handles this one.
  //
  //   message                         effect
  //   WM_KEYDOWN Enter                evaluate (auto-repeats too: the host
  //                                   takes each as an Enter of its own)
  //   WM_KEYDOWN Ctrl, not a repeat   a Ctrl tap begins, unless Shift, Alt
  //                                   or a Windows key is held
  //   WM_KEYUP Ctrl                   evaluate if the tap is still whole
  //   any other key down or up,       the tap is no longer alone: Ctrl+Z,
  //   a mouse button or wheel,        Ctrl+V, Ctrl+click and the like reach
  //   the focus coming or going       the control unchanged
  bool Observe(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool CtrlTapUnderway = false;
};
