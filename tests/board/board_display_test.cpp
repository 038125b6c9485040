// Square names, move texts and the board diagram.
#include "board/board_display.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "perft_support.h"

namespace {

int Sq(const char* name) { return MailboxSquare(name[1] - '1', name[0] - 'a'); }
uint32_t Mv(const char* from, const char* to, uint32_t flags = 0) {
  return MakeMove(Sq(from), Sq(to)) | flags;
}
uint32_t Promo(int p) { return static_cast<uint32_t>(p) << kMovePromoShift; }

std::string g_printed;
void Collect(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  g_printed += buf;
}

TEST(SqrName, CornersBlankAndOffBoard) {
  EXPECT_STREQ(SqrName(1), "a1");
  EXPECT_STREQ(SqrName(78), "h8");
  EXPECT_STREQ(SqrName(44), "d5");
  EXPECT_STREQ(SqrName(0), "..");
  EXPECT_STREQ(SqrName(79), "xy");
  EXPECT_STREQ(SqrName(10), "xy");
  EXPECT_STREQ(SqrName(80), "xy");
  EXPECT_STREQ(SqrName(255), "xy");
}

TEST(MoveText, ExamplesOfTheNotation) {
  Ccc b = FenBoard("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_STREQ(CccMoveText(Mv("g1", "f3"), &b), "Ng1-f3  ");
  EXPECT_STREQ(CccMoveText(Mv("e2", "e4"), &b), " e2-e4  ");
  EXPECT_STREQ(CccMoveText(kNullMove, &b), "X00X00XX");
  // Queen capture with check.
  b = FenBoard("4k3/3p4/8/8/8/8/8/3QK3 w - - 0 1");
  EXPECT_STREQ(CccMoveText(Mv("d1", "d7"), &b), "Qd1xd7+ ");
  // Promotion to a queen with check: the piece letter before the "+".
  b = FenBoard("k7/4P3/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_STREQ(CccMoveText(Mv("e7", "e8", Promo(kPromoQ)), &b), " e7-e8Q+");
  EXPECT_STREQ(CccMoveText(Mv("e7", "e8", Promo(kPromoN)), &b), " e7-e8N ");
  // Knight capture giving check.
  b = FenBoard("4k3/8/3p4/8/4N3/8/8/4K3 w - - 0 1");
  EXPECT_STREQ(CccMoveText(Mv("e4", "d6"), &b), "Ne4xd6+ ");
  // Castling, short and long, with and without check.
  b = FenBoard("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  EXPECT_STREQ(CccMoveText(kCastleWS, &b), "  0-0   ");
  EXPECT_STREQ(CccMoveText(kCastleWL, &b), " 0-0-0  ");
  b = FenBoard("3k4/8/8/8/8/8/8/R3K3 w Q - 0 1");
  EXPECT_STREQ(CccMoveText(kCastleWL, &b), " 0-0-0+ ");
  b = FenBoard("r3k2r/8/8/8/8/8/8/4K3 b kq - 0 1");
  EXPECT_STREQ(CccMoveText(kCastleZS, &b), "  0-0   ");
  EXPECT_STREQ(CccMoveText(kCastleZL, &b), " 0-0-0  ");
  // En passant takes on an empty square and is still a capture.
  b = FenBoard("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
  EXPECT_STREQ(CccMoveText(Mv("e5", "d6", kMoveEp), &b), " e5xd6  ");
}

TEST(MoveText, LeavesTheBoardAlone) {
  Ccc b = FenBoard("4k3/3p4/8/8/8/8/8/3QK3 w - - 0 1");
  Ccc before = b;
  CccMoveText(Mv("d1", "d7"), &b);
  EXPECT_EQ(memcmp(&b, &before, sizeof b), 0);
}

TEST(ColPiece, CellTexts) {
  EXPECT_STREQ(ColPiece(kWK), " WK");
  EXPECT_STREQ(ColPiece(kZP), " ZP");
  EXPECT_STREQ(ColPiece(kZN), " ZN");
  EXPECT_STREQ(ColPiece(kEmpty), " - ");
}

TEST(CccPrint, InitialPosition) {
  Ccc b = FenBoard("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  g_printed.clear();
  CccPrint(&b, Collect);
  // The lists hold the king first, then the pieces in increasing square
  // order: for Black the seventh rank comes before the eighth.
  EXPECT_EQ(g_printed,
            "\n ZR ZN ZB ZQ ZK ZB ZN ZR  .   [ e8 a7 b7 c7 d7 e7 f7 g7 ]"
            "\n ZP ZP ZP ZP ZP ZP ZP ZP      [ h7 a8 b8 c8 d8 f8 g8 h8 ]"
            "\n -  -  -  -  -  -  -  -   g8"
            "\n -  -  -  -  -  -  -  -   c8  eps  .."
            "\n -  -  -  -  -  -  -  -   c1  chk  +0"
            "\n -  -  -  -  -  -  -  -   g1"
            "\n WP WP WP WP WP WP WP WP      [ a2 b2 c2 d2 e2 f2 g2 h2 ]"
            "\n WR WN WB WQ WK WB WN WR  *   [ e1 a1 b1 c1 d1 f1 g1 h1 ]");
}

TEST(CccPrint, BlackToMoveInCheckWithEnPassant) {
  // The queen on h1 checks along the h-file: step -10 from the king.
  Ccc b = FenBoard("8/8/8/8/3pP2k/8/8/4K2Q b - e3 0 1");
  g_printed.clear();
  CccPrint(&b, Collect);
  EXPECT_EQ(g_printed,
            "\n -  -  -  -  -  -  -  -   *   [ h4 d4 .. .. .. .. .. .. ]"
            "\n -  -  -  -  -  -  -  -       [ .. .. .. .. .. .. .. .. ]"
            "\n -  -  -  -  -  -  -  -   .."
            "\n -  -  -  -  -  -  -  -   ..  eps  e3"
            "\n -  -  -  ZP WP -  -  ZK  ..  chk -10"
            "\n -  -  -  -  -  -  -  -   .."
            "\n -  -  -  -  -  -  -  -       [ .. .. .. .. .. .. .. .. ]"
            "\n -  -  -  -  WK -  -  WQ  .   [ e1 h1 e4 .. .. .. .. .. ]");
}

}  // namespace
