#include "board/board_display.h"

#include <cstring>

namespace {

constexpr char kPieceLetters[] = " NBRQKXX";  // notation: blank for a pawn
constexpr char kCellLetters[] = "PNBRQKXX";

void PrintList(const uint8_t* list, int first, CccPrintFn print) {
  print("  [");
  for (int i = first; i < first + 8; ++i) print(" %s", SqrName(list[i]).c_str());
  print(" ]");
}

}  // namespace

std::string SqrName(int s) {
  if (s == 0) return "..";
  int rank = s / 10;
  int file = s % 10 - 1;
  if (s < 0 || rank > 7 || file < 0 || file > 7) return "xy";
  return {static_cast<char>('a' + file), static_cast<char>('1' + rank)};
}

std::string CccMoveText(uint32_t move, const Ccc* board) {
  char text[9];
  if (move == kNullMove) return "X00X00XX";
  int from = MoveFrom(move);
  int to = MoveTo(move);
  if (move & kMoveCastle) {
    strcpy(text, to >= from ? "  0-0 " : " 0-0-0");
  } else {
    text[0] = kPieceLetters[PieceKind(CccCell(board, from))];
    memcpy(text + 1, SqrName(from).data(), 2);
    text[3] = (CccCell(board, to) & kAnyPiece) || (move & kMoveEp) ? 'x' : '-';
    memcpy(text + 4, SqrName(to).data(), 2);
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

std::string ColPiece(int cell) {
  if (!(cell & kAnyPiece)) return " - ";
  return {' ', (cell & kWhiteBit) ? 'W' : 'Z', kCellLetters[PieceKind(cell)]};
}

void CccPrint(const Ccc* b, CccPrintFn print) {
  for (int rank = 7; rank >= 0; --rank) {
    print("\n");
    for (int file = 0; file < 8; ++file) {
      print("%s", ColPiece(CccCell(b, MailboxSquare(rank, file))).c_str());
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
      case 4: print("  eps  %s", SqrName(b->eps).c_str()); break;
      case 3: print("  chk %+3d", CccInCheck(b)); break;
      default: break;
    }
  }
}
