// Full paths of file objects on hooked drives, pipes, mailslots and network shares, the name
// cache behind them, the 1024-byte limit and the substitutes for what cannot be named. Every
// text is resolved into a buffer of exactly 1024 bytes (AddressSanitizer watches its end).
#include "driver_fixture.h"

namespace {

const ULONG C = 1u << 2;
const ULONG D = 1u << 3;
const ULONG Y = 1u << 24;
const ULONG Z = 1u << 25;

std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }

std::string Upper(std::string text) {
  for (char &ch : text) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  return text;
}

class PathResolutionTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    Load();
    c = SimAddLocalVolume('C', SimNtfs);
    SimAddDirectory(c, "\\docs");
    SimAddFile(c, "\\docs\\a.vxl", 40);
    SimAddFile(c, "\\docs\\a.txt", 41);
    SimAddFile(c, "\\a.txt", 42);
    SimAddFile(c, "\\$Stream12", 12);
    SimAddFile(c, "\\sequenced", 0x0001000000000005ull);  // sequence 1 of file number 5
    d = SimAddLocalVolume('D', SimFat);
    SimAddFile(d, "\\notes.txt", 43);
    SimAddFile(SimAddNetworkDriveWithoutSession('Y', "\\server\\other"), "\\dir\\f.txt", 44);
    SimVolume *z = SimAddNetworkDrive('Z', "\\server\\share");
    SimAddDirectory(z, "\\dir");
    SimAddFile(z, "\\dir\\f.txt", 45);
    unc = SimAddNetworkShare("\\server\\unc");
    SimAddFile(unc, "\\f.txt", 46);
    Open();
    ASSERT_EQ(SetDrives(C | D | Y | Z), C | D | Y | Z);
    ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, KindNamedPipe), STATUS_SUCCESS);
    ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, KindMailslot), STATUS_SUCCESS);
  }

  void TearDown() override {
    for (HANDLE handle : handles) EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(SimPoolBlocks(SimTagIrp), 0u) << "a query request was not freed";
    EXPECT_EQ(SimPoolBlocks(SimTagString), 0u) << "an ANSI text was not freed";
    EXPECT_EQ(SimPoolBlocks(PathTextTag), 0u) << "a path-text buffer was not given back";
    DriverTest::TearDown();
  }

  // A file object opened as a program opens it; its create left a path in the cache, which is
  // dropped so that the next resolution works it out afresh.
  PFILE_OBJECT Fresh(const std::u16string &name, HANDLE related = NULL) {
    HANDLE handle = NULL;
    EXPECT_EQ(SimUserCreate(name.c_str(), related, FILE_OPEN, 0, &handle), STATUS_SUCCESS) << Narrow(name);
    if (handle == NULL) return NULL;
    handles.push_back(handle);
    ForgetFileName(SimFileObjectOf(handle));
    return SimFileObjectOf(handle);
  }

  static std::string Narrow(const std::u16string &text) { return std::string(text.begin(), text.end()); }

  PDEVICE_OBJECT Network() { return DriveFilters['Z' - 'A']; }

  SimVolume *c = NULL;
  SimVolume *d = NULL;
  SimVolume *unc = NULL;
  std::vector<HANDLE> handles;
};

