// Drive hooking through IOCTL_SET_DRIVES and the special filters, on a simulated machine with
// local NTFS and FAT volumes, a substituted letter and a network drive.
#include "driver_fixture.h"

namespace {

const ULONG C = 1u << 2;
const ULONG D = 1u << 3;
const ULONG X = 1u << 23;
const ULONG Z = 1u << 25;

std::string FileSystemName(PDEVICE_OBJECT filter) {
  PFILE_FS_ATTRIBUTE_INFORMATION attributes = ExtensionOf(filter)->VolumeAttributes;
  if (attributes == NULL) return "(none)";
  std::string name;
  for (ULONG i = 0; i < attributes->FileSystemNameLength / 2; i++) name.push_back(char(attributes->FileSystemName[i]));
  return name;
}

class HookingTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    Load();
    c = SimAddLocalVolume('C', SimNtfs);
    SimAddDirectory(c, "\\folder");
    d = SimAddLocalVolume('D', SimFat);
    Open();
    baseHandles = SimOpenHandles();
    baseFiles = SimLiveFileObjects();
  }

  void TearDown() override {
    EXPECT_EQ(SimOpenHandles(), baseHandles) << "a handle of a hook was left open";
    EXPECT_EQ(SimLiveFileObjects(), baseFiles) << "a file object of a hook was left referenced";
    DriverTest::TearDown();
  }

  PDEVICE_OBJECT TopOf(SimVolume *volume) { return SimTopOfStack(SimVolumeDevice(volume)); }

  void ExpectActiveFilterOn(SimVolume *volume, char letter, const char *fileSystem) {
    PDEVICE_OBJECT filter = TopOf(volume);
    ASSERT_EQ(filter->DriverObject, driver) << letter << ": no filter on top of the volume";
    FilterExtension *extension = ExtensionOf(filter);
    EXPECT_EQ(extension->Kind, ULONG(KindDrive));
    EXPECT_EQ(extension->DriveLetter, ULONG(letter));
    EXPECT_TRUE(extension->Active);
    EXPECT_EQ(extension->LowerDevice, SimVolumeDevice(volume));
    EXPECT_EQ(filter->DeviceType, SimVolumeDevice(volume)->DeviceType);
    EXPECT_EQ(filter->Flags & DO_DEVICE_INITIALIZING, 0u);
    EXPECT_EQ(FileSystemName(filter), fileSystem);
    EXPECT_EQ(DriveFilters[letter - 'A'], filter);
  }

  SimVolume *c = NULL;
  SimVolume *d = NULL;
  size_t baseHandles = 0;
  size_t baseFiles = 0;
};

TEST_F(HookingTest, LocalVolumesAreHookedByMask) {
  EXPECT_EQ(SetDrives(C | D), C | D);
  ExpectActiveFilterOn(c, 'C', "NTFS");
  ExpectActiveFilterOn(d, 'D', "FAT");
  EXPECT_EQ(Filters().size(), 2u);
}

TEST_F(HookingTest, AMissingDriveIsLeftOutOfTheMask) {
  EXPECT_EQ(SetDrives(C | D | (1u << 4)), C | D) << "E: has no volume";
  EXPECT_EQ(DriveFilters[4], nullptr);
  EXPECT_EQ(HookDrive(26, driver), FALSE) << "there is no 27th letter";
}

TEST_F(HookingTest, FilteredRequestsReachTheFileSystem) {
  ASSERT_EQ(SetDrives(C), C);
  HANDLE handle = NULL;
  ASSERT_EQ(SimUserOpen(u"\\??\\C:\\folder", &handle), STATUS_SUCCESS);
  PFILE_OBJECT file = SimFileObjectOf(handle);
  ASSERT_EQ(SimUserClose(handle), STATUS_SUCCESS);
  const std::vector<SimRequest> &seen = SimRequestsSeen(SimVolumeDevice(c));
  std::vector<UCHAR> majors;
  for (const SimRequest &request : seen) {
    if (request.fileObject == file) majors.push_back(request.majorFunction);
  }
  EXPECT_EQ(majors, (std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}));
}

TEST_F(HookingTest, SameMaskTwiceChangesNothing) {
  ASSERT_EQ(SetDrives(C | D), C | D);
  std::vector<PDEVICE_OBJECT> filters = Filters();
  EXPECT_EQ(SetDrives(C | D), C | D);
  EXPECT_EQ(Filters(), filters);
  ExpectActiveFilterOn(c, 'C', "NTFS");
  ExpectActiveFilterOn(d, 'D', "FAT");
}

