// The platform's own file-system seam, on the real file system: Win32 semantics when built for
// Windows (run under Wine), POSIX natively.
#include "file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "container.h"
#include "test_support.h"
#include "walker.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vexlor {
namespace {

class PlatformFileSystemTest : public ::testing::Test {
 protected:
  FileSystem& files = PlatformFileSystem();
  TempFolder folder;
};

TEST_F(PlatformFileSystemTest, SeparatorAndPaths) {
#ifdef _WIN32
  EXPECT_EQ(files.Separator(), '\\');
  EXPECT_NE(folder.path().find('\\'), std::string::npos) << folder.path();
  EXPECT_EQ(folder.path().find('/'), std::string::npos) << folder.path();
#else
  EXPECT_EQ(files.Separator(), '/');
#endif
}

TEST_F(PlatformFileSystemTest, StreamsReadWriteAndSeek) {
  std::string path = folder.Path("s.bin");
  std::unique_ptr<ByteStream> out = files.CreateWrite(path.c_str());
  ASSERT_TRUE(out);
  const uint8_t bytes[] = {'a', 'b', '\r', '\n', 0x1A, 0, 'z'};  // no text-mode translation
  EXPECT_EQ(out->Write(bytes, sizeof bytes), sizeof bytes);
  out.reset();
  EXPECT_EQ(ReadFile(path), std::string(reinterpret_cast<const char*>(bytes), sizeof bytes));

  std::unique_ptr<ByteStream> in = files.OpenRead(path.c_str());
  ASSERT_TRUE(in);
  uint8_t buffer[16] = {};
  ASSERT_TRUE(in->Seek(2));
  EXPECT_EQ(in->Read(buffer, sizeof buffer), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), std::string("\r\n\x1a\0z", 5));
  EXPECT_EQ(in->Read(buffer, sizeof buffer), 0u);
  EXPECT_FALSE(in->ReadFailed());  // the end of the file is no failure
  in.reset();

  uint64_t size = 0;
  EXPECT_TRUE(files.ReadSize(path.c_str(), &size));
  EXPECT_EQ(size, sizeof bytes);

  // Creating replaces the old contents.
  out = files.CreateWrite(path.c_str());
  ASSERT_TRUE(out);
  out.reset();
  EXPECT_EQ(ReadFile(path), "");

  EXPECT_FALSE(files.OpenRead(folder.Path("missing").c_str()));
  EXPECT_FALSE(files.CreateWrite(folder.Path("no_such_folder/x").c_str()));
  EXPECT_FALSE(files.ReadSize(folder.path().c_str(), &size));
}

TEST_F(PlatformFileSystemTest, AttributesAndRemoval) {
  std::string path = folder.Path("a.txt");
  WriteFile(path, "a");
  uint32_t attributes = 0;
  ASSERT_TRUE(files.ReadAttributes(path.c_str(), &attributes));
  EXPECT_EQ(attributes & (kAttributeDirectory | kAttributeReadOnly), 0u) << std::hex << attributes;
  ASSERT_TRUE(files.ReadAttributes(folder.path().c_str(), &attributes));
  EXPECT_NE(attributes & kAttributeDirectory, 0u) << std::hex << attributes;
  EXPECT_FALSE(files.ReadAttributes(folder.Path("missing").c_str(), &attributes));

  ASSERT_TRUE(files.WriteAttributes(path.c_str(), kAttributeReadOnly));
  EXPECT_TRUE(IsReadOnly(path));
  ASSERT_TRUE(files.ReadAttributes(path.c_str(), &attributes));
  EXPECT_NE(attributes & kAttributeReadOnly, 0u) << std::hex << attributes;
  ASSERT_TRUE(files.WriteAttributes(path.c_str(), 0x20));
  EXPECT_FALSE(IsReadOnly(path));

  EXPECT_TRUE(files.RemoveFile(path.c_str()));
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(files.RemoveFile(path.c_str()));
}

TEST_F(PlatformFileSystemTest, ListingShowsEveryEntry) {
  WriteFile(folder.Path("one"), "");
  WriteFile(folder.Path(".dot"), "");
  folder.MakeFolder("sub");
  std::unique_ptr<DirectoryListing> listing = files.OpenListing(folder.path().c_str());
  ASSERT_TRUE(listing);
  std::vector<std::string> names;
  char name[kEntryNameSize];
  while (listing->Next(name, sizeof name)) names.push_back(name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".dot", "one", "sub"}));

  EXPECT_FALSE(files.OpenListing(folder.Path("missing").c_str()));
}

