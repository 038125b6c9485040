#include "app/dispatch.h"

#include <cstring>

#include "builder/build_driver.h"
#include "builder/passes.h"
#include "commands/browser.h"
#include "commands/deps.h"
#include "commands/integrity_test.h"
#include "commands/log_summary.h"
#include "commands/position_list.h"
#include "commands/probe_command.h"
#include "commands/verify.h"
#include "index/names.h"
#include "jar/jar_file.h"
#include "platform/platform.h"
#include "support/console.h"
#include "support/version.h"

namespace {

// Blocks per chunk file recorded in every database file this program creates.
constexpr int kStartFileBlocks = 65536;

// A command returns its exit status; most have only success to report,
// since their failures end the process. Those that open databases look for
// them on the search path they are handed.
struct Command {
  const char* word;
  int (*run)(const SearchPath& search, int n, char** args);
};

template <void (*kExe)(const SearchPath&, int, char**)>
int Succeeds(const SearchPath& search, int n, char** args) {
  kExe(search, n, args);
  return 0;
}

template <void (*kExe)(int, char**)>
int SucceedsWithoutDatabases(const SearchPath&, int n, char** args) {
  kExe(n, args);
  return 0;
}

// The build runs the passes the build subsystem hands to its driver.
int RunBuild(const SearchPath& search, int n, char** args) {
  ExeBuild(search, n, args, kBuildPasses);
  return 0;
}

int RunDemoGame(const SearchPath& search, int n, char** args) {
  ExeDemo(search, n, args, 0);
  return 0;
}
int RunDemoPositions(const SearchPath& search, int n, char** args) {
  ExeDemo(search, n, args, 1);
  return 0;
}

const Command kCommands[] = {
    {"-b", RunBuild},
    {"-d", Succeeds<ExeDeps>},
    {"-e", SucceedsWithoutDatabases<ExeEnum>},
    {"-ll", Succeeds<ExeList>},
    {"-p", RunDemoGame},
    {"-pe", RunDemoPositions},
    {"-sum", SucceedsWithoutDatabases<ExeSum>},
    {"-t", Succeeds<ExeTest>},
    {"-probe", ExeProbe},
    {"-verify", ExeVerify},
    {"-line", ExeLine},
};

// Their output is read by programs: one line per position, or a PGN game,
// and nothing else.
bool Quiet(const char* word) { return strcmp(word, "-probe") == 0 || strcmp(word, "-line") == 0; }

void PrintUsage() {
  OutCons("\n");
  OutCons("\nZOK -b   bname [lo [hi]]  build database");
  OutCons("\nZOK -d   bname [depth]    dependency list");
  OutCons("\nZOK -e   w...b...         enumerate databases, eg wwb");
  OutCons("\nZOK -ll  bname len        log len-ply positions");
  OutCons("\nZOK -sum [path [path...   summarize LOF files");
  OutCons("\nZOK -t   bname            test file integrity");
  OutCons("\nZOK -p   file.JGN/game    browse a game");
  OutCons("\nZOK -pe  file.EPD/line    browse a position");
  OutCons("\nZOK -probe fen... | -     value and best move");
  OutCons("\nZOK -verify bname         check every value");
  OutCons("\nZOK -probe --moves fen... every move, best first");
  OutCons("\nZOK -line fen             mate line as PGN");
  OutCons("\n");
}

}  // namespace

SearchPath ExeInit() {
  for (const std::string& fault : {PlatThreadSettingError(), PlatStopSettingError()}) {
    if (!fault.empty()) OutError("ExeInit: %s", fault.c_str());
  }
  PlatRaiseFileLimit();
  JarSetFileBlocks(kStartFileBlocks);
  return SearchPath{kCurrentDir};
}

int ZokMain(int argc, char** argv) {
  const SearchPath search = ExeInit();
  SetProgramName(argc > 0 ? argv[0] : nullptr);
  if (argc < 2 || !Quiet(argv[1])) OutCons("%s", ZokBanner());
  if (argc < 2) {
    PrintUsage();
    return 1;
  }
  // Asked for, the usage is an answer, not a failure.
  for (const char* help : {"-h", "--help", "help"}) {
    if (strcmp(argv[1], help) == 0) {
      PrintUsage();
      return 0;
    }
  }
  for (const Command& c : kCommands) {
    if (strcmp(argv[1], c.word) == 0) {
      return c.run(search, argc - 2, argv + 2);
    }
  }
  OutError("Bad args");
}
