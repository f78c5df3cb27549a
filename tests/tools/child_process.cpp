#include "tests/tools/child_process.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <utility>

std::string MakeHomeDirectory() {
  std::string path = (std::filesystem::temp_directory_path() / "vorncalc-home-XXXXXX").string();
  if (!mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
  return path;
}

namespace {

// In the child: replaces the process image; never returns.
[[noreturn]] void ExecVorncalc(const std::vector<std::string>& arguments, const std::string& home,
                               const std::string& locale) {
  setenv("HOME", home.c_str(), 1);
  if (!locale.empty()) setenv("LC_ALL", locale.c_str(), 1);
  setenv("TERM", "dumb", 1);
  std::vector<char*> argv{const_cast<char*>(VORNCALC_BINARY)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(VORNCALC_BINARY, argv.data());
  _exit(127);
}

int ExitStatusOf(int waitStatus) { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1; }

void MakePipe(int ends[2]) {
  if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
}

// Reads both pipes to their end without letting either fill up.
void DrainPipes(int outFd, std::string& out, int errFd, std::string& err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  while (open > 0 && poll(fds, 2, 10000) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

Finished RunVorncalc(const std::vector<std::string>& arguments, const std::string& input,
                     const std::string& locale) {
  const std::string home = MakeHomeDirectory();
  int in[2], out[2], err[2];
  MakePipe(in);
  MakePipe(out);
  MakePipe(err);
  const pid_t child = fork();
  if (child == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    ExecVorncalc(arguments, home, locale);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // The inputs are small enough for the pipe's buffer.
  if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
    throw std::runtime_error("write to child failed");
  close(in[1]);
  Finished finished;
  DrainPipes(out[0], finished.Out, err[0], finished.Err);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(child, &status, 0);
  finished.ExitStatus = ExitStatusOf(status);
  std::filesystem::remove_all(home);
  return finished;
}

TerminalSession::TerminalSession(const std::vector<std::string>& arguments, const std::string& home,
                                 const std::string& locale)
    : HomeDirectory(home.empty() ? MakeHomeDirectory() : home), OwnsHome(home.empty()) {
  Child = forkpty(&Terminal, nullptr, nullptr, nullptr);
  if (Child < 0) throw std::runtime_error("forkpty failed");
  if (Child == 0) ExecVorncalc(arguments, HomeDirectory, locale);
}

TerminalSession::~TerminalSession() {
  if (Child > 0) {
    kill(Child, SIGKILL);
    waitpid(Child, nullptr, 0);
  }
  close(Terminal);
  if (OwnsHome) std::filesystem::remove_all(HomeDirectory);
}

// Keys typed while the line discipline is still in canonical mode would be
// echoed by the kernel as well as by the line editor.
void TerminalSession::WaitForLineEditor() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  termios settings{};
  while (tcgetattr(Terminal, &settings) == 0 && (settings.c_lflag & ICANON) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TerminalSession::Type(const std::string& keys) {
  WaitForLineEditor();
  if (write(Terminal, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
    throw std::runtime_error("write to terminal failed");
}

std::string TerminalSession::ReadUntil(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const auto found = Pending.find(text); found != std::string::npos) {
      std::string read = Pending.substr(0, found + text.size());
      Pending.erase(0, found + text.size());
      return read;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd{Terminal, POLLIN, 0};
    char buffer[4096];
    ssize_t n = 0;
    if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0 ||
        (n = read(Terminal, buffer, sizeof buffer)) <= 0)
      return std::exchange(Pending, {});
    Pending.append(buffer, static_cast<std::size_t>(n));
  }
}

int TerminalSession::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(Child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return -1;  // the destructor kills it
    ReadUntil("\x01", std::chrono::milliseconds(20));            // keep the terminal drained
  }
  Child = -1;
  return ExitStatusOf(status);
}
