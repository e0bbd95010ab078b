// The driver's fast I/O table on a hooked NTFS drive: every entry hands its call to the file
// system's entry unchanged, answers for it when the file system has no such entry, resolves
// the file's path on the way, and section creation locks the file either way.
#include <functional>

#include "driver_fixture.h"

namespace {

const ULONG C = 1u << 2;
const NTSTATUS LockConflict = NTSTATUS(0xC0000054);

class FastIoTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    Load();
    c = SimAddLocalVolume('C', SimNtfs);
    SimAddDirectory(c, "\\docs");
    SimAddFile(c, "\\docs\\a.vxl", 40);
    Open();
    ASSERT_EQ(SetDrives(C), C);
    ASSERT_EQ(SimUserCreate(u"\\??\\C:\\docs\\a.vxl", NULL, FILE_OPEN, 0, &handle), STATUS_SUCCESS);
    file = SimFileObjectOf(handle);
    filter = DriveFilters[2];
    ForgetFileName(file);
  }

  void TearDown() override {
    EXPECT_EQ(SimUserClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(SimPoolBlocks(PathTextTag), 0u) << "a path-text buffer was not given back";
    DriverTest::TearDown();
  }

  struct Entry {
    const char *name;
    size_t member;
    bool returnsStatus;  // an NTSTATUS entry; the others answer BOOLEAN
    bool hasIoStatus;
    std::function<ULONG_PTR(PDEVICE_OBJECT)> call;
    std::vector<ULONG_PTR> arguments;  // what the file system must be given, device apart
  };

  template <typename T>
  static ULONG_PTR P(T *pointer) {
    return reinterpret_cast<ULONG_PTR>(pointer);
  }

  // The 25 entries that follow the pass-through pattern with a device object, each called with
  // arguments that differ from one another.
  std::vector<Entry> Entries() {
    FAST_IO_DISPATCH &t = FilterFastIoDispatch;
    PFILE_OBJECT f = file;
    ULONG_PTR F = P(f);
    const ULONG length = sizeof(buffer);
    const ULONG key = 0x1234;
    const ULONG inLength = 3;
    const ULONG outLength = 5;
    const ULONG code = 0x00098123;
    PEPROCESS process = reinterpret_cast<PEPROCESS>(&processStorage);
    PCOMPRESSED_DATA_INFO info = reinterpret_cast<PCOMPRESSED_DATA_INFO>(compressedInfo);
    const ULONG infoLength = sizeof(compressedInfo);
    PMDL mdl = reinterpret_cast<PMDL>(&mdlStorage);
    return {
        {"FastIoCheckIfPossible", offsetof(FAST_IO_DISPATCH, FastIoCheckIfPossible), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoCheckIfPossible(f, &offset, length, TRUE, key, FALSE, &io, d); },
         {F, P(&offset), length, TRUE, key, FALSE, P(&io)}},
        {"FastIoRead", offsetof(FAST_IO_DISPATCH, FastIoRead), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoRead(f, &offset, length, TRUE, key, buffer, &io, d); },
         {F, P(&offset), length, TRUE, key, P(buffer), P(&io)}},
        {"FastIoWrite", offsetof(FAST_IO_DISPATCH, FastIoWrite), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoWrite(f, &offset, length, FALSE, key, buffer, &io, d); },
         {F, P(&offset), length, FALSE, key, P(buffer), P(&io)}},
        {"FastIoQueryBasicInfo", offsetof(FAST_IO_DISPATCH, FastIoQueryBasicInfo), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoQueryBasicInfo(f, TRUE, &basic, &io, d); },
         {F, TRUE, P(&basic), P(&io)}},
        {"FastIoQueryStandardInfo", offsetof(FAST_IO_DISPATCH, FastIoQueryStandardInfo), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoQueryStandardInfo(f, FALSE, &standard, &io, d); },
         {F, FALSE, P(&standard), P(&io)}},
        {"FastIoLock", offsetof(FAST_IO_DISPATCH, FastIoLock), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoLock(f, &offset, &range, process, key, TRUE, FALSE, &io, d); },
         {F, P(&offset), P(&range), P(process), key, TRUE, FALSE, P(&io)}},
        {"FastIoUnlockSingle", offsetof(FAST_IO_DISPATCH, FastIoUnlockSingle), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoUnlockSingle(f, &offset, &range, process, key, &io, d); },
         {F, P(&offset), P(&range), P(process), key, P(&io)}},
        {"FastIoUnlockAll", offsetof(FAST_IO_DISPATCH, FastIoUnlockAll), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoUnlockAll(f, process, &io, d); },
         {F, P(process), P(&io)}},
        {"FastIoUnlockAllByKey", offsetof(FAST_IO_DISPATCH, FastIoUnlockAllByKey), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoUnlockAllByKey(f, &processStorage, key, &io, d); },
         {F, P(&processStorage), key, P(&io)}},
        {"FastIoDeviceControl", offsetof(FAST_IO_DISPATCH, FastIoDeviceControl), false, true,
         [=](PDEVICE_OBJECT d) {
           return t.FastIoDeviceControl(f, TRUE, buffer, inLength, buffer + 8, outLength, code, &io, d);
         },
         {F, TRUE, P(buffer), inLength, P(buffer + 8), outLength, code, P(&io)}},
        {"FastIoQueryNetworkOpenInfo", offsetof(FAST_IO_DISPATCH, FastIoQueryNetworkOpenInfo), false, true,
         [=](PDEVICE_OBJECT d) { return t.FastIoQueryNetworkOpenInfo(f, TRUE, &network, &io, d); },
         {F, TRUE, P(&network), P(&io)}},
        {"AcquireForModWrite", offsetof(FAST_IO_DISPATCH, AcquireForModWrite), true, false,
         [=](PDEVICE_OBJECT d) { return ULONG_PTR(t.AcquireForModWrite(f, &offset, &resourceOut, d)); },
         {F, P(&offset), P(&resourceOut)}},
        {"MdlRead", offsetof(FAST_IO_DISPATCH, MdlRead), false, true,
         [=](PDEVICE_OBJECT d) { return t.MdlRead(f, &offset, length, key, &chain, &io, d); },
         {F, P(&offset), length, key, P(&chain), P(&io)}},
        {"MdlReadComplete", offsetof(FAST_IO_DISPATCH, MdlReadComplete), false, false,
         [=](PDEVICE_OBJECT d) { return t.MdlReadComplete(f, mdl, d); }, {F, P(mdl)}},
        {"PrepareMdlWrite", offsetof(FAST_IO_DISPATCH, PrepareMdlWrite), false, true,
         [=](PDEVICE_OBJECT d) { return t.PrepareMdlWrite(f, &offset, length, key, &chain, &io, d); },
         {F, P(&offset), length, key, P(&chain), P(&io)}},
        {"MdlWriteComplete", offsetof(FAST_IO_DISPATCH, MdlWriteComplete), false, false,
         [=](PDEVICE_OBJECT d) { return t.MdlWriteComplete(f, &offset, mdl, d); }, {F, P(&offset), P(mdl)}},
        {"FastIoReadCompressed", offsetof(FAST_IO_DISPATCH, FastIoReadCompressed), false, true,
         [=](PDEVICE_OBJECT d) {
           return t.FastIoReadCompressed(f, &offset, length, key, buffer, &chain, &io, info, infoLength, d);
         },
         {F, P(&offset), length, key, P(buffer), P(&chain), P(&io), P(info), infoLength}},
        {"FastIoWriteCompressed", offsetof(FAST_IO_DISPATCH, FastIoWriteCompressed), false, true,
         [=](PDEVICE_OBJECT d) {
           return t.FastIoWriteCompressed(f, &offset, length, key, buffer, &chain, &io, info, infoLength, d);
         },
         {F, P(&offset), length, key, P(buffer), P(&chain), P(&io), P(info), infoLength}},
        {"MdlReadCompleteCompressed", offsetof(FAST_IO_DISPATCH, MdlReadCompleteCompressed), false, false,
         [=](PDEVICE_OBJECT d) { return t.MdlReadCompleteCompressed(f, mdl, d); }, {F, P(mdl)}},
        {"MdlWriteCompleteCompressed", offsetof(FAST_IO_DISPATCH, MdlWriteCompleteCompressed), false, false,
         [=](PDEVICE_OBJECT d) { return t.MdlWriteCompleteCompressed(f, &offset, mdl, d); },
         {F, P(&offset), P(mdl)}},
        {"ReleaseForModWrite", offsetof(FAST_IO_DISPATCH, ReleaseForModWrite), true, false,
         [=](PDEVICE_OBJECT d) { return ULONG_PTR(t.ReleaseForModWrite(f, &resource, d)); },
         {F, P(&resource)}},
        {"AcquireForCcFlush", offsetof(FAST_IO_DISPATCH, AcquireForCcFlush), true, false,
         [=](PDEVICE_OBJECT d) { return ULONG_PTR(t.AcquireForCcFlush(f, d)); }, {F}},
        {"ReleaseForCcFlush", offsetof(FAST_IO_DISPATCH, ReleaseForCcFlush), true, false,
         [=](PDEVICE_OBJECT d) { return ULONG_PTR(t.ReleaseForCcFlush(f, d)); }, {F}},
    };
  }

  static ULONG_PTR NotPassedOn(const Entry &entry) {
    return entry.returnsStatus ? ULONG_PTR(STATUS_NOT_IMPLEMENTED) : ULONG_PTR(FALSE);
  }

  void ResetStatus() {
    io.Status = 0x77;
    io.Information = 0x77;
  }

  SimVolume *c = NULL;
  HANDLE handle = NULL;
  PFILE_OBJECT file = NULL;
  PDEVICE_OBJECT filter = NULL;
  LARGE_INTEGER offset = {};
  LARGE_INTEGER range = {};
  char buffer[48] = {};
  IO_STATUS_BLOCK io = {};
  FILE_BASIC_INFORMATION basic = {};
  FILE_STANDARD_INFORMATION standard = {};
  FILE_NETWORK_OPEN_INFORMATION network = {};
  PMDL chain = NULL;
  PERESOURCE resourceOut = NULL;
  ERESOURCE resource = {};
  ULONG_PTR processStorage = 0;
  ULONG_PTR mdlStorage = 0;
  UCHAR compressedInfo[24] = {};
};

