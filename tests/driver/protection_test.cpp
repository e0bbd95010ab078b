// The protection rule seen the way programs see it: opens, renames, deletes and closes on a
// hooked NTFS drive, with the starter switching protection through the control device.
#include "driver_fixture.h"

namespace {

const ULONG C = 1u << 2;

struct Target {
  const char *path;  // from the volume's root
  bool directory;
  bool guarded;  // the rule applies to it
};

const Target Targets[] = {
    {"\\docs\\report.vxl", false, true},
    {"\\upper\\REPORT.VXL", false, true},
    {"\\mixed\\report.VxL", false, true},
    {"\\docs\\.vxl", false, true},
    {"\\archive.vxl", true, true},
    {"\\docs\\report.vxl.txt", false, false},
    {"\\docs\\reportvxl", false, false},
    {"\\docs\\a.txt", false, false},
};

std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }

std::u16string OnC(const char *path) { return u"\\??\\C:" + Wide(path); }

class ProtectionTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    Load();
    c = SimAddLocalVolume('C', SimNtfs);
    for (const char *folder : {"\\docs", "\\upper", "\\mixed"}) SimAddDirectory(c, folder);
    ULONGLONG number = 40;
    for (const Target &target : Targets) {
      if (target.directory) {
        SimAddDirectory(c, target.path);
      } else {
        SimAddFile(c, target.path, number++);
      }
    }
    Open();
    ASSERT_EQ(SetDrives(C), C);
  }

  HANDLE OpenOnC(const char *path, bool directory = false, ULONG options = 0) {
    HANDLE handle = NULL;
    ULONG kind = directory ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE;
    EXPECT_EQ(SimUserCreate(OnC(path).c_str(), NULL, FILE_OPEN, kind | options, &handle), STATUS_SUCCESS) << path;
    return handle;
  }

  NTSTATUS Switch(ULONG code) {
    ULONG_PTR returned = 0;
    return Ioctl(code, NULL, 0, NULL, 0, &returned);
  }

  PDEVICE_OBJECT Volume() { return SimVolumeDevice(c); }

  SimVolume *c = NULL;
};

// Every way of deleting or renaming each target, while protection is on, after it is switched
// off, and after it is switched on again. A refused request never reaches the file system and
// leaves the file where it was.
TEST_F(ProtectionTest, RenameAndDeleteFollowTheSwitch) {
  struct Phase {
    ULONG code;
    bool protecting;
  };
  const Phase phases[] = {{0, true}, {IOCTL_ALLOW_ACCESS, false}, {IOCTL_RESTRICT_ACCESS, true}};
  for (const Phase &phase : phases) {
    if (phase.code != 0) {
      ASSERT_EQ(Switch(phase.code), STATUS_SUCCESS);
    }
    for (const Target &target : Targets) {
      SCOPED_TRACE(std::string(target.path) + (phase.protecting ? " protected" : " unprotected"));
      bool refused = phase.protecting && target.guarded;
      NTSTATUS expected = refused ? STATUS_ACCESS_DENIED : STATUS_SUCCESS;
      HANDLE handle = OpenOnC(target.path, target.directory);
      PFILE_OBJECT file = SimFileObjectOf(handle);
      size_t seen = RequestsSeen(Volume(), IRP_MJ_SET_INFORMATION, file);

      // The information buffer is not read: clearing the delete flag is refused as well.
      EXPECT_EQ(SimUserSetDisposition(handle, TRUE), expected);
      EXPECT_EQ(SimUserSetDisposition(handle, FALSE), expected);
      std::string moved = std::string(target.path) + ".moved";
      EXPECT_EQ(SimUserRename(handle, Wide(moved).c_str(), FALSE), expected);
      if (!refused) {
        EXPECT_EQ(SimUserRename(handle, Wide(target.path).c_str(), FALSE), STATUS_SUCCESS);
      }
      EXPECT_EQ(RequestsSeen(Volume(), IRP_MJ_SET_INFORMATION, file) - seen, refused ? 0u : 4u);
      EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
      EXPECT_TRUE(SimFileExists(c, target.path));
      EXPECT_FALSE(SimFileExists(c, moved.c_str()));
    }
  }
}

