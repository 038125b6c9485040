#include "support/checked_ops.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "jar/jas.h"
#include "platform/platform.h"
#include "support/console.h"
#include "test_support.h"

// Blocks a child still holds when it ends through a fatal error; kept in a
// global so that the leak checker of the sanitizer build sees them reachable.
void* g_held[1];

namespace {

void WriteSample(const char* path, int n, const JarContext* cx = nullptr) {
  JILE* h = FileWopen(path, cx);
  for (int i = 0; i < n; i++) FilePutc(i % 7, h);
  FileClose(h);
}

TEST(CheckedOps, EachFailureEndsTheProgramWithItsOwnMessage) {
  TempDir dir;
  {
    ScopedCwd cwd(dir.path());
    WriteSample("data", 100);
    WriteSample("nochunk", 100);
    std::filesystem::remove("nochunk.J00");
    WriteFile("empty.JIX", "");
    WriteFile("cuttable.JIX", ReadFile("data.JIX").substr(0, 118));
    for (const char* d : {"dir.JIX", "chunkdir.J00"}) std::filesystem::create_directory(d);
    // Block 0's record: its check value, then (after the length) its method byte.
    for (auto [name, at] : {std::pair{"badsum", 0}, {"badmethod", 8}}) {
      WriteSample(name, 100);
      std::string j00 = ReadFile(std::string(name) + ".J00");
      j00[at] = static_cast<char>(0xEE);
      WriteFile(std::string(name) + ".J00", j00);
    }
  }
  struct Case {
    const char* message;
    std::function<void()> body;
  } cases[] = {
      {"SysAlloc: failed", [] { SysAlloc(size_t(1) << 40); }},
      {"SysFree: failed",
       [] {
         auto* p = static_cast<uint8_t*>(SysAlloc(10));
         g_held[0] = p;
         p[10] ^= 0xFF;  // the guard word after the data
         SysFree(p);
       }},
      {"FileRopen: [missing] failed: No such file or directory", [] { FileRopen("missing"); }},
      {"FileRopen: [empty] failed: unexpected end of file", [] { FileRopen("empty"); }},
      {"FileWopen: [nodir/x] failed: No such file or directory", [] { FileWopen("nodir/x"); }},
      {"FileWopenX: [dir] failed: Is a directory", [] { FileWopenX("dir"); }},
      {"FileWopenW: [dir] failed: Is a directory", [] { FileWopenW("dir"); }},
      {"FileClose: failed [no file]: invalid JILE *", [] { FileClose(nullptr); }},
      // The chunk file is opened when the first block is written.
      {"FileClose: failed [chunkdir]: Is a directory",
       [] {
         JILE* h = FileWopen("chunkdir");
         FilePutc(1, h);
         FileClose(h);
       }},
      {"FileWrite: failed [chunkdir]: Is a directory",
       [] {
         static char block[2 * kBlockSize + 1];
         FileWrite(block, sizeof block, FileWopen("chunkdir"));
       }},
      {"FileGetc: failed [data]: end of data",
       [] {
         JILE* h = FileRopen("data");
         FileSeek(h, 100);
         FileGetc(h);
       }},
      {"FilePutc: failed [data]: invalid JILE *", [] { FilePutc(1, FileRopen("data")); }},
      {"FileRead: failed [data]: end of data",
       [] {
         char buf[200];
         FileRead(buf, 101, FileRopen("data"));
       }},
      {"FileWrite: failed [data]: invalid JILE *", [] { FileWrite("abc", 3, FileRopen("data")); }},
      {"FileSeek: failed [data]: outside filesize", [] { FileSeek(FileRopen("data"), 101); }},
      {"FileSeek: failed [cuttable]: unexpected end of file",
       [] { FileSeek(FileRopen("cuttable"), 5); }},
      // A damaged record names its block, and what is wrong without the decoder's routine.
      {"FileSeek: failed [badsum] block 0: bad CRC", [] { FileSeek(FileRopen("badsum"), 5); }},
      {"FileRead: failed [badmethod] block 0: unknown method 238",
       [] {
         char buf[10];
         FileRead(buf, 10, FileRopen("badmethod"));
       }},
      {"FileRemove: failed [missing]: No such file or directory", [] { FileRemove("missing"); }},
      {"FileSize: failed [missing]: No such file or directory", [] { FileSize("missing"); }},
      {"FileSize: failed [nochunk]: nochunk.J00: No such file or directory",
       [] { FileSize("nochunk"); }},
  };
  for (const Case& c : cases) {
    RunResult r = RunInChild(dir.path(), c.body);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.output, std::string("\n\nERROR: ") + c.message + "\n");
  }
}

// A small file system of its own, unmounted before its directory goes.
struct SmallDisk {
  explicit SmallDisk(const std::string& dir) : path(dir) {
    std::filesystem::create_directory(path);
    mounted = RunShell("mount -t tmpfs -o size=96k tmpfs " + path + " 2>&1").status == 0;
  }
  ~SmallDisk() {
    if (mounted) RunShell("umount " + path);
  }
  std::string path;
  bool mounted;
};

