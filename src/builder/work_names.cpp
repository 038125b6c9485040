#include "builder/work_names.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "support/console.h"

WorkPath FlocName(const char* work, const char* tag, int pass) {
  WorkPath name;
  if (strlen(tag) > 5) OutError("FlocName: tag too long");
  if (pass > 999) OutError("FlocName: pass too long");
  snprintf(name.text, sizeof name.text, "%s%c%s%03d", work, kPathSep, tag, pass);
  return name;
}

WorkPath FpakName(const char* work, int level, int chop) {
  WorkPath name;
  if (level > 9) OutError("FpakName: level too long");
  if (chop > 99999) OutError("FpakName: chop too long");
  snprintf(name.text, sizeof name.text, "%s%cL%dC%05d", work, kPathSep, level, chop);
  return name;
}
