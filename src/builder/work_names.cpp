#include "builder/work_names.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "support/console.h"

namespace {
char g_work_name[16] = "";
}  // namespace

void SetWorkName(const char* bname) { snprintf(g_work_name, sizeof g_work_name, "%s", bname); }

const char* FlocName(const char* tag, int pass) {
  static char name[64];
  if (strlen(tag) > 5) OutError("FlocName: tag too long");
  if (pass > 999) OutError("FlocName: pass too long");
  snprintf(name, sizeof name, "%s%c%s%03d", g_work_name, kPathSep, tag, pass);
  return name;
}

const char* FpakName(int level, int chop) {
  static char name[64];
  if (level > 9) OutError("FpakName: level too long");
  if (chop > 99999) OutError("FpakName: chop too long");
  snprintf(name, sizeof name, "%s%cL%dC%05d", g_work_name, kPathSep, level, chop);
  return name;
}
