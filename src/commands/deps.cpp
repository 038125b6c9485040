#include "commands/deps.h"

#include <cstdlib>
#include <cstring>

#include "support/console.h"
#include "index/names.h"
#include "index/basis.h"

namespace {

constexpr int kMaxVisited = 500;
uint32_t g_visited[kMaxVisited];
int g_nvisited = 0;

// Enumeration state of -e.
constexpr int kKing = 5;
int g_slots[10];
int g_enum_nw = 0;
int g_enum_nb = 0;
int g_enum_count = 0;

void EnumSlot(int p) {
  int n = g_enum_nw + g_enum_nb;
  if (p == n) {
    char text[11];
    for (int i = 0; i < n; i++) text[i] = "PNBRQK"[g_slots[i]];
    text[n] = 0;
    OutCons("\n%s", text);
    g_enum_count++;
    return;
  }
  if (p == 0 || p == g_enum_nw) {
    g_slots[p] = kKing;
    EnumSlot(p + 1);
    return;
  }
  for (int type = 4; type >= 0; type--) {
    if (type <= g_slots[p - 1]) {
      g_slots[p] = type;
      EnumSlot(p + 1);
    }
  }
}

}  // namespace

void ExeDeps(int n, char** args) {
  if (n < 1) OutError("ExeDeps: too few args");
  Basi basis;
  MakeBasi(args[0], &basis);
  int max_depth = n < 2 ? 99 : atoi(args[1]);
  g_nvisited = 0;
  TraverseDeps(basis.material, 0, max_depth);
  OutCons("\n\nFiles marked * were not found.\n");
}

void TraverseDeps(uint32_t code, int depth, int max_depth) {
  if (depth > max_depth || (code & kWhiteMask) == 0) return;
  for (int i = 0; i < g_nvisited; i++) {
    if (g_visited[i] == code) return;
  }
  OutCons("\n");
  for (int i = 0; i < depth; i++) OutCons("  ........");
  bool found = FresTry(code | kWhiteToMove) != nullptr && FresTry(code) != nullptr;
  char name[9];
  memcpy(name, FresName(code), sizeof name);
  name[7] = 'X';
  OutCons(found ? "  %s" : " *%s", name);
  uint32_t children[2 * kMaxSubEndgames];
  int count = SubEndgames(code | kWhiteToMove, children);
  count += SubEndgames(code, children + count);
  for (int i = 0; i < count; i++) TraverseDeps(children[i] & ~kWhiteToMove, depth + 1, max_depth);
  if (g_nvisited == kMaxVisited) OutError("TraverseDeps: out of store");
  g_visited[g_nvisited++] = code;
}

void ExeEnum(int n, char** args) {
  if (n < 1) {
    OutCons("\n");
    return;
  }
  int total = 0;
  for (int a = 0; a < n; a++) {
    const char* arg = args[a];
    g_enum_count = 0;
    int i = 0;
    while (arg[i] == 'W' || arg[i] == 'w') i++;
    g_enum_nw = 1 + i;
    int j = i;
    while (arg[j] == 'B' || arg[j] == 'b' || arg[j] == 'Z' || arg[j] == 'z') j++;
    g_enum_nb = 1 + (j - i);
    if (arg[j] != 0) OutError("ExeEnum: trailing junk [%s] in [%s]", arg + j, arg);
    if (g_enum_nw < 2) OutError("ExeEnum: white needs more than just K");
    if (g_enum_nw > 5 || g_enum_nb > 5) OutError("ExeEnum: max 5 pieces per side");
    EnumSlot(0);
    total += g_enum_count;
    OutCons("   count %s = %d", arg, g_enum_count);
    OutCons("   total = %d", total);
  }
  OutCons("\n");
}
