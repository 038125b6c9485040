#include "index/position_index.h"

#include <gtest/gtest.h>

#include <cstring>

#include "entry_walk.h"
#include "test_support.h"

namespace {

TEST(SquareTables, MailboxAndSquareNumbersAreInverse) {
  for (int rank = 0; rank < 8; rank++) {
    for (int file = 0; file < 8; file++) {
      int sq = 8 * rank + file;
      EXPECT_EQ(kMailboxOfSq[sq], MailboxSquare(rank, file));
      EXPECT_EQ(kSqOfMailbox[MailboxSquare(rank, file)], sq);
    }
  }
  for (int s = 0; s < 80; s++) {
    if (s % 10 == 0 || s % 10 == 9) {
      EXPECT_EQ(kSqOfMailbox[s], 0) << s;
    }
  }
}

TEST(SquareTables, KingReductionTables) {
  // a1 b1 c1 d1 b2 c2 d2 c3 d3 d4
  const int triangle[10] = {0, 1, 2, 3, 9, 10, 11, 18, 19, 27};
  int seen = 0;
  for (int sq = 0; sq < 64; sq++) {
    int file = sq & 7, rank = sq >> 3;
    bool in = file < 4 && rank <= file;
    EXPECT_EQ(KingRedFree[sq] < 10, in) << sq;
    if (in) {
      EXPECT_EQ(triangle[KingRedFree[sq]], sq);
      EXPECT_EQ(KingUnFree[KingRedFree[sq]], sq);
      seen++;
    } else {
      EXPECT_EQ(KingRedFree[sq], 10);
    }
    if (file < 4) {
      EXPECT_EQ(KingRedPawn[sq], 4 * rank + file);
      EXPECT_EQ(KingUnPawn[KingRedPawn[sq]], sq);
    } else {
      EXPECT_EQ(KingRedPawn[sq], 32);
    }
  }
  EXPECT_EQ(seen, 10);
}

TEST(Unreduce, RowsOfKqk) {
  Basi b;
  MakeBasi("KQK", &b);
  EXPECT_EQ(b.numw, 640);
  EXPECT_EQ(UnreduceW(0, &b), 0);
  Ccc board;
  EXPECT_EQ(HashToCccp(0, 0, &b, 1, &board), 0);  // king and queen on a1
  EXPECT_EQ(UnreduceW(9 * 64, &b), 27 * 64);
  EXPECT_EQ(UnreduceZ(9, &b), 27);
}

TEST(Unreduce, OutOfRangeRowsAreFatal) {
  Basi b;
  MakeBasi("KQK", &b);
  EXPECT_FATAL(UnreduceW(640, &b), "UnreduceW: oor");
  EXPECT_FATAL(UnreduceW(-1, &b), "UnreduceW: oor");
  EXPECT_FATAL(UnreduceZ(10, &b), "UnreduceZ: oor");
}

TEST(Reduce, KingOnH8IsMirroredAndFlippedToA1) {
  Basi b;
  MakeBasi("KQK", &b);
  int32_t out[4];
  // White king h8, queen b7, black king e5.
  ReduceW(63 * 64 + 49, 36, &b, out);
  EXPECT_EQ(out[1], 0 * 64 + 14);  // queen to g2
  EXPECT_EQ(out[0], 27);           // black king to d4
  EXPECT_EQ(out[3], 0 * 64 + 49);  // transposed: queen b7
  EXPECT_EQ(out[2], 27);
}

TEST(Reduce, KingAboveDiagonalTakesTheTransposedCandidate) {
  Basi b;
  MakeBasi("KQK", &b);
  int32_t out[4];
  // White king b3, queen a1, black king h8.
  ReduceW(17 * 64 + 0, 63, &b, out);
  EXPECT_GE(out[1], b.numw);
  EXPECT_EQ(out[3], KingRedFree[10] * 64 + 0);  // king c2, queen a1
  EXPECT_EQ(out[2], 63);
}

TEST(Reduce, WithPawnsOnlyMirrors) {
  Basi b;
  MakeBasi("KPK", &b);
  int32_t out[4];
  // White king e1, pawn f2, black king h8.
  ReduceW(4 * 64 + 13, 63, &b, out);
  EXPECT_EQ(out[1], KingRedPawn[3] * 64 + 10);
  EXPECT_EQ(out[0], 56);
  EXPECT_EQ(out[2], kNoRow);
  EXPECT_EQ(out[3], kNoRow);
  // Black to move reduces the black king: black king g6 to b6.
  ReduceZ(4 * 64 + 13, 46, &b, out);
  EXPECT_EQ(out[1], KingRedPawn[41]);
  EXPECT_EQ(out[0], 3 * 64 + 10);
}

TEST(Weight, RowWeightsCoverEveryConfiguration) {
  for (const char* name : {"KQK", "KRKN", "KPK", "KBNK", "KPKP"}) {
    Basi b;
    MakeBasi(name, &b);
    double w = 0, z = 0;
    for (int32_t r = 0; r < b.numw; r++) w += WeightW(r, &b);
    for (int32_t r = 0; r < b.numz; r++) z += WeightZ(r, &b);
    EXPECT_EQ(w, b.wsize) << name;
    EXPECT_EQ(z, b.zsize) << name;
  }
  Basi b;
  MakeBasi("KQK", &b);
  EXPECT_EQ(WeightW(0, &b), 4);
  EXPECT_EQ(WeightW(64, &b), 8);
  EXPECT_EQ(WeightZ(9, &b), 4);
}

TEST(UnEp, MovesCodedPawnsToTheirSquares) {
  Basi b;
  MakeBasi("KPKP", &b);
  // Every row: the unreduced, uncoded number places the same men as the
  // coded one, which the placement moves by itself.
  for (int32_t r = 0; r < b.numw; r++) {
    Ccc coded, plain;
    int placed = HashToZtmSetW(UnreduceW(r, &b), &b, &coded);
    if (!placed) continue;
    ASSERT_TRUE(HashToZtmSetW(UnreduceW(UnEpW(r, &b), &b), &b, &plain));
    coded.eps = 0;
    EXPECT_EQ(memcmp(&coded, &plain, sizeof coded), 0) << r;
    EXPECT_EQ(UnEpW(r, &b) != r, (UnreduceW(r, &b) & 63) < 8);
  }
  for (int32_t r = 0; r < b.numz; r++) {
    Ccc coded, plain;
    if (!HashToWtmSetZ(UnreduceZ(r, &b), &b, &coded)) continue;
    ASSERT_TRUE(HashToWtmSetZ(UnreduceZ(UnEpZ(r, &b), &b), &b, &plain));
    coded.eps = 0;
    EXPECT_EQ(memcmp(&coded, &plain, sizeof coded), 0) << r;
  }
  Basi kpk;
  MakeBasi("KPK", &kpk);
  EXPECT_EQ(UnEpW(5, &kpk), 5);  // no en-passant coding without both pawns
}

TEST(HashToCccp, EnPassantCodingOfKpkp) {
  Basi b;
  MakeBasi("KPKP", &b);
  Ccc board;
  // White king a1, pawn coded on e1; black king h8, pawn d4.
  int32_t hashw = 0 * 64 + 4, hashz = 63 * 64 + 27;
  ASSERT_EQ(HashToCccp(hashw, hashz, &b, 0, &board), 1);
  EXPECT_EQ(CccCell(&board, 35), kWP);
  EXPECT_EQ(board.eps, 25);
  EXPECT_EQ(HashToCccp(hashw, 63 * 64 + 26, &b, 0, &board), 0);  // pawn on c4
  EXPECT_EQ(HashToCccp(hashw, hashz, &b, 1, &board), 0);          // wrong side
  // e2 or e3 taken: the pawn cannot have come from e2.
  Basi krp;
  MakeBasi("KPKNP", &krp);
  int32_t z = (63 * 64 + 12) * 64 + 27;  // black knight e2
  EXPECT_EQ(HashToCccp(hashw, z, &krp, 0, &board), 0);
  z = (63 * 64 + 20) * 64 + 27;  // black knight e3
  EXPECT_EQ(HashToCccp(hashw, z, &krp, 0, &board), 0);
  z = (63 * 64 + 45) * 64 + 27;
  EXPECT_EQ(HashToCccp(hashw, z, &krp, 0, &board), 1);
  Basi kpk;
  MakeBasi("KPK", &kpk);
  EXPECT_EQ(HashToCccp(hashw, 63, &kpk, 0, &board), 0);
  EXPECT_EQ(HashToCccp(hashw, 63, &kpk, 1, &board), 0);
}

TEST(HashToCccp, OutOfRangeNumbersAreFatal) {
  Basi b;
  MakeBasi("KQK", &b);
  Ccc board;
  EXPECT_FATAL(HashToCccp(0, 64, &b, 1, &board), "HashToCccp: hashz oor");
  EXPECT_FATAL(HashToCccp(4096, 0, &b, 1, &board), "HashToCccp: hashw oor");
  EXPECT_FATAL(HashToWtmSetW(-1, &b, &board), "HashToWtmSetW: hashw oor");
  EXPECT_FATAL(HashToWtmSetZ(64, &b, &board), "HashToWtmSetZ: hashz oor");
  EXPECT_FATAL(HashToZtmSetW(4096, &b, &board), "HashToZtmSetW: hashw oor");
  EXPECT_FATAL(HashToZtmSetZ(64, &b, &board), "HashToZtmSetZ: hashz oor");
}

TEST(TestEp, InconsistentBoardsAreFatal) {
  std::string text(64, '.');
  text[4] = 'k';
  text[60] = 'K';
  Ccc board;
  CccSetString((text + "w").c_str(), &board);
  board.eps = 56;  // f6, but no black pawn on f5
  EXPECT_FATAL(TestEp(&board), "TestEp: ZP pissen");
  board.eps = 26;
  EXPECT_FATAL(TestEp(&board), "TestEp: not 6th rank");
  board.wtm = 0;
  board.eps = 46;
  EXPECT_FATAL(TestEp(&board), "TestEp: not 3rd rank");
  board.eps = 26;  // f3, but no white pawn on f4
  EXPECT_FATAL(TestEp(&board), "TestEp: WP pissen");
}

// Decoding agrees with the board's own square reader and check test, and
// both candidates of every symmetric image reduce back to the entry.
void CheckTable(const char* name, int wtm, double limit, int samples) {
  Basi b;
  MakeBasi(name, &b);
  bool pawns = b.npawns != 0;
  int32_t rows = wtm ? b.numw : b.numz;
  double legal = 0;
  int failures = 0;
  ForEachEntry(b, wtm, limit, samples, [&](const Entry& e) {
    if (failures > 5) return;
    Ccc board, other;
    int got = HashToCccp(e.hashw, e.hashz, &b, wtm, &board);
    bool want = IndependentBoard(b, e.hashw, e.hashz, wtm, &other);
    if (got != (want ? 1 : 0)) {
      ADD_FAILURE() << EntryText(b, e) << " legal " << got;
      failures++;
      return;
    }
    if (!got) return;
    legal++;
    bool same = memcmp(board.sqrx, other.sqrx, sizeof board.sqrx) == 0 &&
                board.wtm == other.wtm && board.eps == other.eps && board.wsqr[0] == other.wsqr[0] &&
                board.zsqr[0] == other.zsqr[0];
    if (!same) {
      ADD_FAILURE() << EntryText(b, e) << " board differs";
      failures++;
      return;
    }
    for (int g = 0; g < (pawns ? 2 : 8); g++) {
      int32_t hw = 0, hz = 0;
      for (int i = 0; i < b.nw; i++) hw = hw << 6 | SymSquare(e.hashw >> 6 * (b.nw - 1 - i) & 63, g);
      for (int i = 0; i < b.nz; i++) hz = hz << 6 | SymSquare(e.hashz >> 6 * (b.nz - 1 - i) & 63, g);
      int32_t out[4];
      if (wtm) {
        ReduceW(hw, hz, &b, out);
      } else {
        ReduceZ(hw, hz, &b, out);
      }
      bool found = false;
      int valid = 0;
      for (int k = 0; k < 4; k += 2) {
        if (out[k + 1] >= rows) continue;
        valid++;
        found |= out[k + 1] == e.row && out[k] == e.column;
        Ccc again;
        int32_t w = wtm ? UnreduceW(out[k + 1], &b) : out[k];
        int32_t z = wtm ? out[k] : UnreduceZ(out[k + 1], &b);
        bool ok = HashToCccp(w, z, &b, wtm, &again) == 1 && SameUpToSymmetry(board, again, pawns);
        if (!ok) {
          ADD_FAILURE() << EntryText(b, e) << " symmetry " << g << " candidate " << k / 2;
          failures++;
        }
      }
      if (!found || valid == 0) {
        ADD_FAILURE() << EntryText(b, e) << " symmetry " << g << " not reduced back";
        failures++;
      }
    }
  });
  EXPECT_GT(legal, 0) << name;
}

TEST(HashToCccp, EveryEntryOfSmallEndgamesAgreesWithTheBoard) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK"}) {
    for (int wtm = 0; wtm < 2; wtm++) CheckTable(name, wtm, 3e5, 100000);
  }
}

TEST(HashToCccp, SampledLargerEndgamesAgreeWithTheBoard) {
  for (const char* name : {"KQKR", "KRPKP", "KQKBP", "KPPKP", "KNNKB"}) {
    for (int wtm = 0; wtm < 2; wtm++) CheckTable(name, wtm, 0, 40000);
  }
}

}  // namespace