TEST_F(HookingTest, HighBitsComeBackAsSentAndDoNothing) {
  const ULONG high = 0xFC000000;
  EXPECT_EQ(SetDrives(high), high);
  EXPECT_TRUE(Filters().empty());
  EXPECT_EQ(SetDrives(high | C), high | C);
  EXPECT_EQ(Filters().size(), 1u);
  EXPECT_EQ(SetDrives(C), C);
  EXPECT_EQ(SetDrives(0x40000000 | C), 0x40000000 | C);
  ExpectActiveFilterOn(c, 'C', "NTFS");
}

TEST_F(HookingTest, MaskZeroDeactivatesAndTheNextMaskReactivatesWithoutNewDevices) {
  ASSERT_EQ(SetDrives(C | D), C | D);
  std::vector<PDEVICE_OBJECT> filters = Filters();
  EXPECT_EQ(SetDrives(0), 0u);
  for (SimVolume *volume : {c, d}) {
    PDEVICE_OBJECT filter = TopOf(volume);
    EXPECT_EQ(filter->DriverObject, driver) << "unhooking never detaches";
    EXPECT_FALSE(ExtensionOf(filter)->Active);
  }
  EXPECT_EQ(SetDrives(C | D), C | D);
  EXPECT_EQ(Filters(), filters);
  ExpectActiveFilterOn(c, 'C', "NTFS");
  ExpectActiveFilterOn(d, 'D', "FAT");
}

TEST_F(HookingTest, NetworkDriveGetsAFilterOnTheRedirector) {
  SimAddNetworkDrive('Z', "\\server\\share");
  EXPECT_EQ(SetDrives(C | Z), C | Z);
  PDEVICE_OBJECT filter = DriveFilters[25];
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(filter->DeviceType, ULONG(FILE_DEVICE_NETWORK_FILE_SYSTEM));
  EXPECT_EQ(ExtensionOf(filter)->DriveLetter, ULONG('Z'));
  EXPECT_EQ(SimAttachedTo(filter), SimFileSystemDriver(SimRedirector)->DeviceObject);
}

// X: is substituted for C:\folder, so both letters lead to C:'s volume.
class SubstituteTest : public HookingTest {
 protected:
  void SetUp() override {
    HookingTest::SetUp();
    SimAddSubstitute('X', "C:\\folder");
  }
};

TEST_F(SubstituteTest, BothLettersShareOneFilter) {
  EXPECT_EQ(SetDrives(C | X), C | X);
  EXPECT_EQ(Filters().size(), 1u);
  EXPECT_EQ(DriveFilters[23], DriveFilters[2]);
  ExpectActiveFilterOn(c, 'C', "NTFS");
}

TEST_F(SubstituteTest, DroppingOneLetterDropsBoth) {
  ASSERT_EQ(SetDrives(C | X), C | X);
  EXPECT_EQ(SetDrives(C), 0u);
  EXPECT_FALSE(ExtensionOf(DriveFilters[2])->Active);
  EXPECT_EQ(DriveFilters[23], DriveFilters[2]) << "the shared entry stays";
}

TEST_F(SubstituteTest, ReactivatingOneLetterCountsTheOtherAgain) {
  ASSERT_EQ(SetDrives(C | X), C | X);
  std::vector<PDEVICE_OBJECT> filters = Filters();
  ASSERT_EQ(SetDrives(0), 0u);
  EXPECT_EQ(SetDrives(C), C | X);
  EXPECT_EQ(Filters(), filters);
  ExpectActiveFilterOn(c, 'C', "NTFS");
}

TEST_F(SubstituteTest, ALetterNeverLookedUpIsNotCounted) {
  EXPECT_EQ(SetDrives(C), C);
  EXPECT_EQ(DriveFilters[23], nullptr);
}

TEST_F(SubstituteTest, TheSubstitutedLetterAloneFindsTheVolume) {
  EXPECT_EQ(SetDrives(X), X);
  PDEVICE_OBJECT filter = TopOf(c);
  ASSERT_EQ(filter->DriverObject, driver);
  EXPECT_EQ(ExtensionOf(filter)->DriveLetter, ULONG('X'));
  EXPECT_EQ(SetDrives(X | C), X | C) << "C: now finds X:'s filter on its volume";
  EXPECT_EQ(DriveFilters[2], filter);
  EXPECT_EQ(Filters().size(), 1u);
}

