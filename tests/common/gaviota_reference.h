// The independent reference of the three-man tests: Debian's Gaviota tables
// (in ZOK_GAVIOTA_TABLES), read by their own probing library.
#pragma once
#ifdef ZOK_GAVIOTA_TABLES
#include <gtb-probe.h>

#include <cctype>
#include <string>

// Opens the tables once; false when they hold no three-man endgames.
inline bool GaviotaOpen() {
  static const bool ok = [] {
    const char* paths[] = {ZOK_GAVIOTA_TABLES, nullptr};
    tb_init(0, tb_CP4, paths);
    tbcache_init(1 << 20, 10);  // probes fail without a cache
    return (tb_availability() & 3) == 3;
  }();
  return ok;
}

// Gaviota's value of the kings on `wk` and `bk` and `man` ("QRBNP" White's,
// "qrbnp" Black's) on `sq`, squares a1 = 0: "illegal" (touching kings, the
// side not to move in check), "draw", or "win N" / "loss N" in plies from
// the side to move (its own info is by colour).
inline std::string GaviotaValue(unsigned wk, unsigned bk, char man, unsigned sq, bool white_to_move) {
  const bool white_man = std::isupper(man) != 0;
  unsigned ws[3] = {wk, tb_NOSQUARE, tb_NOSQUARE}, bs[3] = {bk, tb_NOSQUARE, tb_NOSQUARE}, info, plies;
  unsigned char wp[3] = {tb_KING, tb_NOPIECE, tb_NOPIECE}, bp[3] = {tb_KING, tb_NOPIECE, tb_NOPIECE};
  (white_man ? ws : bs)[1] = sq;
  (white_man ? wp : bp)[1] =
      static_cast<unsigned char>(tb_PAWN + std::string("pnbrq").find(char(std::tolower(man))));
  const unsigned stm = white_to_move ? tb_WHITE_TO_MOVE : tb_BLACK_TO_MOVE;
  if (!tb_probe_hard(stm, tb_NOSQUARE, tb_NOCASTLE, ws, bs, wp, bp, &info, &plies)) return "unknown";
  if (info == tb_FORBID) return "illegal";
  if (info == tb_DRAW) return "draw";
  return ((info == tb_WMATE) == white_to_move ? "win " : "loss ") + std::to_string(plies);
}
#endif
