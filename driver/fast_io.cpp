// The driver's fast I/O table. Every entry hands the call to the same entry of the device below
// the filter; the control device offers nothing here but device control.
#include "pelorin.h"

namespace {

// The lower entry at Offset of the table of the driver below DeviceObject's filter, or NULL when
// the call cannot be handed down (no device, the control device, no table, a short table or an
// empty entry).
PVOID LowerEntry(PDEVICE_OBJECT DeviceObject, SIZE_T Offset, PDEVICE_OBJECT *Lower) {
  if (DeviceObject == NULL) return NULL;
  FilterExtension *extension = ExtensionOf(DeviceObject);
  if (extension->Kind == KindControl) return NULL;
  PFAST_IO_DISPATCH table = extension->LowerDevice->DriverObject->FastIoDispatch;
  if (table == NULL || table->SizeOfFastIoDispatch <= Offset) return NULL;
  PVOID entry;
  RtlCopyMemory(&entry, reinterpret_cast<PUCHAR>(table) + Offset, sizeof(entry));
  *Lower = extension->LowerDevice;
  return entry;
}

#define LOWER_ENTRY(device, member, lower)          \
  reinterpret_cast<decltype(FAST_IO_DISPATCH::member)>( \
      LowerEntry((device), offsetof(FAST_IO_DISPATCH, member), (lower)))

// The driver's own device on the volume of FileObject: up the stack from the device the
// volume parameter block names as mounted. Redirectors and pipes have no such block.
PDEVICE_OBJECT OwnDeviceOnVolume(PFILE_OBJECT FileObject) {
  PDEVICE_OBJECT device = FileObject->DeviceObject;
  if (device == NULL || device->Vpb == NULL || device->Vpb->DeviceObject == NULL) return NULL;
  for (device = device->Vpb->DeviceObject; device != NULL; device = device->AttachedDevice) {
    if (device->DriverObject == FilterDriverObject) return device;
  }
  return NULL;
}

BOOLEAN NTAPI FilterFastIoCheckIfPossible(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                          ULONG Length, BOOLEAN Wait, ULONG LockKey,
                                          BOOLEAN CheckForReadOperation, PIO_STATUS_BLOCK IoStatus,
                                          PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoCheckIfPossible, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, Wait, LockKey, CheckForReadOperation, IoStatus, lower);
}

BOOLEAN NTAPI FilterFastIoRead(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                               BOOLEAN Wait, ULONG LockKey, PVOID Buffer, PIO_STATUS_BLOCK IoStatus,
                               PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoRead, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, Wait, LockKey, Buffer, IoStatus, lower);
}

BOOLEAN NTAPI FilterFastIoWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                                BOOLEAN Wait, ULONG LockKey, PVOID Buffer, PIO_STATUS_BLOCK IoStatus,
                                PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoWrite, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, Wait, LockKey, Buffer, IoStatus, lower);
}

BOOLEAN NTAPI FilterFastIoQueryBasicInfo(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                         PFILE_BASIC_INFORMATION Buffer, PIO_STATUS_BLOCK IoStatus,
                                         PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoQueryBasicInfo, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, Wait, Buffer, IoStatus, lower);
}

BOOLEAN NTAPI FilterFastIoQueryStandardInfo(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                            PFILE_STANDARD_INFORMATION Buffer,
                                            PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoQueryStandardInfo, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, Wait, Buffer, IoStatus, lower);
}

BOOLEAN NTAPI FilterFastIoLock(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                               PLARGE_INTEGER Length, PEPROCESS ProcessId, ULONG Key,
                               BOOLEAN FailImmediately, BOOLEAN ExclusiveLock,
                               PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoLock, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, ProcessId, Key, FailImmediately, ExclusiveLock,
               IoStatus, lower);
}

BOOLEAN NTAPI FilterFastIoUnlockSingle(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                       PLARGE_INTEGER Length, PEPROCESS ProcessId, ULONG Key,
                                       PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoUnlockSingle, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, ProcessId, Key, IoStatus, lower);
}

BOOLEAN NTAPI FilterFastIoUnlockAll(PFILE_OBJECT FileObject, PEPROCESS ProcessId,
                                    PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoUnlockAll, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, ProcessId, IoStatus, lower);
}

BOOLEAN NTAPI FilterFastIoUnlockAllByKey(PFILE_OBJECT FileObject, PVOID ProcessId, ULONG Key,
                                         PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoUnlockAllByKey, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, ProcessId, Key, IoStatus, lower);
}

VOID NTAPI FilterAcquireFileForNtCreateSection(PFILE_OBJECT FileObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(OwnDeviceOnVolume(FileObject), AcquireFileForNtCreateSection, &lower);
  if (entry != NULL) entry(FileObject);
}

VOID NTAPI FilterReleaseFileForNtCreateSection(PFILE_OBJECT FileObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(OwnDeviceOnVolume(FileObject), ReleaseFileForNtCreateSection, &lower);
  if (entry != NULL) entry(FileObject);
}

BOOLEAN NTAPI FilterFastIoQueryNetworkOpenInfo(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                               PFILE_NETWORK_OPEN_INFORMATION Buffer,
                                               PIO_STATUS_BLOCK IoStatus,
                                               PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoQueryNetworkOpenInfo, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, Wait, Buffer, IoStatus, lower);
}

NTSTATUS NTAPI FilterAcquireForModWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER EndingOffset,
                                        PERESOURCE *ResourceToRelease, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, AcquireForModWrite, &lower);
  if (entry == NULL) return STATUS_NOT_IMPLEMENTED;
  return entry(FileObject, EndingOffset, ResourceToRelease, lower);
}

