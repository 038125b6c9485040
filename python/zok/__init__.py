"""Distance to mate from zok endgame databases, for Python.

The interface follows python-chess's tablebase modules, so that code written
for them ports by changing the import::

    >>> import zok
    >>> with zok.open_tablebase("dbs") as tb:
    ...     tb.probe_dtm("8/8/8/5k2/8/8/1Q6/K7 w - - 0 1")
    19

A board is a FEN string or any object with a ``fen()`` method (a
``chess.Board`` works unchanged). Only the standard library is used: the
probing is done by the C library ``libzok_probe.so`` through ctypes, looked
for at the path in the environment variable ZOK_LIBRARY, then beside this
module, then in the build tree of the source checkout it comes from, then
where the system's dynamic linker finds it.

One Tablebase may be probed from many threads at once; the calls release
the interpreter lock while the library works. Distances ignore the 50-move
rule.
"""

import ctypes
import ctypes.util
import dataclasses
import os
import pathlib
import threading
import time
from typing import List, Optional

__all__ = ["open_tablebase", "Tablebase", "Move", "MissingTableError", "DamagedTableError", "version"]


class MissingTableError(KeyError):
    """A database the position needs is not in the directories; ``table``
    names it (e.g. "KRK____W")."""

    def __init__(self, message: str, table: str):
        super().__init__(message)
        self.table = table


class DamagedTableError(OSError):
    """A database could not be read; ``table`` names it."""

    def __init__(self, message: str, table: str):
        super().__init__(message)
        self.table = table


@dataclasses.dataclass(frozen=True)
class Move:
    """A legal move with its value for the side that plays it, counted from
    the position before the move: ``dtm`` is +n when it mates in n plies
    (a mating move has 1), -n when it is mated in n plies, 0 for a draw,
    and None when unknown, with ``missing`` naming the database that is
    missing or damaged; ``wdl`` is 1, 0, -1 or None likewise."""

    uci: str
    san: str
    dtm: Optional[int]
    wdl: Optional[int]
    missing: Optional[str]
    capture: bool
    promotion: bool
    check: bool
    checkmate: bool
    stalemate: bool
    en_passant: bool


# The C library's results, outcomes, reasons and move flags.
_OK, _BAD_FEN, _BAD_POSITION, _BAD_HANDLE = 0, -1, -2, -3
_UNKNOWN, _WIN, _LOSS, _DRAW = 0, 1, 2, 3
_MISSING, _TOO_MANY_MEN, _CASTLING, _DAMAGED = 1, 2, 3, 4
_FLAGS = ("capture", "promotion", "check", "checkmate", "stalemate", "en_passant")
_MAX_MOVES = 256  # a position has at most 218 legal moves


class _Value(ctypes.Structure):
    _fields_ = [("outcome", ctypes.c_int), ("moves", ctypes.c_int), ("plies", ctypes.c_int),
                ("reason", ctypes.c_int), ("missing", ctypes.c_char * 16)]


class _Move(ctypes.Structure):
    _fields_ = [("uci", ctypes.c_char * 8), ("san", ctypes.c_char * 12), ("value", _Value),
                ("flags", ctypes.c_int)]


_lib = None
_lib_lock = threading.Lock()


def _library():
    global _lib
    with _lib_lock:
        if _lib is not None:
            return _lib
        here = pathlib.Path(__file__).resolve().parent
        places = [os.environ.get("ZOK_LIBRARY"), here / "libzok_probe.so",
                  here.parent.parent / "build" / "libzok_probe.so", ctypes.util.find_library("zok_probe")]
        tried = [str(p) for p in places if p]
        for place in tried:
            if os.sep in place and not os.path.exists(place):
                continue
            lib = ctypes.CDLL(place)
            break
        else:
            raise OSError("zok: libzok_probe.so not found (looked at %s); set ZOK_LIBRARY to its path"
                          % ", ".join(tried))
        tb, value, text = ctypes.c_void_p, ctypes.POINTER(_Value), ctypes.c_char_p
        lib.zok_open.argtypes = [ctypes.POINTER(ctypes.c_char_p), ctypes.c_int, ctypes.c_size_t,
                                 ctypes.c_char_p, ctypes.c_size_t]
        lib.zok_open.restype = tb
        lib.zok_close.argtypes = [tb]
        lib.zok_close.restype = None
        lib.zok_probe_fen.argtypes = [tb, text, value]
        lib.zok_version.restype = text
        if hasattr(lib, "zok_probe_moves_fen"):
            lib.zok_probe_moves_fen.argtypes = [tb, text, ctypes.POINTER(_Move), ctypes.c_int]
        _lib = lib
        return lib


def _fen(board) -> bytes:
    fen = board if isinstance(board, str) else board.fen()
    try:
        return fen.encode("ascii")
    except UnicodeEncodeError:
        raise ValueError("zok: invalid FEN or illegal position: %r" % fen) from None


def _signed(v: _Value):
    """(dtm, wdl) of a known value, None for an unknown one."""
    if v.outcome == _WIN:
        return v.plies, 1
    if v.outcome == _LOSS:
        return -v.plies, -1
    if v.outcome == _DRAW:
        return 0, 0
    return None


