// The names of a build's intermediate files, in its work directory.
#pragma once

// The base name of the endgame being built: the work directory.
void SetWorkName(const char* bname);
// NAME/TAGnnn: a pass file.
const char* FlocName(const char* tag, int pass);
// NAME/LlCccccc: a chop file of the pile.
const char* FpakName(int level, int chop);