BOOLEAN NTAPI FilterMdlRead(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                            ULONG LockKey, PMDL *MdlChain, PIO_STATUS_BLOCK IoStatus,
                            PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, MdlRead, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, LockKey, MdlChain, IoStatus, lower);
}

BOOLEAN NTAPI FilterMdlReadComplete(PFILE_OBJECT FileObject, PMDL MdlChain,
                                    PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, MdlReadComplete, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, MdlChain, lower);
}

BOOLEAN NTAPI FilterPrepareMdlWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                    ULONG Length, ULONG LockKey, PMDL *MdlChain,
                                    PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  if (DeviceObject == NULL) return FALSE;
  IoStatus->Status = STATUS_NOT_IMPLEMENTED;
  IoStatus->Information = 0;
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, PrepareMdlWrite, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, LockKey, MdlChain, IoStatus, lower);
}

BOOLEAN NTAPI FilterMdlWriteComplete(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                     PMDL MdlChain, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, MdlWriteComplete, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, MdlChain, lower);
}

BOOLEAN NTAPI FilterFastIoReadCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                         ULONG Length, ULONG LockKey, PVOID Buffer, PMDL *MdlChain,
                                         PIO_STATUS_BLOCK IoStatus,
                                         PCOMPRESSED_DATA_INFO CompressedDataInfo,
                                         ULONG CompressedDataInfoLength,
                                         PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoReadCompressed, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, LockKey, Buffer, MdlChain, IoStatus,
               CompressedDataInfo, CompressedDataInfoLength, lower);
}

BOOLEAN NTAPI FilterFastIoWriteCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                          ULONG Length, ULONG LockKey, PVOID Buffer, PMDL *MdlChain,
                                          PIO_STATUS_BLOCK IoStatus,
                                          PCOMPRESSED_DATA_INFO CompressedDataInfo,
                                          ULONG CompressedDataInfoLength,
                                          PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoWriteCompressed, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, Length, LockKey, Buffer, MdlChain, IoStatus,
               CompressedDataInfo, CompressedDataInfoLength, lower);
}

BOOLEAN NTAPI FilterMdlReadCompleteCompressed(PFILE_OBJECT FileObject, PMDL MdlChain,
                                              PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, MdlReadCompleteCompressed, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, MdlChain, lower);
}

BOOLEAN NTAPI FilterMdlWriteCompleteCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                               PMDL MdlChain, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, MdlWriteCompleteCompressed, &lower);
  if (entry == NULL) return FALSE;
  return entry(FileObject, FileOffset, MdlChain, lower);
}

// Hands the create request it is given one stack location down, to the device below, and
// moves it back up afterwards: the request leaves at the location it came in with.
BOOLEAN NTAPI FilterFastIoQueryOpen(PIRP Irp, PFILE_NETWORK_OPEN_INFORMATION NetworkInformation,
                                    PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, FastIoQueryOpen, &lower);
  if (entry == NULL) return FALSE;
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  RtlCopyMemory(next, current, sizeof(IO_STACK_LOCATION));
  next->DeviceObject = lower;
  IoSetNextIrpStackLocation(Irp);
  BOOLEAN result = entry(Irp, NetworkInformation, lower);
  IoSkipCurrentIrpStackLocation(Irp);
  return result;
}

NTSTATUS NTAPI FilterReleaseForModWrite(PFILE_OBJECT FileObject, PERESOURCE ResourceToRelease,
                                        PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, ReleaseForModWrite, &lower);
  if (entry == NULL) return STATUS_NOT_IMPLEMENTED;
  return entry(FileObject, ResourceToRelease, lower);
}

NTSTATUS NTAPI FilterAcquireForCcFlush(PFILE_OBJECT FileObject, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, AcquireForCcFlush, &lower);
  if (entry == NULL) return STATUS_NOT_IMPLEMENTED;
  return entry(FileObject, lower);
}

NTSTATUS NTAPI FilterReleaseForCcFlush(PFILE_OBJECT FileObject, PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  auto entry = LOWER_ENTRY(DeviceObject, ReleaseForCcFlush, &lower);
  if (entry == NULL) return STATUS_NOT_IMPLEMENTED;
  return entry(FileObject, lower);
}

}  // namespace

// Filled in the system's slot order; the initialiser is constant, so no constructor runs.
FAST_IO_DISPATCH FilterFastIoDispatch = {
    sizeof(FAST_IO_DISPATCH),
    FilterFastIoCheckIfPossible,
    FilterFastIoRead,
    FilterFastIoWrite,
    FilterFastIoQueryBasicInfo,
    FilterFastIoQueryStandardInfo,
    FilterFastIoLock,
    FilterFastIoUnlockSingle,
    FilterFastIoUnlockAll,
    FilterFastIoUnlockAllByKey,
    FilterFastIoDeviceControl,
    FilterAcquireFileForNtCreateSection,
    FilterReleaseFileForNtCreateSection,
    FilterFastIoDetachDevice,
    FilterFastIoQueryNetworkOpenInfo,
    FilterAcquireForModWrite,
    FilterMdlRead,
    FilterMdlReadComplete,
    FilterPrepareMdlWrite,
    FilterMdlWriteComplete,
    FilterFastIoReadCompressed,
    FilterFastIoWriteCompressed,
    FilterMdlReadCompleteCompressed,
    FilterMdlWriteCompleteCompressed,
    FilterFastIoQueryOpen,
    FilterReleaseForModWrite,
    FilterAcquireForCcFlush,
    FilterReleaseForCcFlush,
};

// The system checks the table's size against its own layout: 28 pointer-sized slots.
static_assert(sizeof(FAST_IO_DISPATCH) == 28 * sizeof(PVOID), "fast I/O table layout");
