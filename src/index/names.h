// Material codes, database names and the database search path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/types.h"

inline constexpr int kMaxSubEndgames = 25;
inline constexpr int kMaxSearchDirs = 10;

std::string FresName(uint32_t code);
// The name into `name` (9 bytes), for callers on many threads; false when
// the code holds more men than a name does.
bool FresNameTo(uint32_t code, char* name);
// Where databases are looked for: directory prefixes in order, each joined
// to a database name as it is (so each ends in the path separator). Whoever
// opens databases holds one: the probing handle its own, the commands and
// the build the process's (FresSetPath).
class SearchPath {
 public:
  void Add(const std::string& directory) { dirs_.push_back(directory); }
  void Clear() { dirs_.clear(); }
  const std::vector<std::string>& dirs() const { return dirs_; }
  // The first directory's path of database `name` (no extension) whose
  // index file NAME.JIX can be opened, or "" when none has it.
  std::string Try(const char* name) const;

 private:
  std::vector<std::string> dirs_;
};

// The process's search path, which the command line sets.
void FresSetPath(const char* directory);
// The path of the database in the first search directory holding it, or ""
// when none does.
std::string FresTry(uint32_t code);
std::string FresFind(uint32_t code);  // fatal when not found
int SubEndgames(uint32_t code, uint32_t* list);
