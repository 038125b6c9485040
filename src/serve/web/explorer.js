// The explorer page: draws the position, asks the server for its value and
// its moves, and plays a move clicked in the list or dragged on the board.
// Which moves are legal is the server's word; the page only makes the move
// on its own copy of the position to show the next one.
'use strict';

const GLYPHS = {k: '\u265A', q: '\u265B', r: '\u265C', b: '\u265D', n: '\u265E', p: '\u265F'};
const SIZE = 40, MARGIN = 20;
const START = '8/8/8/4k3/8/8/8/4K2Q w - - 0 1';
const $ = id => document.getElementById(id);
const board = $('board');

let line = [], at = 0, flipped = false, answer = null, picked = null, drag = null, asked = 0;

const squareName = s => 'abcdefgh'[s & 7] + (1 + (s >> 3));
const squareOf = t => (t.charCodeAt(1) - 49) * 8 + (t.charCodeAt(0) - 97);
const isWhite = man => man === man.toUpperCase();

function parseFen(fen) {
  const f = fen.trim().split(/\s+/), men = Array(64).fill(null);
  (f[0] || '').split('/').slice(0, 8).forEach((row, i) => {
    let file = 0;
    for (const c of row) {
      if (c >= '1' && c <= '8') file += +c;
      else if (file < 8) men[(7 - i) * 8 + file++] = c;
    }
  });
  return {men, white: f[1] !== 'b', castling: f[2] || '-', ep: f[3] || '-', half: +f[4] || 0, full: +f[5] || 1};
}

function toFen(p) {
  const rows = [];
  for (let r = 7; r >= 0; r--) {
    let row = '', empty = 0;
    for (let f = 0; f < 8; f++) {
      const man = p.men[r * 8 + f];
      if (!man) { empty++; continue; }
      row += (empty || '') + man;
      empty = 0;
    }
    rows.push(row + (empty || ''));
  }
  return `${rows.join('/')} ${p.white ? 'w' : 'b'} ${p.castling} ${p.ep} ${p.half} ${p.full}`;
}

// The position after a move of the server's list.
function after(fen, move) {
  const p = parseFen(fen), u = move.uci, from = squareOf(u), to = squareOf(u.slice(2));
  const man = p.men[from], kind = man.toLowerCase();
  if (kind === 'p' && squareName(to) === p.ep) p.men[(from & ~7) | (to & 7)] = null;
  if (kind === 'k' && Math.abs(to - from) === 2) {
    const rook = to > from ? from + 3 : from - 4;
    p.men[(from + to) / 2] = p.men[rook];
    p.men[rook] = null;
  }
  p.men[to] = u.length > 4 ? (p.white ? u[4].toUpperCase() : u[4]) : man;
  p.men[from] = null;
  p.ep = kind === 'p' && Math.abs(to - from) === 16 ? squareName((from + to) / 2) : '-';
  // Rights lapse when a king or rook leaves its square or a rook is taken.
  const lapse = {0: 'Q', 7: 'K', 56: 'q', 63: 'k', 4: 'KQ', 60: 'kq'};
  let rights = p.castling;
  for (const s of [from, to]) for (const r of lapse[s] || '') rights = rights.replace(r, '');
  p.castling = rights || '-';
  p.half = move.zeroing ? 0 : p.half + 1;
  if (!p.white) p.full++;
  p.white = !p.white;
  return toFen(p);
}

// The value in words; dtm counts plies from the side to move.
function valueWords(a, white) {
  const side = white ? 'White' : 'Black', other = white ? 'Black' : 'White';
  if (a.checkmate) return `${side} is checkmated`;
  if (a.stalemate) return 'Draw by stalemate';
  if (a.category === 'win') return `${side} mates in ${(a.dtm + 1) / 2}`;
  if (a.category === 'loss') return `${other} mates in ${-a.dtm / 2}`;
  if (a.category === 'draw') return a.insufficient_material ? 'Draw: insufficient material' : 'Draw';
  return 'Value unknown';
}

// A move's fields describe the position after it, from the opponent's side.
function moveWords(m) {
  if (m.checkmate) return 'checkmate';
  if (m.category === 'loss') return `mate in ${(2 - m.dtm) / 2}`;
  if (m.category === 'win') return `mated in ${(m.dtm + 1) / 2}`;
  if (m.category === 'draw') return m.stalemate ? 'stalemate' : 'draw';
  return 'unknown';
}
const moveClass = m => ({loss: 'win', win: 'loss', draw: 'draw'})[m.category] || 'unknown';

function corner(s) {
  const col = flipped ? 7 - (s & 7) : s & 7, row = flipped ? s >> 3 : 7 - (s >> 3);
  return [MARGIN + col * SIZE, row * SIZE];
}

