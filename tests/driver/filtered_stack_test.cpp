// What passes through a hooked volume's stack: a query request that the driver builds itself
// (as path resolution does) and fast I/O calls handed down to the file system.
#include "driver_fixture.h"

namespace {


NTSTATUS NTAPI QueryDone(PDEVICE_OBJECT, PIRP Irp, PVOID) {
  *Irp->UserIosb = Irp->IoStatus;
  KeSetEvent(Irp->UserEvent, IO_NO_INCREMENT, FALSE);
  IoFreeIrp(Irp);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// A query request built and sent below a filter, waited for on an event.
NTSTATUS Query(PDEVICE_OBJECT lower, PFILE_OBJECT file, FILE_INFORMATION_CLASS infoClass,
               PVOID buffer, ULONG length) {
  KEVENT event;
  KeInitializeEvent(&event, SynchronizationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus = {};
  PIRP irp = IoAllocateIrp(lower->StackSize, FALSE);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  irp->AssociatedIrp.SystemBuffer = buffer;
  irp->UserEvent = &event;
  irp->UserIosb = &ioStatus;
  irp->Tail.Overlay.Thread = PsGetCurrentThread();
  irp->Tail.Overlay.OriginalFileObject = file;
  irp->RequestorMode = KernelMode;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->MajorFunction = IRP_MJ_QUERY_INFORMATION;
  stack->DeviceObject = lower;
  stack->FileObject = file;
  stack->Parameters.QueryFile.Length = length;
  stack->Parameters.QueryFile.FileInformationClass = infoClass;
  IoSetCompletionRoutine(irp, QueryDone, NULL, TRUE, TRUE, TRUE);
  IoCallDriver(lower, irp);
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
  return ioStatus.Status;
}

std::string NameIn(const std::vector<UCHAR> &buffer) {
  const FILE_NAME_INFORMATION *info = reinterpret_cast<const FILE_NAME_INFORMATION *>(buffer.data());
  std::string name;
  for (ULONG i = 0; i < info->FileNameLength / 2; i++) name.push_back(char(info->FileName[i]));
  return name;
}

class FilteredStackTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    Load();
    c = SimAddLocalVolume('C', SimNtfs);
    SimAddDirectory(c, "\\docs");
    SimAddFile(c, "\\docs\\a.vxl", 40);
    SimVolume *z = SimAddNetworkDrive('Z', "\\server\\share");
    SimAddDirectory(z, "\\dir");
    SimAddFile(z, "\\dir\\f.txt", 41);
    Open();
    ASSERT_EQ(SetDrives((1u << 2) | (1u << 25)), (1u << 2) | (1u << 25));
  }

  SimVolume *c = NULL;
};

TEST_F(FilteredStackTest, FileSystemsAnswerQueriesSentBelowTheFilter) {
  struct Case {
    const char16_t *path;
    char letter;
    const char *name;
  };
  const Case cases[] = {
      {u"\\??\\C:\\docs\\a.vxl", 'C', "\\docs\\a.vxl"},
      {u"\\??\\C:\\", 'C', "\\"},
      {u"\\??\\Z:\\dir\\f.txt", 'Z', "\\;Z:0000000000034d8b\\server\\share\\dir\\f.txt"},
  };
  for (const Case &q : cases) {
    SCOPED_TRACE(q.name);
    HANDLE handle = NULL;
    ASSERT_EQ(SimUserOpen(q.path, &handle), STATUS_SUCCESS);
    PDEVICE_OBJECT lower = ExtensionOf(DriveFilters[q.letter - 'A'])->LowerDevice;
    std::vector<UCHAR> buffer(2048, 0);
    EXPECT_EQ(Query(lower, SimFileObjectOf(handle), FileNameInformation, buffer.data(), 2046), STATUS_SUCCESS);
    EXPECT_EQ(NameIn(buffer), q.name);
    // A name longer than the buffer comes back as a warning, which is no success.
    EXPECT_EQ(Query(lower, SimFileObjectOf(handle), FileNameInformation, buffer.data(), 4), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
  }
  EXPECT_EQ(SimPoolBlocks(SimTagIrp), 0u);
}

TEST_F(FilteredStackTest, StreamFilesHaveNoNameButANumber) {
  PFILE_OBJECT stream = SimCreateStreamFile(c, 5);
  EXPECT_EQ(stream->FileName.Buffer, nullptr);
  EXPECT_NE(stream->Flags & FO_STREAM_FILE, 0u);
  FILE_INTERNAL_INFORMATION internal = {};
  EXPECT_EQ(Query(ExtensionOf(DriveFilters[2])->LowerDevice, stream, FileInternalInformation, &internal, sizeof(internal)),
            STATUS_SUCCESS);
  EXPECT_EQ(internal.IndexNumber.QuadPart, 5);
  ObDereferenceObject(stream);
  EXPECT_EQ(SimLiveFileObjects(), 1u) << "only the control device's handle is left";
}

TEST_F(FilteredStackTest, FastIoIsHandedToTheFileSystemBelow) {
  HANDLE handle = NULL;
  ASSERT_EQ(SimUserOpen(u"\\??\\C:\\docs\\a.vxl", &handle), STATUS_SUCCESS);
  PFILE_OBJECT file = SimFileObjectOf(handle);
  PDEVICE_OBJECT filter = DriveFilters[2];
  LARGE_INTEGER offset = {};
  char data[8] = {};
  IO_STATUS_BLOCK ioStatus = {};
  EXPECT_TRUE(FilterFastIoDispatch.FastIoRead(file, &offset, sizeof(data), TRUE, 0, data, &ioStatus, filter));
  EXPECT_EQ(std::string(data, sizeof(data)), "RRRRRRRR");
  EXPECT_EQ(ioStatus.Information, sizeof(data));
  ASSERT_FALSE(SimFastIoCalls().empty());
  EXPECT_EQ(SimFastIoCalls().back().member, offsetof(FAST_IO_DISPATCH, FastIoRead));
  EXPECT_EQ(SimFastIoCalls().back().device, SimVolumeDevice(c)) << "the device below replaces the filter";

  // Nothing to hand down: no device, the control device, a file system without a table.
  EXPECT_FALSE(FilterFastIoDispatch.FastIoRead(file, &offset, sizeof(data), TRUE, 0, data, &ioStatus, NULL));
  EXPECT_FALSE(FilterFastIoDispatch.FastIoRead(file, &offset, sizeof(data), TRUE, 0, data, &ioStatus, ControlDevice));
  SimRemoveFastIoTable(SimNtfs);
  EXPECT_FALSE(FilterFastIoDispatch.FastIoRead(file, &offset, sizeof(data), TRUE, 0, data, &ioStatus, filter));
  EXPECT_EQ(FilterFastIoDispatch.AcquireForCcFlush(file, filter), STATUS_NOT_IMPLEMENTED);
  EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
}

// The create request the I/O manager offers to FastIoQueryOpen sits at the filter's stack
// location; the file system must see it at its own, and the filter must give it back as it was.
TEST_F(FilteredStackTest, QueryOpenLeavesTheRequestWhereItWas) {
  HANDLE handle = NULL;
  ASSERT_EQ(SimUserOpen(u"\\??\\C:\\docs\\a.vxl", &handle), STATUS_SUCCESS);
  PDEVICE_OBJECT filter = DriveFilters[2];
  PIRP irp = IoAllocateIrp(filter->StackSize, FALSE);
  ASSERT_NE(irp, nullptr);
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->MajorFunction = IRP_MJ_CREATE;
  stack->FileObject = SimFileObjectOf(handle);
  IoSetNextIrpStackLocation(irp);
  stack->DeviceObject = filter;
  CHAR location = irp->CurrentLocation;
  FILE_NETWORK_OPEN_INFORMATION info = {};
  EXPECT_TRUE(FilterFastIoDispatch.FastIoQueryOpen(irp, &info, filter));
  EXPECT_EQ(irp->CurrentLocation, location);
  EXPECT_EQ(IoGetCurrentIrpStackLocation(irp), stack);
  EXPECT_EQ(stack->DeviceObject, filter);
  ASSERT_FALSE(SimFastIoCalls().empty());
  EXPECT_EQ(SimFastIoCalls().back().member, offsetof(FAST_IO_DISPATCH, FastIoQueryOpen));
  EXPECT_EQ(SimFastIoCalls().back().device, SimVolumeDevice(c));
  IoFreeIrp(irp);
  EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
}

// Section creation names no device: the driver's own device is found up the volume's stack.
TEST_F(FilteredStackTest, SectionLocksFindTheFilterThroughTheVolume) {
  struct Case {
    const char16_t *path;
    bool handedDown;
  };
  const Case cases[] = {
      {u"\\??\\C:\\docs\\a.vxl", true},
      {u"\\Device\\NamedPipe\\pipe", false},  // no volume parameter block
  };
  for (const Case &open : cases) {
    HANDLE handle = NULL;
    ASSERT_EQ(SimUserOpen(open.path, &handle), STATUS_SUCCESS);
    PFILE_OBJECT file = SimFileObjectOf(handle);
    size_t calls = SimFastIoCalls().size();
    FilterFastIoDispatch.AcquireFileForNtCreateSection(file);
    FilterFastIoDispatch.ReleaseFileForNtCreateSection(file);
    ASSERT_EQ(SimFastIoCalls().size(), calls + (open.handedDown ? 2 : 0));
    if (open.handedDown) {
      EXPECT_EQ(SimFastIoCalls()[calls].member, offsetof(FAST_IO_DISPATCH, AcquireFileForNtCreateSection));
      EXPECT_EQ(SimFastIoCalls()[calls + 1].member, offsetof(FAST_IO_DISPATCH, ReleaseFileForNtCreateSection));
    }
    EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
  }
}

}  // namespace
