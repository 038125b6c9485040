"""The Python module against Debian's Gaviota tables, from threads, and on
what it must refuse. ZOK_EXE names the zok that builds the databases."""
import concurrent.futures, ctypes, ctypes.util, functools, os, re, shutil, subprocess, sys
import pytest
import zok

SETS = ["KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KKR", "KKB", "KKN", "KKP"]


@pytest.fixture(scope="module")
def dbs(tmp_path_factory):
    d = tmp_path_factory.mktemp("dbs")
    for name in SETS:
        subprocess.run([os.environ["ZOK_EXE"], "-b", name], cwd=d, check=True, stdout=subprocess.DEVNULL)
    return d


@functools.lru_cache(maxsize=None)
def squeeze(row):  # "1K111111" -> "1K6"
    return re.sub("1+", lambda m: str(len(m[0])), row)


def fen(men, white_to_move):  # men: {square: letter}
    ranks = ["8"] * 8
    for r in {s >> 3 for s in men}:
        ranks[7 - r] = squeeze("".join([men.get(8 * r + f, "1") for f in range(8)]))
    return "/".join(ranks) + (" w - - 0 1" if white_to_move else " b - - 0 1")


def test_every_three_man_position_agrees_with_gaviota(dbs):
    name = ctypes.util.find_library("gaviotatb")
    if not name or not os.path.isdir("/usr/share/gaviotatb/gtb4"):
        pytest.skip("the gaviotatb and libgaviotatb-dev packages are not installed")
    g = ctypes.CDLL(name)
    g.tb_init(0, 4, (ctypes.c_char_p * 2)(b"/usr/share/gaviotatb/gtb4", None))
    g.tbcache_init(1 << 20, 10)
    info, plies, wrong, wins = ctypes.c_uint(), ctypes.c_uint(), [], 0
    with zok.open_tablebase(dbs) as tb:
        for man in "QRBNPqrbnp":
            w = man.isupper()
            ws, bs = (ctypes.c_uint * 3)(0, 64, 64), (ctypes.c_uint * 3)(0, 64, 64)
            wp, bp = (ctypes.c_ubyte * 3)(6, 0, 0), (ctypes.c_ubyte * 3)(6, 0, 0)
            (wp if w else bp)[1] = 1 + "pnbrq".index(man.lower())
            for i in range(2 * 64 ** 3):
                wk, bk, sq, stm = i & 63, i >> 6 & 63, i >> 12 & 63, i >> 18
                if wk == bk or sq == wk or sq == bk or (man in "Pp" and not 8 <= sq < 56):
                    continue
                ws[0], bs[0] = wk, bk
                (ws if w else bs)[1] = sq
                g.tb_probe_hard(stm, 64, 0, ws, bs, wp, bp, ctypes.byref(info), ctypes.byref(plies))
                sign = 1 if (info.value == 1) == (stm == 0) else -1
                want = None if info.value == 3 else 0 if info.value == 0 else sign * plies.value
                position = fen({wk: "K", bk: "k", sq: man}, stm == 0)
                try:
                    got = tb.probe_dtm(position)
                except ValueError:
                    got = None
                wins += (got or 0) > 0
                if got != want:
                    wrong.append((position, got, want))
    assert wrong[:3] == [] and wins == 889272



class FakeBoard:  # all that python-chess's tablebase modules ask of a board
    def __init__(self, fen):
        self.fen = lambda: fen


def answer(tb, board):
    try:
        return tb.probe_dtm(board)
    except (KeyError, ValueError, OSError) as e:
        return type(e).__name__, str(e), getattr(e, "table", None)


def test_a_board_with_only_fen_and_four_threads_on_a_tiny_cache(dbs):
    with zok.open_tablebase(dbs, cache_mb=0.03) as tb:
        assert [tb.probe_dtm(FakeBoard(f)) for f in ("8/8/8/5k2/8/8/1Q6/K7 w - - 0 1",
                "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", "k7/8/1QK5/8/8/8/8/8 b - - 0 1")] == [19, 0, 0]
        assert tb.probe_wdl("k7/1Q6/1K6/8/8/8/8/8 b - - 0 1") == -1  # checkmated: 0 plies, lost
        fens = [fen({i % 64: "K", i * 7 % 64: "k", i * 13 % 61: "QRPqrp"[i % 6]}, i % 5 < 2) for i in range(3000)]
        one = [answer(tb, f) for f in fens]
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            many = list(pool.map(lambda k: [answer(tb, f) for f in fens[k:] + fens[:k]], range(0, 3000, 750)))
        assert [m == one[k:] + one[:k] for m, k in zip(many, range(0, 3000, 750))] == [True] * 4
        assert sum(isinstance(a, int) for a in one) > 2000


def test_missing_damaged_and_bad_input(dbs, tmp_path):
    for name in os.listdir(dbs):
        if ".J" in name and not name.startswith("KQK____W"):
            shutil.copy(dbs / name, tmp_path)
    (tmp_path / "KRK____W.JIX").write_text("not a database")
    with zok.open_tablebase(tmp_path) as tb:
        assert [answer(tb, f) for f in ("k7/8/8/8/8/8/1Q6/K7 w - - 0 1", "k7/8/8/8/8/8/1R6/K7 w - - 0 1",
                                        "k7/8/8/8/8/8/1Q6/K6 w - - 0 1", "kQ6/8/8/8/8/8/8/K7 w - - 0 1",
                                        "4k3/8/8/8/8/8/8/4K2R w K - 0 1")] == [
            ("MissingTableError", "'zok: database KQK____W not found in %s'" % tmp_path, "KQK____W"),
            ("DamagedTableError", "zok: database KRK____W in %s is damaged" % tmp_path, "KRK____W"),
            ("ValueError", "zok: invalid FEN or illegal position: 'k7/8/8/8/8/8/1Q6/K6 w - - 0 1'", None),
            ("ValueError", "zok: invalid FEN or illegal position: 'kQ6/8/8/8/8/8/8/K7 w - - 0 1'", None),
            ("KeyError", "'zok: no database holds positions with castling rights: "
                         "4k3/8/8/8/8/8/8/4K2R w K - 0 1'", None)]
        assert tb.get_dtm("k7/8/8/8/8/8/1Q6/K7 w - - 0 1", "none") == "none"
        assert isinstance(zok.MissingTableError("x", "y"), KeyError)
    with pytest.raises(FileNotFoundError, match="zok_open: no directory: /nonexistent"):
        zok.open_tablebase("/nonexistent")
    with pytest.raises(ValueError, match="closed"):
        tb.probe_dtm("k7/8/8/8/8/8/8/K7 w - - 0 1")
