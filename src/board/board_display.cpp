#include "board/board_display.h"

#include <cstring>

namespace {

constexpr char kPieceLetters[] = " NBRQKXX";  // notation: blank for a pawn
constexpr char kCellLetters[] = "PNBRQKXX";

void PrintList(const uint8_t* list, int first, CccPrintFn print) {
  print("  [");
  for (int i = first; i < first + 8; ++i) print(" %s", SqrName(list[i]));
  print(" ]");
}

}  // namespace

const char* SqrName(int s) {
  static char name[3];
  if (s == 0) return strcpy(name, "..");
  int rank = s / 10;
  int file = s % 10 - 1;
  if (s < 0 || rank > 7 || file < 0 || file > 7) return strcpy(name, "xy");
  name[0] = static_cast<char>('a' + file);
  name[1] = static_cast<char>('1' + rank);
  name[2] = 0;
  return name;
}

const char* CccMoveText(uint32_t move, const Ccc* board) {
  static char text[9];
  if (move == kNullMove) return strcpy(text, "X00X00XX");
  int from = MoveFrom(move);
  int to = MoveTo(move);
  if (move & kMoveCastle) {
    strcpy(text, to >= from ? "  0-0 " : " 0-0-0");
  } else {
    text[0] = kPieceLetters[PieceKind(CccCell(board, from))];
    memcpy(text + 1, SqrName(from), 2);
    text[3] = (CccCell(board, to) & kAnyPiece) || (move & kMoveEp) ? 'x' : '-';
    memcpy(text + 4, SqrName(to), 2);
  }
  text[6] = ' ';
  text[7] = ' ';
  text[8] = 0;
  Ccc after = *board;
  CccDoMove(&after, move);
  if (CccInCheck(&after) != 0) text[6] = '+';
  if (int p = MovePromo(move)) {
    text[7] = text[6];
    text[6] = kPieceLetters[p];
  }
  return text;
}

const char* ColPiece(int cell) {
  static char text[4];
  text[0] = ' ';
  if (cell & kAnyPiece) {
    text[1] = (cell & kWhiteBit) ? 'W' : 'Z';
    text[2] = kCellLetters[PieceKind(cell)];
  } else {
    text[1] = '-';
    text[2] = ' ';
  }
  text[3] = 0;
  return text;
}

void CccPrint(const Ccc* b, CccPrintFn print) {
  for (int rank = 7; rank >= 0; --rank) {
    print("\n");
    for (int file = 0; file < 8; ++file) {
      print("%s", ColPiece(CccCell(b, MailboxSquare(rank, file))));
    }
    switch (rank) {
      case 7: print(b->wtm ? "  . " : "  * "); break;
      case 5: print(b->casts ? "  g8" : "  .."); break;
      case 4: print(b->castl ? "  c8" : "  .."); break;
      case 3: print(b->castL ? "  c1" : "  .."); break;
      case 2: print(b->castS ? "  g1" : "  .."); break;
      case 0: print(b->wtm ? "  * " : "  . "); break;
      default: print("    "); break;
    }
    switch (rank) {
      case 7: PrintList(b->zsqr, 0, print); break;
      case 6: PrintList(b->zsqr, 8, print); break;
      case 1: PrintList(b->wsqr, 8, print); break;
      case 0: PrintList(b->wsqr, 0, print); break;
      case 4: print("  eps  %s", SqrName(b->eps)); break;
      case 3: print("  chk %+3d", CccInCheck(b)); break;
      default: break;
    }
  }
}
