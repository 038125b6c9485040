# The Python module against Debian's Gaviota tables, from threads, and on what it must refuse.
import concurrent.futures, ctypes, ctypes.util, os, shutil, subprocess, types
import pytest
import zok


@pytest.fixture(scope="module")
def dbs(tmp_path_factory):
    d = tmp_path_factory.mktemp("dbs")
    for name in ["KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KKR", "KKB", "KKN", "KKP"]:
        subprocess.run([os.environ["ZOK_EXE"], "-b", name], cwd=d, check=True, stdout=subprocess.DEVNULL)
    return d


def fen(men, white_to_move):  # men: {square: letter}
    board = "/".join("".join([men.get(8 * r + f, "1") for f in range(8)]) for r in range(7, -1, -1))
    for n in range(8, 1, -1):  # runs of empty squares, longest first
        board = board.replace("1" * n, str(n))
    return board + (" w - - 0 1" if white_to_move else " b - - 0 1")


def answer(tb, board):
    try:
        return tb.probe_dtm(board)
    except (KeyError, ValueError, OSError) as e:
        return type(e).__name__, str(e), getattr(e, "table", None)


# Gaviota's info is by colour (1 White mates, 2 Black mates, 3 illegal);
# every legal position has the same distance in plies from the module.
def test_every_three_man_position_agrees_with_gaviota(dbs):
    name, tables = ctypes.util.find_library("gaviotatb"), b"/usr/share/gaviotatb/gtb4"
    if not name or not os.path.isdir(tables):
        pytest.skip("the gaviotatb and libgaviotatb-dev packages are not installed")
    g = ctypes.CDLL(name)
    g.tb_init(0, 4, (ctypes.c_char_p * 2)(tables, None))
    g.tbcache_init(1 << 20, 10)
    info, plies, wrong, wins = ctypes.c_uint(), ctypes.c_uint(), [], 0
    with zok.open_tablebase(dbs) as tb:
        for man in "QRBNPqrbnp":
            ws, bs = (ctypes.c_uint * 3)(0, 64, 64), (ctypes.c_uint * 3)(0, 64, 64)
            wp, bp = (ctypes.c_ubyte * 3)(6, 0, 0), (ctypes.c_ubyte * 3)(6, 0, 0)
            (wp if man.isupper() else bp)[1] = 1 + "pnbrq".index(man.lower())
            for i in range(2 * 64 ** 3):
                ws[0], bs[0], sq, stm = i & 63, i >> 6 & 63, i >> 12 & 63, i >> 18
                if len({ws[0], bs[0], sq}) < 3 or (man in "Pp" and not 8 <= sq < 56):
                    continue
                (ws if man.isupper() else bs)[1] = sq
                g.tb_probe_hard(stm, 64, 0, ws, bs, wp, bp, ctypes.byref(info), ctypes.byref(plies))
                sign = 1 if (info.value == 1) == (stm == 0) else -1
                want = "ValueError" if info.value == 3 else sign * plies.value * (info.value != 0)
                position = fen({ws[0]: "K", bs[0]: "k", sq: man}, stm == 0)
                got = answer(tb, position)
                got = got[0] if isinstance(got, tuple) else got
                wins += got in range(1, 99)
                if got != want:
                    wrong.append((position, got, want))
    assert wrong[:3] == [] and wins == 889272


def test_a_board_with_only_fen_four_threads_on_a_tiny_cache_and_moves(dbs):
    with zok.open_tablebase(dbs, cache_mb=0.03) as tb:
        fens = ("8/8/8/5k2/8/8/1Q6/K7 w - - 0 1", "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", "k7/8/1QK5/8/8/8/8/8 b - - 0 1")
        assert [tb.probe_dtm(types.SimpleNamespace(fen=lambda: f)) for f in fens] == [19, 0, 0]
        assert [tb.probe_wdl(f) for f in fens] == [1, -1, 0]  # checkmated: 0 plies, lost
        fens = [fen({i % 64: "K", i * 7 % 64: "k", i * 13 % 61: "QRPqrp"[i % 6]}, i % 5 < 2) for i in range(3000)]
        one = [answer(tb, f) for f in fens]
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            many = list(pool.map(lambda k: [answer(tb, f) for f in fens[k:] + fens[:k]], range(0, 3000, 750)))
        assert [m == one[k:] + one[:k] for m, k in zip(many, range(0, 3000, 750))] == [True] * 4
        assert sum(isinstance(a, int) for a in one) > 2000
        # Every move best first, with its value from the mover's side and flags.
        moves = tb.probe_moves("k7/8/1K6/8/8/8/8/2Q5 w - - 0 1")
        assert moves[0] == zok.Move("c1c8", "Qc8#", 1, 1, None, False, False, True, True, False, False)
        assert [(m.san, m.dtm, m.stalemate) for m in moves[-2:]] == [("Qc7", 0, True), ("Qf4", 0, True)]
        lost = "8/8/8/8/4k3/8/1Q6/K7 b - - 0 1"
        assert tb.probe_moves(lost)[0].dtm == tb.probe_dtm(lost) == -20


def test_missing_damaged_and_bad_input(dbs, tmp_path):
    for name in os.listdir(dbs):
        if ".J" in name and not name.startswith("KQK____W"):
            shutil.copy(dbs / name, tmp_path)
    (tmp_path / "KRK____W.JIX").write_text("not a database")
    with zok.open_tablebase(tmp_path) as tb:
        assert [answer(tb, f) for f in ("k7/8/8/8/8/8/1Q6/K7 w - - 0 1", "k7/8/8/8/8/8/1R6/K7 w - - 0 1",
                                        "kQ6/8/8/8/8/8/8/K7 w - - 0 1", "4k3/8/8/8/8/8/8/4K2R w K - 0 1")] == [
            ("MissingTableError", "'zok: database KQK____W not found in %s'" % tmp_path, "KQK____W"),
            ("DamagedTableError", "zok: database KRK____W in %s is damaged" % tmp_path, "KRK____W"),
            ("ValueError", "zok: invalid FEN or illegal position: 'kQ6/8/8/8/8/8/8/K7 w - - 0 1'", None),
            ("KeyError", "'zok: no database holds positions with castling rights: "
                         "4k3/8/8/8/8/8/8/4K2R w K - 0 1'", None)]
        assert tb.get_dtm("k7/8/8/8/8/8/1Q6/K7 w - - 0 1", "none") == "none"
        assert [(m.san, m.dtm, m.missing) for m in tb.probe_moves("k7/8/8/8/8/8/1Q6/K7 b - - 0 1")] == [
            ("Ka7", None, "KQK____W")]
    with pytest.raises(FileNotFoundError, match="zok_open: no directory: /nonexistent"):
        zok.open_tablebase("/nonexistent")
    with pytest.raises(ValueError, match="closed"):
        tb.probe_dtm("k7/8/8/8/8/8/8/K7 w - - 0 1")
