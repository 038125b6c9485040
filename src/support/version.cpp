#include "support/version.h"

#include <cstring>

namespace {

constexpr int kZokVersionColumn = 57;

struct Banner {
  char text[kBannerLength + 1];
  Banner() {
    memset(text, '-', kBannerLength);
    text[kBannerLength] = 0;
    text[kZokVersionColumn] = ' ';
    memcpy(text + kZokVersionColumn + 1, kZokVersion, strlen(kZokVersion));
  }
};

}  // namespace

const char* ZokBanner() {
  static const Banner banner;
  return banner.text;
}
