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

// A path-text buffer filled for FileObject, which enters its path into the name cache for the
// requests that follow; NULL stands for the static text, with which nothing is resolved.
PCHAR ResolvePath(PDEVICE_OBJECT DeviceObject, PFILE_OBJECT FileObject, BOOLEAN UseOwnName) {
  PCHAR text = static_cast<PCHAR>(ExAllocateFromNPagedLookasideList(&PathTextList));
  if (text != NULL) ResolveFullPath(UseOwnName, FileObject, ExtensionOf(DeviceObject), text);
  return text;
}

VOID ReleasePath(PCHAR Text) {
  if (Text != NULL) ExFreeToNPagedLookasideList(&PathTextList, Text);
}

// The pattern of every entry that names a device: find the lower entry, resolve the file's
// path, call the lower entry with the lower device in place of ours, give the buffer back.
template <typename Entry, typename Result, typename... Arguments>
Result PassOn(SIZE_T Offset, Result NotPassedOn, PDEVICE_OBJECT DeviceObject, PFILE_OBJECT FileObject,
              Arguments... Rest) {
  PDEVICE_OBJECT lower = NULL;
  Entry *entry = reinterpret_cast<Entry *>(LowerEntry(DeviceObject, Offset, &lower));
  if (entry == NULL) return NotPassedOn;
  PCHAR text = ResolvePath(DeviceObject, FileObject, FALSE);
  Result result = entry(FileObject, Rest..., lower);
  ReleasePath(text);
  return result;
}

#define MEMBER(name) offsetof(FAST_IO_DISPATCH, name)

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

// What the system does for section creation when the file system has no routine of its own:
// the main resource of the common header at the start of FsContext, exclusive. It is held
// inside a critical region until the release.
VOID AcquireFileExclusive(PFILE_OBJECT FileObject) {
  PFSRTL_COMMON_FCB_HEADER header = static_cast<PFSRTL_COMMON_FCB_HEADER>(FileObject->FsContext);
  if (header == NULL || header->Resource == NULL) return;
  KeEnterCriticalRegion();
  ExAcquireResourceExclusiveLite(header->Resource, TRUE);
}

VOID ReleaseFile(PFILE_OBJECT FileObject) {
  PFSRTL_COMMON_FCB_HEADER header = static_cast<PFSRTL_COMMON_FCB_HEADER>(FileObject->FsContext);
  if (header == NULL || header->Resource == NULL) return;
  ExReleaseResourceLite(header->Resource);
  KeLeaveCriticalRegion();
}

BOOLEAN NTAPI FilterFastIoCheckIfPossible(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                          ULONG Length, BOOLEAN Wait, ULONG LockKey,
                                          BOOLEAN CheckForReadOperation, PIO_STATUS_BLOCK IoStatus,
                                          PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_CHECK_IF_POSSIBLE, BOOLEAN>(MEMBER(FastIoCheckIfPossible), FALSE, DeviceObject,
                                                    FileObject, FileOffset, Length, Wait, LockKey,
                                                    CheckForReadOperation, IoStatus);
}

BOOLEAN NTAPI FilterFastIoRead(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                               BOOLEAN Wait, ULONG LockKey, PVOID Buffer, PIO_STATUS_BLOCK IoStatus,
                               PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_READ, BOOLEAN>(MEMBER(FastIoRead), FALSE, DeviceObject, FileObject, FileOffset,
                                       Length, Wait, LockKey, Buffer, IoStatus);
}

BOOLEAN NTAPI FilterFastIoWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                                BOOLEAN Wait, ULONG LockKey, PVOID Buffer, PIO_STATUS_BLOCK IoStatus,
                                PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_WRITE, BOOLEAN>(MEMBER(FastIoWrite), FALSE, DeviceObject, FileObject, FileOffset,
                                        Length, Wait, LockKey, Buffer, IoStatus);
}

BOOLEAN NTAPI FilterFastIoQueryBasicInfo(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                         PFILE_BASIC_INFORMATION Buffer, PIO_STATUS_BLOCK IoStatus,
                                         PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_QUERY_BASIC_INFO, BOOLEAN>(MEMBER(FastIoQueryBasicInfo), FALSE, DeviceObject,
                                                   FileObject, Wait, Buffer, IoStatus);
}

BOOLEAN NTAPI FilterFastIoQueryStandardInfo(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                            PFILE_STANDARD_INFORMATION Buffer,
                                            PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_QUERY_STANDARD_INFO, BOOLEAN>(MEMBER(FastIoQueryStandardInfo), FALSE,
                                                      DeviceObject, FileObject, Wait, Buffer, IoStatus);
}

BOOLEAN NTAPI FilterFastIoLock(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                               PLARGE_INTEGER Length, PEPROCESS ProcessId, ULONG Key,
                               BOOLEAN FailImmediately, BOOLEAN ExclusiveLock,
                               PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_LOCK, BOOLEAN>(MEMBER(FastIoLock), FALSE, DeviceObject, FileObject, FileOffset,
                                       Length, ProcessId, Key, FailImmediately, ExclusiveLock, IoStatus);
}

