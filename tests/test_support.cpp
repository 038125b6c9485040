#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

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

RunResult RunZok(const std::string& args, const std::string& dir, const std::string& input) {
  std::string in = input.empty() ? std::string("/dev/null") : "'" + input + "'";
  return Capture("cd '" + dir + "' && '" ZOK_EXE "' " + args + " <" + in + " 2>&1");
}

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/zok-test-XXXXXX";
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
