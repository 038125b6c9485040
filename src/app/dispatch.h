// Start-up settings, the banner line and the command table.
#pragma once

#include "index/names.h"

// The start-up settings; returns the search path the commands are handed.
SearchPath ExeInit();
// The whole program: returns the exit status (fatal errors exit directly).
int ZokMain(int argc, char** argv);
