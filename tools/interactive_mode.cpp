#include "tools/interactive_mode.h"

#include <editline/readline.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ascii.h"
#include "tools/batch_mode.h"
#include "tools/completion.h"
#include "tools/host_commands.h"

namespace {

constexpr int HistoryLength = 1000;

// The line history, read from the home directory at the start and written
// back after each line, so that a session that is killed loses none; the
// file holds at most the last HistoryLength lines. (The editor's
// append_history writes one line more than asked, so the whole history is
// written each time.) Without a home directory it is not kept.
class History {
 public:
  History() : Path(FilePath()) {
    using_history();
    stifle_history(HistoryLength);
    if (Path) read_history(Path->c_str());
  }

  void Add(const std::string& line) {
    add_history(line.c_str());
    if (Path) write_history(Path->c_str());
  }

 private:
  static std::optional<std::string> FilePath() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return std::nullopt;
    return std::string(home) + "/.vorncalc_history";
  }

  std::optional<std::string> Path;
};

// Ctrl-C while a line is typed abandons the line. SIGINT stays blocked
// while the calculator runs and is let through only while it waits for a
// key, so that the wait always ends: the key reader then reports the end of
// input, and the editor returns whatever it has, which is dropped.
volatile std::sig_atomic_t Interrupted = 0;
sigset_t WhileWaiting;

void NoteInterrupt(int) { Interrupted = 1; }

// One byte of standard input, or false on an interrupt or the end of input.
bool ReadByte(unsigned char& byte) {
  for (;;) {
    if (Interrupted) return false;
    fd_set input;
    FD_ZERO(&input);
    FD_SET(STDIN_FILENO, &input);
    if (pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr, &WhileWaiting) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    const ssize_t count = read(STDIN_FILENO, &byte, 1);
    if (count == 1) return true;
    if (count < 0 && errno == EINTR) continue;
    return false;
  }
}

// Bytes read ahead of a character that they turned out not to continue.
std::string ReadAhead;

bool NextByte(unsigned char& byte) {
  if (ReadAhead.empty()) return ReadByte(byte);
  byte = static_cast<unsigned char>(ReadAhead.front());
  ReadAhead.erase(0, 1);
  return true;
}

// The editor's key reader: one character, decoded from UTF-8, or EOF. A
// byte that begins no whole sequence stands for itself, as Latin-1 reads
// it, and the bytes after it are read again: a character is never lost and
// never swallows the next key (Enter among them).
int ReadKey(FILE*) {
  unsigned char lead = 0;
  if (!NextByte(lead)) return EOF;
  const int following = lead < 0xC2 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 0;
  int character = following == 0 ? lead : lead & (0x3F >> following);
  std::string continuation;
  for (int i = 0; i < following; ++i) {
    unsigned char next = 0;
    if (!NextByte(next)) return EOF;
    continuation.push_back(static_cast<char>(next));
    if ((next & 0xC0) != 0x80) {
      ReadAhead.insert(0, continuation);
      return lead;
    }
    character = (character << 6) | (next & 0x3F);
  }
  return character;
}

// The editor holds characters and hands the line back in the encoding of
// the locale's character type: in the C locale it would drop every
// character outside ASCII, so that "2×3" became 23. In UTF-8 every character
// is kept, whatever the user's locale (only the character type changes).
void KeepEveryCharacter() {
  if (std::setlocale(LC_CTYPE, "") && std::string_view(nl_langinfo(CODESET)) == "UTF-8") return;
  std::setlocale(LC_CTYPE, "C.UTF-8");
}

// The editor's keys 128 to 255 are Meta bindings: typed as characters,
// "×" (U+00D7) would run Meta-W and "²" a digit argument. They insert
// themselves here, as every other character does.
void InsertEveryCharacter() {
  for (int key = 128; key < 256; ++key) rl_bind_key(key, rl_insert);
}

class InterruptCatcher {
 public:
  InterruptCatcher() {
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &PreviousAction);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_BLOCK, &interrupt, &PreviousMask);
    WhileWaiting = PreviousMask;
    sigdelset(&WhileWaiting, SIGINT);
    rl_catch_signals = 0;  // the editor leaves SIGINT alone
    rl_getc_function = ReadKey;
  }
  ~InterruptCatcher() {
    sigprocmask(SIG_SETMASK, &PreviousMask, nullptr);
    sigaction(SIGINT, &PreviousAction, nullptr);
  }
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // Whether an interrupt came since the last call.
  static bool Take() {
    const bool interrupted = Interrupted != 0;
    Interrupted = 0;
    return interrupted;
  }

 private:
  struct sigaction PreviousAction {};
  sigset_t PreviousMask{};
};

