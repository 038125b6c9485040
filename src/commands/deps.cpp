#include "commands/deps.h"

#include <cstdlib>
#include <cstring>

#include "index/basis.h"
#include "index/names.h"
#include "support/console.h"

namespace {

constexpr int kMaxVisited = 500;

// Endgames already shown in the tree of one -d.
struct Visited {
  uint32_t codes[kMaxVisited];
  int count = 0;
};

void TraverseDeps(const SearchPath& search, uint32_t code, int depth, int max_depth, Visited* seen) {
  if (depth > max_depth || (code & kWhiteMask) == 0) return;
  for (int i = 0; i < seen->count; i++) {
    if (seen->codes[i] == code) return;
  }
  OutCons("\n");
  for (int i = 0; i < depth; i++) OutCons("  ........");
  bool found = !search.Path(code | kWhiteToMove).empty() && !search.Path(code).empty();
  char name[9];
  memcpy(name, FresName(code).c_str(), sizeof name);
  name[7] = 'X';
  OutCons(found ? "  %s" : " *%s", name);
  uint32_t children[2 * kMaxSubEndgames];
  int count = SubEndgames(code | kWhiteToMove, children);
  count += SubEndgames(code, children + count);
  for (int i = 0; i < count; i++) {
    TraverseDeps(search, children[i] & ~kWhiteToMove, depth + 1, max_depth, seen);
  }
  if (seen->count == kMaxVisited) OutError("TraverseDeps: out of store");
  seen->codes[seen->count++] = code;
}

// Enumeration state of one argument of -e: piece kinds (0 pawn .. 5 king) by
// slot, White's nw slots first, then Black's nb.
constexpr int kKing = 5;
struct Enumeration {
  int slots[2 * kMaxSideMen];
  int nw;
  int nb;
  int count;
};

void EnumSlot(int p, Enumeration* e) {
  int n = e->nw + e->nb;
  if (p == n) {
    char text[2 * kMaxSideMen + 1];
    for (int i = 0; i < n; i++) text[i] = "PNBRQK"[e->slots[i]];
    text[n] = 0;
    OutCons("\n%s", text);
    e->count++;
    return;
  }
  if (p == 0 || p == e->nw) {
    e->slots[p] = kKing;
    EnumSlot(p + 1, e);
    return;
  }
  for (int type = 4; type >= 0; type--) {
    if (type <= e->slots[p - 1]) {
      e->slots[p] = type;
      EnumSlot(p + 1, e);
    }
  }
}

}  // namespace

void ExeDeps(const SearchPath& search, int n, char** args) {
  if (n < 1) OutError("ExeDeps: too few args");
  Basi basis;
  MakeBasi(args[0], &basis);
  int max_depth = n < 2 ? 99 : atoi(args[1]);
  Visited seen;
  TraverseDeps(search, basis.material, 0, max_depth, &seen);
  OutCons("\n\nFiles marked * were not found.\n");
}

void ExeEnum(int n, char** args) {
  if (n < 1) {
    OutCons("\n");
    return;
  }
  int total = 0;
  for (int a = 0; a < n; a++) {
    const char* arg = args[a];
    Enumeration e{};
    int i = 0;
    while (arg[i] == 'W' || arg[i] == 'w') i++;
    e.nw = 1 + i;
    int j = i;
    while (arg[j] == 'B' || arg[j] == 'b' || arg[j] == 'Z' || arg[j] == 'z') j++;
    e.nb = 1 + (j - i);
    if (arg[j] != 0) OutError("ExeEnum: trailing junk [%s] in [%s]", arg + j, arg);
    if (e.nw < 2) OutError("ExeEnum: white needs more than just K");
    if (e.nw > kMaxSideMen || e.nb > kMaxSideMen) OutError("ExeEnum: max 5 pieces per side");
    EnumSlot(0, &e);
    total += e.count;
    OutCons("   count %s = %d", arg, e.count);
    OutCons("   total = %d", total);
  }
  OutCons("\n");
}