#ifdef _WIN32
// Windows attribute bits beyond read-only travel from the file to its replacement, and the
// listing reaches hidden and system files.
TEST_F(PlatformFileSystemTest, HiddenSystemAndArchiveBitsTravel) {
  std::string path = folder.Path("secret.doc");
  WriteFile(path, "hidden");
  const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_READONLY;
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes));
  PasswordKey key = DerivePasswordKey("pw");

  ASSERT_EQ(WalkPath(folder.path().c_str(), key, Encrypt), 0);
  std::string container = folder.Path("secret_doc.vxl");
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(container.c_str()), attributes) << std::hex << GetFileAttributesA(container.c_str());

  ASSERT_EQ(WalkPath(folder.path().c_str(), key, Decrypt), 0);
  EXPECT_EQ(GetFileAttributesA(container.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), attributes) << std::hex << GetFileAttributesA(path.c_str());
  EXPECT_EQ(ReadFile(path), "hidden");
}

// Creating replaces a hidden or system file of the same name too (Windows refuses a plain
// CREATE_ALWAYS over them; Wine does not check).
TEST_F(PlatformFileSystemTest, CreateReplacesHiddenAndSystemFiles) {
  const DWORD cases[] = {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE};
  for (DWORD attributes : cases) {
    std::string path = folder.Path("old.vxl");
    WriteFile(path, "older and longer");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes));
    std::unique_ptr<ByteStream> out = files.CreateWrite(path.c_str());
    ASSERT_TRUE(out) << "attributes 0x" << std::hex << attributes << ", error " << std::dec << GetLastError();
    const uint8_t bytes[] = {'n', 'e', 'w'};
    EXPECT_EQ(out->Write(bytes, sizeof bytes), sizeof bytes);
    out.reset();
    EXPECT_EQ(ReadFile(path), "new");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}
#else
// Only regular files are converted: a named pipe in a selected folder is passed over instead of
// holding the walk until something writes to it.
TEST_F(PlatformFileSystemTest, NamedPipesAreNotOpened) {
  std::string pipe = folder.Path("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  // A writer is present, so even a blocking open returns at once instead of hanging the test.
  int writer = open(pipe.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_FALSE(files.OpenRead(pipe.c_str())) << "a pipe was opened";
  close(writer);

  WriteFile(folder.Path("a.txt"), "a");
  EXPECT_EQ(WalkPath(folder.path().c_str(), DerivePasswordKey("pw"), Encrypt), 0);
  EXPECT_EQ(folder.List(), (std::vector<std::string>{"a_txt.vxl", "pipe"}));
}

// A walk stays inside the selected folder: symbolic links in it, to a folder or to a file
// elsewhere, are left as they are, and so is what they point to.
TEST_F(PlatformFileSystemTest, SymbolicLinksAreNotFollowed) {
  TempFolder elsewhere;
  elsewhere.MakeFolder("docs");
  WriteFile(elsewhere.Path("docs/outside.txt"), "outside");
  WriteFile(elsewhere.Path("single.txt"), "single");
  ASSERT_EQ(symlink(elsewhere.Path("docs").c_str(), folder.Path("folder_link").c_str()), 0);
  ASSERT_EQ(symlink(elsewhere.Path("single.txt").c_str(), folder.Path("file_link").c_str()), 0);
  ASSERT_EQ(symlink(folder.path().c_str(), folder.Path("loop").c_str()), 0);
  WriteFile(folder.Path("inside.txt"), "inside");

  EXPECT_EQ(WalkPath(folder.path().c_str(), DerivePasswordKey("pw"), Encrypt), 0);
  EXPECT_EQ(folder.List(), (std::vector<std::string>{"file_link", "folder_link", "inside_txt.vxl", "loop"}));
  EXPECT_EQ(elsewhere.List("docs"), std::vector<std::string>{"outside.txt"});
  EXPECT_EQ(ReadFile(elsewhere.Path("docs/outside.txt")), "outside");
  EXPECT_EQ(ReadFile(elsewhere.Path("single.txt")), "single");
}

TEST_F(PlatformFileSystemTest, ReadOnlyIsTheOwnersWritePermission) {
  std::string path = folder.Path("a.txt");
  WriteFile(path, "a");
  SetReadOnly(path, true);
  uint32_t attributes = 0;
  ASSERT_TRUE(files.ReadAttributes(path.c_str(), &attributes));
  EXPECT_EQ(attributes, kAttributeReadOnly);
  // Bits without a POSIX meaning are ignored; only read-only changes the permissions.
  ASSERT_TRUE(files.WriteAttributes(path.c_str(), 0x26));
  ASSERT_TRUE(files.ReadAttributes(path.c_str(), &attributes));
  EXPECT_EQ(attributes, 0u);
}
#endif

}  // namespace
}  // namespace vexlor
