#include "app/dispatch.h"
#include "platform/platform.h"

int main(int argc, char** argv) { PlatExit(ZokMain(argc, argv)); }
