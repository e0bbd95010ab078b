#include "walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "container.h"
#include "test_support.h"

namespace vexlor {
namespace {

std::string InvalidPassword(const std::string& path) {
  return "Fail to decrypt the file " + path + ": invalid password";
}

std::vector<std::string> Sorted(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

class WalkerTest : public ::testing::Test {
 protected:
  TempFolder folder;
  RecordingReporter reporter;
};

TEST_F(WalkerTest, EncryptsAndDecryptsATree) {
  // The same content under two names gives the same container bytes only if every file
  // starts its keystream afresh from the key.
  WriteFile(folder.Path("one.txt"), "same content");
  WriteFile(folder.Path("two.txt"), "same content");
  folder.MakeFolder("sub/deeper");
  WriteFile(folder.Path("sub/deeper/data.bin"), std::string("\0\1\2\xff", 4));
  WriteFile(folder.Path("sub/.hidden"), "dot file");
  PasswordKey key = DerivePasswordKey("tree");

  ASSERT_EQ(WalkPath(folder.path().c_str(), key, Encrypt), 0);
  EXPECT_EQ(folder.List(), (std::vector<std::string>{"one_txt.vxl", "sub", "two_txt.vxl"}));
  EXPECT_EQ(folder.List("sub"), (std::vector<std::string>{"_hidden.vxl", "deeper"}));
  EXPECT_EQ(folder.List("sub/deeper"), std::vector<std::string>{"data_bin.vxl"});
  EXPECT_EQ(ReadFile(folder.Path("one_txt.vxl")), ExpectedContainer("tree", ".txt", "same content"));
  EXPECT_EQ(ReadFile(folder.Path("two_txt.vxl")), ExpectedContainer("tree", ".txt", "same content"));
  EXPECT_TRUE(reporter.messages.empty());

  // Encrypting again leaves the containers alone.
  ASSERT_EQ(WalkPath(folder.path().c_str(), key, Encrypt), 0);
  EXPECT_EQ(folder.List(), (std::vector<std::string>{"one_txt.vxl", "sub", "two_txt.vxl"}));

  ASSERT_EQ(WalkPath(folder.path().c_str(), key, Decrypt), 0);
  EXPECT_EQ(folder.List(), (std::vector<std::string>{"one.txt", "sub", "two.txt"}));
  EXPECT_EQ(ReadFile(folder.Path("sub/deeper/data.bin")), std::string("\0\1\2\xff", 4));
  EXPECT_EQ(ReadFile(folder.Path("sub/.hidden")), "dot file");
  EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(WalkerTest, WrongPasswordOnThreeContainers) {
  std::vector<std::string> expected;
  for (const char* name : {"a_txt.vxl", "b_txt.vxl", "c_txt.vxl"}) {
    WriteFile(folder.Path(name), ExpectedContainer("right", ".txt", name));
    expected.push_back(InvalidPassword(folder.Path(name)));
  }
  EXPECT_EQ(WalkPath(folder.path().c_str(), DerivePasswordKey("wrong"), Decrypt), 3);
  EXPECT_EQ(Sorted(reporter.messages), Sorted(expected));
  EXPECT_EQ(folder.List(), (std::vector<std::string>{"a_txt.vxl", "b_txt.vxl", "c_txt.vxl"}));
  EXPECT_EQ(ReadFile(folder.Path("b_txt.vxl")), ExpectedContainer("right", ".txt", "b_txt.vxl"));
}

TEST_F(WalkerTest, SixFailingFilesStopAfterTheFifth) {
  std::vector<std::string> names;
  for (char c = 'a'; c <= 'f'; ++c) {
    names.push_back(std::string(1, c) + "_txt.vxl");
    WriteFile(folder.Path(names.back()), ExpectedContainer("right", ".txt", names.back()));
  }
  EXPECT_EQ(WalkPath(folder.path().c_str(), DerivePasswordKey("wrong"), Decrypt), 5);
  EXPECT_EQ(reporter.messages.size(), 5u);
  // The sixth file in the listing's order was never reached.
  ASSERT_EQ(reporter.paths.size(), 5u);
  for (const std::string& name : names) {
    if (std::count(reporter.paths.begin(), reporter.paths.end(), folder.Path(name)) == 0) {
      EXPECT_EQ(ReadFile(folder.Path(name)), ExpectedContainer("right", ".txt", name));
    }
  }
  EXPECT_EQ(folder.List(), Sorted(names));
}

TEST_F(WalkerTest, CancelFinishesTheFileInProgress) {
  folder.MakeFolder("sub");
  for (const char* name : {"a.txt", "b.txt", "sub/c.txt", "sub/d.txt"}) WriteFile(folder.Path(name), name);
  reporter.cancelAfterFiles = 1;
  EXPECT_EQ(WalkPath(folder.path().c_str(), DerivePasswordKey("pw"), Encrypt), WalkCancelled);
  ASSERT_EQ(reporter.paths.size(), 1u);
  EXPECT_TRUE(reporter.messages.empty());

  // Exactly the one file shown was converted, completely.
  size_t containers = 0;
  for (const char* name : {"a.txt", "b.txt", "sub/c.txt", "sub/d.txt"}) {
    std::string path = folder.Path(name);
    if (path == reporter.paths[0]) {
      std::string container = path.substr(0, path.size() - 4) + "_txt.vxl";
      EXPECT_EQ(ReadFile(container), ExpectedContainer("pw", ".txt", name));
      EXPECT_FALSE(FileExists(path));
      ++containers;
    } else {
      EXPECT_EQ(ReadFile(path), name);
    }
  }
  EXPECT_EQ(containers, 1u);
}

TEST_F(WalkerTest, QuietCases) {
  WriteFile(folder.Path("plain.txt"), "plain");
  WriteFile(folder.Path("c_txt.vxl"), ExpectedContainer("pw", ".txt", "c"));
  folder.MakeFolder("empty");
  PasswordKey key = DerivePasswordKey("pw");
  struct QuietCase {
    std::string path;
    int direction;
  };
  const QuietCase cases[] = {
      {folder.Path("plain.txt"), Decrypt},
      {folder.Path("c_txt.vxl"), Encrypt},
      {folder.Path("empty"), Encrypt},
      {folder.Path("empty"), Decrypt},
      {folder.Path("gone.txt"), Encrypt},  // vanished before the walk reached it
  };
  for (const QuietCase& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(WalkPath(c.path.c_str(), key, c.direction), 0);
  }
  EXPECT_TRUE(reporter.messages.empty());
  EXPECT_EQ(folder.List(), (std::vector<std::string>{"c_txt.vxl", "empty", "plain.txt"}));
  EXPECT_EQ(ReadFile(folder.Path("plain.txt")), "plain");
}

TEST_F(WalkerTest, TrailingSeparatorIsDoubled) {
  WriteFile(folder.Path("a.txt"), "a");
  std::string selected = folder.path() + PlatformFileSystem().Separator();
  EXPECT_EQ(WalkPath(selected.c_str(), DerivePasswordKey("pw"), Encrypt), 0);
  EXPECT_EQ(reporter.paths, std::vector<std::string>{selected + PlatformFileSystem().Separator() + "a.txt"});
  EXPECT_EQ(folder.List(), std::vector<std::string>{"a_txt.vxl"});
  EXPECT_EQ(ReadFile(folder.Path("a_txt.vxl")), ExpectedContainer("pw", ".txt", "a"));
}

// Listings in a fixed order, unlistable folders and paths longer than any real folder allows.
class WalkerMemoryTest : public ::testing::Test {
 protected:
  MemoryFileSystem files;
  RecordingReporter reporter;
};

TEST_F(WalkerMemoryTest, DepthFirstInListingOrder) {
  files.AddFolder("C:\\f");
  files.AddFile("C:\\f\\a.txt", "a");
  files.AddFolder("C:\\f\\sub");
  files.AddFile("C:\\f\\sub\\b.txt", "b");
  files.AddFile("C:\\f\\c.txt", "c");
  EXPECT_EQ(WalkPath("C:\\f", DerivePasswordKey("pw"), Encrypt), 0);
  EXPECT_EQ(reporter.paths, (std::vector<std::string>{"C:\\f\\a.txt", "C:\\f\\sub\\b.txt", "C:\\f\\c.txt"}));
  EXPECT_EQ(files.At("C:\\f\\sub\\b_txt.vxl").bytes, ExpectedContainer("pw", ".txt", "b"));
}

TEST_F(WalkerMemoryTest, FailureCounts) {
  std::string bad = ExpectedContainer("right", ".txt", "x");
  files.AddFolder("C:\\f");
  files.AddFolder("C:\\f\\one");
  for (const char* name : {"a", "b", "c"}) files.AddFile(std::string("C:\\f\\one\\") + name + "_txt.vxl", bad);
  files.AddFolder("C:\\f\\locked");
  files.faults["C:\\f\\locked"].listingFails = true;
  files.AddFolder("C:\\f\\two");
  for (const char* name : {"d", "e", "f"}) files.AddFile(std::string("C:\\f\\two\\") + name + "_txt.vxl", bad);
  files.AddFile("C:\\f\\last_txt.vxl", bad);

  // 3 + 1 (unlisted folder, no message) + 3: the limit is tested after each whole sub-walk.
  EXPECT_EQ(WalkPath("C:\\f", DerivePasswordKey("wrong"), Decrypt), 7);
  EXPECT_EQ(reporter.messages.size(), 6u);
  EXPECT_EQ(std::count(reporter.paths.begin(), reporter.paths.end(), "C:\\f\\last_txt.vxl"), 0);

  EXPECT_EQ(WalkPath("C:\\f\\locked", DerivePasswordKey("wrong"), Decrypt), 1);
  EXPECT_EQ(reporter.messages.size(), 6u);
}

TEST_F(WalkerMemoryTest, CancelInsideASubfolderEndsEveryLevel) {
  files.AddFolder("C:\\f");
  files.AddFolder("C:\\f\\sub");
  files.AddFile("C:\\f\\sub\\a.txt", "a");
  files.AddFile("C:\\f\\sub\\b.txt", "b");
  files.AddFile("C:\\f\\c.txt", "c");
  reporter.cancelAfterFiles = 1;
  EXPECT_EQ(WalkPath("C:\\f", DerivePasswordKey("pw"), Encrypt), WalkCancelled);
  EXPECT_EQ(reporter.paths, std::vector<std::string>{"C:\\f\\sub\\a.txt"});
  EXPECT_TRUE(files.Has("C:\\f\\sub\\a_txt.vxl"));
  EXPECT_TRUE(files.Has("C:\\f\\sub\\b.txt"));
  EXPECT_TRUE(files.Has("C:\\f\\c.txt"));
}

TEST_F(WalkerMemoryTest, OverlongPaths) {
  // 503 characters: refused by the container, shown and counted.
  std::string file503 = "C:\\" + std::string(496, 'n') + ".txt";
  ASSERT_EQ(file503.size(), 503u);
  files.AddFile(file503, "x");
  EXPECT_EQ(WalkPath(file503.c_str(), DerivePasswordKey("pw"), Encrypt), 1);
  EXPECT_EQ(reporter.messages, std::vector<std::string>{"Fail on the file " + file503 + ": internal error"});
  EXPECT_TRUE(files.Has(file503));

  // A child whose path, separator and NUL would pass the 496-byte buffer is counted as one
  // failure; its neighbours are still converted.
  reporter.messages.clear();
  std::string folder = "C:\\" + std::string(290, 'd');
  std::string fits = std::string(495 - folder.size() - 1, 'f');        // 495 characters in all
  std::string overlong = std::string(496 - folder.size() - 1, 'g');    // 496: no room for the NUL
  files.AddFolder(folder);
  files.AddFile(folder + "\\" + fits, "fits");
  files.AddFile(folder + "\\" + overlong, "too long");
  EXPECT_EQ(WalkPath(folder.c_str(), DerivePasswordKey("pw"), Encrypt), 1);
  EXPECT_EQ(reporter.messages,
            std::vector<std::string>{"Fail on the file " + folder + "\\" + overlong + ": internal error"});
  EXPECT_TRUE(files.Has(folder + "\\" + fits + ".vxl"));
  EXPECT_EQ(files.At(folder + "\\" + overlong).bytes, "too long");
}

}  // namespace
}  // namespace vexlor