struct FreeLine {
  void operator()(char* line) const { std::free(line); }
};

// Tab completion through the line editor's readline interface, whose hooks
// are plain functions: they reach the completer and the candidates of the
// current completion through these.
const NameCompleter* ActiveCompleter = nullptr;
std::vector<std::string> Candidates;
std::size_t NextCandidate = 0;

// Hands out the candidates one by one, in the editor's own memory.
char* GenerateCandidate(const char*, int state) {
  if (state == 0) NextCandidate = 0;
  if (NextCandidate >= Candidates.size()) return nullptr;
  return strdup(Candidates[NextCandidate++].c_str());
}

// Whether the prompt and the line, once text is added, still fit on one
// row of the terminal, so that a carriage return brings the cursor back to
// where the prompt begins.
bool FitsOnOneRow(std::size_t added) {
  int rows = 0;
  int columns = 0;
  rl_get_screen_size(&rows, &columns);
  return std::strlen(rl_prompt) + static_cast<std::size_t>(rl_end) + added <
         static_cast<std::size_t>(columns);
}

// Completes a single candidate as the user typed its beginning (formulas
// ignore case), with its terminator, and redraws the line: the editor's own
// completion would ring the bell after it. Returns false when the line
// would not fit on one row, which the editor redraws better.
bool CompleteSingle(const std::string& word, int start, int end) {
  const std::string rest =
      word.substr(static_cast<std::size_t>(end - start)) + ActiveCompleter->Terminator(word);
  if (!FitsOnOneRow(rest.size())) return false;
  rl_insert_text(rest.c_str());
  std::fputc('\r', rl_outstream);
  rl_forced_update_display();
  return true;
}

// For several candidates the editor completes their common beginning and
// lists them on a second Tab. (It also shows the append character after
// each listed candidate.)
char** CompleteWord(const char* text, int start, int end) {
  rl_attempted_completion_over = 1;  // never fall back to file names
  Candidates = ActiveCompleter->Complete(std::string_view(rl_line_buffer, end), start);
  if (Candidates.size() == 1 && CompleteSingle(Candidates.front(), start, end)) return nullptr;
  rl_completion_append_character =
      Candidates.size() == 1 ? ActiveCompleter->Terminator(Candidates.front()) : '\0';
  return rl_completion_matches(text, GenerateCandidate);
}

void InstallCompletion(const NameCompleter& completer) {
  ActiveCompleter = &completer;
  rl_readline_name = "vorncalc";  // for "vorncalc:" lines in ~/.editrc
  rl_basic_word_break_characters = WordBreakCharacters;
  rl_attempted_completion_function = CompleteWord;
}

bool IsBlank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

// A command runs quietly. Any other line is a formula or a definition: its
// value; a plain number, which the host receives as typed, with a note that
// says so; or a bell and the message, which says where the fault is, with a
// hint where one is plain.
HostAction HandleLine(const std::string& line, Session& session) {
  if (const auto reply = RunHostCommand(line, session, std::cout)) return reply->Action;
  const LineResult result = session.Enter(line);
  if (result.What == LineResult::Outcome::Value) {
    std::cout << result.Text << '\n';
  } else if (result.What == LineResult::Outcome::PassedThrough) {
    std::cout << TrimBlanks(result.Text) << " (a number: the CAD program receives it as typed)\n";
  } else {
    std::cout << '\a' << result.Text << '\n';
    if (!result.Hint.empty()) std::cout << result.Hint << '\n';
  }
  if (!result.Note.empty()) std::cout << result.Note << '\n';
  return HostAction::Continue;
}

}  // namespace

int RunInteractive(Session& session) {
  KeepEveryCharacter();
  const InterruptCatcher interrupts;  // before the editor starts, which reads its key reader once
  InsertEveryCharacter();
  const NameCompleter completer(&session);
  InstallCompletion(completer);
  History history;
  for (;;) {
    const std::unique_ptr<char, FreeLine> line(readline("Command: "));
    if (InterruptCatcher::Take()) {  // the line typed so far is dropped
      std::cout << "^C" << std::endl;
      continue;
    }
    if (!line) {  // end of input: finish the prompt's line before leaving
      std::cout << '\n';
      break;
    }
    if (IsBlank(line.get())) continue;
    history.Add(line.get());
    if (HandleLine(line.get(), session) == HostAction::Exit) break;
    std::cout.flush();
  }
  return ExitAllEvaluated;
}
