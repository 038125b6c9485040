/* zok probing library: reads the distance-to-mate values of finished zok
 * endgame databases from C or C++.
 *
 *   zok_tb* tb = zok_open_path("/tb/3:/tb/4", 64 << 20, err, sizeof err);
 *   zok_value v;
 *   if (zok_probe_fen(tb, "8/8/8/5k2/8/8/1Q6/K7 w - - 0 1", &v) == ZOK_OK) ...
 *   zok_close(tb);
 *
 * Values are given from the side to move. A database stores White's wins
 * only; Black's wins come from the database of the colour-swapped position
 * (its twin), so both must be present for every answer but a win of the
 * side to move. Distances count moves to mate with best play by both sides
 * and ignore the 50-move rule: a mate in 60 is a mate in 60 even though a
 * game could be drawn under that rule long before it. Positions with
 * castling rights are not held by any database (outcome unknown); an
 * en-passant square is honoured.
 *
 * Threads: every function may be called from many threads at once on one
 * handle (but not while zok_close runs on it); decoded blocks are kept in
 * one cache shared by all of them, bounded by the size given to zok_open.
 *
 * Cost: a database is opened on its first use (its index table is read
 * into memory); one that is missing or damaged is remembered as such for
 * the life of the handle, so files added later need a new handle. A probe
 * reads one byte of one or two databases (the position's and its twin's);
 * a byte whose block is in the cache is a lookup (about a microsecond), a
 * cache miss reads and decodes one 32 KB block (about half a millisecond).
 * Functions that value every move cost one probe per legal move. */
#ifndef ZOK_PROBE_H
#define ZOK_PROBE_H

#include <stddef.h>

/* The library's version; ZOK_VERSION_STRING is what zok_version() returns. */
#define ZOK_VERSION_MAJOR 3
#define ZOK_VERSION_MINOR 3
#define ZOK_VERSION_PATCH 3
#define ZOK_VERSION_STRING "ZOK 3.03c 2002-Dec-26"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zok_tb zok_tb;

/* Results of the calls (zok_strerror names them). */
enum {
  ZOK_OK = 0,
  ZOK_BAD_FEN = -1,      /* the text is no FEN of a legal position */
  ZOK_BAD_POSITION = -2, /* the piece list is no legal position */
  ZOK_BAD_HANDLE = -3,   /* the handle is NULL */
  ZOK_NO_MOVE = -4       /* zok_best_move: the position has no legal move */
};

/* Outcome of a position, from the side to move. */
typedef enum {
  ZOK_UNKNOWN = 0, /* see reason */
  ZOK_WIN = 1,     /* the side to move mates in `moves` moves */
  ZOK_LOSS = 2,    /* the side to move is mated in `moves` moves (0: now) */
  ZOK_DRAW = 3     /* neither side can force mate */
} zok_outcome;

/* Why an outcome is unknown. */
typedef enum {
  ZOK_KNOWN = 0,
  ZOK_MISSING = 1,      /* a database is missing: `missing` names it */
  ZOK_TOO_MANY_MEN = 2, /* more men than any database holds */
  ZOK_CASTLING = 3,     /* castling rights are present */
  ZOK_DAMAGED = 4       /* a database could not be read: `missing` names it */
} zok_reason;

typedef struct {
  zok_outcome outcome;
  int moves;         /* WIN, LOSS: full moves to mate */
  int plies;         /* WIN, LOSS: plies to mate (2 moves - 1 for a win, 2 moves for a loss) */
  zok_reason reason; /* UNKNOWN: why; a known value from zok_best_move
                        without a move: why there is none */
  char missing[16];  /* the database's name, e.g. "KRKQ___W", when reason is MISSING or DAMAGED */
} zok_value;

/* A position as a piece list. Squares run a1 = 0, b1 = 1, ..., h8 = 63. */
typedef struct {
  int count;      /* men on the board, kings included (at most 32) */
  char piece[32]; /* "KQRBNP" white, "kqrbnp" black */
  unsigned char square[32];
  int white_to_move; /* 1 or 0 */
  int ep_square;     /* the square a pawn may take en passant on, or -1 */
  int castling;      /* ZOK_CASTLE_* bits */
} zok_position;

enum {
  ZOK_CASTLE_WHITE_SHORT = 1,
  ZOK_CASTLE_WHITE_LONG = 2,
  ZOK_CASTLE_BLACK_SHORT = 4,
  ZOK_CASTLE_BLACK_LONG = 8
};

/* Opens a handle on the databases in `ndirs` directories, searched in that
 * order for each database (with ndirs 0, the current directory). Nothing is
 * read yet: databases are opened on first use. `cache_bytes` bounds the
 * decoded-block cache (at least one 32 KB block is kept; a block missed
 * costs a decode). Returns the handle, or NULL with a message of at most
 * `err_size` bytes in `err` (may be NULL) when a directory does not exist
 * or memory runs out. */
zok_tb* zok_open(const char* const* dirs, int ndirs, size_t cache_bytes, char* err, size_t err_size);

/* zok_open with the directories in one text separated by ':' ("dir1:dir2");
 * empty parts are skipped, and NULL or "" means the current directory. */
zok_tb* zok_open_path(const char* path, size_t cache_bytes, char* err, size_t err_size);