TEST_F(ProtectionTest, OnlyTheSourceNameOfARenameCounts) {
  HANDLE handle = OpenOnC("\\docs\\a.txt");
  EXPECT_EQ(SimUserRename(handle, u"\\docs\\a.vxl", FALSE), STATUS_SUCCESS);
  EXPECT_TRUE(SimFileExists(c, "\\docs\\a.vxl"));
  // The rename dropped the old cached path: the same handle now names a protected file.
  EXPECT_EQ(SimUserRename(handle, u"\\docs\\a.txt", FALSE), STATUS_ACCESS_DENIED);
  EXPECT_EQ(SimUserSetDisposition(handle, TRUE), STATUS_ACCESS_DENIED);
  EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
  EXPECT_TRUE(SimFileExists(c, "\\docs\\a.vxl"));
}

TEST_F(ProtectionTest, AnInactiveLetterRefusesNothing) {
  ASSERT_EQ(SetDrives(0), 0u);
  ASSERT_FALSE(ExtensionOf(DriveFilters[2])->Active) << "the filter stays attached, switched off";
  HANDLE handle = OpenOnC("\\docs\\report.vxl");
  EXPECT_EQ(SimUserSetDisposition(handle, TRUE), STATUS_SUCCESS);
  EXPECT_EQ(CachedName(SimFileObjectOf(handle)), "(none)") << "an inactive filter resolves nothing";
  EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
  EXPECT_FALSE(SimFileExists(c, "\\docs\\report.vxl"));
}

// The rule covers set-information requests only; these roads to the same ends stay open.
TEST_F(ProtectionTest, DeleteOnCloseLinksAndOverwritesPass) {
  HANDLE link = OpenOnC("\\docs\\report.vxl");
  EXPECT_EQ(SimUserLink(link, u"\\docs\\copy.vxl"), STATUS_SUCCESS);
  EXPECT_EQ(SimUserClose(link), STATUS_SUCCESS);
  EXPECT_TRUE(SimFileExists(c, "\\docs\\copy.vxl"));

  HANDLE overwrite = NULL;
  EXPECT_EQ(SimUserCreate(OnC("\\docs\\copy.vxl").c_str(), NULL, FILE_OVERWRITE_IF, 0, &overwrite), STATUS_SUCCESS);
  EXPECT_EQ(SimUserClose(overwrite), STATUS_SUCCESS);

  HANDLE doomed = OpenOnC("\\docs\\report.vxl", false, FILE_DELETE_ON_CLOSE);
  EXPECT_EQ(SimUserClose(doomed), STATUS_SUCCESS);
  EXPECT_FALSE(SimFileExists(c, "\\docs\\report.vxl"));
}