TEST_F(PathResolutionTest, FileSystemNamesAndOwnNamesBecomeUserPaths) {
  struct Case {
    const char16_t *open;
    char filter;  // drive letter, or 'P' pipe, 'M' mailslot
    const char *fromFileSystem;
    const char *fromOwnName;
  };
  const Case cases[] = {
      {u"\\??\\C:\\docs\\a.vxl", 'C', "C:\\docs\\a.vxl", "C:\\docs\\a.vxl"},
      {u"\\??\\C:\\DOCS\\A.VXL", 'C', "C:\\docs\\a.vxl", "C:\\DOCS\\A.VXL"},
      {u"\\??\\D:\\notes.txt", 'D', "D:\\notes.txt", "D:\\notes.txt"},
      {u"\\Device\\NamedPipe\\mypipe", 'P', "\\\\.\\Pipe\\mypipe", "\\\\.\\Pipe\\mypipe"},
      {u"\\Device\\MailSlot\\slot", 'M', "\\\\.\\MailSlot\\slot", "\\\\.\\MailSlot\\slot"},
      {u"\\??\\Z:\\dir\\f.txt", 'Z', "Z:\\dir\\f.txt", "Z:\\dir\\f.txt"},
      {u"\\??\\Y:\\dir\\f.txt", 'Y', "Y:\\dir\\f.txt", "Y:\\dir\\f.txt"},
      {u"\\Device\\LanmanRedirector\\server\\unc\\f.txt", 'Z', "\\\\server\\unc\\f.txt",
       "\\\\server\\unc\\f.txt"},
  };
  for (const Case &test : cases) {
    SCOPED_TRACE(Narrow(test.open));
    PDEVICE_OBJECT filter = test.filter == 'P'   ? PipeFilter
                            : test.filter == 'M' ? MailslotFilter
                                                 : DriveFilters[test.filter - 'A'];
    PFILE_OBJECT file = Fresh(test.open);
    ASSERT_NE(file, nullptr);
    PDEVICE_OBJECT below = ExtensionOf(filter)->LowerDevice;

    size_t asked = RequestsSeen(below, IRP_MJ_QUERY_INFORMATION, file);
    EXPECT_EQ(Resolve(FALSE, file, filter), test.fromFileSystem);
    EXPECT_EQ(RequestsSeen(below, IRP_MJ_QUERY_INFORMATION, file), asked + 1);
    EXPECT_EQ(CachedName(file), test.fromFileSystem);
    // Cached: the file system is not asked again, and the own-name road is not taken.
    EXPECT_EQ(Resolve(TRUE, file, filter), test.fromFileSystem);
    EXPECT_EQ(RequestsSeen(below, IRP_MJ_QUERY_INFORMATION, file), asked + 1);

    ForgetFileName(file);
    EXPECT_EQ(CachedName(file), "(none)");
    EXPECT_EQ(Resolve(TRUE, file, filter), test.fromOwnName);
    EXPECT_EQ(RequestsSeen(below, IRP_MJ_QUERY_INFORMATION, file), asked + 1) << "the own name asks nobody";
  }
}

// The create request of a relative open resolves from the related directory's name.
TEST_F(PathResolutionTest, RelativeCreatesJoinTheRelatedName) {
  struct Case {
    const char16_t *directory;
    const char *expected;
  };
  const Case cases[] = {{u"\\??\\C:\\", "C:\\a.txt"}, {u"\\??\\C:\\docs", "C:\\docs\\a.txt"}};
  for (const Case &test : cases) {
    SCOPED_TRACE(test.expected);
    HANDLE directory = NULL;
    ASSERT_EQ(SimUserCreate(test.directory, NULL, FILE_OPEN, FILE_DIRECTORY_FILE, &directory), STATUS_SUCCESS);
    handles.push_back(directory);
    HANDLE file = NULL;
    ASSERT_EQ(SimUserCreate(u"a.txt", directory, FILE_OPEN, 0, &file), STATUS_SUCCESS);
    handles.push_back(file);
    EXPECT_EQ(CachedName(SimFileObjectOf(file)), test.expected);
  }
}

