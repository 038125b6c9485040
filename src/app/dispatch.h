// Start-up settings, the banner line and the command table.
#pragma once

void ExeInit();
// The whole program: returns the exit status (fatal errors exit directly).
int ZokMain(int argc, char** argv);
