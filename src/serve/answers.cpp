#include "serve/answers.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstring>
#include <memory>

#include "board/board.h"
#include "probe/probe.h"

namespace {

// Keys in the order clients of that API print them.
using Json = nlohmann::ordered_json;

// A position has at most 218 legal moves.
constexpr int kMaxMoves = 256;

int SquareOf(const char* t) { return (t[1] - '1') * 8 + (t[0] - 'a'); }

int ManAt(const zok_position& p, int sq) {
  for (int i = 0; i < p.count; i++) {
    if (p.square[i] == sq) return i;
  }
  return -1;
}

void RemoveMan(zok_position* p, int i) {
  p->count--;
  p->piece[i] = p->piece[p->count];
  p->square[i] = p->square[p->count];
}

// The position after a legal move given in coordinate notation.
zok_position AfterMove(zok_position p, const char* uci) {
  int from = SquareOf(uci), to = SquareOf(uci + 2);
  int mover = ManAt(p, from);
  char kind = static_cast<char>(toupper(p.piece[mover]));
  bool white = p.piece[mover] == kind;
  if (kind == 'P' && to == p.ep_square) RemoveMan(&p, ManAt(p, (from & ~7) | (to & 7)));
  int taken = ManAt(p, to);
  if (taken >= 0) RemoveMan(&p, taken);
  mover = ManAt(p, from);
  p.square[mover] = static_cast<unsigned char>(to);
  if (uci[4] != 0) p.piece[mover] = static_cast<char>(white ? toupper(uci[4]) : tolower(uci[4]));
  if (kind == 'K' && (to - from == 2 || from - to == 2)) {
    int rook = ManAt(p, to > from ? from + 3 : from - 4);
    if (rook >= 0) p.square[rook] = static_cast<unsigned char>((from + to) / 2);
  }
  p.ep_square = kind == 'P' && (to - from == 16 || from - to == 16) ? (from + to) / 2 : -1;
  // Rights lapse when the king or a rook leaves its square, or a rook is taken.
  const int corners[4] = {7, 0, 63, 56};
  for (int r = 0; r < 4; r++) {
    if (from == corners[r] || to == corners[r] || from == (r < 2 ? 4 : 60)) p.castling &= ~(1 << r);
  }
  p.white_to_move = !p.white_to_move;
  return p;
}

// Neither side can ever mate: no pawn, rook or queen, and at most one minor
// piece, or only bishops all on squares of one colour.
bool InsufficientMaterial(const zok_position& p) {
  int minors = 0, colours = 0;
  bool knight = false;
  for (int i = 0; i < p.count; i++) {
    char kind = static_cast<char>(toupper(p.piece[i]));
    if (kind == 'P' || kind == 'R' || kind == 'Q') return false;
    if (kind == 'N' || kind == 'B') minors++;
    if (kind == 'N') knight = true;
    if (kind == 'B') colours |= 1 << (((p.square[i] >> 3) + (p.square[i] & 7)) & 1);
  }
  return minors <= 1 || (!knight && colours != 3);
}

// dtm: signed plies to mate from the side to move; null for draws and
// unknowns.
Json Dtm(const zok_value& v) {
  if (v.outcome == ZOK_WIN) return v.plies;
  if (v.outcome == ZOK_LOSS) return -v.plies;
  return nullptr;
}

const char* Category(const zok_value& v) {
  switch (v.outcome) {
    case ZOK_WIN: return "win";
    case ZOK_LOSS: return "loss";
    case ZOK_DRAW: return "draw";
    default: return "unknown";
  }
}

// A move's value is counted from the side that plays it; the position after
// it, seen from the opponent, is the mirror image one ply nearer to mate.
zok_value AfterValue(const zok_value& move) {
  zok_value v = move;
  if (move.outcome == ZOK_WIN || move.outcome == ZOK_LOSS) {
    v.outcome = move.outcome == ZOK_WIN ? ZOK_LOSS : ZOK_WIN;
    v.plies = move.plies - 1;
  }
  return v;
}

struct Probed {
  zok_position pos;
  zok_value value;
  zok_move moves[kMaxMoves];
  int count;
  bool in_check;
};

// Parses and probes; a status other than 200 comes with its error body.
Answer Probe(zok_tb* tb, const std::string& text, Probed* out) {
  std::string fen = text;
  for (char& c : fen) {
    if (c == '_') c = ' ';
  }
  if (fen.empty()) return {400, ErrorBody("fen missing: give ?fen=FEN")};
  // A NUL byte (%00) would end the text early and let a bad tail pass.
  if (fen.find('\0') != std::string::npos || zok_parse_fen(fen.c_str(), &out->pos) != ZOK_OK) {
    return {400, ErrorBody("invalid fen: no FEN of a legal position: " + fen)};
  }
  zok_probe(tb, &out->pos, &out->value);
  const zok_value& v = out->value;
  if (v.outcome == ZOK_UNKNOWN && v.reason == ZOK_MISSING) {
    return {404, ErrorBody("database missing", v.missing)};
  }
  if (v.outcome == ZOK_UNKNOWN && v.reason == ZOK_TOO_MANY_MEN) {
    return {404, "{\"error\":\"no database holds this many men\",\"missing\":null}"};
  }
  if (v.outcome == ZOK_UNKNOWN && v.reason == ZOK_DAMAGED) {
    return {500, ErrorBody("database damaged", v.missing)};
  }
  out->count = zok_probe_moves(tb, &out->pos, out->moves, kMaxMoves);
  if (out->count < 0) return {500, ErrorBody("probe failed")};
  Ccc board;
  out->in_check = ProbeSetBoard(&out->pos, &board) && CccInCheck(&board) != 0;
  return {200, ""};
}

}  // namespace