// A build that fills its disk stops naming the file the layer could not
// write and why; given room, the same command finishes with the databases
// of a build that never stopped.
TEST(CheckedOps, AFullDiskStopsTheBuildNamingTheFileAndAResumeFinishes) {
  TempDir dir;
  SmallDisk disk(dir.File("disk"));
  if (!disk.mounted) GTEST_SKIP() << "no tmpfs can be mounted here (root with mount rights needed)";
  RunResult full = RunZok("-b KQK", disk.path);
  EXPECT_EQ(full.status, 1);
  EXPECT_TRUE(
      std::regex_search(full.output, std::regex("\n\nERROR: File(Close|Write|Putc): failed "
                                                "\\[KQK/[A-Z0-9-]+\\]: No space left on device\n$")))
      << full.output.substr(full.output.size() > 200 ? full.output.size() - 200 : 0);
  ASSERT_EQ(RunShell("mount -o remount,size=8m " + disk.path).status, 0);
  RunResult resumed = RunZok("-b KQK", disk.path);
  ASSERT_EQ(resumed.status, 0) << resumed.output;
  const std::string ref = BuiltDatabases({"KQK"});
  for (const char* name : {"KQK____W.J00", "KQK____B.J00", "KQK____W.JIX", "KQK____B.JIX"}) {
    std::string a = ReadFile(disk.path + "/" + name), b = ReadFile(ref + "/" + name);
    a.replace(24, 4, "time");  // the index's creation time; a chunk is longer
    b.replace(24, 4, "time");
    EXPECT_EQ(a, b) << name;
  }
}

// A build's view: its account started, a pass that writes a database, meets
// one layer error and removes the database again.
TEST(Accounting, ABuildLogsErrorsAndPassMarksToTheLos) {
  TempDir dir;
  double peak_disk = 0;
  RunResult r = RunInChild(dir.path(), [&] {
    SetLogName("KQKR");
    static JarAccount account;
    const JarContext cx{&account};
    AccStart(account);
    AccPass(account, 3, 0);
    WriteSample("db", 40000, &cx);
    JarRopen("missing", &cx);
    JarRopen("missing");  // no context: not counted
    FileRemove("db", &cx);
    AccPass(account, 3, 1);
    if (account.written != std::vector<std::string>{"db.JIX", "db.J00"}) std::exit(2);
  });
  ASSERT_EQ(r.status, 0) << r.output;
  {
    // The same database again, in this process, for its size.
    ScopedCwd cwd(dir.path());
    WriteSample("db", 40000);
    peak_disk = FileSize("db");
    FileRemove("db");
  }
  char figures[512];
  snprintf(figures, sizeof figures,
           "pass   3 enderror           1  max           1\n"
           "pass   3 endalloc           0  max %11d\n"
           "pass   3 endfopen           0  max           2\n"
           "pass   3 endwrite           0  max %11.0f\n",
           int(sizeof(JILE)) + 12, peak_disk);
  EXPECT_EQ(
      ReadFile(dir.File("KQKR.LOS")),
      "// #[ pass   3 : //////////////////////////////////////////////////////////////\n"
      "\n"
      "error        +1 =           1  [JasOpen: (missing.JIX, rb) failed: No such file or directory]\n"
      "\n" +
          std::string(figures) +
          "\n"
          "// #] pass   3 : \n");
  EXPECT_FALSE(FileExists(dir.File("db.JIX")));
}

// Work of other threads, captured and replayed in a fixed order, counts as
// the same work done in that order on one thread; nothing counts meanwhile.
TEST(Accounting, WorkCapturedOnOtherThreadsCountsAsInOrderOnOne) {
  TempDir dir;
  RunResult r = RunInChild(dir.path(), [&] {
    auto work = [](const char* name, const JarContext* cx) {
      WriteSample(name, 40000 + 1000 * name[0], cx);
      void* p = SysAlloc(5000, cx);
      FileRemove(name, cx);
      SysFree(p, cx);
    };
    auto figures = [](const JarAccount& a) {
      return std::vector<double>{
          double(a.alloc), double(a.alloc_max), double(a.streams), double(a.streams_max),
          a.disk,          a.disk_max};
    };
    static JarAccount direct, replayed;
    const JarContext counted{&direct};
    work("a", &counted);
    work("b", &counted);
    std::vector<JarEvent> logs[2];
    const JarContext captured[2] = {{&replayed, false, &logs[0]}, {&replayed, false, &logs[1]}};
    std::thread second([&] { work("b", &captured[1]); });
    work("a", &captured[0]);
    second.join();
    if (figures(replayed) != std::vector<double>(6, 0.0)) std::exit(2);
    JarReplay(replayed, logs[0]);
    JarReplay(replayed, logs[1]);
    std::exit(figures(replayed) == figures(direct) && logs[0].empty() ? 0 : 3);
  });
  EXPECT_EQ(r.status, 0) << r.output;
}

}  // namespace