class Tablebase:
    """Databases in one or more directories, searched in the order they were
    added; each database is opened on first use. Use open_tablebase()."""

    def __init__(self, *, cache_mb: float = 64):
        self._cache_bytes = max(1, int(cache_mb * 2**20))
        self._dirs: List[str] = []
        self._tb = None
        self._users = {}  # handle: probes running on it
        self._lock = threading.Lock()
        self._opening = threading.Lock()  # one add_directory() or close() at a time
        lib = _library()
        self._probe_fen = lib.zok_probe_fen
        self._probe_moves_fen = getattr(lib, "zok_probe_moves_fen", None)

    def add_directory(self, directory) -> None:
        """Adds a directory of databases, searched after those added before
        (the handle is opened anew on all of them, with an empty cache).
        Raises FileNotFoundError when it is no directory."""
        with self._opening:
            dirs = self._dirs + [os.fspath(directory)]
            err = ctypes.create_string_buffer(512)
            names = (ctypes.c_char_p * len(dirs))(*map(os.fsencode, dirs))
            tb = _library().zok_open(names, len(dirs), self._cache_bytes, err, len(err))
            if not tb:
                raise FileNotFoundError(err.value.decode(errors="replace"))
            self._replace(tb, dirs)

    def _replace(self, tb, dirs):
        # New probes take the new handle; the old one closes once the probes
        # in flight on it have ended.
        with self._lock:
            old, self._tb, self._dirs = self._tb, tb, dirs
        while old:
            with self._lock:
                if not self._users.get(old):
                    self._users.pop(old, None)
                    break
            time.sleep(0.001)
        if old:
            _library().zok_close(old)

    def close(self) -> None:
        """Closes the databases; probing afterwards raises ValueError."""
        with self._opening:
            self._replace(None, [])

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    def _call(self, function, fen, *args):
        with self._lock:
            tb = self._tb
            if not tb:
                raise ValueError("zok: the tablebase is closed or has no directory")
            self._users[tb] = self._users.get(tb, 0) + 1
        try:
            r = function(tb, fen, *args)
        finally:
            with self._lock:
                self._users[tb] -= 1
        if r == _BAD_FEN:
            raise ValueError("zok: invalid FEN or illegal position: %r" % fen.decode())
        if r < 0:
            raise RuntimeError("zok: probe failed with code %d" % r)
        return r

    def _value(self, board):
        fen = _fen(board)
        v = _Value()
        self._call(self._probe_fen, fen, ctypes.byref(v))
        known = _signed(v)
        if known is not None:
            return known
        name = v.missing.decode()
        where = ":".join(self._dirs)
        if v.reason == _MISSING:
            raise MissingTableError("zok: database %s not found in %s" % (name, where), name)
        if v.reason == _DAMAGED:
            raise DamagedTableError("zok: database %s in %s is damaged" % (name, where), name)
        if v.reason == _CASTLING:
            raise KeyError("zok: no database holds positions with castling rights: %s" % fen.decode())
        raise KeyError("zok: no database holds this many men: %s" % fen.decode())

    def probe_dtm(self, board) -> int:
        """Plies to mate with best play, as python-chess's Gaviota module
        counts them: positive when the side to move mates (odd), negative
        when it is mated (even), 0 for a draw and for a side already
        checkmated (probe_wdl tells them apart)::

            >>> tb.probe_dtm("8/8/8/5k2/8/8/1Q6/K7 w - - 0 1")
            19
            >>> tb.probe_dtm("8/8/8/8/4k3/8/1Q6/K7 b - - 0 1")
            -20

        Raises MissingTableError (a KeyError) naming a database that is
        missing, KeyError for castling rights or too many men,
        DamagedTableError naming a database that cannot be read, and
        ValueError for a bad FEN or an illegal position."""
        return self._value(board)[0]

    def get_dtm(self, board, default=None):
        """probe_dtm(), or `default` when it would raise a KeyError."""
        try:
            return self.probe_dtm(board)
        except KeyError:
            return default

    def probe_wdl(self, board) -> int:
        """1 when the side to move mates, -1 when it is mated (also when it
        is checkmated now), 0 for a draw. Raises as probe_dtm()."""
        return self._value(board)[1]

    def get_wdl(self, board, default=None):
        """probe_wdl(), or `default` when it would raise a KeyError."""
        try:
            return self.probe_wdl(board)
        except KeyError:
            return default

    def probe_moves(self, board) -> List[Move]:
        """Every legal move with its value, best first for the side to move:
        mates by the fewest plies, then draws, then unknown values, then
        losses by the most plies; equal values by their coordinate notation.
        The best known move's dtm is the position's probe_dtm(); a checkmate
        or a stalemate has no move. Unknown values come as None with the
        database named in ``missing``. Raises ValueError for a bad FEN or an
        illegal position."""
        if self._probe_moves_fen is None:
            raise NotImplementedError("zok: this libzok_probe.so has no zok_probe_moves")
        out = (_Move * _MAX_MOVES)()
        n = self._call(self._probe_moves_fen, _fen(board), out, _MAX_MOVES)
        moves = []
        for m in out[:n]:
            known = _signed(m.value)
            flags = {name: bool(m.flags >> bit & 1) for bit, name in enumerate(_FLAGS)}
            moves.append(Move(m.uci.decode(), m.san.decode(), *(known or (None, None)),
                              m.value.missing.decode() or None, **flags))
        return moves


def version() -> str:
    """The version of the probing library in use."""
    return _library().zok_version().decode()


def open_tablebase(directory, *, cache_mb: float = 64) -> Tablebase:
    """Opens the databases in `directory` (a path); more directories come
    with add_directory(). `cache_mb` bounds the memory of decoded blocks
    shared by every probe of the tablebase. Raises FileNotFoundError when
    the directory does not exist, OSError when libzok_probe.so is not found."""
    tb = Tablebase(cache_mb=cache_mb)
    tb.add_directory(directory)
    return tb