TEST_F(FastIoTest, EveryEntryPassesArgumentsAndResultsThrough) {
  struct Answer {
    BOOLEAN answer;
    NTSTATUS status;
  };
  const Answer answers[] = {{TRUE, STATUS_SUCCESS}, {FALSE, LockConflict}};
  for (const Answer &lower : answers) {
    SimSetFastIoAnswer(lower.answer, lower.status);
    for (const Entry &entry : Entries()) {
      SCOPED_TRACE(std::string(entry.name) + (lower.answer ? " answering TRUE" : " answering FALSE"));
      ForgetFileName(file);
      ResetStatus();
      size_t before = SimFastIoCalls().size();
      ULONG_PTR result = entry.call(filter);
      ASSERT_EQ(SimFastIoCalls().size(), before + 1) << "not handed down";
      const SimFastIoCall &call = SimFastIoCalls().back();
      EXPECT_EQ(call.member, entry.member);
      EXPECT_EQ(call.device, SimVolumeDevice(c)) << "the device below replaces the filter";
      EXPECT_EQ(call.arguments, entry.arguments);
      EXPECT_EQ(result, entry.returnsStatus ? ULONG_PTR(lower.status) : ULONG_PTR(lower.answer));
      if (entry.hasIoStatus) {
        EXPECT_EQ(io.Status, lower.status) << "the file system's status block";
      }
      EXPECT_EQ(CachedName(file), "C:\\docs\\a.vxl") << "the call resolves the file's path";
    }
  }
  // Data travels in the caller's buffer.
  SimSetFastIoAnswer(TRUE, STATUS_SUCCESS);
  EXPECT_TRUE(FilterFastIoDispatch.FastIoRead(file, &offset, 8, TRUE, 0, buffer, &io, filter));
  EXPECT_EQ(std::string(buffer, 8), "RRRRRRRR");
  EXPECT_EQ(io.Information, 8u);
}

