// The host's main window with its control bars: dock bars, a toolbar, a
// status bar, titled bars, and the command bar that holds the command line.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "host/program/host_options.h"
#include "host/sdk/mfc_types.h"

struct LabelledWindow {
  HWND Window;
  std::string Label;
};

struct HostFrame {
  HWND MainWindow = nullptr;
  HWND CommandLine = nullptr;
  HWND History = nullptr;   // shows the last line the host received
  HWND Prompt = nullptr;    // shows the command bar's title
  HWND Units = nullptr;     // shows the active document's units
  HWND Notes = nullptr;     // an edit control that takes the focus away
  HWND Viewport = nullptr;  // below the bars; never takes the focus
  // Every rich-edit control, so the host can tell which one got hooked.
  std::vector<LabelledWindow> RichEdits;
  std::vector<std::unique_ptr<CWnd>> WindowObjects;
};

// Builds the windows of the options' layout, titled in the host's current
// language (in capitals with --upper-case-titles), and makes the main window
// RhinoApp()'s main window. Call it under the host's module state.
std::unique_ptr<HostFrame> CreateHostFrame(const HostOptions& options);
void DestroyHostFrame(HostFrame& frame);
