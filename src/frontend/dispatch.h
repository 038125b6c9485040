// Start-up settings, the banner line and the command table.
#pragma once

// The version; it also stamps every database this program writes.
inline constexpr const char* kZokVersion = "ZOK 3.03c 2002-Dec-26";
inline constexpr int kBannerLength = 79;
extern char g_banner[kBannerLength + 1];

void ExeInit();
// The whole program: returns the exit status (fatal errors exit directly).
int ZokMain(int argc, char** argv);
