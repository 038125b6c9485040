#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal of the abort key poll, as found and as set: there is one per
// process, and the signal handlers must reach it.
struct Terminal {
  bool checked = false;
  bool raw = false;
  struct termios saved;
} g_terminal;

void RestoreTerminal() {
  if (g_terminal.raw) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal.saved);
    g_terminal.raw = false;
  }
}

void OnTerminatingSignal(int sig) {
  RestoreTerminal();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Puts a terminal on standard input into non-canonical, no-echo mode with
// XON/XOFF off, so that Ctrl+Q arrives as byte 17. Done once, on first poll.
void PrepareTerminal() {
  if (g_terminal.checked) return;
  g_terminal.checked = true;
  if (!isatty(STDIN_FILENO)) return;
  if (tcgetattr(STDIN_FILENO, &g_terminal.saved) != 0) return;
  struct termios raw = g_terminal.saved;
  raw.c_lflag &= ~(ICANON | ECHO);
  raw.c_iflag &= ~(IXON);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  std::signal(SIGINT, OnTerminatingSignal);
  std::signal(SIGTERM, OnTerminatingSignal);
  std::atexit(RestoreTerminal);
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) g_terminal.raw = true;
}

const auto g_process_start = std::chrono::steady_clock::now();

// The stop switch as ZOK_STOP_AT sets it, read once.
enum StopMode { kStopOff, kStopList, kStopAt, kStopBad };
struct StopSetting {
  StopMode mode = kStopOff;
  long at = 0;
};

StopSetting ReadStopSetting() {
  StopSetting s;
  const char* text = getenv("ZOK_STOP_AT");
  if (text == nullptr) return s;
  if (strcmp(text, "list") == 0) {
    s.mode = kStopList;
    return s;
  }
  char* end = nullptr;
  errno = 0;
  s.at = strtol(text, &end, 10);
  bool number = *text >= '0' && *text <= '9' && *end == '\0' && errno == 0 && s.at >= 1;
  s.mode = number ? kStopAt : kStopBad;
  return s;
}

const StopSetting& Stop() {
  static const StopSetting setting = ReadStopSetting();
  return setting;
}

// The steps counted so far, and the streams open for writing with their
// names (kept only while the switch is on), for the steps that name them:
// global because the switch numbers every file step of the process, on any
// thread and from any layer, in one sequence.
struct Steps {
  std::mutex lock;
  long count = 0;
  char label[32] = "start";
  std::vector<std::pair<FILE*, std::string>> writing;
} g_steps;

bool Counting() { return Stop().mode == kStopList || Stop().mode == kStopAt; }

// Counts one step; lists it, or ends the process when it is the one to stop
// at. Holds the lock.
void CountStep(const char* verb, const char* name) {
  long n = ++g_steps.count;
  const StopSetting& s = Stop();
  if (s.mode == kStopList) {
    fprintf(stderr, "step %ld (%s): %s %s\n", n, g_steps.label, verb, name);
  } else if (n == s.at) {
    fprintf(stderr, "ZOK_STOP_AT: stopped before step %ld (%s): %s %s\n", n, g_steps.label, verb, name);
    RestoreTerminal();
    _exit(kStopStatus);
  }
}

void Step(const char* verb, const char* name) {
  if (!Counting()) return;
  std::lock_guard<std::mutex> hold(g_steps.lock);
  CountStep(verb, name);
}