// The volume's device is deleted: its filter detaches and goes, the mask keeps the bit.
TEST_F(HookingTest, VanishingVolume) {
  ASSERT_EQ(SetDrives(C | D), C | D);
  PDEVICE_OBJECT dFilter = DriveFilters[3];
  size_t attributeBuffers = SimPoolBlocks(DriverPoolTag);
  SimDeleteVolume(d);
  EXPECT_FALSE(SimDeviceExists(dFilter));
  EXPECT_EQ(DriveFilters[3], nullptr);
  EXPECT_EQ(HookedDriveMask, C | D);
  EXPECT_EQ(SimPoolBlocks(DriverPoolTag), attributeBuffers - 1) << "its attribute buffer is freed";
  ExpectActiveFilterOn(c, 'C', "NTFS");

  SimRemountVolume(d);
  EXPECT_EQ(SetDrives(C | D), C | D) << "a mask that keeps the bit";
  EXPECT_EQ(DriveFilters[3], nullptr) << "does not hook again";
  EXPECT_EQ(TopOf(d), SimVolumeDevice(d));

  EXPECT_EQ(SetDrives(C), C);
  EXPECT_EQ(SetDrives(C | D), C | D) << "dropping and setting the bit again";
  ExpectActiveFilterOn(d, 'D', "FAT");
}

// A letter whose volume went away shares nothing with the letters never looked up, whose
// entries are just as empty: dropping it must not drop them from the same mask.
TEST_F(HookingTest, DroppingAVanishedLetterKeepsTheLettersAskedFor) {
  ASSERT_EQ(SetDrives(C), C);
  SimDeleteVolume(c);
  EXPECT_EQ(SetDrives(D), D);
  ExpectActiveFilterOn(d, 'D', "FAT");
}

TEST_F(SubstituteTest, VanishingSharedVolumeClearsEveryLetter) {
  ASSERT_EQ(SetDrives(C | X | D), C | X | D);
  PDEVICE_OBJECT shared = DriveFilters[2];
  size_t attributeBuffers = SimPoolBlocks(DriverPoolTag);
  SimDeleteVolume(c);
  EXPECT_FALSE(SimDeviceExists(shared));
  EXPECT_EQ(DriveFilters[2], nullptr);
  EXPECT_EQ(DriveFilters[23], nullptr) << "X: must not keep the deleted device";
  EXPECT_EQ(SimPoolBlocks(DriverPoolTag), attributeBuffers - 1);
  ExpectActiveFilterOn(d, 'D', "FAT");

  SimRemountVolume(c);
  ASSERT_EQ(SetDrives(D), D);
  EXPECT_EQ(SetDrives(C | X | D), C | X | D);
  ExpectActiveFilterOn(c, 'C', "NTFS");
  EXPECT_EQ(DriveFilters[23], DriveFilters[2]);
}

TEST_F(HookingTest, SpecialFiltersHookOnceAndReHookAboveAnInactiveOne) {
  struct Case {
    ULONG kind;
    SimFsKind fileSystem;
    PDEVICE_OBJECT *current;
  };
  const Case cases[] = {{2, SimNamedPipeFs, &PipeFilter}, {3, SimMailslotFs, &MailslotFilter}};
  for (const Case &s : cases) {
    SCOPED_TRACE(s.kind);
    PDEVICE_OBJECT fileSystem = SimSpecialDevice(s.fileSystem);
    ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, s.kind), STATUS_SUCCESS);
    PDEVICE_OBJECT first = *s.current;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SendKind(IOCTL_HOOK_SPECIAL, s.kind), STATUS_SUCCESS);
    EXPECT_EQ(*s.current, first) << "hooked twice, attached once";
    EXPECT_EQ(SimTopOfStack(fileSystem), first);
    FilterExtension *extension = ExtensionOf(first);
    EXPECT_EQ(extension->Kind, s.kind);
    EXPECT_EQ(extension->DriveLetter, ULONG('\\'));
    EXPECT_EQ(extension->LowerDevice, fileSystem);
    EXPECT_TRUE(extension->Active);
    EXPECT_EQ(first->DeviceType, fileSystem->DeviceType);

    ASSERT_EQ(SendKind(IOCTL_UNHOOK_SPECIAL, s.kind), STATUS_SUCCESS);
    EXPECT_EQ(*s.current, nullptr);
    EXPECT_FALSE(extension->Active);
    EXPECT_EQ(SimTopOfStack(fileSystem), first) << "the inactive filter stays attached";

    ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, s.kind), STATUS_SUCCESS);
    PDEVICE_OBJECT second = *s.current;
    ASSERT_NE(second, first);
    EXPECT_EQ(SimAttachedTo(second), first);
    EXPECT_EQ(ExtensionOf(second)->LowerDevice, first);
    EXPECT_TRUE(ExtensionOf(second)->Active);
  }
  EXPECT_EQ(SendKind(IOCTL_HOOK_SPECIAL, 1), STATUS_UNSUCCESSFUL) << "kind 1 is a drive, not special";
  EXPECT_EQ(Filters().size(), 4u);
}