BOOLEAN NTAPI FilterFastIoUnlockSingle(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                       PLARGE_INTEGER Length, PEPROCESS ProcessId, ULONG Key,
                                       PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_UNLOCK_SINGLE, BOOLEAN>(MEMBER(FastIoUnlockSingle), FALSE, DeviceObject,
                                                FileObject, FileOffset, Length, ProcessId, Key, IoStatus);
}

BOOLEAN NTAPI FilterFastIoUnlockAll(PFILE_OBJECT FileObject, PEPROCESS ProcessId,
                                    PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_UNLOCK_ALL, BOOLEAN>(MEMBER(FastIoUnlockAll), FALSE, DeviceObject, FileObject,
                                             ProcessId, IoStatus);
}

BOOLEAN NTAPI FilterFastIoUnlockAllByKey(PFILE_OBJECT FileObject, PVOID ProcessId, ULONG Key,
                                         PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_UNLOCK_ALL_BY_KEY, BOOLEAN>(MEMBER(FastIoUnlockAllByKey), FALSE, DeviceObject,
                                                    FileObject, ProcessId, Key, IoStatus);
}

// Section creation names no device: the driver's own device is found up the volume's stack.
// Where nothing below offers the routine (or no device of ours is found), the file is still
// locked the way the system would lock it itself.
VOID NTAPI FilterAcquireFileForNtCreateSection(PFILE_OBJECT FileObject) {
  PDEVICE_OBJECT own = OwnDeviceOnVolume(FileObject);
  PDEVICE_OBJECT lower = NULL;
  FAST_IO_ACQUIRE_FILE *entry = reinterpret_cast<FAST_IO_ACQUIRE_FILE *>(
      LowerEntry(own, MEMBER(AcquireFileForNtCreateSection), &lower));
  if (entry == NULL) {
    AcquireFileExclusive(FileObject);
    return;
  }
  PCHAR text = ResolvePath(own, FileObject, FALSE);
  entry(FileObject);
  ReleasePath(text);
}

VOID NTAPI FilterReleaseFileForNtCreateSection(PFILE_OBJECT FileObject) {
  PDEVICE_OBJECT own = OwnDeviceOnVolume(FileObject);
  PDEVICE_OBJECT lower = NULL;
  FAST_IO_RELEASE_FILE *entry = reinterpret_cast<FAST_IO_RELEASE_FILE *>(
      LowerEntry(own, MEMBER(ReleaseFileForNtCreateSection), &lower));
  if (entry == NULL) {
    ReleaseFile(FileObject);
    return;
  }
  PCHAR text = ResolvePath(own, FileObject, FALSE);
  entry(FileObject);
  ReleasePath(text);
}

BOOLEAN NTAPI FilterFastIoQueryNetworkOpenInfo(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                               PFILE_NETWORK_OPEN_INFORMATION Buffer,
                                               PIO_STATUS_BLOCK IoStatus,
                                               PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_QUERY_NETWORK_OPEN_INFO, BOOLEAN>(MEMBER(FastIoQueryNetworkOpenInfo), FALSE,
                                                          DeviceObject, FileObject, Wait, Buffer, IoStatus);
}

NTSTATUS NTAPI FilterAcquireForModWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER EndingOffset,
                                        PERESOURCE *ResourceToRelease, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_ACQUIRE_FOR_MOD_WRITE, NTSTATUS>(MEMBER(AcquireForModWrite), STATUS_NOT_IMPLEMENTED,
                                                         DeviceObject, FileObject, EndingOffset,
                                                         ResourceToRelease);
}

BOOLEAN NTAPI FilterMdlRead(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                            ULONG LockKey, PMDL *MdlChain, PIO_STATUS_BLOCK IoStatus,
                            PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_MDL_READ, BOOLEAN>(MEMBER(MdlRead), FALSE, DeviceObject, FileObject, FileOffset,
                                           Length, LockKey, MdlChain, IoStatus);
}

BOOLEAN NTAPI FilterMdlReadComplete(PFILE_OBJECT FileObject, PMDL MdlChain,
                                    PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_MDL_READ_COMPLETE, BOOLEAN>(MEMBER(MdlReadComplete), FALSE, DeviceObject,
                                                    FileObject, MdlChain);
}

// Answers "not implemented" before anything else, so that a caller who reads the status
// block after a FALSE finds a definite one.
BOOLEAN NTAPI FilterPrepareMdlWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                    ULONG Length, ULONG LockKey, PMDL *MdlChain,
                                    PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  if (DeviceObject == NULL) return FALSE;
  IoStatus->Status = STATUS_NOT_IMPLEMENTED;
  IoStatus->Information = 0;
  return PassOn<FAST_IO_PREPARE_MDL_WRITE, BOOLEAN>(MEMBER(PrepareMdlWrite), FALSE, DeviceObject,
                                                    FileObject, FileOffset, Length, LockKey, MdlChain,
                                                    IoStatus);
}