// A step on a stream open for writing (none for other streams); `forget`
// drops the stream from the table.
void StreamStep(const char* verb, FILE* stream, bool forget) {
  if (!Counting()) return;
  std::lock_guard<std::mutex> hold(g_steps.lock);
  auto& w = g_steps.writing;
  for (size_t i = 0; i < w.size(); i++) {
    if (w[i].first != stream) continue;
    CountStep(verb, w[i].second.c_str());
    if (forget) w.erase(w.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

}  // namespace

std::string PlatStopSettingError() {
  char text[160];
  if (Stop().mode != kStopBad) return "";
  snprintf(text, sizeof text, "ZOK_STOP_AT [%.64s] is neither a positive number nor list",
           getenv("ZOK_STOP_AT"));
  return text;
}

void PlatStepLabel(const char* label) {
  if (!Counting()) return;
  std::lock_guard<std::mutex> hold(g_steps.lock);
  snprintf(g_steps.label, sizeof g_steps.label, "%s", label);
}

void PlatConsoleWrite(const char* text, size_t length) {
  if (length > 0) fwrite(text, 1, length, stdout);
  fflush(stdout);
}

void PlatErrorWrite(const char* text, size_t length) {
  if (length > 0) fwrite(text, 1, length, stderr);
  fflush(stderr);
}

namespace {
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

void PlatBlockStopSignals() {
  sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

const char* PlatWaitStopSignal() {
  sigset_t set = StopSignals();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  return sig == SIGINT ? "SIGINT" : "SIGTERM";
}

void PlatSendStopSignal() { kill(getpid(), SIGTERM); }

bool PlatConsoleIsTerminal() {
  static const bool terminal = isatty(STDOUT_FILENO) != 0;
  return terminal;
}

bool PlatKeyWaiting() {
  PrepareTerminal();
  if (!g_terminal.raw) return false;
  fd_set fds;
  FD_ZERO(&fds);
  FD_SET(STDIN_FILENO, &fds);
  struct timeval tv = {0, 0};
  return select(STDIN_FILENO + 1, &fds, nullptr, nullptr, &tv) > 0;
}

int PlatReadKey() {
  if (!g_terminal.raw) return -1;
  unsigned char c;
  if (read(STDIN_FILENO, &c, 1) != 1) return -1;
  return c;
}

bool PlatReadLine(char* buffer, int size) {
  if (size < 1) return false;
  buffer[0] = 0;
  int n = 0;
  int c;
  bool any = false;
  while ((c = fgetc(stdin)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (n < size - 1) buffer[n++] = static_cast<char>(c);
  }
  buffer[n] = 0;
  if (n > 0 && buffer[n - 1] == '\r') buffer[--n] = 0;
  return any;
}

bool PlatReadWholeLine(std::string* line, size_t most, bool* cut) {
  line->clear();
  *cut = false;
  int c;
  bool any = false;
  while ((c = fgetc(stdin)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line->size() < most) {
      line->push_back(static_cast<char>(c));
    } else {
      *cut = true;
    }
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

void PlatExit(int status) {
  RestoreTerminal();
  if (status != 0) {
    // A fatal end unwinds nothing by design: flush the streams (console and
    // logs) and leave at once, without the exit-time checks of a
    // sanitizer build, which would count the blocks still held as leaks.
    fflush(nullptr);
    _exit(status);
  }
  fflush(stdout);
  std::exit(status);
}

FILE* PlatFopen(const char* name, const char* mode) {
  bool writes = strpbrk(mode, "wa+") != nullptr;
  if (!writes || !Counting()) return fopen(name, mode);
  std::lock_guard<std::mutex> hold(g_steps.lock);
  CountStep(strchr(mode, 'w') != nullptr ? "create" : "append", name);
  FILE* f = fopen(name, mode);
  if (f != nullptr) g_steps.writing.emplace_back(f, name);
  return f;
}

int PlatSetBuffer(FILE* stream, char* buffer, size_t size) {
  return setvbuf(stream, buffer, _IOFBF, size);
}

size_t PlatFread(void* buffer, size_t size, FILE* stream) { return fread(buffer, 1, size, stream); }

size_t PlatFwrite(const void* buffer, size_t size, FILE* stream) {
  return fwrite(buffer, 1, size, stream);
}

int64_t PlatFtell(FILE* stream) { return ftello(stream); }

int PlatFseek(FILE* stream, int64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET);
}

int PlatFclose(FILE* stream) {
  StreamStep("close", stream, true);
  return fclose(stream);
}

bool PlatAtEnd(FILE* stream) { return feof(stream) != 0; }

int PlatRemove(const char* name) {
  Step("remove", name);
  return remove(name);
}

int PlatRename(const char* from, const char* to) {
  Step("rename", (std::string(from) + " -> " + to).c_str());
  return rename(from, to);
}

int PlatSyncStream(FILE* stream) {
  StreamStep("sync", stream, false);
  if (fflush(stream) != 0) return -1;
  return fsync(fileno(stream));
}

int PlatSyncPath(const char* name) {
  Step("sync", name);
  int fd = open(name, O_RDONLY);
  if (fd < 0) return -1;
  int r = fsync(fd);
  close(fd);
  return r;
}

void PlatStartWriteback(const char* name) {
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;  // the sync that follows reports it
  sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  close(fd);
}

int PlatSyncFileSystem(const char* path) {
  Step("sync all", path);
  int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  int r = syncfs(fd);
  close(fd);
  return r;
}

int PlatLockFile(const char* name, long* holder) {
  *holder = 0;
  int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_SETLK, &lock) == 0) return 0;  // fd stays open: closing it would drop the lock
  int error = errno;
  if (error != EACCES && error != EAGAIN) {
    close(fd);
    errno = error;
    return -1;
  }
  // Who holds it, for the message; it may have gone in between.
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  if (fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) *holder = probe.l_pid;
  close(fd);
  return 1;
}

int PlatOpenRead(const char* name) { return open(name, O_RDONLY | O_CLOEXEC); }

int64_t PlatPread(int fd, void* buffer, size_t size, int64_t offset) {
  auto* to = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, to + done, size - done, static_cast<off_t>(offset + int64_t(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int PlatCloseFd(int fd) { return close(fd); }

void* PlatAllocLarge(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  madvise(p, size, MADV_HUGEPAGE);  // a hint: without it the memory works all the same
  return p;
}

void PlatFreeLarge(void* memory, size_t size) {
  if (memory != nullptr) munmap(memory, size);
}

void PlatRaiseFileLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);  // a failure leaves the limit as it was
}

int PlatFilesFree() {
  constexpr int kPlenty = 1 << 24;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur >= static_cast<rlim_t>(kPlenty)) {
    return kPlenty;
  }
  // Those open now; without /proc, a guess at what a process holds.
  int open = 16;
  if (DIR* d = opendir("/proc/self/fd")) {
    open = -1;  // the directory's own descriptor
    while (struct dirent* e = readdir(d)) open += e->d_name[0] != '.';
    closedir(d);
  }
  int free = static_cast<int>(limit.rlim_cur) - open;
  return free > 0 ? free : 0;
}

double PlatFileSize(const char* name) {
  struct stat st;
  if (stat(name, &st) != 0) return -1;
  return static_cast<double>(st.st_size);
}

const char* PlatErrorText() { return strerror(errno); }

int PlatMkdir(const char* name) {
  Step("mkdir", name);
  if (mkdir(name, 0777) == 0) return 0;
  if (errno == EEXIST && PlatIsDirectory(name)) return 0;
  return -1;
}

bool PlatIsDirectory(const char* name) {
  struct stat st;
  return stat(name, &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> PlatFindFiles(const char* pattern) {
  std::string whole(pattern);
  std::string dir = ".";
  std::string mask = whole;
  size_t slash = whole.rfind(kPathSep);
  if (slash != std::string::npos) {
    dir = slash == 0 ? std::string(1, kPathSep) : whole.substr(0, slash);
    mask = whole.substr(slash + 1);
  }
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent* e = readdir(d)) {
    if (fnmatch(mask.c_str(), e->d_name, 0) != 0) continue;
    std::string full = dir + kPathSep + e->d_name;
    struct stat st;
    if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.emplace_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

int64_t PlatClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               g_process_start)
      .count();
}

int64_t PlatTimeNow() { return static_cast<int64_t>(std::time(nullptr)); }

const char* PlatGetEnv(const char* name) { return getenv(name); }
