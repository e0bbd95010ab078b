#include "container.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec.h"
#include "settings_record.h"
#include "test_support.h"

namespace vexlor {
namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
  return bytes;
}

class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override { g_settings.needCompression = 0; }
  void TearDown() override { g_settings.needCompression = 0; }

  // Calls ProcessFile the way the walk does: attributes read just before, keystream seeded.
  FileResult Process(const std::string& path, int direction, const std::string& password) {
    uint32_t attributes = 0;
    CurrentFileSystem().ReadAttributes(path.c_str(), &attributes);
    g_keystream.Seed(static_cast<uint64_t>(DerivePasswordKey(password.c_str())));
    return ProcessFile(path.c_str(), direction, attributes);
  }

  TempFolder folder;
  RecordingReporter reporter;
};

struct LayoutCase {
  const char* name;
  std::string content;
  const char* password;
  const char* containerName;
  const char* extension;
};

const LayoutCase kLayoutCases[] = {
    {"report.txt", "hello\n", "secret", "report_txt.vxl", ".txt"},
    {"README", "x", "", "README.vxl", ""},                       // header of 21 bytes
    {"x.tar.gz", Pattern(300), "\x80", "x.tar_gz.vxl", ".gz"},  // negative key
    {"empty.dat", "", "A", "empty_dat.vxl", ".dat"},             // just the header
    {"big.bin", Pattern(250000), "zzz", "big_bin.vxl", ".bin"},  // several transfer chunks
    {"zero.key", "plain bytes", "@@@@@@@@@@@", "zero_key.vxl", ".key"},
};

TEST_F(ContainerTest, EncryptWritesTheLayout) {
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    TempFolder here;
    WriteFile(here.Path(c.name), c.content);
    reporter.bytesDone = 0;
    ASSERT_EQ(Process(here.Path(c.name), Encrypt, c.password), FileDone);
    EXPECT_EQ(here.List(), std::vector<std::string>{c.containerName});
    std::string container = ReadFile(here.Path(c.containerName));
    EXPECT_EQ(container, ExpectedContainer(c.password, c.extension, c.content));
    EXPECT_EQ(container.size(), 21 + strlen(c.extension) + c.content.size());
    EXPECT_EQ(reporter.bytesDone, c.content.size());
    EXPECT_EQ(reporter.paths.back(), here.Path(c.name));
  }
}

