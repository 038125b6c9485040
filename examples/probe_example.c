/* An engine's view of the zok probing library: opens the databases of the
 * directory given first, then prints the value and best move of each FEN
 * that follows (or of a few built-in ones).
 *
 *   probe_example DIR [FEN ...]
 */
#include <stdio.h>
#include <zok/probe.h>

static void Show(zok_tb* tb, const char* fen) {
  zok_value v;
  char move[8];
  int r = zok_best_move_fen(tb, fen, move, &v);
  if (r != ZOK_OK && r != ZOK_NO_MOVE) {
    printf("%s: error %d\n", fen, r);
    return;
  }
  printf("%s: ", fen);
  switch (v.outcome) {
    case ZOK_WIN: printf("mate %d", v.moves); break;
    case ZOK_LOSS: printf("mated %d", v.moves); break;
    case ZOK_DRAW: printf("draw"); break;
    default:
      if (v.reason == ZOK_MISSING) printf("unknown: %s missing", v.missing);
      else printf("unknown: reason %d", (int)v.reason);
  }
  if (move[0] != 0) printf(" %s", move);
  printf("\n");
}

int main(int argc, char** argv) {
  static const char* const kFens[] = {
      "8/8/8/5k2/8/8/1Q6/K7 w - - 0 1",
      "8/8/8/8/4k3/8/1Q6/K7 b - - 0 1",
      "8/8/8/8/8/2k5/1R6/K7 w - - 0 1",
      "8/8/8/8/8/8/8/K1k5 w - - 0 1",
  };
  if (argc < 2) {
    fprintf(stderr, "usage: %s DIR [FEN ...]\n", argv[0]);
    return 2;
  }
  char err[256];
  const char* dirs[1] = {argv[1]};
  zok_tb* tb = zok_open(dirs, 1, 1 << 20, err, sizeof err);
  if (tb == NULL) {
    fprintf(stderr, "%s\n", err);
    return 1;
  }
  if (argc > 2) {
    for (int i = 2; i < argc; i++) Show(tb, argv[i]);
  } else {
    for (size_t i = 0; i < sizeof kFens / sizeof kFens[0]; i++) Show(tb, kFens[i]);
  }
  zok_close(tb);
  return 0;
}