TEST_F(PathResolutionTest, UnnamedNtfsObjectsAreNamedByFileNumber) {
  struct Case {
    SimVolume *SimVolumeFor;
    char letter;
    ULONGLONG number;
    const char *expected;
  };
  const Case cases[] = {
      {c, 'C', 5, "C:\\$Root"},
      {c, 'C', 0x0001000000000005ull, "C:\\$Root"},
      {c, 'C', 12, "C:\\$Stream12"},  // not a metadata file: the file system names it
      {d, 'D', 5, "D:\\"},            // not NTFS
  };
  for (const Case &test : cases) {
    SCOPED_TRACE(test.expected);
    PDEVICE_OBJECT filter = DriveFilters[test.letter - 'A'];
    PFILE_OBJECT stream = SimCreateStreamFile(test.SimVolumeFor, test.number);
    EXPECT_EQ(Resolve(FALSE, stream, filter), test.expected);
    EXPECT_EQ(CachedName(stream), test.expected);
    ObDereferenceObject(stream);
  }
  // Without asking, an unnamed NTFS object is the volume itself, and that is not kept.
  PFILE_OBJECT stream = SimCreateStreamFile(c, 5);
  EXPECT_EQ(Resolve(TRUE, stream, DriveFilters[2]), "C:");
  EXPECT_EQ(CachedName(stream), "(none)");
  ObDereferenceObject(stream);
}

// The file system's answer fits the query buffer up to 1021 characters with the prefix; the
// own name up to 1023; every text stays within 1024 bytes with its terminator, also when the
// network rewrite adds a backslash. A name opened in upper case shows which road was taken.
TEST_F(PathResolutionTest, TextsStayWithinTheBufferAtTheLimits) {
  struct Case {
    bool network;
    size_t total;  // characters the full path needs
    const char *road;  // "fs", "own" or "too long"
  };
  const Case cases[] = {
      {false, 1021, "fs"},  {false, 1022, "own"}, {false, 1023, "own"}, {false, 1024, "too long"},
      {true, 1021, "fs"},   {true, 1022, "fs"},   {true, 1023, "own"},  {true, 1024, "too long"},
      {true, 1025, "too long"},
  };
  for (const Case &test : cases) {
    SCOPED_TRACE((test.network ? "network " : "C: ") + std::to_string(test.total));
    // C: paths are "C:" + name; UNC paths are "\" + "\server\unc\" + rest.
    std::string fixed = test.network ? "\\server\\unc\\" : "\\";
    size_t nameLength = test.network ? test.total - 1 : test.total - 2;
    std::string name = fixed + std::string(nameLength - fixed.size(), 'l');
    std::string rest = test.network ? name.substr(std::string("\\server\\unc").size()) : name;
    SimAddFile(test.network ? unc : c, rest.c_str(), 500 + test.total);
    std::u16string open = test.network ? u"\\Device\\LanmanRedirector" + Wide(Upper(name)) : u"\\??\\C:" + Wide(Upper(name));
    PFILE_OBJECT file = Fresh(open);
    ASSERT_NE(file, nullptr);
    PDEVICE_OBJECT filter = test.network ? Network() : DriveFilters[2];
    std::string head = test.network ? "\\" : "C:";

    std::string expected;
    if (std::string(test.road) == "fs") {
      expected = head + name;  // as the file system stores it
    } else if (std::string(test.road) == "own") {
      expected = head + Upper(name);
    } else {
      expected = test.network ? "\\ <Name Too Long>" : "C: <Name Too Long>";
    }
    std::string text = Resolve(FALSE, file, filter);
    EXPECT_EQ(text, expected);
    EXPECT_LE(text.size(), 1023u);
    EXPECT_EQ(CachedName(file), expected);
  }
}

TEST_F(PathResolutionTest, AnInactiveFilterResolvesNothing) {
  PFILE_OBJECT file = Fresh(u"\\??\\C:\\docs\\a.vxl");
  ASSERT_EQ(SetDrives(0), 0u);
  size_t asked = RequestsSeen(SimVolumeDevice(c), IRP_MJ_QUERY_INFORMATION);
  EXPECT_EQ(Resolve(FALSE, file, DriveFilters[2]), "");
  EXPECT_EQ(Resolve(TRUE, file, DriveFilters[2]), "");
  EXPECT_EQ(CachedName(file), "(none)");
  EXPECT_EQ(RequestsSeen(SimVolumeDevice(c), IRP_MJ_QUERY_INFORMATION), asked);
  EXPECT_EQ(Resolve(FALSE, NULL, PipeFilter), "\\\\.\\Pipe") << "no file object: the prefix alone";
}

