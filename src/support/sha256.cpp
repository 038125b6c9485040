#include "support/sha256.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "platform/platform.h"
#include "support/console.h"

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Compress(uint32_t* state, const uint8_t* block) {
  uint32_t w[64];
  for (int i = 0; i < 16; i++) {
    w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
           uint32_t(block[4 * i + 2]) << 8 | block[4 * i + 3];
  }
  for (int i = 16; i < 64; i++) {
    uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; i++) {
    uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
    uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

// "DIR/NAME" into DIR ("." when there is none) and NAME.
void SplitPath(const char* path, std::string* dir, std::string* name) {
  const char* slash = strrchr(path, kPathSep);
  *dir = slash == nullptr ? "." : std::string(path, slash - path);
  *name = slash == nullptr ? path : slash + 1;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// The index file and the chunk files (split halves included) of the
// database `base` in `dir`, in ascending byte order.
std::vector<std::string> DatabaseFiles(const std::string& dir, const std::string& base) {
  std::vector<std::string> files;
  for (const std::string& f : PlatFindFiles((dir + kPathSep + base + ".J*").c_str())) {
    const std::string ext = f.substr(base.size() + 2);
    bool chunk = ext.size() >= 2;
    for (char c : ext) chunk = chunk && IsHex(c);
    if (ext == "IX" || chunk) files.push_back(f);
  }
  return files;
}

}  // namespace

void Sha256Init(Sha256& s) {
  static constexpr uint32_t kStart[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(s.state, kStart, sizeof kStart);
  s.length = 0;
  s.used = 0;
}

void Sha256Update(Sha256& s, const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  s.length += n;
  if (s.used > 0) {
    size_t take = n < size_t(64 - s.used) ? n : size_t(64 - s.used);
    memcpy(s.pending + s.used, p, take);
    s.used += static_cast<int>(take);
    p += take;
    n -= take;
    if (s.used < 64) return;
    Compress(s.state, s.pending);
    s.used = 0;
  }
  for (; n >= 64; p += 64, n -= 64) Compress(s.state, p);
  memcpy(s.pending, p, n);
  s.used = static_cast<int>(n);
}

std::string Sha256Hex(Sha256& s) {
  const uint64_t bits = s.length * 8;
  const uint8_t one = 0x80, zero = 0;
  Sha256Update(s, &one, 1);
  while (s.used != 56) Sha256Update(s, &zero, 1);
  uint8_t tail[8];
  for (int i = 0; i < 8; i++) tail[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Sha256Update(s, tail, 8);
  char hex[65];
  for (int i = 0; i < 8; i++) snprintf(hex + 8 * i, 9, "%08x", s.state[i]);
  return hex;
}

std::string Sha256Of(const void* data, size_t n) {
  Sha256 s;
  Sha256Init(s);
  Sha256Update(s, data, n);
  return Sha256Hex(s);
}

bool Sha256File(const char* path, std::string* hex, std::string* error) {
  FILE* f = PlatFopen(path, "rb");
  if (f == nullptr) {
    *error = PlatErrorText();
    return false;
  }
  Sha256 s;
  Sha256Init(s);
  std::vector<uint8_t> buffer(1 << 16);
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), f)) > 0) Sha256Update(s, buffer.data(), n);
  bool failed = ferror(f) != 0;
  if (failed) *error = PlatErrorText();
  PlatFclose(f);
  if (failed) return false;
  *hex = Sha256Hex(s);
  return true;
}

std::string ChecksumName(const char* db) { return std::string(db) + ".SHA256"; }

void ChecksumWrite(const char* db) {
  std::string dir, base;
  SplitPath(db, &dir, &base);
  const std::string name = ChecksumName(db), temp = name + ".TMP";
  std::string lines, hex, error;
  for (const std::string& f : DatabaseFiles(dir, base)) {
    if (!Sha256File((dir + kPathSep + f).c_str(), &hex, &error)) {
      OutError("ChecksumWrite: [%s] failed: %s: %s", name.c_str(), f.c_str(), error.c_str());
    }
    lines += hex + "  " + f + "\n";
  }
  FILE* out = PlatFopen(temp.c_str(), "w");
  if (out == nullptr) OutError("ChecksumWrite: [%s] failed: %s", temp.c_str(), PlatErrorText());
  bool ok = fwrite(lines.data(), 1, lines.size(), out) == lines.size() && PlatSyncStream(out) == 0;
  if (PlatFclose(out) != 0) ok = false;
  if (!ok) OutError("ChecksumWrite: [%s] failed: %s", temp.c_str(), PlatErrorText());
  if (PlatRename(temp.c_str(), name.c_str()) != 0 || PlatSyncPath(dir.c_str()) != 0) {
    OutError("ChecksumWrite: [%s] failed: %s", name.c_str(), PlatErrorText());
  }
}

ChecksumResult ChecksumVerify(const char* db, std::string* what) {
  std::string dir, base;
  SplitPath(db, &dir, &base);
  const std::string name = ChecksumName(db), shown = ChecksumName(base.c_str());
  FILE* f = PlatFopen(name.c_str(), "r");
  if (f == nullptr) {
    if (PlatFileSize(name.c_str()) < 0) return kChecksumNone;
    *what = "checksum file " + shown + " unreadable: " + PlatErrorText();
    return kChecksumUnreadable;
  }
  std::map<std::string, std::string> listed;  // file name to digest
  char line[512];
  int number = 0;
  bool bad = false;
  while (!bad && fgets(line, sizeof line, f) != nullptr) {
    number++;
    size_t n = strlen(line);
    bad = n < 68 || line[n - 1] != '\n' || line[64] != ' ' || line[65] != ' ';
    for (int i = 0; i < 64 && !bad; i++) {
      bad = !((line[i] >= '0' && line[i] <= '9') || (line[i] >= 'a' && line[i] <= 'f'));
    }
    if (!bad) listed[std::string(line + 66, n - 67)] = std::string(line, 64);
  }
  PlatFclose(f);
  if (bad) {
    *what = "checksum file " + shown + " damaged at line " + std::to_string(number);
    return kChecksumDiffers;
  }
  const std::vector<std::string> files = DatabaseFiles(dir, base);
  for (const std::string& file : files) {
    if (listed.count(file) == 0) {
      *what = file + " is not in " + shown;
      return kChecksumDiffers;
    }
  }
  std::string hex, error;
  for (const auto& [file, digest] : listed) {
    // Only files of this database: a damaged line must not reach others.
    bool present = false;
    for (const std::string& d : files) present = present || d == file;
    if (!present) {
      *what = file + " of " + shown + " missing";
      return kChecksumDiffers;
    }
    if (!Sha256File((dir + kPathSep + file).c_str(), &hex, &error)) {
      *what = file + " of " + shown + " unreadable: " + error;
      return kChecksumUnreadable;
    }
    if (hex != digest) {
      *what = file + " differs from " + shown;
      return kChecksumDiffers;
    }
  }
  *what = std::to_string(listed.size()) + " files match " + shown;
  return kChecksumMatch;
}
