// vorncalc-host: a stand-in for the CAD host, to run the plug-in in. It
// builds the host's main window with its control bars, loads the plug-in,
// then acts out a script from standard input with real key presses and
// reports on standard output what the host receives.
#include <cstdio>
#include <iostream>
#include <string>

#include "host/program/host_accelerators.h"
#include "host/program/host_command_line.h"
#include "host/program/host_frame.h"
#include "host/program/host_options.h"
#include "host/program/host_output.h"
#include "host/program/host_script.h"
#include "host/program/key_input.h"
#include "host/program/plugin_loader.h"
#include "host/sdk/rhino_host_side.h"

namespace {

std::string BesideHostProgram(const char* fileName) {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  folder.erase(folder.find_last_of("\\/") + 1);
  return folder + fileName;
}

}  // namespace

int main(int argc, char** argv) {
  PrepareHostOutput();
  std::string error;
  std::optional<HostOptions> options = ParseHostOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "%s\n%s", error.c_str(), HostUsage);
    return 2;
  }
  if (options->PlugInPath.empty()) options->PlugInPath = BesideHostProgram("vornCalc.dll");

  CRhinoHostSide::SetLanguage(options->Language);
  AFX_MAINTAIN_STATE2 hostState(RhinoApp().RhinoModuleState());
  std::unique_ptr<HostFrame> frame = CreateHostFrame(*options);
  AttachHostCommandLine(*frame, options->FocusAwayOnRead);
  if (options->Accelerators) UseHostAccelerators(frame->MainWindow);
  ProcessPendingMessages();

  PlugInSession session;
  if (!LoadPlugIn(*options, *frame, session)) return 1;
  RunLoadHandler(session, *frame);
  RunHostScript(std::cin, *frame, session, *options);
  DestroyHostFrame(*frame);
  return 0;
}
