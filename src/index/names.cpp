#include "index/names.h"

#include <cstdio>
#include <string>

#include "jar/jar_file.h"
#include "platform/platform.h"
#include "support/console.h"

namespace {

// Appends, for shifts 24, 18, 12, 6, 0 (queen down to pawn) plus `offset`,
// each piece letter as often as the code counts it; -1 past 7 letters.
int PutSide(uint32_t code, int offset, char* name, int p) {
  static const char kLetters[] = "QRBNP";
  for (int i = 0; i < 5; i++) {
    int n = (code >> (24 - 6 * i + offset)) & 7;
    for (int j = 0; j < n && p + j < 8; j++) name[p + j] = kLetters[i];
    p += n;
    if (p > 7) return -1;
  }
  return p;
}

}  // namespace

bool FresNameTo(uint32_t code, char* name) {
  name[0] = 'K';
  int p = PutSide(code, 0, name, 1);
  if (p < 0 || p > 6) return false;
  name[p++] = 'K';
  p = PutSide(code, 3, name, p);
  if (p < 0) return false;
  while (p < 7) name[p++] = '_';
  name[7] = (code & kWhiteToMove) != 0 ? 'W' : 'B';
  name[8] = 0;
  return true;
}

std::string FresName(uint32_t code) {
  char name[9];
  if (!FresNameTo(code, name)) OutError("FresName: too many pieces");
  return name;
}

std::string SearchPath::Try(const char* name) const {
  for (const std::string& dir : dirs_) {
    std::string path = dir + name;
    if (JarExists(path.c_str())) return path;
  }
  return "";
}

std::string SearchPath::Path(uint32_t code) const { return Try(FresName(code).c_str()); }

std::string SearchPath::Find(uint32_t code) const {
  std::string path = Path(code);
  if (path.empty()) OutError("FresFind: %s not found", FresName(code).c_str());
  return path;
}

int SubEndgames(uint32_t code, uint32_t* list) {
  // Units of the side that moves (own) and of the side that is captured.
  static const uint32_t kWhiteUnits[5] = {kUnitWP, kUnitWN, kUnitWB, kUnitWR, kUnitWQ};
  static const uint32_t kBlackUnits[5] = {kUnitZP, kUnitZN, kUnitZB, kUnitZR, kUnitZQ};
  bool white_moves = (code & kWhiteToMove) != 0;
  const uint32_t* own = white_moves ? kWhiteUnits : kBlackUnits;
  const uint32_t* them = white_moves ? kBlackUnits : kWhiteUnits;
  uint32_t next = code ^ kWhiteToMove;
  auto count = [&](const uint32_t* units, int kind) { return (code / units[kind]) & 7; };
  bool own_pawns = count(own, 0) != 0;
  int n = 0;
  auto promotions = [&](uint32_t base) {
    for (int kind = 4; kind >= 1; kind--) list[n++] = base - own[0] + own[kind];
  };
  if (count(them, 0) != 0) list[n++] = next - them[0];
  for (int kind = 1; kind <= 4; kind++) {
    if (count(them, kind) == 0) continue;
    if (own_pawns) promotions(next - them[kind]);
    list[n++] = next - them[kind];
  }
  if (own_pawns) promotions(next);
  return n;
}
