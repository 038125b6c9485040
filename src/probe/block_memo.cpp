#include "probe/block_memo.h"

#include <algorithm>

#include "jar/jar_format.h"
#include "probe/probe.h"
#include "probe/tables.h"

namespace {

constexpr int kMemoWays = 4;
constexpr uint64_t kNoBlock = ~uint64_t(0);

inline size_t SetOf(const ProbeMemo& memo, uint64_t key) {
  uint64_t h = (key ^ key >> 29) * 0xbf58476d1ce4e5b9ull;
  return static_cast<size_t>(h >> 40) & static_cast<size_t>(memo.sets - 1);
}

ProbeDb* DatabaseOf(ProbeMemo& memo, uint32_t material) {
  size_t i = (material ^ material >> 9 ^ material >> 18 ^ material >> 27) & 15;
  if (memo.dbs[i] == nullptr || memo.materials[i] != material) {
    memo.dbs[i] = ProbeDatabase(memo.tb, material);
    memo.materials[i] = material;
  }
  return memo.dbs[i];
}

// The memo's copy of the block of `key`, fetched into its set's least
// recently used slot on a miss; null when the block cannot be read.
const uint8_t* Block(ProbeMemo& memo, ProbeDb* db, uint64_t key) {
  size_t set = SetOf(memo, key) * kMemoWays;
  uint64_t* keys = &memo.keys[set];
  uint32_t* slots = &memo.slots[set];
  int way = 0;
  while (way < kMemoWays && keys[way] != key) way++;
  bool hit = way < kMemoWays;
  if (!hit) way = kMemoWays - 1;
  uint32_t slot = slots[way];
  uint8_t* block = &memo.memory[size_t(slot) * kBlockSize];
  if (!hit) {
    keys[way] = kNoBlock;
    if (!ProbeDbBlock(memo.tb, db, static_cast<int>(key & 0xffffffff), block)) return nullptr;
  }
  for (; way > 0; way--) {
    keys[way] = keys[way - 1];
    slots[way] = slots[way - 1];
  }
  keys[0] = key;
  slots[0] = slot;
  return block;
}

}  // namespace

ProbeMemo::ProbeMemo(zok_tb* handle, int blocks)
    : tb(handle), last_material(0), last_first(0), last_end(0), last_block(nullptr), materials(), dbs() {
  sets = 1;
  while (2 * sets * kMemoWays <= blocks) sets *= 2;
  size_t n = size_t(sets) * kMemoWays;
  memory.resize(n * kBlockSize);
  keys.assign(n, kNoBlock);
  slots.resize(n);
  for (size_t i = 0; i < n; i++) slots[i] = static_cast<uint32_t>(i);
}

int ProbeMemoFetch(ProbeMemo& memo, uint32_t material, int64_t index) {
  ProbeDb* db = DatabaseOf(memo, material);
  if (db->state != 0) return db->state;
  if (index < 0 || static_cast<double>(index) >= db->size) return kProbeDamaged;
  int64_t block = index / kBlockSize;
  const uint8_t* bytes = Block(memo, db, uint64_t(db->id) << 32 | static_cast<uint64_t>(block));
  if (bytes == nullptr) {
    memo.last_end = 0;
    return kProbeDamaged;
  }
  memo.last_material = material;
  memo.last_first = block * kBlockSize;
  memo.last_end = std::min(memo.last_first + kBlockSize, static_cast<int64_t>(db->size));
  memo.last_block = bytes;
  return bytes[index - memo.last_first];
}
