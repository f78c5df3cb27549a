// Runs the vorncalc binary as a child process, either with pipes for its
// standard streams or on a pseudo-terminal, with HOME in a fresh directory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct Finished {
  std::string Out;
  std::string Err;
  int ExitStatus = -1;  // -1 when the process did not exit normally
};

// A fresh directory for the child's HOME.
std::string MakeHomeDirectory();

// Runs vorncalc with the arguments and the given standard input, in the
// locale given (LC_ALL), or in the one inherited.
Finished RunVorncalc(const std::vector<std::string>& arguments, const std::string& input = "",
                     const std::string& locale = "");

// vorncalc on a pseudo-terminal, as an interactive user sees it.
class TerminalSession {
 public:
  // Without a home directory it makes one of its own and removes it at the end.
  // The locale is set as LC_ALL when given.
  explicit TerminalSession(const std::vector<std::string>& arguments = {}, const std::string& home = "",
                           const std::string& locale = "");
  ~TerminalSession();
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  // Types the keys once the line editor is waiting for them.
  void Type(const std::string& keys);
  // Reads until the text appears and returns all read up to its end; on a
  // time-out returns what was read, which then lacks the text.
  std::string ReadUntil(const std::string& text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for the process to end and returns its exit status (-1 if killed).
  int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  const std::string& Home() const { return HomeDirectory; }

 private:
  void WaitForLineEditor();

  std::string HomeDirectory;
  bool OwnsHome;
  std::string Pending;  // read but not yet returned
  int Terminal = -1;
  pid_t Child = -1;
};
