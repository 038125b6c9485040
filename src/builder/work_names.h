// The names of a build's intermediate files, in its work directory (named
// after the endgame).
#pragma once

// A path held by value, so that two names can be in use at once.
struct WorkPath {
  char text[64];
  operator const char*() const { return text; }
};

// WORK/TAGnnn: a pass file.
WorkPath FlocName(const char* work, const char* tag, int pass);
// WORK/LlCccccc: a chop file of the pile.
WorkPath FpakName(const char* work, int level, int chop);