TEST_F(PathResolutionTest, AllocationFailuresGiveSubstitutesOrUncachedTexts) {
  struct Case {
    const char *what;
    ULONG tag;
    ULONG occurrence;
    BOOLEAN useOwnName;
    char filter;
    const char *expected;
    bool cached;
  };
  const Case cases[] = {
      {"query buffer", DriverPoolTag, 1, FALSE, 'C', "C:\\DOCS\\A.VXL", true},
      {"query request", SimTagIrp, 1, FALSE, 'C', "C:\\DOCS\\A.VXL", true},
      {"cache entry", DriverPoolTag, 2, FALSE, 'C', "C:\\docs\\a.vxl", false},
      {"answer in ANSI", SimTagString, 1, FALSE, 'C', "C:\\DOCS\\A.VXL", true},
      {"own name in ANSI", SimTagString, 1, TRUE, 'C', "C: <Out of Memory>", false},
      {"pipe name in ANSI", SimTagString, 1, TRUE, 'P', "\\\\.\\Pipe: <Out of Memory>", false},
      {"mailslot name in ANSI", SimTagString, 1, TRUE, 'M', "\\\\.\\MailSlot: <Out of Memory>", false},
  };
  for (const Case &test : cases) {
    SCOPED_TRACE(test.what);
    PDEVICE_OBJECT filter = test.filter == 'P'   ? PipeFilter
                            : test.filter == 'M' ? MailslotFilter
                                                 : DriveFilters[test.filter - 'A'];
    PFILE_OBJECT file = Fresh(test.filter == 'P'   ? u"\\Device\\NamedPipe\\p"
                              : test.filter == 'M' ? u"\\Device\\MailSlot\\m"
                                                   : u"\\??\\C:\\DOCS\\A.VXL");
    SimFailAllocation(test.tag, test.occurrence);
    std::string text = Resolve(test.useOwnName, file, filter);
    EXPECT_TRUE(SimFaultPlan().poolFaultHit);
    SimFaultPlan() = SimFaults();
    EXPECT_EQ(text, test.expected);
    EXPECT_EQ(CachedName(file), test.cached ? test.expected : "(none)");
  }

  // A relative open whose directory name cannot be converted.
  HANDLE directory = NULL;
  ASSERT_EQ(SimUserCreate(u"\\??\\C:\\docs", NULL, FILE_OPEN, FILE_DIRECTORY_FILE, &directory), STATUS_SUCCESS);
  handles.push_back(directory);
  PFILE_OBJECT relative = Fresh(u"a.txt", directory);
  SimFailAllocation(SimTagString, 2);
  EXPECT_EQ(Resolve(TRUE, relative, DriveFilters[2]), "C: <Out of Memory>");
  EXPECT_TRUE(SimFaultPlan().poolFaultHit);
}

TEST_F(PathResolutionTest, ClearingTheCacheFreesEveryEntry) {
  ClearNameCache();
  size_t base = SimPoolBlocks(DriverPoolTag);
  for (const char16_t *name : {u"\\??\\C:\\docs\\a.vxl", u"\\??\\C:\\docs\\a.txt", u"\\??\\D:\\notes.txt"}) {
    Resolve(FALSE, Fresh(name), DriveFilters[name[4] - u'A']);
  }
  EXPECT_EQ(SimPoolBlocks(DriverPoolTag), base + 3);
  ClearNameCache();
  for (ULONG bucket = 0; bucket < NameCacheBucketCount; bucket++) EXPECT_EQ(NameCache[bucket], nullptr);
  EXPECT_EQ(SimPoolBlocks(DriverPoolTag), base);
  EXPECT_FALSE(SimResourceHeld(&NameCacheLock));
  EXPECT_EQ(SimCriticalRegionDepth(), 0);
}

}  // namespace
