// The board record: setting it from a square string, making moves and the
// attack tests, with every fatal message from a child process.
#include "board/board.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "perft_support.h"
#include "test_support.h"

namespace {

int Sq(const char* name) { return MailboxSquare(name[1] - '1', name[0] - 'a'); }
uint32_t Mv(const char* from, const char* to, uint32_t flags = 0) {
  return MakeMove(Sq(from), Sq(to)) | flags;
}
Ccc Initial() {
  Ccc b;
  CccSetString(kInitialPosition, &b);
  return b;
}
std::string List(const uint8_t* list) {
  std::string out;
  for (int i = 0; i < kCccListSize; ++i) out += std::to_string(list[i]) + " ";
  return out;
}

TEST(Board, MailboxNumbersOfCorners) {
  EXPECT_EQ(Sq("a1"), 1);
  EXPECT_EQ(Sq("h1"), 8);
  EXPECT_EQ(Sq("a2"), 11);
  EXPECT_EQ(Sq("e8"), 75);
  EXPECT_EQ(Sq("h8"), 78);
  EXPECT_EQ(kCastleWL, Mv("e1", "c1", kMoveCastle));
  EXPECT_EQ(kCastleWS, Mv("e1", "g1", kMoveCastle));
  EXPECT_EQ(kCastleZL, Mv("e8", "c8", kMoveCastle));
  EXPECT_EQ(kCastleZS, Mv("e8", "g8", kMoveCastle));
}

TEST(Board, InitialPositionFromText) {
  Ccc b = Initial();
  EXPECT_EQ(b.wtm, 1);
  EXPECT_EQ(b.eps, 0);
  EXPECT_TRUE(b.castL && b.castS && b.castl && b.casts);
  EXPECT_EQ(CccCell(&b, Sq("e1")), kWK);
  EXPECT_EQ(CccCell(&b, Sq("d8")), kZQ);
  EXPECT_EQ(CccCell(&b, Sq("e4")), kEmpty);
  // Border all round, playing squares only inside.
  int border = 0;
  for (int i = 0; i < kCccCells; ++i) border += b.sqrx[i] == kBorder;
  EXPECT_EQ(border, kCccCells - 64);
  // King first, then the others in increasing square order.
  EXPECT_EQ(List(b.wsqr), "5 1 2 3 4 6 7 8 11 12 13 14 15 16 17 18 0 ");
  EXPECT_EQ(List(b.zsqr), "75 61 62 63 64 65 66 67 68 71 72 73 74 76 77 78 0 ");
}

TEST(Board, FlagsComeOnlyFromTheFlagLetters) {
  std::string squares = std::string(kInitialPosition).substr(0, 64);
  Ccc b;
  CccSetString((squares + "w").c_str(), &b);
  EXPECT_EQ(b.wtm, 1);
  EXPECT_FALSE(b.castL || b.castS || b.castl || b.casts);
  CccSetString((squares + "bls").c_str(), &b);
  EXPECT_EQ(b.wtm, 0);
  EXPECT_FALSE(b.castL || b.castS);
  EXPECT_TRUE(b.castl && b.casts);
  // Rights whose king or rook is not at home are dropped.
  b = FenBoard("r3k3/8/8/8/8/8/8/R4K1R w KQkq - 0 1");
  EXPECT_FALSE(b.castL || b.castS || b.casts);
  EXPECT_TRUE(b.castl);
}

TEST(Board, EnPassantSquareKeptOnlyWhenUsable) {
  // Usable: black pawn d5 beside the white pawn e5.
  Ccc b = FenBoard("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
  EXPECT_EQ(b.eps, Sq("d6"));
  // No white pawn beside: dropped.
  b = FenBoard("4k3/8/8/3p4/8/8/8/4K3 w - d6 0 1");
  EXPECT_EQ(b.eps, 0);
  // Black to move with the mark on the third rank.
  b = FenBoard("4k3/8/8/8/3Pp3/8/8/4K3 b - d3 0 1");
  EXPECT_EQ(b.eps, Sq("d3"));
  // A mark on the wrong rank for the side to move, or with no pawn that
  // could have crossed it, would make the capture remove a wrong piece.
  b = FenBoard("4k3/8/8/8/3Pp3/8/8/4K3 w - d3 0 1");
  EXPECT_EQ(b.eps, 0);
  b = FenBoard("4k3/8/8/3NP3/8/8/8/4K3 w - d6 0 1");
  EXPECT_EQ(b.eps, 0);
  // "%" and "E" mark the square as well.
  std::string squares = "........"
                        "........"
                        "...%...."
                        "...pP..."
                        "........"
                        "........"
                        "........"
                        "....K..k";
  CccSetString((squares + "W").c_str(), &b);
  EXPECT_EQ(b.eps, Sq("d6"));
}

TEST(Board, ShortTextLeavesTheRestEmpty) {
  Ccc b;
  CccSetString("rnbqkbnr", &b);
  EXPECT_EQ(CccCell(&b, Sq("e8")), kZK);
  EXPECT_EQ(CccCell(&b, Sq("e1")), kEmpty);
  EXPECT_EQ(b.wtm, 0);
}

TEST(DoMove, DoubleStepSetsEnPassantOnlyBesideAnEnemyPawn) {
  Ccc b = Initial();
  CccDoMove(&b, Mv("e2", "e4"));
  EXPECT_EQ(b.eps, 0);
  EXPECT_EQ(b.wtm, 0);
  b = FenBoard("4k3/8/8/8/3p4/8/4P3/4K3 w - - 0 1");
  CccDoMove(&b, Mv("e2", "e4"));
  EXPECT_EQ(b.eps, Sq("e3"));
  b = FenBoard("4k3/3p4/8/4P3/8/8/8/4K3 b - - 0 1");
  CccDoMove(&b, Mv("d7", "d5"));
  EXPECT_EQ(b.eps, Sq("d6"));
  // Any next move clears it.
  CccDoMove(&b, Mv("e1", "d1"));
  EXPECT_EQ(b.eps, 0);
}

TEST(DoMove, CastlingRightsFollowKingAndRookSquares) {
  Ccc b = FenBoard("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  Ccc k = b;
  CccDoMove(&k, Mv("e1", "f1"));
  EXPECT_FALSE(k.castL || k.castS);
  EXPECT_TRUE(k.castl && k.casts);
  Ccc r = b;
  CccDoMove(&r, Mv("a1", "a2"));
  EXPECT_FALSE(r.castL);
  EXPECT_TRUE(r.castS);
  // A black capture on h1 removes White's short right (and Black's own
  // short right, the rook having left h8).
  Ccc c = FenBoard("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
  CccDoMove(&c, Mv("h8", "h1"));
  EXPECT_FALSE(c.castS || c.casts);
  EXPECT_TRUE(c.castL && c.castl);
  EXPECT_EQ(List(c.wsqr), "5 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
}

TEST(DoMove, CastlingMovesTheRookToo) {
  Ccc b = FenBoard("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  CccDoMove(&b, kCastleWS);
  EXPECT_EQ(CccCell(&b, Sq("g1")), kWK);
  EXPECT_EQ(CccCell(&b, Sq("f1")), kWR);
  EXPECT_EQ(CccCell(&b, Sq("h1")), kEmpty);
  EXPECT_EQ(CccCell(&b, Sq("e1")), kEmpty);
  EXPECT_EQ(List(b.wsqr), "7 1 6 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
  CccDoMove(&b, kCastleZL);
  EXPECT_EQ(CccCell(&b, Sq("c8")), kZK);
  EXPECT_EQ(CccCell(&b, Sq("d8")), kZR);
  EXPECT_EQ(CccCell(&b, Sq("a8")), kEmpty);
  EXPECT_EQ(List(b.zsqr), "73 74 78 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
  EXPECT_FALSE(b.castL || b.castS || b.castl || b.casts);
}

TEST(DoMove, EnPassantRemovesTheCapturedPawn) {
  Ccc b = FenBoard("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
  CccDoMove(&b, Mv("e5", "d6", kMoveEp));
  EXPECT_EQ(CccCell(&b, Sq("d6")), kWP);
  EXPECT_EQ(CccCell(&b, Sq("d5")), kEmpty);
  EXPECT_EQ(CccCell(&b, Sq("e5")), kEmpty);
  EXPECT_EQ(List(b.zsqr), "75 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
  b = FenBoard("4k3/8/8/8/3Pp3/8/8/4K3 b - d3 0 1");
  CccDoMove(&b, Mv("e4", "d3", kMoveEp));
  EXPECT_EQ(CccCell(&b, Sq("d4")), kEmpty);
  EXPECT_EQ(List(b.wsqr), "5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
}

TEST(DoMove, PromotionChangesTheCellOnly) {
  Ccc b = FenBoard("4k3/P7/8/8/8/8/p7/4K3 w - - 0 1");
  CccDoMove(&b, Mv("a7", "a8", kPromoN << kMovePromoShift));
  EXPECT_EQ(CccCell(&b, Sq("a8")), kWN);
  CccDoMove(&b, Mv("a2", "a1", kPromoN << kMovePromoShift));
  EXPECT_EQ(CccCell(&b, Sq("a1")), kZN);
  CccDoMove(&b, Mv("e1", "e2"));
  CccDoMove(&b, Mv("a1", "b3"));
  Ccc q = FenBoard("4k3/P7/8/8/8/8/8/4K3 w - - 0 1");
  CccDoMove(&q, Mv("a7", "a8", kPromoQ << kMovePromoShift));
  EXPECT_EQ(CccCell(&q, Sq("a8")), kWQ);
  EXPECT_EQ(List(q.wsqr), "5 71 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
}

TEST(DoMove, OutputBoardLeavesTheInputAlone) {
  Ccc b = Initial();
  Ccc before = b, out;
  CccDoMove(&b, Mv("g1", "f3"), &out);
  EXPECT_EQ(memcmp(&b, &before, sizeof b), 0);
  EXPECT_EQ(CccCell(&out, Sq("f3")), kWN);
  // The output may be the input itself.
  CccDoMove(&b, Mv("g1", "f3"), &b);
  EXPECT_EQ(memcmp(&b, &out, sizeof b), 0);
}

TEST(DoMove, NullMoveOnlyPassesTheTurn) {
  Ccc b = FenBoard("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
  Ccc before = b;
  CccDoMove(&b, kNullMove);
  EXPECT_EQ(b.wtm, 0);
  EXPECT_EQ(b.eps, 0);
  b.wtm = before.wtm;
  b.eps = before.eps;
  EXPECT_EQ(memcmp(&b, &before, sizeof b), 0);
}

TEST(Attacks, StepTowardsTheSingleAttackerOrTwo) {
  // Rook on the same file and a knight: two attackers.
  Ccc b = FenBoard("4r2k/8/8/8/8/5n2/8/4K3 w - - 0 1");
  EXPECT_EQ(AttackedByZ(&b, Sq("e1")), 2);
  EXPECT_EQ(CccInCheck(&b), 2);
  // A single black pawn on s + 11.
  b = FenBoard("7k/8/8/8/8/8/5p2/4K3 w - - 0 1");
  EXPECT_EQ(AttackedByZ(&b, Sq("e1")), 11);
  b = FenBoard("7k/8/8/8/8/8/3p4/4K3 w - - 0 1");
  EXPECT_EQ(AttackedByZ(&b, Sq("e1")), 9);
  // Slider steps are unit steps; the knight's is its jump.
  b = FenBoard("7k/8/8/8/8/8/8/q3K3 w - - 0 1");
  EXPECT_EQ(CccInCheck(&b), -1);
  b = FenBoard("7k/8/8/8/8/5n2/8/4K3 w - - 0 1");
  EXPECT_EQ(CccInCheck(&b), 21);
  b = FenBoard("7k/8/8/b7/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(CccInCheck(&b), 9);
  // White attackers, the king included.
  b = FenBoard("4k3/3P4/8/8/8/8/8/4K3 b - - 0 1");
  EXPECT_EQ(CccInCheck(&b), -11);
  b = FenBoard("8/8/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(AttackedByW(&b, Sq("d2")), -9);
  EXPECT_EQ(AttackedByW(&b, Sq("e3")), 0);
  // A blocked line is no attack.
  b = FenBoard("4r2k/8/8/4P3/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(CccInCheck(&b), 0);
}

TEST(FillSqrx, FifteenPiecesBesideTheKingFit) {
  Ccc b;
  CccSetString("QQQQQQQQ"
               "QQQQQQQK"
               "........"
               "........"
               "........"
               "........"
               "........"
               ".......kw",
               &b);
  EXPECT_EQ(b.wsqr[0], Sq("h7"));
  EXPECT_NE(b.wsqr[15], 0);
  EXPECT_EQ(b.wsqr[16], 0);
}

TEST(BoardDeath, FatalMessages) {
  Ccc b = Initial();
  EXPECT_FATAL(CccDoMove(&b, Mv("e7", "e5")), "CheckMove: not white piece");
  EXPECT_FATAL(CccDoMove(&b, Mv("e1", "e2")), "CheckMove: not zwart victim");
  Ccc w = FenBoard("4k3/3P4/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_FATAL(CccDoMove(&w, Mv("d7", "e8")), "CheckMove: victim is ZK");
  Ccc z = Initial();
  z.wtm = 0;
  EXPECT_FATAL(CccDoMove(&z, Mv("e2", "e4")), "CheckMove: not zwart piece");
  EXPECT_FATAL(CccDoMove(&z, Mv("d8", "d7")), "CheckMove: not white victim");
  Ccc zk = FenBoard("4k3/8/8/8/8/8/3p4/4K3 b - - 0 1");
  EXPECT_FATAL(CccDoMove(&zk, Mv("d2", "e1")), "CheckMove: victim is WK");
  Ccc chk = FenBoard("4r2k/8/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_FATAL(CccDoMove(&chk, kNullMove), "CheckMove: nullmove while in check");

  uint8_t list[kCccListSize] = {5, 12, 0};
  EXPECT_FATAL(SqrMov(list, 13, 23), "SqrMov: sold not found");
  EXPECT_FATAL(SqrSub(list, 13), "SqrSub: sold not found");
  // A list entry beyond a hole is not searched.
  Ccc broken = Initial();
  memset(broken.wsqr, 0, sizeof broken.wsqr);
  EXPECT_FATAL(CccDoMove(&broken, Mv("g1", "f3")), "SqrMov: sold not found");

  EXPECT_FATAL(CccSetString("QQQQQQQQ"
                            "QQQQQQQK"
                            "Q......."
                            "........"
                            "........"
                            "........"
                            "........"
                            ".......kw",
                            &b),
               "CccFillSqrx: too many wpieces");
  EXPECT_FATAL(CccSetString("qqqqqqqq"
                            "qqqqqqqk"
                            "q......."
                            "........"
                            "........"
                            "........"
                            "........"
                            ".......Kw",
                            &b),
               "CccFillSqrx: too many zpieces");
}

TEST(Board, SqrMovAndSqrSubKeepTheListClosed) {
  uint8_t list[kCccListSize] = {5, 12, 13, 14, 0};
  SqrMov(list, 13, 33);
  EXPECT_EQ(List(list), "5 12 33 14 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
  SqrSub(list, 12);
  EXPECT_EQ(List(list), "5 33 14 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
  SqrSub(list, 14);
  EXPECT_EQ(List(list), "5 33 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
  // A full list: the last slot closes onto the always-zero slot 16.
  uint8_t full[kCccListSize];
  for (int i = 0; i < 16; ++i) full[i] = static_cast<uint8_t>(i + 1);
  full[16] = 0;
  SqrSub(full, 16);
  EXPECT_EQ(full[15], 0);
  SqrSub(full, 1);
  EXPECT_EQ(full[0], 2);
  EXPECT_EQ(full[14], 0);
}

}  // namespace
