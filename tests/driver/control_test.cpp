// Loading, the control device and its control codes, by both roads a control code can take.
#include "driver_fixture.h"

namespace {

const ULONG Untouched = 0xABABABAB;
const UCHAR Fill = 0xAB;

class ControlTest : public DriverTest {};

TEST_F(ControlTest, LoadingCreatesTheExclusiveControlDeviceAndItsLink) {
  Load();
  ASSERT_NE(ControlDevice, nullptr);
  EXPECT_EQ(ControlDevice->DeviceType, 0x8300u);
  EXPECT_EQ(ControlDevice->Characteristics, 0u);
  EXPECT_NE(ControlDevice->Flags & DO_EXCLUSIVE, 0u);
  EXPECT_EQ(ExtensionOf(ControlDevice)->Kind, ULONG(KindControl));
  EXPECT_EQ(FilterDriverObject, driver);
  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; major++) {
    EXPECT_EQ(driver->MajorFunction[major], &DispatchRequest) << "major function " << major;
  }
  EXPECT_EQ(driver->FastIoDispatch, &FilterFastIoDispatch);
  EXPECT_EQ(FilterFastIoDispatch.SizeOfFastIoDispatch, sizeof(FAST_IO_DISPATCH));
  EXPECT_EQ(PathTextList.Size, 1024u);
  EXPECT_EQ(PathTextList.Tag, SimTag("Film"));
  EXPECT_EQ(PathTextList.Depth, 256u);
  EXPECT_TRUE(NameCacheLock.Initialized);
  EXPECT_EQ(AccessAllowed, 0) << "protection is on after loading";
  EXPECT_EQ(HookedDriveMask, 0u);
  EXPECT_TRUE(Filters().empty());

  // Reachable through the link; exclusive: a second open is refused while the first lasts.
  HANDLE first = NULL;
  HANDLE second = NULL;
  ASSERT_EQ(SimUserOpen(u"\\DosDevices\\Pelorin", &first), STATUS_SUCCESS);
  EXPECT_EQ(SimUserOpen(u"\\Device\\Pelorin", &second), STATUS_ACCESS_DENIED);
  ASSERT_EQ(SimUserClose(first), STATUS_SUCCESS);
  ASSERT_EQ(SimUserOpen(u"\\??\\PELORIN", &second), STATUS_SUCCESS);
  EXPECT_EQ(SimUserClose(second), STATUS_SUCCESS);
}

TEST_F(ControlTest, FailedLoadLeavesNothingBehind) {
  struct Case {
    const char *what;
    bool linkTaken;
    ULONG failTag;
    NTSTATUS expected;
  };
  const Case cases[] = {
      {"control device allocation fails", false, SimTagDevice, STATUS_INSUFFICIENT_RESOURCES},
      {"link name already taken", true, 0, STATUS_OBJECT_NAME_COLLISION},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    if (c.linkTaken) SimCreateLink(u"\\DosDevices\\Pelorin", u"\\Device\\Elsewhere");
    if (c.failTag != 0) SimFailAllocation(c.failTag, 1);
    size_t devices = SimPoolBlocks(SimTagDevice);
    NTSTATUS status = STATUS_SUCCESS;
    PDRIVER_OBJECT loaded = SimLoadDriver(DriverEntry, u"\\Driver\\Pelorin", &status);
    EXPECT_EQ(status, c.expected);
    EXPECT_TRUE(SimDevicesOf(loaded).empty());
    EXPECT_EQ(SimPoolBlocks(SimTagDevice), devices);
    HANDLE handle = NULL;
    EXPECT_NE(SimUserOpen(u"\\Device\\Pelorin", &handle), STATUS_SUCCESS);
  }
}

struct CodeCase {
  const char *what;
  ULONG code;
  ULONG input;  // sent as the first ULONG of the input buffer
  ULONG inputLength;
  ULONG outputLength;
  NTSTATUS status;
  ULONG_PTR returned;
  bool writesVersion;  // the output starts with 430; otherwise it stays untouched
};