function drawBoard() {
  const p = parseFen(line[at]);
  let svg = '';
  for (let s = 0; s < 64; s++) {
    const [x, y] = corner(s), shade = ((s >> 3) + (s & 7)) % 2 ? 'light' : 'dark';
    svg += `<rect x="${x}" y="${y}" width="${SIZE}" height="${SIZE}" class="${s === picked ? 'from' : shade}"/>`;
  }
  for (let i = 0; i < 8; i++) {
    const [fx] = corner(i), [, ry] = corner(i * 8);
    svg += `<text class="coord" x="${fx + SIZE / 2}" y="${8 * SIZE + 13}" text-anchor="middle">${'abcdefgh'[i]}</text>`;
    svg += `<text class="coord" x="${MARGIN / 2}" y="${ry + SIZE / 2 + 3}" text-anchor="middle">${i + 1}</text>`;
  }
  p.men.forEach((man, s) => {
    if (!man || !GLYPHS[man.toLowerCase()]) return;
    const [x, y] = corner(s);
    svg += `<text class="piece ${isWhite(man) ? 'white' : 'black'}" data-square="${s}" x="${x + SIZE / 2}"` +
      ` y="${y + SIZE / 2}" text-anchor="middle" dominant-baseline="central">${GLYPHS[man.toLowerCase()]}</text>`;
  });
  board.innerHTML = svg;
}

function pointAt(e) {
  const pt = new DOMPoint(e.clientX, e.clientY).matrixTransform(board.getScreenCTM().inverse());
  const col = Math.floor((pt.x - MARGIN) / SIZE), row = Math.floor(pt.y / SIZE);
  const inside = col >= 0 && col < 8 && row >= 0 && row < 8;
  const square = !inside ? -1 : flipped ? row * 8 + 7 - col : (7 - row) * 8 + col;
  return {x: pt.x, y: pt.y, square};
}

// Plays the move from one square to another when the server listed it
// (a promotion becomes a queen).
function tryMove(from, to) {
  const list = (answer ? answer.moves : []).filter(m => squareOf(m.uci) === from && squareOf(m.uci.slice(2)) === to);
  if (!list.length) return false;
  play(list.find(m => m.uci.length < 5 || m.uci[4] === 'q') || list[0]);
  return true;
}

board.addEventListener('pointerdown', e => {
  const {square} = pointAt(e);
  if (square < 0 || (picked !== null && tryMove(picked, square))) return;
  const p = parseFen(line[at]), man = p.men[square];
  const movable = man && isWhite(man) === p.white && answer && answer.moves.some(m => squareOf(m.uci) === square);
  picked = movable ? square : null;
  drawBoard();
  if (!movable) return;
  drag = board.querySelector(`text[data-square="${square}"]`);
  board.setPointerCapture(e.pointerId);
});
board.addEventListener('pointermove', e => {
  if (!drag) return;
  const {x, y} = pointAt(e);
  drag.setAttribute('x', x);
  drag.setAttribute('y', y);
});
board.addEventListener('pointerup', e => {
  if (!drag) return;
  drag = null;
  const {square} = pointAt(e);
  if (square !== picked && square >= 0 && tryMove(picked, square)) return;
  drawBoard();  // dropped where it was: the piece stays picked for a click on its target
});

function play(move) {
  line = line.slice(0, at + 1);
  line.push(after(line[at], move));
  at++;
  show();
}

async function show() {
  const fen = line[at], white = parseFen(fen).white, token = ++asked;
  const query = encodeURIComponent(fen.replace(/ /g, '_')).replace(/%2F/g, '/');
  answer = null;
  picked = null;
  drawBoard();
  $('fen').value = fen;
  window.history.replaceState(null, '', '/?fen=' + query);
  $('turn').textContent = (white ? 'White' : 'Black') + ' to move';
  $('value').textContent = '\u2026';
  $('error').textContent = '';
  $('moves').replaceChildren();
  let reply = null, a;
  try {
    reply = await fetch('/standard?fen=' + query);
    a = await reply.json();
  } catch (err) {
    a = {error: String(err)};
  }
  if (token !== asked) return;  // another position is shown by now
  if (!reply || !reply.ok) {
    $('value').textContent = 'Value unknown';
    $('error').textContent = a.error + (a.missing ? ': ' + a.missing : '');
  } else {
    answer = a;
    $('value').textContent = valueWords(a, white);
    for (const m of a.moves) {
      const item = document.createElement('li'), san = document.createElement('span');
      const value = document.createElement('span');
      san.className = 'san';
      san.textContent = m.san;
      value.textContent = moveWords(m);
      item.className = moveClass(m);
      item.title = `${m.uci}, dtm ${m.dtm === null ? '?' : m.dtm}`;
      item.append(san, value);
      item.addEventListener('click', () => play(m));
      $('moves').append(item);
    }
  }
  document.body.dataset.shown = fen;
}

function step(by) {
  if (at + by < 0 || at + by >= line.length) return;
  at += by;
  show();
}

$('back').addEventListener('click', () => step(-1));
$('forward').addEventListener('click', () => step(1));
$('flip').addEventListener('click', () => { flipped = !flipped; drawBoard(); });
document.addEventListener('keydown', e => {
  if (e.target.tagName === 'INPUT') return;
  if (e.key === 'ArrowLeft') step(-1);
  if (e.key === 'ArrowRight') step(1);
});
$('fen-form').addEventListener('submit', e => {
  e.preventDefault();
  const fen = $('fen').value.trim().replace(/_/g, ' ');
  if (!fen || fen === line[at]) return;
  line = line.slice(0, at + 1);
  line.push(fen);
  at++;
  show();
});

line = [(new URLSearchParams(location.search).get('fen') || START).replace(/_/g, ' ')];
show();