/* Closes the files and frees the cache; NULL is allowed. No other call may
 * use the handle during or after it. */
void zok_close(zok_tb* tb);

/* The most men (kings included) of any database in the handle's
 * directories, looked up by file name when called: 0 when there is none,
 * ZOK_BAD_HANDLE for NULL. Positions with more men are not known. */
int zok_max_men(zok_tb* tb);

/* The value of a position from the side to move, into `value` (may be NULL).
 * Returns ZOK_OK (also when the value is unknown: outcome ZOK_UNKNOWN and
 * its reason), ZOK_BAD_POSITION / ZOK_BAD_FEN when the position is no legal
 * one, or ZOK_BAD_HANDLE. With its databases present, a checkmated side to
 * move is a ZOK_LOSS in 0 moves, a stalemate a ZOK_DRAW. */
int zok_probe(zok_tb* tb, const zok_position* pos, zok_value* value);
int zok_probe_fen(zok_tb* tb, const char* fen, zok_value* value);

/* A best move of the side to move in coordinate notation ("e7e8q"), and
 * the value of the position (as zok_probe gives it). The move is the
 * fastest mate when winning, the slowest when losing, a move keeping the
 * draw otherwise: a move is given only when the value of the position it
 * leads to is known and backs up exactly to the position's value (a win in
 * `plies`: the successor is lost in plies - 1; a loss in `plies`: the
 * successor is won in plies - 1; a draw: the successor is a known draw).
 * Returns ZOK_NO_MOVE when there is no legal move (checkmate, stalemate).
 * Otherwise ZOK_OK with an empty move in two cases: the value is unknown
 * (outcome ZOK_UNKNOWN, as zok_probe), or the value is known but no
 * successor whose value is known backs up to it; `outcome`, `moves` and
 * `plies` then hold the value, and `reason` (ZOK_MISSING or ZOK_DAMAGED)
 * with `missing` names the database that stopped the move: the first
 * successor's that could not be read, or, when every successor was read,
 * the position's own (the databases contradict each other: ZOK_DAMAGED).
 * With a move, `reason` is ZOK_KNOWN. Of equal moves the first in
 * coordinate notation: the move is the first entry of zok_probe_moves whose
 * value is known. Costs one probe per legal move. */
int zok_best_move(zok_tb* tb, const zok_position* pos, char move[8], zok_value* value);
int zok_best_move_fen(zok_tb* tb, const char* fen, char move[8], zok_value* value);

/* Flags of a move. */
enum {
  ZOK_MOVE_CAPTURE = 1,
  ZOK_MOVE_PROMOTION = 2,
  ZOK_MOVE_CHECK = 4, /* the move gives check (also set with CHECKMATE) */
  ZOK_MOVE_CHECKMATE = 8,
  ZOK_MOVE_STALEMATE = 16,
  ZOK_MOVE_EN_PASSANT = 32
};

typedef struct {
  char uci[8];     /* coordinate notation, "e7e8q" */
  char san[12];    /* standard algebraic notation with + or #, "exd8=Q+" */
  zok_value value; /* the value of the move for the side that plays it, counted from
                      the position before it: a win in `plies` (the position after the
                      move is lost in plies - 1; a mating move wins in 1 ply), a loss in
                      `plies` (the position after is won in plies - 1), a draw, or
                      unknown with `reason`/`missing`. */
  int flags;       /* ZOK_MOVE_* */
} zok_move;

/* Every legal move of the position with its value, best first for the side
 * to move: wins by the fewest plies, then draws, then unknowns, then losses
 * by the most plies; equal values in the order of their coordinate notation
 * (strcmp of uci). Each value is the successor's (as zok_probe gives it)
 * seen from the mover, so the best known entry backs up to the position's
 * own value. Writes at most `max` entries (a position has
 * at most 218 legal moves) and returns the number of legal moves (which may
 * exceed max), 0 for checkmate and stalemate, or a negative ZOK_* error
 * (ZOK_BAD_POSITION, ZOK_BAD_HANDLE; zok_probe_moves_fen: ZOK_BAD_FEN).
 * `out` may be NULL when max is 0. Costs one probe per legal move. */
int zok_probe_moves(zok_tb* tb, const zok_position* pos, zok_move* out, int max);
int zok_probe_moves_fen(zok_tb* tb, const char* fen, zok_move* out, int max);

/* A position from FEN text (the two move counters may be left out) into
 * `pos`; ZOK_OK, or ZOK_BAD_FEN when malformed or illegal (kings, pawns on
 * the edge ranks, the side not to move in check, an en-passant square no
 * double step can have made). Needs no handle. */
int zok_parse_fen(const char* fen, zok_position* pos);

/* Block reads answered from the cache (hits) and decoded (misses) since
 * zok_open, over all threads; either pointer may be NULL. */
void zok_cache_stats(zok_tb* tb, double* hits, double* misses);

/* A text for a ZOK_* result ("bad FEN"), never NULL; for any other code,
 * "unknown error". The text is static: do not free it. */
const char* zok_strerror(int code);

/* The library's version text, ZOK_VERSION_STRING. */
const char* zok_version(void);

#ifdef __cplusplus
}
#endif

#endif
