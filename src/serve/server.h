// zok-serve: the web explorer's command line and HTTP server.
#pragma once

// Runs the program with its command line; returns the exit status.
int ServeMain(int argc, char** argv);
