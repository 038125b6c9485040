// A finished or work file read by block number, from any number of threads
// at once: the header and the block table are read at open, each record by
// offset (no file position is shared), and each chunk file is opened once,
// on first use, and kept until the reader closes.
//
// Failures come back as the result with a message naming the file and, for
// a record, the block: "damaged record in KQKR___W.J00 block 17: bad CRC".
// Nothing goes through the layer's last-error text.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "jar/jar_file.h"

class JarReader {
 public:
  JarReader() = default;
  ~JarReader() { Close(); }
  JarReader(const JarReader&) = delete;
  JarReader& operator=(const JarReader&) = delete;

  // Opens the file of base name `name` (NAME.JIX, NAME.J00 ...). False with
  // `error` set when its index cannot be read or its header is unsound.
  bool Open(const std::string& name, std::string* error);
  // Closes the chunk files; the reader can then be opened again.
  void Close();

  const std::string& name() const { return name_; }
  const JarHeader& header() const { return header_; }
  int32_t blocks() const { return header_.block_count; }
  // Bytes of data: the full blocks and the last one's valid bytes.
  double size() const;

  // Reads record `block` (0 .. blocks() - 1), decodes it into `out`
  // (kBlockSize bytes) with the calling thread's decoder and checks it
  // against its check value. The valid bytes of the block (kBlockSize, or
  // fewer for the last), or 0 with `error` set.
  int Read(int32_t block, uint8_t* out, std::string* error) const;

 private:
  int ChunkFd(int file) const;

  std::string name_;
  JarHeader header_{};
  std::vector<uint32_t> table_;  // block table entries as stored
  int chunks_ = 0;
  // Chunk file descriptors: the chunks, then the second files of split
  // ones. -1 not opened yet, -2 failed to open.
  std::unique_ptr<std::atomic<int>[]> fds_;
  mutable std::mutex open_lock_;
};