TEST_F(ContainerTest, EncryptMatchesAKnownContainer) {
  WriteFile(folder.Path("a.txt"), "hello\n");
  ASSERT_EQ(Process(folder.Path("a.txt"), Encrypt, "secret"), FileDone);
  const uint8_t expected[] = {0x56, 0x65, 0x78, 0x6c, 0x6f, 0x72, 0x8a, 0xc6, 0xd5, 0x9f, 0xa4,
                              0xf4, 0xcb, 0xd7, 0xde, 0xcf, 0x9d, 0x69, 0x81, 0x8f, 0xd2, 0xe3,
                              0xde, 0x7e, 0x99, 0xe4, 0xd7, 0xc3, 0xc9, 0xc3, 0x65};
  EXPECT_EQ(ReadFile(folder.Path("a_txt.vxl")),
            std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST_F(ContainerTest, KeyZeroLeavesThePayloadPlain) {
  WriteFile(folder.Path("z.txt"), "unchanged");
  ASSERT_EQ(Process(folder.Path("z.txt"), Encrypt, "@@@@@@@@@@@"), FileDone);
  std::string container = ReadFile(folder.Path("z_txt.vxl"));
  EXPECT_EQ(container, "Vexlor of Norvak0\r\n.txt\r\nunchanged");
}

TEST_F(ContainerTest, DecryptRestoresBothLayouts) {
  for (bool earlier : {false, true}) {
    for (const LayoutCase& c : kLayoutCases) {
      SCOPED_TRACE(std::string(c.name) + (earlier ? " (earlier layout)" : ""));
      TempFolder here;
      std::string container = ExpectedContainer(c.password, c.extension, c.content, earlier);
      WriteFile(here.Path(c.containerName), container);
      reporter.bytesDone = 0;
      ASSERT_EQ(Process(here.Path(c.containerName), Decrypt, c.password), FileDone);
      EXPECT_EQ(here.List(), std::vector<std::string>{c.name});
      EXPECT_EQ(ReadFile(here.Path(c.name)), c.content);
      EXPECT_EQ(reporter.bytesDone, container.size());
    }
  }
}

TEST_F(ContainerTest, LeavesFilesOfTheOtherKindAlone) {
  struct SkipCase {
    const char* name;
    int direction;
  };
  const SkipCase cases[] = {
      {"a.vxl", Encrypt}, {"a.txt", Decrypt}, {"a.VXL", Decrypt}, {"a.vxl.txt", Decrypt},
      {"a.vxl", 7},  // any non-zero direction encrypts
  };
  for (const SkipCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder here;
    WriteFile(here.Path(c.name), "data");
    EXPECT_EQ(Process(here.Path(c.name), c.direction, "secret"), FileDone);
    EXPECT_EQ(here.List(), std::vector<std::string>{c.name});
    EXPECT_EQ(ReadFile(here.Path(c.name)), "data");
  }
}

TEST_F(ContainerTest, PathLengthLimit) {
  // Neither file exists: the length is judged before anything is opened.
  std::string path502 = folder.Path(std::string(502 - folder.path().size() - 1, 'p'));
  std::string path503 = path502 + "p";
  EXPECT_EQ(Process(path503, Encrypt, ""), FileNameTooLong);
  EXPECT_EQ(Process(path503.substr(0, 499) + ".vxl", Decrypt, ""), FileNameTooLong);
  EXPECT_EQ(Process(path502, Encrypt, ""), FileOpenFailed);
  EXPECT_EQ(Process(path502.substr(0, 498) + ".vxl", Decrypt, ""), FileOpenFailed);
  EXPECT_EQ(reporter.paths.front(), path503);  // the progress text shows even refused paths
  EXPECT_TRUE(folder.List().empty());
}

TEST_F(ContainerTest, RefusedContainersCreateNothing) {
  std::string good = ExpectedContainer("secret", ".txt", "payload");
  struct RefusedCase {
    const char* what;
    std::string bytes;
    const char* password;
    FileResult result;
  };
  const RefusedCase cases[] = {
      {"wrong password", good, "Secret", FileBadPassword},
      {"not a container", Pattern(64), "secret", FileBadPassword},
      {"empty", "", "secret", FileIoError},
      {"10 bytes", good.substr(0, 10), "secret", FileIoError},
      {"19 bytes", good.substr(0, 19), "secret", FileIoError},
      {"extension without its end", good.substr(0, 21), "secret", FileBadPassword},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder here;
    WriteFile(here.Path("doc_txt.vxl"), c.bytes);
    EXPECT_EQ(Process(here.Path("doc_txt.vxl"), Decrypt, c.password), c.result);
    EXPECT_EQ(here.List(), std::vector<std::string>{"doc_txt.vxl"});
    EXPECT_EQ(ReadFile(here.Path("doc_txt.vxl")), c.bytes);
  }
}

TEST_F(ContainerTest, ReadOnlySourceIsConverted) {
  WriteFile(folder.Path("locked.txt"), "read only");
  SetReadOnly(folder.Path("locked.txt"), true);
  ASSERT_EQ(Process(folder.Path("locked.txt"), Encrypt, "pw"), FileDone);
  EXPECT_EQ(folder.List(), std::vector<std::string>{"locked_txt.vxl"});
  EXPECT_TRUE(IsReadOnly(folder.Path("locked_txt.vxl")));

  ASSERT_EQ(Process(folder.Path("locked_txt.vxl"), Decrypt, "pw"), FileDone);
  EXPECT_EQ(folder.List(), std::vector<std::string>{"locked.txt"});
  EXPECT_TRUE(IsReadOnly(folder.Path("locked.txt")));
  EXPECT_EQ(ReadFile(folder.Path("locked.txt")), "read only");
}

TEST_F(ContainerTest, ReplacesAnExistingTarget) {
  WriteFile(folder.Path("a.txt"), "new");
  WriteFile(folder.Path("a_txt.vxl"), "an older container, longer than the new one");
  ASSERT_EQ(Process(folder.Path("a.txt"), Encrypt, "pw"), FileDone);
  EXPECT_EQ(ReadFile(folder.Path("a_txt.vxl")), ExpectedContainer("pw", ".txt", "new"));

  WriteFile(folder.Path("a.txt"), "an older plain file, longer than the new one");
  ASSERT_EQ(Process(folder.Path("a_txt.vxl"), Decrypt, "pw"), FileDone);
  EXPECT_EQ(folder.List(), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(ReadFile(folder.Path("a.txt")), "new");
}

TEST_F(ContainerTest, ExtensionsOf100CharactersAreRefused) {
  // The end of the stored extension is looked for among 100 bytes, dot included.
  std::string longest = "a." + std::string(98, 'e');
  WriteFile(folder.Path(longest), "fits");
  ASSERT_EQ(Process(folder.Path(longest), Encrypt, "pw"), FileDone);
  std::string container = "a_" + std::string(98, 'e') + ".vxl";
  ASSERT_EQ(Process(folder.Path(container), Decrypt, "pw"), FileDone);
  EXPECT_EQ(ReadFile(folder.Path(longest)), "fits");

  std::string tooLong = "b." + std::string(99, 'e');
  WriteFile(folder.Path(tooLong), "would be lost");
  EXPECT_EQ(Process(folder.Path(tooLong), Encrypt, "pw"), FileNameTooLong);
  EXPECT_EQ(folder.List(), (std::vector<std::string>{longest, tooLong}));
  EXPECT_EQ(ReadFile(folder.Path(tooLong)), "would be lost");
}

TEST_F(ContainerTest, RenamedContainers) {
  // Only the extension's length is stored: the dot goes back that many characters, but never
  // outside the container's own name.
  struct RenameCase {
    const char* name;
    FileResult result;
    std::vector<std::string> top;  // what the folder holds afterwards
    std::vector<std::string> sub;
  };
  const RenameCase cases[] = {
      {"notes.vxl", FileDone, {"n.tes", "sub_dir"}, {}},
      {"_abc.vxl", FileDone, {".abc", "sub_dir"}, {}},
      {"abc.vxl", FileNameTooLong, {"abc.vxl", "sub_dir"}, {}},
      // The dot would land in the folder's name and the file in another folder.
      {"sub_dir/ab.vxl", FileNameTooLong, {"sub_dir"}, {"ab.vxl"}},
  };
  const std::string container = ExpectedContainer("pw", ".txt", "renamed");
  for (const RenameCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder here;
    here.MakeFolder("sub_dir");
    WriteFile(here.Path(c.name), container);
    EXPECT_EQ(Process(here.Path(c.name), Decrypt, "pw"), c.result);
    EXPECT_EQ(here.List(), c.top);
    EXPECT_EQ(here.List("sub_dir"), c.sub);
    if (c.result == FileDone) {
      EXPECT_EQ(ReadFile(here.Path(c.top[0])), "renamed");
    } else {
      EXPECT_EQ(ReadFile(here.Path(c.name)), container);
    }
  }
}

// Faults the real file system cannot be made to show on demand.
class ContainerFaultTest : public ::testing::Test {
 protected:
  void TearDown() override { g_settings.needCompression = 0; }
  MemoryFileSystem files;
  RecordingReporter reporter;
};

TEST_F(ContainerFaultTest, FailuresKeepTheSourceAndRemoveThePartialTarget) {
  const std::string plain = Pattern(150000);
  const std::string container = ExpectedContainer("pw", ".bin", plain);
  struct FaultCase {
    const char* what;
    int direction;
    bool onTarget;
    MemoryFileSystem::Faults faults;
  };
  MemoryFileSystem::Faults shortHeader, shortPayload, readError, earlyReadError, headerReadError,
      failedClose;
  shortHeader.writeLimit = 10;
  shortPayload.writeLimit = 100025;
  readError.readFailsAt = 120000;
  earlyReadError.readFailsAt = 21;  // inside the first read after the fixed header
  headerReadError.readFailsAt = 12;
  failedClose.closeFails = true;
  const FaultCase cases[] = {
      {"encrypt: short header write", Encrypt, true, shortHeader},
      {"encrypt: short payload write", Encrypt, true, shortPayload},
      {"encrypt: read error in the payload", Encrypt, false, readError},
      {"decrypt: short payload write", Decrypt, true, shortPayload},
      {"decrypt: read error in the payload", Decrypt, false, readError},
      {"decrypt: read error after the fixed header", Decrypt, false, earlyReadError},
      {"decrypt: read error in the fixed header", Decrypt, false, headerReadError},
      {"encrypt: the target's close reports lost data", Encrypt, true, failedClose},
      {"decrypt: the target's close reports lost data", Decrypt, true, failedClose},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    files.faults.clear();
    for (const std::string& path : files.Paths()) files.RemoveFile(path.c_str());
    std::string source = c.direction == Encrypt ? "C:\\d\\f.bin" : "C:\\d\\f_bin.vxl";
    std::string target = c.direction == Encrypt ? "C:\\d\\f_bin.vxl" : "C:\\d\\f.bin";
    const std::string& bytes = c.direction == Encrypt ? plain : container;
    files.AddFile(source, bytes, 0x20);
    files.faults[c.onTarget ? target : source] = c.faults;

    g_keystream.Seed(static_cast<uint64_t>(DerivePasswordKey("pw")));
    EXPECT_EQ(ProcessFile(source.c_str(), c.direction, 0x20), FileIoError);
    EXPECT_EQ(files.Paths(), std::vector<std::string>{source});
    EXPECT_EQ(files.At(source).bytes, bytes);
  }
}

TEST_F(ContainerFaultTest, AttributesPassToTheTarget) {
  // Read-only, hidden, system and archive; the source must lose read-only before it can go.
  const uint32_t attributes = 0x27;
  files.AddFile("C:\\d\\f.txt", "text", attributes);
  g_keystream.Seed(static_cast<uint64_t>(DerivePasswordKey("pw")));
  ASSERT_EQ(ProcessFile("C:\\d\\f.txt", Encrypt, attributes), FileDone);
  EXPECT_EQ(files.Paths(), std::vector<std::string>{"C:\\d\\f_txt.vxl"});
  EXPECT_EQ(files.At("C:\\d\\f_txt.vxl").attributes, attributes);

  g_keystream.Seed(static_cast<uint64_t>(DerivePasswordKey("pw")));
  ASSERT_EQ(ProcessFile("C:\\d\\f_txt.vxl", Decrypt, attributes), FileDone);
  EXPECT_EQ(files.Paths(), std::vector<std::string>{"C:\\d\\f.txt"});
  EXPECT_EQ(files.At("C:\\d\\f.txt").attributes, attributes);
  EXPECT_EQ(files.At("C:\\d\\f.txt").bytes, "text");
}

TEST_F(ContainerFaultTest, ExtensionStopsAtEitherSeparator) {
  struct NameCase {
    const char* path;
    const char* container;
  };
  const NameCase cases[] = {
      {"C:\\my.dir\\README", "C:\\my.dir\\README.vxl"},
      {"C:\\my.dir/README", "C:\\my.dir/README.vxl"},
      {"C:\\docs\\archive.tar.gz", "C:\\docs\\archive.tar_gz.vxl"},
      {"C:\\docs\\.profile", "C:\\docs\\_profile.vxl"},
      {".profile", ".profile.vxl"},  // the first character is never an extension's dot
      {"a.", "a_.vxl"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.path);
    files.AddFile(c.path, "x");
    g_keystream.Seed(0);
    ASSERT_EQ(ProcessFile(c.path, Encrypt, 0x20), FileDone);
    EXPECT_TRUE(files.Has(c.container));
    g_keystream.Seed(0);
    ASSERT_EQ(ProcessFile(c.container, Decrypt, 0x20), FileDone);
    EXPECT_EQ(files.Paths(), std::vector<std::string>{c.path});
    files.RemoveFile(c.path);
  }
}

}  // namespace
}  // namespace vexlor