// Nothing to hand down: no device, the control device, a file system without a table, a table
// that ends before the entry or an empty entry. The not-passed-on result comes back, the file
// system is not called and no path is resolved.
TEST_F(FastIoTest, EntriesTheFileSystemLacksAnswerForIt) {
  for (const Entry &entry : Entries()) {
    SCOPED_TRACE(entry.name);
    bool prepare = entry.member == offsetof(FAST_IO_DISPATCH, PrepareMdlWrite);
    bool deviceControl = entry.member == offsetof(FAST_IO_DISPATCH, FastIoDeviceControl);
    struct Setup {
      const char *what;
      std::function<void()> arrange;
      PDEVICE_OBJECT device;
    };
    const Setup setups[] = {
        {"no device", [] {}, NULL},
        {"control device", [] {}, ControlDevice},
        {"no table", [] { SimRemoveFastIoTable(SimNtfs); }, filter},
        {"short table", [&] { SimSetFastIoTableSize(SimNtfs, ULONG(entry.member)); }, filter},
        {"empty entry", [&] { SimClearFastIoEntry(SimNtfs, entry.member); }, filter},
    };
    for (const Setup &setup : setups) {
      SCOPED_TRACE(setup.what);
      setup.arrange();
      ResetStatus();
      size_t before = SimFastIoCalls().size();
      ULONG_PTR result = entry.call(setup.device);
      SimRestoreFastIoTable(SimNtfs);
      EXPECT_EQ(SimFastIoCalls().size(), before);
      EXPECT_EQ(CachedName(file), "(none)");
      if (deviceControl && setup.device == ControlDevice) {
        // The control device executes control codes; this one is none of them.
        EXPECT_EQ(result, ULONG_PTR(TRUE));
        EXPECT_EQ(io.Status, STATUS_INVALID_DEVICE_REQUEST);
        continue;
      }
      EXPECT_EQ(result, NotPassedOn(entry));
      if (prepare && setup.device != NULL) {
        EXPECT_EQ(io.Status, STATUS_NOT_IMPLEMENTED);
        EXPECT_EQ(io.Information, 0u);
      } else {
        EXPECT_EQ(io.Status, 0x77) << "the status block is left alone";
      }
    }
    // A table that ends right after the entry is long enough.
    SimSetFastIoTableSize(SimNtfs, ULONG(entry.member + sizeof(PVOID)));
    size_t before = SimFastIoCalls().size();
    entry.call(filter);
    EXPECT_EQ(SimFastIoCalls().size(), before + 1);
    SimRestoreFastIoTable(SimNtfs);
    ForgetFileName(file);
  }
}