std::string ErrorBody(const std::string& text, const char* missing) {
  Json j = {{"error", text}};
  if (missing != nullptr) j["missing"] = missing;
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Answer StandardAnswer(zok_tb* tb, const std::string& fen) {
  auto p = std::make_unique<Probed>();
  Answer a = Probe(tb, fen, p.get());
  if (a.status != 200) return a;
  bool mated = p->count == 0 && p->in_check;
  Json root = {{"category", Category(p->value)},
               {"dtm", Dtm(p->value)},
               {"dtz", nullptr},
               {"precise_dtz", nullptr},
               {"checkmate", mated},
               {"stalemate", p->count == 0 && !p->in_check},
               {"insufficient_material", InsufficientMaterial(p->pos)}};
  Json moves = Json::array();
  for (int i = 0; i < p->count && i < kMaxMoves; i++) {
    const zok_move& m = p->moves[i];
    zok_value after = AfterValue(m.value);
    int from = ManAt(p->pos, SquareOf(m.uci));
    bool pawn = from >= 0 && toupper(p->pos.piece[from]) == 'P';
    moves.push_back({{"uci", m.uci},
                     {"san", m.san},
                     {"category", Category(after)},
                     {"dtm", Dtm(after)},
                     {"dtz", nullptr},
                     {"precise_dtz", nullptr},
                     {"zeroing", pawn || (m.flags & ZOK_MOVE_CAPTURE) != 0},
                     {"checkmate", (m.flags & ZOK_MOVE_CHECKMATE) != 0},
                     {"stalemate", (m.flags & ZOK_MOVE_STALEMATE) != 0},
                     {"insufficient_material", InsufficientMaterial(AfterMove(p->pos, m.uci))}});
  }
  root["moves"] = std::move(moves);
  return {200, root.dump(-1, ' ', false, Json::error_handler_t::replace)};
}

Answer MainlineAnswer(zok_tb* tb, const std::string& fen) {
  auto p = std::make_unique<Probed>();
  Answer a = Probe(tb, fen, p.get());
  if (a.status != 200) return a;
  zok_value root = p->value;
  bool decided = root.outcome == ZOK_WIN || root.outcome == ZOK_LOSS;
  bool white_wins = (root.outcome == ZOK_WIN) == (p->pos.white_to_move != 0);
  Json line = Json::array();
  // The best move of a won or lost position keeps its value one ply nearer
  // to mate; the line stops where no move does (a database missing).
  zok_value v = root;
  while (decided && v.plies > 0 && p->count > 0) {
    const zok_move& best = p->moves[0];
    if (best.value.outcome != v.outcome || best.value.plies != v.plies) break;
    zok_value after = AfterValue(best.value);
    line.push_back({{"uci", best.uci}, {"san", best.san}, {"dtm", Dtm(after)}});
    p->pos = AfterMove(p->pos, best.uci);
    v = after;
    p->count = zok_probe_moves(tb, &p->pos, p->moves, kMaxMoves);
  }
  Json body = {{"mainline", std::move(line)},
               {"winner", decided ? Json(white_wins ? "w" : "b") : Json(nullptr)},
               {"dtm", Dtm(root)}};
  return {200, body.dump(-1, ' ', false, Json::error_handler_t::replace)};
}
