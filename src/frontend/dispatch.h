// Start-up settings, the banner line and the command table.
#pragma once

inline constexpr int kBannerLength = 79;
extern char g_banner[kBannerLength + 1];

void ExeInit();
// The whole program: returns the exit status (fatal errors exit directly).
int ZokMain(int argc, char** argv);