// Our own pipe filters, the current one and a forgotten one, let go of a vanishing file system.
TEST_F(HookingTest, VanishingPipeFileSystemTakesItsFiltersAlong) {
  ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, 2), STATUS_SUCCESS);
  PDEVICE_OBJECT forgotten = PipeFilter;
  ASSERT_EQ(SendKind(IOCTL_UNHOOK_SPECIAL, 2), STATUS_SUCCESS);
  ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, 2), STATUS_SUCCESS);
  PDEVICE_OBJECT current = PipeFilter;
  SimDeleteSpecialFileSystem(SimNamedPipeFs);
  EXPECT_FALSE(SimDeviceExists(current));
  EXPECT_FALSE(SimDeviceExists(forgotten));
  EXPECT_EQ(PipeFilter, nullptr);
  EXPECT_TRUE(Filters().empty());
}

// Each step of HookDrive that can fail: the letter drops out of the mask and nothing is left
// behind, or (attributes only) the filter works without them.
TEST_F(HookingTest, EachFailingStepOfHookDrive) {
  struct Case {
    const char *step;
    void (*arm)();
    ULONG mask;
  };
  const Case cases[] = {
      {"open: file object", [] { SimFailAllocation(SimTagFile, 1); }, 0},
      {"open: create request", [] { SimFailAllocation(SimTagIrp, 1); }, 0},
      {"reference", [] { SimFaultPlan().failReferenceByHandle = true; }, 0},
      {"target device", [] { SimFaultPlan().noRelatedDevice = true; }, 0},
      {"filter device", [] { SimFailAllocation(SimTagDevice, 1); }, 0},
      {"attach", [] { SimFaultPlan().failAttach = true; }, 0},
      {"attribute buffer", [] { SimFailAllocation(DriverPoolTag, 1); }, C},
      {"attribute query", [] { SimFailAllocation(SimTagIrp, 2); }, C},
  };
  for (const Case &step : cases) {
    SCOPED_TRACE(step.step);
    TearDown();
    SetUp();
    step.arm();
    EXPECT_EQ(HookDriveSet(C, driver), step.mask);
    SimFaultPlan() = SimFaults();
    if (step.mask == 0) {
      EXPECT_TRUE(Filters().empty()) << "a filter that could not be attached is deleted";
      EXPECT_EQ(TopOf(c), SimVolumeDevice(c));
      EXPECT_EQ(DriveFilters[2], nullptr);
    } else {
      EXPECT_EQ(TopOf(c)->DriverObject, driver);
      EXPECT_EQ(ExtensionOf(TopOf(c))->VolumeAttributes, nullptr);
      EXPECT_EQ(SimPoolBlocks(DriverPoolTag), 0u) << "a failed query frees its buffer";
    }
    // A later mask hooks the letter once the fault has passed.
    ASSERT_EQ(SetDrives(0), 0u);
    EXPECT_EQ(SetDrives(C), C);
    EXPECT_EQ(Filters().size(), 1u);
  }
}

// Every allocation HookDrive makes, failed in turn, whatever its tag.
TEST_F(HookingTest, EveryAllocationFailureLeavesAConsistentState) {
  for (ULONG occurrence = 1;; occurrence++) {
    SCOPED_TRACE(occurrence);
    TearDown();
    SetUp();
    SimFailAllocation(0, occurrence);
    ULONG mask = HookDriveSet(C, driver);
    bool hit = SimFaultPlan().poolFaultHit;
    SimFaultPlan() = SimFaults();
    if (mask == 0) {
      EXPECT_TRUE(hit);
      EXPECT_TRUE(Filters().empty());
      EXPECT_EQ(TopOf(c), SimVolumeDevice(c));
    } else {
      ASSERT_EQ(mask, C);
      PDEVICE_OBJECT filter = TopOf(c);
      ASSERT_EQ(filter->DriverObject, driver);
      EXPECT_TRUE(ExtensionOf(filter)->Active);
      // Only the volume attributes may go missing on a hook that succeeds (a failure may also
      // strike the new filter's own path text while the hook's handle closes through it).
      if (!hit) {
        EXPECT_EQ(FileSystemName(filter), "NTFS");
      }
    }
    if (!hit) break;
    ASSERT_LT(occurrence, 50u) << "the fault sweep does not end";
  }
}

}  // namespace
