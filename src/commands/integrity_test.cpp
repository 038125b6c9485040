#include "commands/integrity_test.h"

#include <cmath>

#include "support/checked_ops.h"
#include "support/console.h"
#include "index/names.h"
#include "index/basis.h"
#include "jar/jar_file.h"
#include "jar/jas.h"
#include "platform/platform.h"

namespace {

constexpr int kAbortKey = 17;  // Ctrl+Q
constexpr double kMegabyte = 1048576.0;

void TestDatabase(uint32_t code, double entries) {
  OutCons("\n%s  ", FresName(code));
  const char* found = FresTry(code);
  if (found == nullptr) {
    OutCons("not found");
    OutCons("\n");
    return;
  }
  // FresTry's buffer is reused by later name look-ups.
  char path[kJarNameSize];
  snprintf(path, sizeof path, "%s", found);
  OutCons("[%s.J*]", path);
  int32_t start = ClockCs(1);
  JILE* h = FileRopen(path);
  // The header must agree with the files before their blocks are trusted.
  if (JarCheck(path) != 0) OutError("ExeTest: layout failed [%s]: %s", path, JasLastReason());
  double length = JarSize(h);
  if (length < 0) OutError("ExeTest: length failed");
  if (length != entries) {
    OutError("ExeTest: length failed [%s]: %.0f bytes, the endgame has %.0f entries", path, length, entries);
  }
  OutCons("\nlength    %.0f", length);
  double size = JarDiskSize(path);
  if (size < 0) OutError("ExeTest: disksize failed [%s]: %s", path, JasLastReason());
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
  OutCons("\n");
  const double blocks = std::ceil(entries / kBlockSize);
  for (double pos = 0; pos < entries; pos += kBlockSize) {
    OutCons("\rblock     %.0f / %.0f", pos / kBlockSize, blocks);
    FileSeek(h, pos);
    FileGetc(h);
    if (PlatKeyWaiting() && PlatReadKey() == kAbortKey) OutError("Manual abort!");
  }
  FileClose(h);
  OutCons("   decompression test complete   (%.1f s)", (ClockCs(0) - start) * 0.01);
  OutCons("\n");
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

void ExeTest(int n, char** args) {
  if (n < 1) OutError("ExeTest: too few args");
  Basi basis;
  MakeBasi(args[0], &basis);
  // Both tables hold the same number of entries.
  const double entries = double(basis.numw) * basis.zsize;
  TestDatabase(basis.material | kWhiteToMove, entries);
  TestDatabase(basis.material, entries);
}
