#include "jar/jar_reader.h"

#include <cstdio>
#include <cstring>

#include "jar/block_codec.h"
#include "platform/platform.h"

namespace {

// A record with its head and the decoder's padding, one per thread.
struct RecordBuffer {
  uint8_t bytes[kJarRecordHead + kMaxRecordLength + kRecordPadding];
};

std::string ChunkFileName(const std::string& name, int file) {
  char extension[16];
  snprintf(extension, sizeof extension, ".J%02X", static_cast<unsigned>(file));
  return name + extension;
}

}  // namespace

bool JarReader::Open(const std::string& name, std::string* error) {
  Close();
  name_ = name;
  const std::string index = name + ".JIX";
  int fd = PlatOpenRead(index.c_str());
  if (fd < 0) {
    *error = "cannot open " + index;
    return false;
  }
  uint8_t bytes[kJarHeaderSize];
  const char* fault = "index header cut short";
  if (PlatPread(fd, bytes, kJarHeaderSize, 0) == kJarHeaderSize) {
    JarHeaderUnpack(bytes, &header_);
    fault = JarHeaderFault(header_);
  }
  if (fault == nullptr) {
    const size_t n = static_cast<size_t>(header_.block_count);
    // A damaged count must not size the table (up to 8 GB) before the file
    // shows that it holds that many entries.
    uint8_t last;
    if (n > 0 && PlatPread(fd, &last, 1, int64_t(header_.foffindex) + 4 * int64_t(n) - 1) != 1) {
      fault = "block table cut short";
    } else {
      std::vector<uint8_t> raw(4 * n);
      if (PlatPread(fd, raw.data(), raw.size(), header_.foffindex) != static_cast<int64_t>(raw.size())) {
        fault = "block table cut short";
      } else {
        table_.resize(n);
        for (size_t i = 0; i < n; i++) table_[i] = JarGet32(&raw[4 * i]);
      }
    }
  }
  PlatCloseFd(fd);
  if (fault != nullptr) {
    *error = index + ": " + fault;
    header_ = {};
    table_.clear();
    return false;
  }
  chunks_ =
      static_cast<int>((int64_t(header_.block_count) + header_.file_blocks - 1) / header_.file_blocks);
  fds_.reset(new std::atomic<int>[2 * size_t(chunks_)]);
  for (int i = 0; i < 2 * chunks_; i++) fds_[size_t(i)] = -1;
  return true;
}

void JarReader::Close() {
  for (int i = 0; fds_ != nullptr && i < 2 * chunks_; i++) {
    int fd = fds_[size_t(i)].load();
    if (fd >= 0) PlatCloseFd(fd);
  }
  fds_.reset();
  chunks_ = 0;
  table_.clear();
  header_ = {};
}

double JarReader::size() const {
  if (header_.block_count == 0) return 0;
  return double(header_.block_count - 1) * kBlockSize + header_.last_block_size;
}

int JarReader::ChunkFd(int file) const {
  const int slot = file < kJarSplitChunk ? file : chunks_ + file - kJarSplitChunk;
  if (slot < 0 || slot >= 2 * chunks_) return -1;
  int fd = fds_[size_t(slot)].load(std::memory_order_acquire);
  if (fd != -1) return fd < 0 ? -1 : fd;
  std::lock_guard<std::mutex> guard(open_lock_);
  fd = fds_[size_t(slot)].load(std::memory_order_acquire);
  if (fd == -1) {
    fd = PlatOpenRead(ChunkFileName(name_, file).c_str());
    if (fd < 0) fd = -2;
    fds_[size_t(slot)].store(fd, std::memory_order_release);
  }
  return fd < 0 ? -1 : fd;
}

int JarReader::Read(int32_t block, uint8_t* out, std::string* error) const {
  if (block < 0 || block >= header_.block_count) {
    *error = name_ + ": no block " + std::to_string(block);
    return 0;
  }
  const JarPlace at = JarRecordPlace(header_, block, table_[size_t(block)]);
  auto fail = [&](const char* why) {
    char text[64];
    snprintf(text, sizeof text, " block %d: ", block);
    *error = "damaged record in " + ChunkFileName(name_, at.file) + text + why;
    return 0;
  };
  const int fd = ChunkFd(at.file);
  if (fd < 0) {
    *error = "cannot open " + ChunkFileName(name_, at.file) + " for block " + std::to_string(block);
    return 0;
  }
  thread_local std::unique_ptr<RecordBuffer> t_buffer;
  if (!t_buffer) t_buffer = std::make_unique<RecordBuffer>();
  uint8_t* bytes = t_buffer->bytes;
  // The next record of the same file starts where this one ends: then one
  // read takes the head and the record together.
  int64_t want = kJarRecordHead + kMaxRecordLength;
  if (block + 1 < header_.block_count) {
    const JarPlace next = JarRecordPlace(header_, block + 1, table_[size_t(block) + 1]);
    const int64_t span = int64_t(next.offset) - at.offset;
    if (next.file == at.file && span > kJarRecordHead && span <= want) want = span;
  }
  int64_t got = PlatPread(fd, bytes, size_t(want), at.offset);
  if (got < kJarRecordHead) return fail("record cut short");
  const uint32_t sum = JarGet32(bytes);
  const uint32_t length = JarGet32(bytes + 4);
  if (length < 1 || length > static_cast<uint32_t>(kMaxRecordLength)) {
    char why[48];
    snprintf(why, sizeof why, "bad record length %u", length);
    return fail(why);
  }
  const int64_t need = kJarRecordHead + int64_t(length);
  if (got < need && got == want) {
    const int64_t more = PlatPread(fd, bytes + got, size_t(need - got), int64_t(at.offset) + got);
    if (more > 0) got += more;
  }
  if (got < need) return fail("record cut short");
  uint8_t* record = bytes + kJarRecordHead;
  memset(record + length, 0, kRecordPadding);
  char why[256];
  if (BlockDecode(BlockThreadDecoder(), record, static_cast<int>(length), out, why) == 0) {
    // The codec's message without the routine that found it.
    const char* colon = strrchr(why, ':');
    return fail(colon != nullptr && colon[1] == ' ' ? colon + 2 : why);
  }
  const int valid = block == header_.block_count - 1 ? header_.last_block_size : kBlockSize;
  if (JarBlockSum(out, valid) != sum) return fail("bad CRC");
  return valid;
}