const CodeCase CodeCases[] = {
    {"clear records", 0x83000004, 0, 0, 0, STATUS_SUCCESS, 0, false},
    {"ignored", 0x8300004C, 0, 0, 0, STATUS_SUCCESS, 0, false},
    {"version", 0x8300001C, 0, 0, 4, STATUS_SUCCESS, 4, true},
    {"version into a larger buffer", 0x8300001C, 0, 0, 16, STATUS_SUCCESS, 4, true},
    {"version into 2 bytes", 0x8300001C, 0, 0, 2, STATUS_BUFFER_TOO_SMALL, 0, false},
    {"read records, 65522 bytes", 0x8300000B, 0, 0, 65522, STATUS_BUFFER_TOO_SMALL, 0, false},
    {"read records, 65523 bytes", 0x8300000B, 0, 0, 65523, STATUS_SUCCESS, 0, false},
    {"return one", 0x8300000F, 0, 0, 16, STATUS_SUCCESS, 1, false},
    {"return one, no buffers", 0x8300000F, 0, 0, 0, STATUS_SUCCESS, 1, false},
    {"hook special, 3-byte input", 0x83000020, 2, 3, 0, STATUS_BUFFER_TOO_SMALL, 0, false},
    {"hook special, unknown kind", 0x83000020, 7, 4, 0, STATUS_UNSUCCESSFUL, 0, false},
    {"unhook special, 3-byte input", 0x83000024, 2, 3, 0, STATUS_BUFFER_TOO_SMALL, 0, false},
    {"unhook special, nothing hooked", 0x83000024, 2, 4, 0, STATUS_SUCCESS, 0, false},
    {"set drives, 3-byte input", 0x83000048, 0, 3, 4, STATUS_BUFFER_TOO_SMALL, 0, false},
    {"set drives, 3-byte output", 0x83000048, 0, 4, 3, STATUS_BUFFER_TOO_SMALL, 0, false},
    {"unknown function 20", 0x83000050, 0, 4, 4, STATUS_INVALID_DEVICE_REQUEST, 0, false},
    {"records read, but buffered", 0x83000008, 0, 0, 65523, STATUS_INVALID_DEVICE_REQUEST, 0, false},
    {"version of another device type", 0x8301001C, 0, 0, 4, STATUS_INVALID_DEVICE_REQUEST, 0, false},
};

class ControlCodeTest : public DriverTest, public ::testing::WithParamInterface<SimRoad> {};

TEST_P(ControlCodeTest, EveryCodeAnswersAsTheTableSays) {
  Load();
  Open();
  for (const CodeCase &c : CodeCases) {
    SCOPED_TRACE(c.what);
    std::vector<UCHAR> output(65536, Fill);
    ULONG input[2] = {c.input, 0};
    ULONG_PTR returned = 0xFFFF;
    NTSTATUS status = Ioctl(c.code, input, c.inputLength, output.data(), c.outputLength, &returned, GetParam());
    EXPECT_EQ(ULONG(status), ULONG(c.status)) << Hex(ULONG(status));
    EXPECT_EQ(returned, c.returned);
    size_t untouchedFrom = 0;
    if (c.writesVersion) {
      ULONG version = 0;
      std::memcpy(&version, output.data(), 4);
      EXPECT_EQ(version, 430u);
      untouchedFrom = 4;
    }
    for (size_t i = untouchedFrom; i < output.size(); i++) {
      if (output[i] != Fill) {
        ADD_FAILURE() << "output byte " << i << " was written";
        break;
      }
    }
    EXPECT_EQ(AccessAllowed, 0);
    EXPECT_EQ(HookedDriveMask, 0u);
    EXPECT_TRUE(Filters().empty());
  }
}

