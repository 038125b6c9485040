#include "platform/platform.h"
#include "serve/server.h"

int main(int argc, char** argv) { PlatExit(ServeMain(argc, argv)); }
