"""CPU time a probe of random legal KQRKR positions (warm cache) through the
Python module, and through the bare ctypes call it wraps, to set beside
bench/probe_bench's zok_probe from C.

    ZOK_BENCH_DBS=DIR python3 bench/python_probe_bench.py   (DIR holds KQRKR)
"""
import ctypes, os, pathlib, random, sys, time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "python"))
import zok  # noqa: E402


def fen(men, white_to_move):  # men: {square: letter}
    rows = []
    for r in range(7, -1, -1):
        row, empty = "", 0
        for f in range(8):
            man = men.get(8 * r + f)
            row, empty = (row + (str(empty) if empty else "") + man, 0) if man else (row, empty + 1)
        rows.append(row + (str(empty) if empty else ""))
    return "/".join(rows) + (" w - - 0 1" if white_to_move else " b - - 0 1")


def per_probe(probe, items):
    best = float("inf")
    for _ in range(3):
        start = time.process_time()
        for item in items:
            probe(item)
        best = min(best, (time.process_time() - start) / len(items))
    return best * 1e6


tb = zok.open_tablebase(os.environ["ZOK_BENCH_DBS"], cache_mb=2048)
rng, fens = random.Random(1), []
while len(fens) < 100000:
    f = fen(dict(zip(rng.sample(range(64), 5), "KQRkr")), rng.random() < 0.5)
    try:
        tb.get_dtm(f)  # warms the cache
        fens.append(f)
    except ValueError:
        pass
value, lib = zok._Value(), zok._library()
print("probe_dtm        %.2f us CPU a probe" % per_probe(tb.get_dtm, fens))
print("zok_probe_fen    %.2f us CPU a probe (ctypes alone)" %
      per_probe(lambda f: lib.zok_probe_fen(tb._tb, f, ctypes.byref(value)), [f.encode() for f in fens]))
