// Material codes, database names and the database search path.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "board/types.h"

inline constexpr int kMaxSubEndgames = 25;

std::string FresName(uint32_t code);
// The name into `name` (9 bytes), for callers on many threads; false when
// the code holds more men than a name does.
bool FresNameTo(uint32_t code, char* name);
// Where databases are looked for: directory prefixes in order, each joined
// to a database name as it is (so each ends in the path separator). Whoever
// opens databases holds one and hands it down: the probing handle its own,
// the program the one it starts with (the current directory), which each
// command and the build it runs read.
class SearchPath {
 public:
  SearchPath() = default;
  SearchPath(std::initializer_list<std::string> dirs) : dirs_(dirs) {}
  void Add(const std::string& directory) { dirs_.push_back(directory); }
  const std::vector<std::string>& dirs() const { return dirs_; }
  // The first directory's path of database `name` (no extension) whose
  // index file NAME.JIX can be opened, or "" when none has it.
  std::string Try(const char* name) const;
  // The same for the database of material code `code`.
  std::string Path(uint32_t code) const;
  std::string Find(uint32_t code) const;  // fatal when not found

 private:
  std::vector<std::string> dirs_;
};

int SubEndgames(uint32_t code, uint32_t* list);