TEST_F(FastIoTest, AnInactiveFilterPassesOnWithoutResolving) {
  ASSERT_EQ(SetDrives(0), 0u);
  size_t asked = RequestsSeen(SimVolumeDevice(c), IRP_MJ_QUERY_INFORMATION);
  for (const Entry &entry : Entries()) {
    SCOPED_TRACE(entry.name);
    size_t before = SimFastIoCalls().size();
    entry.call(filter);
    EXPECT_EQ(SimFastIoCalls().size(), before + 1);
    EXPECT_EQ(CachedName(file), "(none)");
  }
  EXPECT_EQ(RequestsSeen(SimVolumeDevice(c), IRP_MJ_QUERY_INFORMATION), asked);
}

// The file system below offers the section locks, lacks them, or has no table; a pipe has no
// volume parameter block, so no device of ours is found for it. In every case the file's main
// resource is held exclusive between the two calls and free afterwards.
TEST_F(FastIoTest, SectionCreationLocksTheFileEitherWay) {
  HANDLE pipeHandle = NULL;
  ASSERT_EQ(SendKind(IOCTL_HOOK_SPECIAL, KindNamedPipe), STATUS_SUCCESS);
  ASSERT_EQ(SimUserCreate(u"\\Device\\NamedPipe\\pipe", NULL, FILE_OPEN, 0, &pipeHandle), STATUS_SUCCESS);
  struct Case {
    const char *what;
    std::function<void()> arrange;
    PFILE_OBJECT target;
    bool handedDown;
  };
  const Case cases[] = {
      {"file system's own locks", [] {}, file, true},
      {"no section locks below",
       [] {
         SimClearFastIoEntry(SimNtfs, offsetof(FAST_IO_DISPATCH, AcquireFileForNtCreateSection));
         SimClearFastIoEntry(SimNtfs, offsetof(FAST_IO_DISPATCH, ReleaseFileForNtCreateSection));
       },
       file, false},
      {"table too short", [] { SimSetFastIoTableSize(SimNtfs, offsetof(FAST_IO_DISPATCH, FastIoDeviceControl) + sizeof(PVOID)); },
       file, false},
      {"no table", [] { SimRemoveFastIoTable(SimNtfs); }, file, false},
      {"no volume parameter block", [] {}, SimFileObjectOf(pipeHandle), false},
  };
  for (const Case &test : cases) {
    SCOPED_TRACE(test.what);
    test.arrange();
    PERESOURCE main = SimMainResourceOf(test.target);
    ASSERT_NE(main, nullptr);
    size_t before = SimFastIoCalls().size();
    FilterFastIoDispatch.AcquireFileForNtCreateSection(test.target);
    EXPECT_TRUE(SimResourceHeldExclusive(main));
    FilterFastIoDispatch.ReleaseFileForNtCreateSection(test.target);
    EXPECT_FALSE(SimResourceHeld(main));
    EXPECT_EQ(SimCriticalRegionDepth(), 0);
    EXPECT_EQ(SimFastIoCalls().size(), before + (test.handedDown ? 2 : 0));
    SimRestoreFastIoTable(SimNtfs);
  }
  EXPECT_EQ(SimUserClose(pipeHandle), STATUS_SUCCESS);
}

