// The vocabulary every build pass shares: value bytes and plies, the two row
// layouts, the names and sizes of the work files, the conversion-file blocks,
// the collect groups and the pass counters with their state keys.
#pragma once

#include <cstdint>

#include "index/db_format.h"
#include "jar/jar_file.h"

struct Basi;
struct Build;
struct ProgState;

// Pass numbers.
inline constexpr int kPassNone = -2;  // nothing done yet
inline constexpr int kPassWtmInit = -1;
inline constexpr int kPassZtmInit = 0;
inline constexpr int kPassIterLast = 899;
inline constexpr int kPassCleanup = 900;
inline constexpr int kPassPackWtm = 901;
inline constexpr int kPassPackZtm = 902;

// Value byte of a position found at ply n (both sides).
constexpr int ValueOfPly(int n) { return n >= kPlySaturated ? kValueLongest : (n + 1) / 2; }

// The k of iteration pass n: the conversion value that falls due at ply n.
constexpr int PassK(int n) {
  int k = (n & 1) != 0 ? (n - 1) / 2 : n / 2;
  return k > 255 ? 255 : k;
}

// The ply at which a conversion value v is won (White) or lost (Black).
constexpr int ConvPlyW(int v) { return 2 * v + 1; }
constexpr int ConvPlyZ(int v) { return 2 * v; }

// The two row layouts. White-row: numw rows of zsize columns (hashz); the
// layout of black-to-move work and of the white-to-move database. Black-row:
// numz rows of wsize columns (hashw); white-to-move work and the
// black-to-move database.
enum Layout : int { kWhiteRows = 0, kBlackRows = 1 };

int32_t LayoutRows(const Basi& basis, Layout layout);
int32_t LayoutColumns(const Basi& basis, Layout layout);
// Bytes of one row's bitmap.
inline int32_t LayoutRowBytes(const Basi& basis, Layout layout) {
  return LayoutColumns(basis, layout) / 8;
}
// Bytes of a whole bitmap file and of a whole byte-per-entry file.
double LayoutBitmapBytes(const Basi& basis, Layout layout);
double LayoutEntries(const Basi& basis, Layout layout);

// Row bitmaps: entry c is bit c mod 8 of byte c / 8, least significant first.
inline constexpr uint8_t kBitMask[8] = {1, 2, 4, 8, 16, 32, 64, 128};
inline bool BitTest(const uint8_t* map, uint32_t c) { return (map[c >> 3] & kBitMask[c & 7]) != 0; }
inline void BitSet(uint8_t* map, uint32_t c) { map[c >> 3] |= kBitMask[c & 7]; }
inline void BitClear(uint8_t* map, uint32_t c) { map[c >> 3] &= static_cast<uint8_t>(~kBitMask[c & 7]); }

// Work-file tags; the names are FlocName(tag, pass).
inline constexpr const char* kTagConvBits = "BCB";    // bitmap: has a conversion value
inline constexpr const char* kTagConvValues = "BCC";  // bytes: the values of the set bits
inline constexpr const char* kTagAll = "ALL";         // black-row (odd) / white-row (000)
inline constexpr const char* kTagAllF = "ALLF";       // white-row: not yet won for White
inline constexpr const char* kTagNew = "NEWF";        // results of exactly one ply
inline constexpr const char* kTagFin = "FIN";         // value bytes of a collect group

// Layouts of the work files of pass n. NEWF n: odd plies are White wins in
// white-row order (read by the even pass that follows), even plies Black
// losses in black-row order. ALL n (odd, and -01): black-row, White's own
// working layout; ALL000: white-row. ALLF n: always white-row. BCB/BCC
// pairs: White's (pass -1 and odd) black-row, Black's (even) white-row. FIN
// files hold bytes in the layout of the finished database of their side:
// white-row for odd groups, black-row for even ones.
constexpr Layout NewfLayout(int n) { return (n & 1) != 0 ? kWhiteRows : kBlackRows; }
constexpr Layout AllLayout(int n) { return n == 0 ? kWhiteRows : kBlackRows; }
constexpr Layout AllFLayout() { return kWhiteRows; }
constexpr Layout ConvLayout(int n) { return (n & 1) != 0 ? kBlackRows : kWhiteRows; }
constexpr Layout FinLayout(int g) { return (g & 1) != 0 ? kWhiteRows : kBlackRows; }

// Conversion files are consumed over many passes and rewritten every 16
// plies. Mode 0: no conversion file is read; 1: the current pair is read;
// 2: it is read and what remains is written as the pair of this pass.
int ConvModeW(int n, int maxbcwply);
int ConvModeZ(int n, int maxbczply);
// The pass whose BCB/BCC pair pass n reads.
constexpr int ConvReadPassW(int n) { return (n / 16) * 16 - 1; }
constexpr int ConvReadPassZ(int n) { return ((n - 1) / 16) * 16; }
// Whether pass n is done with the pair it read.
bool ConvDoneW(int n, int mode, int maxbcwply);
bool ConvDoneZ(int n, int mode, int maxbczply);

// Collect groups of passes 901/902: up to 20 plies of one side per FIN file.
inline constexpr int kGroupFirstW = 1;
inline constexpr int kGroupFirstZ = 0;
inline constexpr int kGroupStep = 40;
constexpr int GroupLast(int g, int maxsol) { return g + 38 < maxsol ? g + 38 : maxsol; }

// Pass counters (kept in the progress record): a side's open totals are
// carried between its passes through the state keys wmopen/wnopen and
// zmopen/znopen.
enum Side : int { kWhite = 0, kBlack = 1 };
void CountRestore(Build& b, Side side);
void CountStore(Build& b, Side side);
// Moves `entries` found results of a row of weight `weight` from open to resolved.
void CountResolve(ProgState& prog, double entries, int weight);
// Adds classified entries of one row to the totals.
void CountAdd(ProgState& prog, double resolved, double open, int weight);
// The driver's test after an iteration pass.
bool CountFoundNothing(const ProgState& prog);
