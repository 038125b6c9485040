#include "commands/position_list.h"

#include <cerrno>
#include <cstdlib>

#include "board/board.h"
#include "index/basis.h"
#include "index/names.h"
#include "index/position_index.h"
#include "platform/platform.h"
#include "support/checked_ops.h"
#include "support/console.h"

namespace {

constexpr int kMaxListed = 100;
constexpr int kMaxPlies = 509;
constexpr int kPiece = 1024;  // bytes read at a time
constexpr int kAbortKey = 17;

// Counts of one listing and its start time (centiseconds).
struct Listing {
  double found = 0;
  double listed = 0;
  int32_t start = 0;
  int32_t shown = 0;  // the last progress line's time
};

// Writes the position of one entry to the .LOG log as a game record; only the
// first kMaxListed are written, all are counted.
void ListOne(int32_t hashw, int32_t hashz, const Basi* basis, int wtm, int v, Listing* l) {
  l->found += 1;
  if (l->listed >= kMaxListed) return;
  Ccc board;
  if (!HashToCccp(hashw, hashz, basis, wtm, &board)) OutError("ListOne: bad hash");
  l->listed += 1;
  OutGile("[game %s_M%03d_%03.0f]", basis->name, v, l->listed);
  OutGile(" [annotator hash o%08o o%08o]", hashw, hashz);
  OutGile(" [posj]");
  static const char kLetters[] = "PpNnBbRrQqKkXxXx";
  for (int rank = 7; rank >= 0; rank--) {
    OutGile("\n");
    for (int file = 0; file < 8; file++) {
      int s = MailboxSquare(rank, file);
      uint8_t cell = CccCell(&board, s);
      if (cell & kAnyPiece) {
        OutGile(" %c", kLetters[cell & 15]);
      } else if (board.eps == s) {
        OutGile(" e");
      } else {
        OutGile(" .");
      }
    }
  }
  OutGile("   %c%c%c%c%c\n\n", board.wtm ? 'w' : 'b', board.castL ? 'L' : '.', board.castS ? 'S' : '.',
          board.castl ? 'l' : '.', board.casts ? 's' : '.');
}

// Reads the database of one side row by row and lists the entries equal to v.
void Scan(const SearchPath& search, const Basi* b, int v, bool white, Listing* l) {
  uint32_t code = white ? b->material | kWhiteToMove : b->material;
  JILE* h = FileRopen(search.Find(code).c_str());
  int rows = white ? b->numw : b->numz;
  int columns = white ? b->zsize : b->wsize;
  int column_bits = white ? b->zbits : b->wbits;
  uint8_t buffer[kPiece];
  for (int r = 0; r < rows; r++) {
    int32_t fixed = white ? UnreduceW(r, b) : UnreduceZ(r, b);
    for (int c0 = 0; c0 < columns; c0 += kPiece) {
      int n = columns - c0 < kPiece ? columns - c0 : kPiece;
      FileRead(buffer, n, h);
      for (int i = 0; i < n; i++) {
        if (buffer[i] != v) continue;
        if (white) {
          ListOne(fixed, c0 + i, b, 1, v, l);
        } else {
          ListOne(c0 + i, fixed, b, 0, v, l);
        }
      }
    }
    // A progress line every 262144 entries (into a file or a pipe, once a
    // second at most).
    if ((((static_cast<int64_t>(r) << column_bits) & 0x3ffff) == 0 || r == rows - 1) &&
        RefreshDue(&l->shown, r == rows - 1)) {
      OutCons(white ? "\rFound = %.0f  %06.1f  hashw o%08o" : "\rFound = %.0f  %06.1f  hashz o%08o",
              l->found, (ClockCs(0) - l->start) * 0.01, fixed);
      if (PlatKeyWaiting() && PlatReadKey() == kAbortKey) OutError("Manual abort!");
    }
  }
  FileClose(h);
}

}  // namespace

void ExeList(const SearchPath& search, int n, char** args) {
  if (n < 2) OutError("ExeList: too few args");
  Basi b;
  MakeBasi(args[0], &b);
  // Text that is no number would list the checkmates (plies 0) unasked.
  char* end;
  errno = 0;
  long typed = strtol(args[1], &end, 10);
  if (end == args[1] || *end != 0 || errno != 0 || typed < 0 || typed >= kMaxPlies) {
    OutError("ExeList: plies oor [%s]: a number from 0 to %d", args[1], kMaxPlies - 1);
  }
  int len = static_cast<int>(typed);
  Listing listing;
  listing.start = ClockCs(1);
  OutCons("\nPlies = %d", len);
  OutCons("\n");
  if (len % 2 == 1) {
    Scan(search, &b, (len + 1) / 2, true, &listing);
  } else {
    Scan(search, &b, len / 2, false, &listing);
  }
  OutCons("\n");
}
