// SHA-256 against the FIPS 180 examples and against sha256sum of real files.
#include "support/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

TEST(Sha256, GivesTheFips180Digests) {
  const struct {
    std::string text;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
       "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sha256Of(c.text.data(), c.text.size()), c.digest) << c.text.size();
    // Fed in pieces that straddle the 64-byte blocks.
    Sha256 s;
    Sha256Init(s);
    for (size_t at = 0; at < c.text.size(); at += 37) {
      Sha256Update(s, c.text.data() + at, std::min<size_t>(37, c.text.size() - at));
    }
    EXPECT_EQ(Sha256Hex(s), c.digest) << c.text.size() << " in pieces";
  }
}

// Lengths around the padding's edges (55, 56, 64 bytes) and past a buffer.
TEST(Sha256, FilesHashAsSha256sumHashesThem) {
  TempDir dir;
  for (size_t n : {0, 55, 56, 63, 64, 65, 200000}) {
    std::string bytes;
    for (size_t i = 0; i < n; i++) bytes += static_cast<char>(i * 131 + n);
    WriteFile(dir.File("f"), bytes);
    std::string hex, error;
    ASSERT_TRUE(Sha256File(dir.File("f").c_str(), &hex, &error)) << error;
    EXPECT_EQ(RunShell("sha256sum f", dir.path()).output, hex + "  f\n") << n;
  }
  std::string hex, error;
  EXPECT_FALSE(Sha256File(dir.File("missing").c_str(), &hex, &error));
  EXPECT_EQ(error, "No such file or directory");
}

}  // namespace