// The query-open's file object is the I/O manager's transient one: named from its own fields,
// without asking the file system, and not left in the cache.
TEST_F(FastIoTest, QueryOpenResolvesFromTheOwnNameAndKeepsNothing) {
  PIRP irp = IoAllocateIrp(filter->StackSize, FALSE);
  ASSERT_NE(irp, nullptr);
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->MajorFunction = IRP_MJ_CREATE;
  stack->FileObject = file;
  IoSetNextIrpStackLocation(irp);
  stack->DeviceObject = filter;
  size_t asked = RequestsSeen(SimVolumeDevice(c), IRP_MJ_QUERY_INFORMATION);
  FILE_NETWORK_OPEN_INFORMATION info = {};
  for (BOOLEAN answer : {TRUE, FALSE}) {
    SimSetFastIoAnswer(answer, STATUS_SUCCESS);
    EXPECT_EQ(FilterFastIoDispatch.FastIoQueryOpen(irp, &info, filter), answer);
    EXPECT_EQ(IoGetCurrentIrpStackLocation(irp), stack);
    ASSERT_FALSE(SimFastIoCalls().empty());
    EXPECT_EQ(SimFastIoCalls().back().arguments, (std::vector<ULONG_PTR>{P(irp), P(&info)}));
  }
  EXPECT_EQ(RequestsSeen(SimVolumeDevice(c), IRP_MJ_QUERY_INFORMATION), asked);
  EXPECT_EQ(CachedName(file), "(none)");
  EXPECT_FALSE(FilterFastIoDispatch.FastIoQueryOpen(irp, &info, ControlDevice));
  EXPECT_FALSE(FilterFastIoDispatch.FastIoQueryOpen(irp, &info, NULL));
  IoFreeIrp(irp);
}

// A cached read as the cache manager's callers make it: by fast I/O through the filter, or by a
// read request when the file system has no fast I/O at all.
TEST_F(FastIoTest, CachedReadsFallBackToRequestsWithoutFastIo) {
  char data[16] = {};
  bool fast = false;
  EXPECT_EQ(SimUserCachedRead(handle, sizeof(data), data, &fast), STATUS_SUCCESS);
  EXPECT_TRUE(fast);
  EXPECT_EQ(std::string(data, 4), "RRRR");

  SimRemoveFastIoTable(SimNtfs);
  size_t reads = RequestsSeen(SimVolumeDevice(c), IRP_MJ_READ, file);
  EXPECT_EQ(SimUserCachedRead(handle, sizeof(data), data, &fast), STATUS_SUCCESS);
  EXPECT_FALSE(fast);
  EXPECT_EQ(RequestsSeen(SimVolumeDevice(c), IRP_MJ_READ, file), reads + 1);
}

}  // namespace