TEST_P(ControlCodeTest, ProtectionSwitchNeedsNoBuffers) {
  Load();
  Open();
  struct Step {
    ULONG code;
    BOOLEAN allowedAfter;
  };
  const Step steps[] = {{0x83000040, 1}, {0x83000040, 1}, {0x83000044, 0}, {0x83000044, 0}, {0x83000040, 1}};
  for (const Step &step : steps) {
    ULONG_PTR returned = 7;
    EXPECT_EQ(Ioctl(step.code, NULL, 0, NULL, 0, &returned, GetParam()), STATUS_SUCCESS);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(AccessAllowed, step.allowedAfter) << Hex(step.code);
  }
}

// A caller's address that cannot be written fails the request instead of the system.
TEST_P(ControlCodeTest, UnwritableCallerBuffersFailWithInvalidParameter) {
  Load();
  SimVolume *c = SimAddLocalVolume('C', SimNtfs);
  (void)c;
  Open();
  std::vector<UCHAR> unmapped(65536);
  SimSetUnmappedRange(unmapped.data(), unmapped.size());
  struct Case {
    const char *what;
    ULONG code;
    void *output;
  };
  const Case cases[] = {
      {"records into the null page", 0x8300000B, reinterpret_cast<void *>(0x1000)},
      {"records into unmapped memory", 0x8300000B, unmapped.data()},
  };
  for (const Case &bad : cases) {
    SCOPED_TRACE(bad.what);
    ULONG_PTR returned = 9;
    EXPECT_EQ(Ioctl(bad.code, NULL, 0, bad.output, 65523, &returned, GetParam()), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(returned, 0u);
  }
}

std::string RoadName(const ::testing::TestParamInfo<SimRoad> &road) {
  static const char *const names[] = {"Request", "Mdl", "FastIo"};
  return names[road.param];
}

INSTANTIATE_TEST_SUITE_P(Roads, ControlCodeTest,
                         ::testing::Values(SimRequestRoad, SimMdlRoad, SimFastIoRoad), RoadName);

// On the fast I/O road the I/O manager hands over the caller's own pointers even for buffered
// codes: a bad one must neither crash the system nor let the code take effect.
TEST_F(ControlTest, FastIoRoadRefusesBadCallerPointersBeforeAnyEffect) {
  Load();
  SimAddLocalVolume('C', SimNtfs);
  Open();
  std::vector<UCHAR> unmapped(64);
  SimSetUnmappedRange(unmapped.data(), unmapped.size());
  ULONG mask = 0x4;
  ULONG result = 0;
  ULONG_PTR returned = 5;
  EXPECT_EQ(Ioctl(IOCTL_SET_DRIVES, &mask, 4, unmapped.data(), 4, &returned, SimFastIoRoad),
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(HookedDriveMask, 0u);
  EXPECT_TRUE(Filters().empty());

  EXPECT_EQ(Ioctl(IOCTL_SET_DRIVES, unmapped.data(), 4, &result, 4, &returned, SimFastIoRoad),
            STATUS_INVALID_PARAMETER);
  EXPECT_TRUE(Filters().empty());

  EXPECT_EQ(Ioctl(IOCTL_GET_VERSION, NULL, 0, unmapped.data(), 4, &returned, SimFastIoRoad),
            STATUS_INVALID_PARAMETER);

  // The same request with good buffers does take effect by this road.
  EXPECT_EQ(Ioctl(IOCTL_SET_DRIVES, &mask, 4, &result, 4, &returned, SimFastIoRoad), STATUS_SUCCESS);
  EXPECT_EQ(result, 0x4u);
  EXPECT_EQ(returned, 4u);
}

TEST_F(ControlTest, SetDrivesWithShortBuffersHooksNothing) {
  Load();
  SimAddLocalVolume('C', SimNtfs);
  Open();
  ULONG mask = 0x4;
  ULONG result = Untouched;
  ULONG_PTR returned = 0;
  EXPECT_EQ(Ioctl(IOCTL_SET_DRIVES, &mask, 3, &result, 4, &returned), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(Ioctl(IOCTL_SET_DRIVES, &mask, 4, &result, 3, &returned), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(result, Untouched);
  EXPECT_EQ(HookedDriveMask, 0u);
  EXPECT_TRUE(Filters().empty());
  EXPECT_EQ(DriveFilters[2], nullptr);
}

TEST_F(ControlTest, OtherRequestsOnTheControlDeviceSucceedWithNothing) {
  Load();
  Open();
  const UCHAR majors[] = {IRP_MJ_READ, IRP_MJ_WRITE, IRP_MJ_QUERY_INFORMATION, IRP_MJ_CLEANUP, 0x09 /* flush */};
  for (UCHAR major : majors) {
    ULONG_PTR information = 77;
    EXPECT_EQ(SimUserRequest(control, major, &information), STATUS_SUCCESS) << int(major);
    EXPECT_EQ(information, 0u) << int(major);
  }
  EXPECT_EQ(HookedDriveMask, 0u);
}

// After the handle is closed and opened again, protection is as it was, but nothing is watched
// until the next drive mask: filters inactive but attached, special filters forgotten, names gone.
TEST_F(ControlTest, CloseAndReopen) {
  Load();
  SimVolume *c = SimAddLocalVolume('C', SimNtfs);
  SimVolume *d = SimAddLocalVolume('D', SimFat);
  Open();
  ULONG_PTR returned = 0;
  ASSERT_EQ(Ioctl(IOCTL_ALLOW_ACCESS, NULL, 0, NULL, 0, &returned), STATUS_SUCCESS);
  ASSERT_EQ(SetDrives(0x0C), 0x0Cu);
  ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, 2), STATUS_SUCCESS);
  ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, 3), STATUS_SUCCESS);
  PDEVICE_OBJECT pipe = PipeFilter;
  PDEVICE_OBJECT mailslot = MailslotFilter;
  // A cached name, as path resolution leaves them.
  NameEntry *entry = static_cast<NameEntry *>(ExAllocatePoolWithTag(NonPagedPool, sizeof(NameEntry) + 8, DriverPoolTag));
  entry->FileObject = NULL;
  entry->Next = NULL;
  std::strcpy(entry->Text, "C:\\a");
  NameCache[0] = entry;
  std::vector<PDEVICE_OBJECT> before = Filters();

  Close();
  EXPECT_EQ(AccessAllowed, 1) << "closing keeps the protection switch";
  EXPECT_EQ(HookedDriveMask, 0u);
  EXPECT_EQ(NameCache[0], nullptr);
  EXPECT_EQ(PipeFilter, nullptr);
  EXPECT_EQ(MailslotFilter, nullptr);
  EXPECT_FALSE(ExtensionOf(pipe)->Active);
  EXPECT_FALSE(ExtensionOf(mailslot)->Active);
  EXPECT_EQ(SimAttachedTo(pipe), SimSpecialDevice(SimNamedPipeFs)) << "inactive filters stay attached";
  for (SimVolume *volume : {c, d}) {
    PDEVICE_OBJECT filter = SimTopOfStack(SimVolumeDevice(volume));
    EXPECT_EQ(filter->DriverObject, driver);
    EXPECT_FALSE(ExtensionOf(filter)->Active);
  }
  EXPECT_FALSE(SimResourceHeld(&NameCacheLock));
  EXPECT_EQ(SimCriticalRegionDepth(), 0);

  Open();
  EXPECT_EQ(AccessAllowed, 1);
  EXPECT_EQ(HookedDriveMask, 0u);
  ASSERT_EQ(SetDrives(0x0C), 0x0Cu);
  EXPECT_EQ(Filters(), before) << "the existing filters come back, no new device";
  EXPECT_TRUE(ExtensionOf(DriveFilters[2])->Active);
  EXPECT_TRUE(ExtensionOf(DriveFilters[3])->Active);
}

}  // namespace
