// The progress line of a build pass: one console line, refreshed at most
// once a second, with the pass's counts and times, and its copies in the logs.
#pragma once

#include <cstdint>
#include <string>

struct Basi;

std::string ProgTime(int32_t centiseconds);
std::string ProgCount(double x);

struct ProgState {
  char label[24];
  double total;
  double done;
  int32_t pending;
  int32_t start;
  int32_t elapsed;
  int32_t shown;
  double resolved;
  double resolved_weighted;
  double open;
  double open_weighted;
  int32_t mark1;
  int32_t mark2;
  int32_t cache_display;
  double cache_probes;
  double cache_loads;  // blocks read into the cache, past 2^31 in a seven-man pass
  // Kept across passes: the endgame whose passes the line reports (name and
  // table size), and the accumulated build time in centiseconds.
  const Basi* basis;
  int32_t cstotal;
};

void ProgStart(ProgState& prog, const char* name, int number, int kind);
void ProgTick(ProgState& prog, int32_t units);
void ProgEnd(ProgState& prog);
std::string ProgText(const ProgState& prog, int which);
