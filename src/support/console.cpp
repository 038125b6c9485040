#include "support/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace {

// The console and the logs are the process's: every layer reports through
// them, and the fatal exit must reach them from anywhere.
struct Console {
  char log_name[9] = "OUT";
  char program_name[64] = "zok";
  FILE* log_streams[3] = {nullptr, nullptr, nullptr};
  bool at_line_start = true;  // of standard output when it is no terminal
  // Held from a fatal error to the end of the process (below).
  std::recursive_mutex fatal;
} g_console;

// A line that the next one overwrites starts with a carriage return. In a
// file or a pipe that would leave every refresh on one line, so there each
// such line ends with a line end instead (none is added at a line's start).
void WriteConsole(const char* text, size_t length) {
  if (PlatConsoleIsTerminal()) {
    PlatConsoleWrite(text, length);
    return;
  }
  std::string lines;
  lines.reserve(length + 8);
  for (size_t i = 0; i < length; i++) {
    if (text[i] != '\r') {
      lines += text[i];
      g_console.at_line_start = text[i] == '\n';
    } else if (!g_console.at_line_start && (i + 1 == length || text[i + 1] != '\n')) {
      lines += '\n';
      g_console.at_line_start = true;
    }
  }
  PlatConsoleWrite(lines.data(), lines.size());
}

void VOutCons(const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    WriteConsole(small, static_cast<size_t>(n));
    return;
  }
  std::string large(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(large.data(), large.size(), format, args);
  WriteConsole(large.data(), static_cast<size_t>(n));
}

void VOutLog(int which, const char* suffix, const char* message, const char* format, va_list args) {
  if (g_console.log_streams[which] == nullptr) {
    char name[32];
    snprintf(name, sizeof name, "%s.%s", g_console.log_name, suffix);
    g_console.log_streams[which] = PlatFopen(name, "a");
    if (g_console.log_streams[which] == nullptr) OutError("%s", message);
  }
  vfprintf(g_console.log_streams[which], format, args);
}

}  // namespace

// The first thread to meet a fatal error writes it and ends the process; any
// other thread failing meanwhile waits for that end, so that the message
// comes out once and whole. The failing thread itself may fail again while
// writing it (a log it cannot open) and then ends with that message.
void OutError(const char* format, ...) {
  g_console.fatal.lock();
  OutCons("\n\nERROR: ");
  va_list args;
  va_start(args, format);
  VOutCons(format, args);
  va_end(args);
  OutCons("\n");
  PlatExit(1);
}

void OutCons(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VOutCons(format, args);
  va_end(args);
}

void OutFile(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VOutLog(0, "LOF", "OutFile: create failed", format, args);
  va_end(args);
}

void OutGile(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VOutLog(1, "LOG", "OutGile: create failed", format, args);
  va_end(args);
}

void OutSile(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VOutLog(2, "LOS", "OutSile: create failed", format, args);
  va_end(args);
}

void SetLogName(const char* name) {
  if (strlen(name) > 8) OutError("SetLogName: name too long");
  strcpy(g_console.log_name, name);
}

void SetProgramName(const char* argv0) {
  if (argv0 == nullptr) return;
  const char* slash = strrchr(argv0, kPathSep);
  const char* name = slash != nullptr ? slash + 1 : argv0;
  if (*name != 0) snprintf(g_console.program_name, sizeof g_console.program_name, "%s", name);
}

const char* ProgramName() { return g_console.program_name; }

void OutSyncLogs() {
  static const char* const kSuffixes[3] = {"LOF", "LOG", "LOS"};
  for (int i = 0; i < 3; i++) {
    if (g_console.log_streams[i] == nullptr || PlatSyncStream(g_console.log_streams[i]) == 0) continue;
    OutError("OutSyncLogs: [%s.%s] sync fail: %s", g_console.log_name, kSuffixes[i], PlatErrorText());
  }
}

int32_t ClockCs(int synchronise) {
  int64_t t = PlatClockMs();
  if (synchronise == 0) return static_cast<int32_t>((t + 5) / 10);
  int64_t second = PlatClockMs();
  while (second == t) second = PlatClockMs();
  return static_cast<int32_t>((second + 5) / 10);
}

bool RefreshDue(int32_t* shown, bool last) {
  constexpr int32_t kSecondCs = 100;
  const int32_t now = ClockCs(0);
  if (!PlatConsoleIsTerminal() && !last && *shown != 0 && now - *shown < kSecondCs) return false;
  *shown = now != 0 ? now : 1;
  return true;
}

void ProgPoll() {
  if (PlatKeyWaiting() && PlatReadKey() == 17) OutError("Manual abort!");
}
