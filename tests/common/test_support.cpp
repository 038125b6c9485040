#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

namespace {

RunResult Capture(const std::string& command) {
  RunResult r{-1, ""};
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
  int st = pclose(p);
  if (WIFEXITED(st)) {
    r.status = WEXITSTATUS(st);
  } else if (WIFSIGNALED(st)) {
    r.status = 128 + WTERMSIG(st);
  }
  return r;
}

}  // namespace

RunResult RunShell(const std::string& command, const std::string& dir) {
  return Capture("cd '" + dir + "' && ( " + command + " ) 2>&1");
}

RunResult RunZok(const std::string& args, const std::string& dir, const std::string& input,
                 int threads) {
  std::string in = input.empty() ? std::string("/dev/null") : "'" + input + "'";
  std::string env = threads > 0 ? "ZOK_THREADS=" + std::to_string(threads) + " " : "";
  return Capture("cd '" + dir + "' && " + env + "'" ZOK_EXE "' " + args + " <" + in + " 2>&1");
}

TerminalRun RunZokOnTerminal(const std::string& dir, const std::vector<std::string>& args,
                             const std::string& typed, const std::string& cue, const std::string& key) {
  TerminalRun run{-1, "", false};
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return run;
  const std::string slave_name = ptsname(master);
  int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
  termios before;
  if (slave < 0 || tcgetattr(slave, &before) != 0) return run;
  before.c_lflag |= ICANON | ECHO;
  before.c_iflag |= IXON;
  before.c_cc[VSTART] = typed.empty() ? 0x11 : _POSIX_VDISABLE;
  before.c_cc[VMIN] = 3;
  if (tcsetattr(slave, TCSANOW, &before) != 0 || tcgetattr(slave, &before) != 0) return run;
  if (!typed.empty() && write(master, typed.data(), typed.size()) != ssize_t(typed.size())) {
    return run;
  }
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int tty = open(slave_name.c_str(), O_RDWR);
    if (tty < 0 || chdir(dir.c_str()) != 0) _exit(97);
    dup2(tty, 0);
    dup2(tty, 1);
    dup2(tty, 2);
    std::vector<char*> argv{const_cast<char*>("zok")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ZOK_EXE, argv.data());
    _exit(96);
  }
  close(slave);
  bool sent = key.empty();
  char buf[4096];
  for (;;) {
    pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) break;
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the program has gone
    run.output.append(buf, static_cast<size_t>(n));
    if (!sent && run.output.find(cue) != std::string::npos) {
      sent = write(master, key.data(), key.size()) == ssize_t(key.size());
    }
  }
  int status = 0;
  if (waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.status = 128 + WTERMSIG(status);
  }
  termios after;
  run.restored = tcgetattr(master, &after) == 0 && after.c_iflag == before.c_iflag &&
                 after.c_oflag == before.c_oflag && after.c_cflag == before.c_cflag &&
                 after.c_lflag == before.c_lflag &&
                 memcmp(after.c_cc, before.c_cc, sizeof after.c_cc) == 0;
  close(master);
  return run;
}

TempDir::TempDir(bool in_memory) {
  std::error_code ec;
  bool memory = in_memory && std::filesystem::is_directory("/dev/shm", ec);
  std::string base =
      (memory ? std::string("/dev/shm") : std::filesystem::temp_directory_path().string()) +
      "/zok-test-XXXXXX";
  std::vector<char> name(base.begin(), base.end());
  name.push_back(0);
  char* made = mkdtemp(name.data());
  path_ = made != nullptr ? made : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

ScopedCwd::ScopedCwd(const std::string& dir) {
  saved_ = std::filesystem::current_path().string();
  std::filesystem::current_path(dir);
}

ScopedCwd::~ScopedCwd() { std::filesystem::current_path(saved_); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string Banner() { return std::string(57, '-') + " ZOK 3.03c 2002-Dec-26"; }

void StdoutToStderr() {
  fflush(stdout);
  dup2(2, 1);
}

std::string FatalPattern(const std::string& message) {
  std::string out = "ERROR: ";
  for (char c : message) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out + "\n$";
}

std::string BuiltDatabases(const std::vector<std::string>& names) {
  namespace fs = std::filesystem;
  fs::path exe(ZOK_EXE);
  auto stamp = static_cast<unsigned long long>(fs::last_write_time(exe).time_since_epoch().count());
  std::string set;
  for (const std::string& n : names) set += "-" + n;
  std::string prefix = "dbs" + set + "-";
  fs::path dir = exe.parent_path() / (prefix + std::to_string(stamp));
  if (fs::exists(dir)) return dir.string();
  // Test programs run side by side: one builds a set while the others wait
  // for it (the lock goes with the descriptor, at the latest at exit).
  int lock = open((dir.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock >= 0) flock(lock, LOCK_EX);
  struct Unlock {
    int fd;
    ~Unlock() {
      if (fd >= 0) close(fd);
    }
  } unlock{lock};
  if (fs::exists(dir)) return dir.string();
  std::error_code ec;
  // Those of older executables only: another process may be building for
  // this one right now.
  for (const auto& e : fs::directory_iterator(exe.parent_path(), ec)) {
    std::string other = e.path().filename().string();
    // Another set's name may begin with this one's ("dbs-KQK-KRK-..."): only
    // a stamp may follow the prefix.
    bool same_set = other.rfind(prefix, 0) == 0 && other.size() > prefix.size() &&
                    isdigit(static_cast<unsigned char>(other[prefix.size()]));
    if (same_set && other.rfind(dir.filename().string(), 0) != 0) {
      fs::remove_all(e.path(), ec);
    }
  }
  fs::path work = dir.string() + ".tmp" + std::to_string(getpid());
  fs::remove_all(work, ec);
  fs::create_directory(work);
  bool built = true;
  for (const std::string& n : names) {
    // Stamped with the creation time 0: the same files as every other build.
    RunResult r = RunShell("SOURCE_DATE_EPOCH=0 '" ZOK_EXE "' -b " + n + " </dev/null", work.string());
    EXPECT_EQ(r.status, 0) << n << "\n" << r.output;
    built = built && r.status == 0;
  }
  if (built) fs::rename(work, dir, ec);
  if (!built || ec) fs::remove_all(work, ec);
  return built ? dir.string() : std::string();
}

std::string BuiltKpkpTree() {
  return BuiltDatabases({"KQK",  "KRK",  "KBK",  "KNK",  "KPK",  "KQKQ", "KQKR", "KQKB",
                         "KQKN", "KRKQ", "KRKR", "KRKB", "KRKN", "KBKQ", "KBKR", "KBKB",
                         "KBKN", "KNKQ", "KNKR", "KNKB", "KNKN", "KQKP", "KRKP", "KBKP",
                         "KNKP", "KPKQ", "KPKR", "KPKB", "KPKN", "KPKP"});
}

void CopyDatabases(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  for (const auto& e : fs::directory_iterator(from)) {
    std::string n = e.path().filename().string();
    if (n.find(".J") != std::string::npos) {
      fs::copy_file(e.path(), fs::path(to) / n, fs::copy_options::overwrite_existing);
    }
  }
}

RunResult RunInChild(const std::string& dir, const std::function<void()>& body) {
  const std::string out = dir + "/child.out";
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(99);
    if (freopen("child.out", "w", stdout) == nullptr) _exit(98);
    body();
    std::exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult r{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFile(out)};
  std::filesystem::remove(out);
  return r;
}
