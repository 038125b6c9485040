// SHA-256 (FIPS 180-4) of byte strings and files, and the checksum file that
// stands beside each finished database: one line per index and chunk file,
// "<64 hex digits>  <file name>", as `sha256sum -c` reads it. The block sum
// inside the files samples a few bytes per block; this covers every byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Sha256 {
  uint32_t state[8];
  uint64_t length;  // bytes hashed so far
  uint8_t pending[64];
  int used;  // bytes waiting in `pending`
};

void Sha256Init(Sha256& s);
void Sha256Update(Sha256& s, const void* data, size_t n);
// The digest as 64 lower-case hex digits.
std::string Sha256Hex(Sha256& s);
std::string Sha256Of(const void* data, size_t n);
// The digest of a file's bytes; false with `error` set when it cannot be read.
bool Sha256File(const char* path, std::string* hex, std::string* error);

// The checksum file of the database at `db` (a path without extension):
// `db`.SHA256.
std::string ChecksumName(const char* db);
// Writes the checksum file of the database at `db` durably: a temporary
// file, synced, renamed over the old one, and the directory synced. Fatal
// ("ChecksumWrite: [NAME] failed: ...") when that fails.
void ChecksumWrite(const char* db);

enum ChecksumResult {
  kChecksumMatch,    // every file of the database listed and as listed
  kChecksumNone,     // no checksum file: a database older than the files
  kChecksumDiffers,  // `what` names the file and says how
  // A file could not be read (permissions, too many open files, an I/O
  // error): nothing is known of its bytes, so this is no reason to remove it.
  kChecksumUnreadable,
};
// Checks the database at `db` against its checksum file. With a difference
// `what` says which file and how (its name as the checksum file gives it,
// relative to the database's directory); with a match it says how many
// files.
ChecksumResult ChecksumVerify(const char* db, std::string* what);