// A path is cached per file object and kept until that object is closed or renamed: a file
// moved to a protected name by another handle is still judged by its old name here.
TEST_F(ProtectionTest, ACachedPathSurvivesAMoveByAnotherHandle) {
  HANDLE reader = OpenOnC("\\docs\\a.txt");
  ULONG_PTR information = 0;
  EXPECT_EQ(SimUserRequest(reader, IRP_MJ_READ, &information), STATUS_SUCCESS);
  EXPECT_EQ(CachedName(SimFileObjectOf(reader)), "C:\\docs\\a.txt");

  HANDLE mover = OpenOnC("\\docs\\a.txt");
  EXPECT_EQ(SimUserRename(mover, u"\\docs\\moved.vxl", FALSE), STATUS_SUCCESS);
  EXPECT_EQ(SimUserClose(mover), STATUS_SUCCESS);

  EXPECT_EQ(CachedName(SimFileObjectOf(reader)), "C:\\docs\\a.txt");
  EXPECT_EQ(SimUserSetDisposition(reader, TRUE), STATUS_SUCCESS);
  EXPECT_EQ(SimUserSetDisposition(reader, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(SimUserClose(reader), STATUS_SUCCESS);

  HANDLE fresh = OpenOnC("\\docs\\moved.vxl");
  EXPECT_EQ(SimUserSetDisposition(fresh, TRUE), STATUS_ACCESS_DENIED);
  EXPECT_EQ(SimUserClose(fresh), STATUS_SUCCESS);
}

// Without a path-text buffer the request is judged on a text that never ends in ".vxl".
TEST_F(ProtectionTest, ProtectionFailsOpenWithoutAPathBuffer) {
  HANDLE handle = OpenOnC("\\docs\\report.vxl");
  SimFailAllocation(PathTextTag, 1);
  EXPECT_EQ(SimUserSetDisposition(handle, TRUE), STATUS_SUCCESS);
  EXPECT_TRUE(SimFaultPlan().poolFaultHit);
  EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
  EXPECT_FALSE(SimFileExists(c, "\\docs\\report.vxl"));
  EXPECT_EQ(SimPoolBlocks(PathTextTag), 0u) << "a path-text buffer was not given back";
}

TEST_F(ProtectionTest, ClosedFileObjectsLeaveNothingInTheCache) {
  for (const Target &target : Targets) {
    HANDLE handle = OpenOnC(target.path, target.directory);
    ULONG_PTR information = 0;
    EXPECT_EQ(SimUserRequest(handle, IRP_MJ_WRITE, &information), STATUS_SUCCESS);
    EXPECT_EQ(CachedName(SimFileObjectOf(handle)), std::string("C:") + target.path);
    EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
  }
  // What stays is the hook's own handles' entries at most: none of the targets.
  for (ULONG bucket = 0; bucket < NameCacheBucketCount; bucket++) {
    for (NameEntry *entry = NameCache[bucket]; entry != NULL; entry = entry->Next) {
      ADD_FAILURE() << "left in the cache: " << entry->Text;
    }
  }
}

NTSTATUS NTAPI KeepRequest(PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; }

// A request of the test's own sent to the filter, kept by the test when it completes.
NTSTATUS SendThroughFilter(PDEVICE_OBJECT filter, UCHAR majorFunction, PFILE_OBJECT file, ULONG createOptions = 0) {
  PIRP irp = IoAllocateIrp(filter->StackSize, FALSE);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->MajorFunction = majorFunction;
  stack->FileObject = file;
  if (majorFunction == IRP_MJ_CREATE) stack->Parameters.Create.Options = (FILE_OPEN << 24) | createOptions;
  IoSetCompletionRoutine(irp, KeepRequest, NULL, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(filter, irp);
  IoFreeIrp(irp);
  return status;
}

// A create drops whatever the cache held for its file-object address before it resolves, and
// keeps nothing after an open by file identifier.
TEST_F(ProtectionTest, CreatesStartFromTheirOwnName) {
  HANDLE handle = OpenOnC("\\DOCS\\A.TXT");
  PFILE_OBJECT file = SimFileObjectOf(handle);
  EXPECT_EQ(CachedName(file), "C:\\DOCS\\A.TXT") << "a create is resolved from its own name";
  ForgetFileName(file);
  ULONG_PTR information = 0;
  EXPECT_EQ(SimUserRequest(handle, IRP_MJ_READ, &information), STATUS_SUCCESS);
  EXPECT_EQ(CachedName(file), "C:\\docs\\a.txt") << "other requests ask the file system";

  EXPECT_EQ(SendThroughFilter(DriveFilters[2], IRP_MJ_CREATE, file), STATUS_SUCCESS);
  EXPECT_EQ(CachedName(file), "C:\\DOCS\\A.TXT");
  EXPECT_EQ(SendThroughFilter(DriveFilters[2], IRP_MJ_CREATE, file, FILE_OPEN_BY_FILE_ID), STATUS_SUCCESS);
  EXPECT_EQ(CachedName(file), "(none)");
  EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
}

// The cleanup of a file system's stream file is named without asking the file system; any
// other cleanup asks.
TEST_F(ProtectionTest, StreamFileCleanupUsesTheOwnName) {
  PFILE_OBJECT stream = SimCreateStreamFile(c, 5);
  size_t asked = RequestsSeen(Volume(), IRP_MJ_QUERY_INFORMATION, stream);
  EXPECT_EQ(SendThroughFilter(DriveFilters[2], IRP_MJ_CLEANUP, stream), STATUS_SUCCESS);
  EXPECT_EQ(CachedName(stream), "(none)");
  EXPECT_EQ(RequestsSeen(Volume(), IRP_MJ_QUERY_INFORMATION, stream), asked);

  stream->Flags &= ~FO_STREAM_FILE;
  EXPECT_EQ(SendThroughFilter(DriveFilters[2], IRP_MJ_CLEANUP, stream), STATUS_SUCCESS);
  EXPECT_EQ(CachedName(stream), "C:\\$Root");
  EXPECT_GT(RequestsSeen(Volume(), IRP_MJ_QUERY_INFORMATION, stream), asked);
  ObDereferenceObject(stream);
  EXPECT_EQ(CachedName(stream), "(none)") << "the close forgot it";
}

size_t CacheEntries() {
  size_t entries = 0;
  for (ULONG bucket = 0; bucket < NameCacheBucketCount; bucket++) {
    for (NameEntry *entry = NameCache[bucket]; entry != NULL; entry = entry->Next) entries++;
  }
  return entries;
}

// A failed open, or one the file system sends elsewhere (a junction answers STATUS_REPARSE, a
// success code), never sees a close; its path must not stay behind in the cache.
TEST_F(ProtectionTest, OpensThatOpenNothingLeaveNothingInTheCache) {
  SimAddReparsePoint(c, "\\docs\\junction.vxl");
  struct Case {
    const char *path;
    ULONG disposition;
    NTSTATUS status;
  };
  const Case cases[] = {
      {"\\docs\\missing.vxl", FILE_OPEN, STATUS_OBJECT_NAME_NOT_FOUND},
      {"\\docs\\a.txt", FILE_CREATE, STATUS_OBJECT_NAME_COLLISION},
      {"\\docs\\junction.vxl", FILE_OPEN, STATUS_REPARSE},
  };
  for (const Case &test : cases) {
    size_t entries = CacheEntries();
    HANDLE handle = NULL;
    EXPECT_EQ(SimUserCreate(OnC(test.path).c_str(), NULL, test.disposition, 0, &handle), test.status)
        << test.path;
    EXPECT_EQ(CacheEntries(), entries) << test.path;
  }
}

TEST_F(ProtectionTest, ACloseOnAnInactiveFilterStillForgets) {
  HANDLE handle = OpenOnC("\\docs\\a.txt");
  PFILE_OBJECT file = SimFileObjectOf(handle);
  ASSERT_EQ(CachedName(file), "C:\\docs\\a.txt");
  ASSERT_EQ(SetDrives(0), 0u);
  EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
  EXPECT_EQ(CachedName(file), "(none)");
}

TEST(ProtectedNameTest, OnlyADotAndVxlInAnyCaseAtTheEnd) {
  struct Case {
    const char *text;
    bool protectedName;
  };
  const Case cases[] = {
      {"C:\\docs\\report.vxl", true}, {"C:\\docs\\REPORT.VXL", true}, {"report.VxL", true},
      {".vxl", true},                 {"C:\\archive.vxl", true},      {"vxl", false},
      {"C:\\docs\\a.vxl.txt", false}, {"C:\\docs\\reportvxl", false}, {"C:\\docs\\a_vxl", false},
      {"C:\\docs\\a.vx", false},      {"", false},                    {"C: <Name Too Long>", false},
      {"<INSUFFICIENT MEMORY>", false}, {"C:\\docs\\a.vxl ", false},
  };
  for (const Case &test : cases) {
    std::vector<CHAR> text(PathTextSize, 0);
    std::strcpy(text.data(), test.text);
    EXPECT_EQ(IsProtectedName(text.data()), BOOLEAN(test.protectedName)) << '"' << test.text << '"';
  }
  // A buffer without a terminator is never protected, even if it ends in ".vxl".
  std::vector<CHAR> full(PathTextSize, 'a');
  std::memcpy(full.data() + PathTextSize - 4, ".vxl", 4);
  EXPECT_FALSE(IsProtectedName(full.data()));
}

}  // namespace
