// The passes of a build: -1 and 0 classify every entry, the odd and even
// iteration passes find White's wins and Black's losses ply by ply, and
// 900 to 902 clean up and pack the two finished databases.
#pragma once

#include <cstdint>

struct JILE;

// Pass -1 (White to move) and pass 0 (Black to move).
void Wtm1Create();
void Wtm2Create();
void ZtmCreate();
void ZtmMates();
// One row of each: pass -1's conversion and exclusion bitmaps of a black
// configuration, its illegal bitmap of a white configuration, and pass 0's
// conversion and exclusion bitmaps of a white configuration. Conversion
// values go to `values`.
void Wtm1Loop(uint8_t* conv, uint8_t* excl, int weight, int32_t hashz, JILE* values);
void Wtm2Loop(uint8_t* illegal, int weight, int32_t hashw);
void ZtmLoop(uint8_t* conv, uint8_t* excl, int weight, int32_t hashw, JILE* values);

// Odd pass n: White wins at ply n; even pass n: Black losses at ply n.
void WtmPass(int n);
void ZtmPass(int n);
void AllfUpdate(int n);

// Pass 900, and the collecting and packing passes 901 and 902.
void PassCleanup();
void Collect(int first, int last);
void CollectPackWtm();
void CollectPackZtm();
void PackWtm();
void PackZtm();

// Hands the passes to the build driver.
void InstallBuildPasses();
