#include "commands/integrity_test.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <string>
#include <vector>

#include "index/basis.h"
#include "index/names.h"
#include "jar/jar_file.h"
#include "jar/jar_reader.h"
#include "jar/jas.h"
#include "platform/platform.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "support/sha256.h"

namespace {

constexpr int kAbortKey = 17;  // Ctrl+Q
constexpr double kMegabyte = 1048576.0;

enum Outcome { kMissing, kSound, kDamaged };

// A fault of the database: its line, and the side is done. The handle, if
// open, is closed after the message is made (closing may report more).
Outcome Damaged(JILE* h, const char* format, ...) ZOK_PRINTF(2, 3);
Outcome Damaged(JILE* h, const char* format, ...) {
  char text[1400];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  OutCons("\n%s\n", text);
  if (h != nullptr) JarClose(h);
  return kDamaged;
}

// Reports one database and decodes every block of it. Damage is reported
// and ends this database's test, not the command, so that the other side is
// still tested.
Outcome TestDatabase(const SearchPath& search, uint32_t code, double entries) {
  OutCons("\n%s  ", FresName(code).c_str());
  const std::string found = search.Path(code);
  if (found.empty()) {
    OutCons("not found");
    OutCons("\n");
    return kMissing;
  }
  char path[kJarNameSize];
  snprintf(path, sizeof path, "%s", found.c_str());
  OutCons("[%s.J*]", path);
  int32_t start = ClockCs(1);
  JarFault fault;
  JILE* h = JarRopen(path, nullptr, &fault);
  if (h == nullptr) return Damaged(nullptr, "FileRopen: [%s] failed: %s", path, fault.reason);
  // The header must agree with the files before their blocks are trusted.
  if (JarCheck(path, &fault) != 0) {
    return Damaged(h, "ExeTest: layout failed [%s]: %s", path, fault.reason);
  }
  double length = JarSize(h);
  if (length < 0) OutError("ExeTest: length failed");
  if (length != entries) {
    return Damaged(h, "ExeTest: length failed [%s]: %.0f bytes, the endgame has %.0f entries", path,
                   length, entries);
  }
  OutCons("\nlength    %.0f", length);
  double size = JarDiskSize(path, nullptr, &fault);
  if (size < 0) return Damaged(h, "ExeTest: disksize failed [%s]: %s", path, fault.reason);
  OutCons("\nsize      %.0f", size);
  OutCons(" = %.2f MB", size / kMegabyte);
  const char* name;
  int32_t format;
  uint32_t metric;
  int32_t content;
  if (JarGetCreator(h, &name, &format, &metric, &content) != 0) OutError("ExeTest: getcreator failed");
  // The creator field is not terminated when all 32 bytes are used.
  OutCons("\ncreator   [%.*s]   format %d", kJarCreatorSize, name, format);
  OutCons("\ncontent   ");
  PrintTag(metric);
  OutCons("   o%011o", static_cast<unsigned>(content));
  // The block sums sample a few bytes of each block; the checksum file,
  // where the build left one, covers every byte.
  std::string what;
  switch (ChecksumVerify(path, &what)) {
    case kChecksumMatch: OutCons("\nsha256    %s", what.c_str()); break;
    case kChecksumNone: OutCons("\nExeTest: no checksum file %s.SHA256", FresName(code).c_str()); break;
    case kChecksumDiffers: return Damaged(h, "ExeTest: %s", what.c_str());
    case kChecksumUnreadable: return Damaged(h, "ExeTest: cannot check: %s", what.c_str());
  }
  OutCons("\n");
  // The blocks are read by number, as the probing library reads them.
  JarReader reader;
  std::string error;
  if (!reader.Open(path, &error)) return Damaged(h, "FileRopen: [%s] failed: %s", path, error.c_str());
  const double blocks = std::ceil(entries / kBlockSize);
  // Decoded on all threads, a batch at a time; reported in block order.
  const int32_t total = static_cast<int32_t>(blocks);
  const int batch = 8 * PlatThreadCount();
  std::vector<std::string> errors(static_cast<size_t>(batch));
  // Into a file or a pipe once a second, not a line for each of a six-man
  // database's 300,000 blocks.
  int32_t shown = 0;
  for (int32_t first = 0; first < total; first += batch) {
    const int n = std::min<int32_t>(batch, total - first);
    PlatParallel(n, [&](int i) {
      thread_local std::vector<uint8_t> block(kBlockSize);
      errors[size_t(i)].clear();
      reader.Read(first + i, block.data(), &errors[size_t(i)]);
    });
    for (int i = 0; i < n; i++) {
      if (RefreshDue(&shown, first + i + 1 == total))
        OutCons("\rblock     %d / %.0f", first + i, blocks);
      if (!errors[size_t(i)].empty())
        return Damaged(h, "FileSeek: failed: %s", errors[size_t(i)].c_str());
      if (PlatKeyWaiting() && PlatReadKey() == kAbortKey) OutError("Manual abort!");
    }
  }
  FileClose(h);
  OutCons("   decompression test complete   (%.1f s)", (ClockCs(0) - start) * 0.01);
  OutCons("\n");
  return kSound;
}

}  // namespace

void PrintTag(uint32_t tag) {
  for (int i = 0; i < 4; i++) {
    int c = (tag >> (8 * i)) & 0xFF;
    if (c >= 32 && c <= 126) {
      OutCons("%c", c);
    } else {
      OutCons("\\x%02X", c);
    }
  }
}

void ExeTest(const SearchPath& search, int n, char** args) {
  if (n < 1) OutError("ExeTest: too few args");
  Basi basis;
  MakeBasi(args[0], &basis);
  // Both tables hold the same number of entries.
  const double entries = double(basis.numw) * basis.zsize;
  const uint32_t codes[2] = {basis.material | kWhiteToMove, basis.material};
  Outcome outcomes[2];
  for (int i = 0; i < 2; i++) outcomes[i] = TestDatabase(search, codes[i], entries);
  if (outcomes[0] == kMissing && outcomes[1] == kMissing) {
    OutError("ExeTest: no database of %s found", basis.name);
  }
  std::string damaged;
  for (int i = 0; i < 2; i++) {
    if (outcomes[i] != kDamaged) continue;
    damaged += std::string(damaged.empty() ? "" : " and ") + FresName(codes[i]);
  }
  if (!damaged.empty()) OutError("ExeTest: %s damaged", damaged.c_str());
}
