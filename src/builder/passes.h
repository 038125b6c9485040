// The passes of a build: -1 and 0 classify every entry, the odd and even
// iteration passes find White's wins and Black's losses ply by ply, and
// 900 to 902 clean up and pack the two finished databases.
#pragma once

#include <cstdint>

#include "builder/build.h"

struct JILE;

// Pass -1 (White to move) and pass 0 (Black to move).
void Wtm1Create(Build& b);
void Wtm2Create(Build& b);
void ZtmCreate(Build& b);
void ZtmMates(Build& b);
// Odd pass n: White wins at ply n; even pass n: Black losses at ply n.
void WtmPass(Build& b, int n);
void ZtmPass(Build& b, int n);
void AllfUpdate(Build& b, int n);

// Pass 900, and the collecting and packing passes 901 and 902.
void PassCleanup(Build& b);
void Collect(Build& b, int first, int last);
void CollectPackWtm(Build& b);
void CollectPackZtm(Build& b);
void PackWtm(Build& b);
void PackZtm(Build& b);

// The passes of a real build.
inline constexpr BuildPasses kBuildPasses{Wtm1Create,  Wtm2Create,     ZtmCreate,
                                          ZtmMates,    WtmPass,        ZtmPass,
                                          PassCleanup, CollectPackWtm, CollectPackZtm};