BOOLEAN NTAPI FilterMdlWriteComplete(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                     PMDL MdlChain, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_MDL_WRITE_COMPLETE, BOOLEAN>(MEMBER(MdlWriteComplete), FALSE, DeviceObject,
                                                     FileObject, FileOffset, MdlChain);
}

BOOLEAN NTAPI FilterFastIoReadCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                         ULONG Length, ULONG LockKey, PVOID Buffer, PMDL *MdlChain,
                                         PIO_STATUS_BLOCK IoStatus,
                                         PCOMPRESSED_DATA_INFO CompressedDataInfo,
                                         ULONG CompressedDataInfoLength,
                                         PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_READ_COMPRESSED, BOOLEAN>(MEMBER(FastIoReadCompressed), FALSE, DeviceObject,
                                                  FileObject, FileOffset, Length, LockKey, Buffer, MdlChain,
                                                  IoStatus, CompressedDataInfo, CompressedDataInfoLength);
}

BOOLEAN NTAPI FilterFastIoWriteCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                          ULONG Length, ULONG LockKey, PVOID Buffer, PMDL *MdlChain,
                                          PIO_STATUS_BLOCK IoStatus,
                                          PCOMPRESSED_DATA_INFO CompressedDataInfo,
                                          ULONG CompressedDataInfoLength,
                                          PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_WRITE_COMPRESSED, BOOLEAN>(MEMBER(FastIoWriteCompressed), FALSE, DeviceObject,
                                                   FileObject, FileOffset, Length, LockKey, Buffer, MdlChain,
                                                   IoStatus, CompressedDataInfo, CompressedDataInfoLength);
}

BOOLEAN NTAPI FilterMdlReadCompleteCompressed(PFILE_OBJECT FileObject, PMDL MdlChain,
                                              PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_MDL_READ_COMPLETE_COMPRESSED, BOOLEAN>(MEMBER(MdlReadCompleteCompressed), FALSE,
                                                               DeviceObject, FileObject, MdlChain);
}

BOOLEAN NTAPI FilterMdlWriteCompleteCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                               PMDL MdlChain, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_MDL_WRITE_COMPLETE_COMPRESSED, BOOLEAN>(MEMBER(MdlWriteCompleteCompressed), FALSE,
                                                                DeviceObject, FileObject, FileOffset,
                                                                MdlChain);
}

// Hands the create request it is given one stack location down, to the device below, and
// moves it back up afterwards: the request leaves at the location it came in with. Its file
// object is the I/O manager's transient one, which never sees a close, so its path is resolved
// from its own name and not left in the cache.
BOOLEAN NTAPI FilterFastIoQueryOpen(PIRP Irp, PFILE_NETWORK_OPEN_INFORMATION NetworkInformation,
                                    PDEVICE_OBJECT DeviceObject) {
  PDEVICE_OBJECT lower = NULL;
  FAST_IO_QUERY_OPEN *entry =
      reinterpret_cast<FAST_IO_QUERY_OPEN *>(LowerEntry(DeviceObject, MEMBER(FastIoQueryOpen), &lower));
  if (entry == NULL) return FALSE;
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
  PFILE_OBJECT file = current->FileObject;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  RtlCopyMemory(next, current, sizeof(IO_STACK_LOCATION));
  next->DeviceObject = lower;
  IoSetNextIrpStackLocation(Irp);

  if (file != NULL) ForgetFileName(file);
  PCHAR text = ResolvePath(DeviceObject, file, TRUE);
  BOOLEAN result = entry(Irp, NetworkInformation, lower);
  IoSkipCurrentIrpStackLocation(Irp);
  if (file != NULL) ForgetFileName(file);
  ReleasePath(text);
  return result;
}

NTSTATUS NTAPI FilterReleaseForModWrite(PFILE_OBJECT FileObject, PERESOURCE ResourceToRelease,
                                        PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_RELEASE_FOR_MOD_WRITE, NTSTATUS>(MEMBER(ReleaseForModWrite), STATUS_NOT_IMPLEMENTED,
                                                         DeviceObject, FileObject, ResourceToRelease);
}

NTSTATUS NTAPI FilterAcquireForCcFlush(PFILE_OBJECT FileObject, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_ACQUIRE_FOR_CCFLUSH, NTSTATUS>(MEMBER(AcquireForCcFlush), STATUS_NOT_IMPLEMENTED,
                                                       DeviceObject, FileObject);
}

NTSTATUS NTAPI FilterReleaseForCcFlush(PFILE_OBJECT FileObject, PDEVICE_OBJECT DeviceObject) {
  return PassOn<FAST_IO_RELEASE_FOR_CCFLUSH, NTSTATUS>(MEMBER(ReleaseForCcFlush), STATUS_NOT_IMPLEMENTED,
                                                       DeviceObject, FileObject);
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
