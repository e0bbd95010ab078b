// The simulated file systems: an NTFS-like and a FAT-like local file system mounted on disk
// volumes, a network redirector (device type 0x14) serving shares, and the named-pipe and
// mailslot file systems. Each answers opens, name and number queries and the attribute query,
// logs the requests that reach it and owns a fast I/O table that records its calls. Files are
// renamed, linked and deleted by set-information requests and delete-on-close opens.
#include <deque>
#include <mutex>
#include <type_traits>

#include "sim_internal.h"

struct SimVolume {
  char letter;
  SimFsKind kind;
  PDEVICE_OBJECT disk;    // the named device a drive letter leads to
  PDEVICE_OBJECT volume;  // the mounted file-system device (local volumes only)
  VPB vpb;
  std::u16string sharePrefix;  // the redirector's name of a share: \;Z:0000000000034d8b\server\share
  struct Node;
  // What FsContext points at: the common header first, as the system expects of file systems.
  struct Fcb {
    FSRTL_COMMON_FCB_HEADER Header;
    ERESOURCE MainResource;
    Node *node;
  };
  struct Node {
    std::u16string path;  // from the volume's root: "\" or "\docs\a.txt"
    bool directory;
    ULONGLONG fileNumber;
    bool deletePending;
    bool deleted;
    bool reparsePoint;  // opening it sends the open elsewhere
    Fcb fcb;
  };
  std::deque<Node> nodes;
};

using namespace sim;

namespace {

SimVolume::Node *AddNode(SimVolume *volume, const std::u16string &path, bool directory, ULONGLONG fileNumber) {
  volume->nodes.push_back(SimVolume::Node());
  SimVolume::Node *node = &volume->nodes.back();
  node->path = path;
  node->directory = directory;
  node->fileNumber = fileNumber;
  node->deletePending = false;
  node->deleted = false;
  node->reparsePoint = false;
  std::memset(&node->fcb, 0, sizeof(node->fcb));
  node->fcb.Header.NodeTypeCode = 0x0701;
  node->fcb.Header.NodeByteSize = sizeof(node->fcb);
  ExInitializeResourceLite(&node->fcb.MainResource);
  node->fcb.Header.Resource = &node->fcb.MainResource;
  node->fcb.node = node;
  return node;
}

SimVolume::Node *NodeOf(PFILE_OBJECT file) {
  if (file == NULL || file->FsContext == NULL) return NULL;
  return static_cast<SimVolume::Fcb *>(file->FsContext)->node;
}

const int FsKinds = 5;

struct FileSystems {
  PDRIVER_OBJECT disk;
  PDRIVER_OBJECT drivers[FsKinds];
  FAST_IO_DISPATCH tables[FsKinds];
  std::deque<SimVolume> volumes;
  PDEVICE_OBJECT redirector;
  std::map<PDEVICE_OBJECT, std::vector<SimRequest>> requests;
  std::vector<SimFastIoCall> fastIoCalls;
  BOOLEAN fastIoAnswer;
  NTSTATUS fastIoStatus;
  int nextVolumeNumber;
  std::mutex logLock;
};

FileSystems &F() {
  static FileSystems *fileSystems = new FileSystems();
  return *fileSystems;
}

const char16_t *const DriverNames[FsKinds] = {u"\\FileSystem\\Ntfs", u"\\FileSystem\\Fastfat",
                                              u"\\FileSystem\\Redirector", u"\\FileSystem\\Npfs",
                                              u"\\FileSystem\\Msfs"};
const char16_t *const FileSystemNames[FsKinds] = {u"NTFS", u"FAT", u"NTFS", u"NPFS", u"MSFS"};

SimVolume::Node *FindNode(SimVolume *volume, const std::u16string &path) {
  std::u16string upper = Upper(path);
  for (SimVolume::Node &node : volume->nodes) {
    if (!node.deleted && Upper(node.path) == upper) return &node;
  }
  return NULL;
}

// The volume a request on a file-system device concerns; for the redirector, the share that
// the file name starts with.
SimVolume *VolumeOf(PDEVICE_OBJECT device, const std::u16string &fileName, std::u16string *rest) {
  for (SimVolume &volume : F().volumes) {
    if (volume.kind == SimRedirector) {
      if (device != volume.disk) continue;
      std::u16string upper = Upper(fileName);
      std::u16string prefix = Upper(volume.sharePrefix);
      if (upper.compare(0, prefix.size(), prefix) != 0) continue;
      if (upper.size() != prefix.size() && upper[prefix.size()] != u'\\') continue;
      *rest = fileName.substr(prefix.size());
      return &volume;
    }
    if (device == volume.volume || (volume.volume == NULL && device == volume.disk)) {
      *rest = fileName;
      return &volume;
    }
  }
  return NULL;
}

SimVolume *VolumeOfFile(PDEVICE_OBJECT device, PFILE_OBJECT file) {
  std::u16string rest;
  for (SimVolume &volume : F().volumes) {
    for (SimVolume::Node &node : volume.nodes) {
      if (NodeOf(file) == &node) return &volume;
    }
  }
  return VolumeOf(device, u"", &rest);
}

NTSTATUS Open(PDEVICE_OBJECT device, PIO_STACK_LOCATION stack) {
  PFILE_OBJECT file = stack->FileObject;
  std::u16string rest;
  SimVolume *volume = VolumeOf(device, FromUnicode(&file->FileName), &rest);
  if (volume == NULL) return STATUS_OBJECT_PATH_NOT_FOUND;
  std::u16string path = rest;
  if (file->RelatedFileObject != NULL) {
    SimVolume::Node *base = NodeOf(file->RelatedFileObject);
    if (base == NULL) return STATUS_INVALID_PARAMETER;
    path = base->path + (base->path == u"\\" || path.empty() ? u"" : u"\\") + path;
  }
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  if (path.empty()) path = u"\\";

  SimVolume::Node *node = FindNode(volume, path);
  if (node == NULL && (volume->kind == SimNamedPipeFs || volume->kind == SimMailslotFs)) {
    node = AddNode(volume, path, false, volume->nodes.size());
  }
  ULONG options = stack->Parameters.Create.Options & 0x00FFFFFF;
  ULONG disposition = stack->Parameters.Create.Options >> 24;
  if (node == NULL) {
    if (disposition == FILE_OPEN || disposition == FILE_OVERWRITE) return STATUS_OBJECT_NAME_NOT_FOUND;
    node = AddNode(volume, path, (options & FILE_DIRECTORY_FILE) != 0, 1000 + volume->nodes.size());
  } else if (disposition == FILE_CREATE) {
    return STATUS_OBJECT_NAME_COLLISION;
  }
  if (node->reparsePoint) return STATUS_REPARSE;
  if ((options & FILE_DIRECTORY_FILE) && !node->directory) return STATUS_NOT_A_DIRECTORY;
  if ((options & FILE_NON_DIRECTORY_FILE) && node->directory) return STATUS_FILE_IS_A_DIRECTORY;
  if (options & FILE_DELETE_ON_CLOSE) node->deletePending = true;
  file->FsContext = &node->fcb.Header;
  return STATUS_SUCCESS;
}

// Variable-length answers: as much of the text as fits, a warning when it did not all fit.
NTSTATUS CopyText(const std::u16string &text, PVOID buffer, ULONG length, ULONG header,
                  PULONG textLength, WCHAR *destination, ULONG_PTR *information) {
  if (length < header) return STATUS_BUFFER_TOO_SMALL;
  ULONG bytes = ULONG(text.size() * sizeof(WCHAR));
  ULONG copied = bytes < length - header ? bytes : (length - header) & ~1u;
  (void)buffer;
  *textLength = bytes;
  std::memcpy(destination, text.data(), copied);
  *information = header + copied;
  return copied < bytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS QueryFile(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack) {
  PFILE_OBJECT file = stack->FileObject;
  SimVolume::Node *node = NodeOf(file);
  SimVolume *volume = VolumeOfFile(device, file);
  if (node == NULL || volume == NULL) return STATUS_INVALID_PARAMETER;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG length = stack->Parameters.QueryFile.Length;
  switch (stack->Parameters.QueryFile.FileInformationClass) {
    case FileNameInformation: {
      PFILE_NAME_INFORMATION name = static_cast<PFILE_NAME_INFORMATION>(buffer);
      return CopyText(volume->sharePrefix + node->path, buffer, length,
                      offsetof(FILE_NAME_INFORMATION, FileName), &name->FileNameLength,
                      name->FileName, &irp->IoStatus.Information);
    }
    case FileInternalInformation: {
      if (length < sizeof(FILE_INTERNAL_INFORMATION)) return STATUS_BUFFER_TOO_SMALL;
      PFILE_INTERNAL_INFORMATION internal = static_cast<PFILE_INTERNAL_INFORMATION>(buffer);
      internal->IndexNumber.QuadPart = LONGLONG(node->fileNumber);
      irp->IoStatus.Information = sizeof(FILE_INTERNAL_INFORMATION);
      return STATUS_SUCCESS;
    }
    default:
      return STATUS_INVALID_INFO_CLASS;
  }
}

// Renames, links and delete dispositions. The new names are paths from the volume's root.
NTSTATUS SetFile(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack) {
  PFILE_OBJECT file = stack->FileObject;
  SimVolume::Node *node = NodeOf(file);
  SimVolume *volume = VolumeOfFile(device, file);
  if (node == NULL || volume == NULL) return STATUS_INVALID_PARAMETER;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (stack->Parameters.SetFile.FileInformationClass) {
    case FileDispositionInformation:
      node->deletePending = static_cast<PFILE_DISPOSITION_INFORMATION>(buffer)->DeleteFile != 0;
      return STATUS_SUCCESS;
    case FileRenameInformation:
    case FileLinkInformation: {
      PFILE_RENAME_INFORMATION info = static_cast<PFILE_RENAME_INFORMATION>(buffer);
      std::u16string target(info->FileName, info->FileNameLength / sizeof(WCHAR));
      SimVolume::Node *existing = FindNode(volume, target);
      if (existing == node) return STATUS_SUCCESS;
      if (existing != NULL) {
        if (!info->ReplaceIfExists) return STATUS_OBJECT_NAME_COLLISION;
        existing->deleted = true;
      }
      if (stack->Parameters.SetFile.FileInformationClass == FileLinkInformation) {
        AddNode(volume, target, false, node->fileNumber);
        return STATUS_SUCCESS;
      }
      std::u16string old = node->path;
      for (SimVolume::Node &other : volume->nodes) {
        if (!other.deleted && other.path.size() > old.size() && other.path.compare(0, old.size(), old) == 0 &&
            other.path[old.size()] == u'\\') {
          other.path = target + other.path.substr(old.size());
        }
      }
      node->path = target;
      return STATUS_SUCCESS;
    }
    default:
      return STATUS_INVALID_INFO_CLASS;
  }
}

NTSTATUS QueryVolume(SimVolume *volume, PIRP irp, PIO_STACK_LOCATION stack) {
  if (volume == NULL) return STATUS_INVALID_PARAMETER;
  if (stack->Parameters.QueryVolume.FsInformationClass != FileFsAttributeInformation ||
      volume->kind == SimNamedPipeFs || volume->kind == SimMailslotFs) {
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  PFILE_FS_ATTRIBUTE_INFORMATION attributes =
      static_cast<PFILE_FS_ATTRIBUTE_INFORMATION>(irp->AssociatedIrp.SystemBuffer);
  ULONG length = stack->Parameters.QueryVolume.Length;
  if (length < offsetof(FILE_FS_ATTRIBUTE_INFORMATION, FileSystemName)) return STATUS_BUFFER_TOO_SMALL;
  attributes->FileSystemAttributes = volume->kind == SimFat ? 0x6 : 0x700FF;
  attributes->MaximumComponentNameLength = 255;
  return CopyText(FileSystemNames[volume->kind], attributes, length,
                  offsetof(FILE_FS_ATTRIBUTE_INFORMATION, FileSystemName),
                  &attributes->FileSystemNameLength, attributes->FileSystemName,
                  &irp->IoStatus.Information);
}

NTSTATUS NTAPI FileSystemDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (SimResourcesHeldByThisThread() != 0) SimViolation("a file system was asked while the caller holds a resource");
  {
    std::lock_guard<std::mutex> lock(F().logLock);
    F().requests[DeviceObject].push_back({stack->MajorFunction, stack->FileObject});
  }
  Irp->IoStatus.Information = 0;
  NTSTATUS status = STATUS_SUCCESS;
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      status = Open(DeviceObject, stack);
      break;
    case IRP_MJ_QUERY_INFORMATION:
      status = QueryFile(DeviceObject, Irp, stack);
      break;
    case IRP_MJ_SET_INFORMATION:
      status = SetFile(DeviceObject, Irp, stack);
      break;
    case IRP_MJ_CLEANUP: {
      SimVolume::Node *node = NodeOf(stack->FileObject);
      if (node != NULL && node->deletePending) node->deleted = true;
      break;
    }
    case IRP_MJ_QUERY_VOLUME_INFORMATION: {
      std::u16string rest;
      SimVolume *volume = stack->FileObject ? VolumeOfFile(DeviceObject, stack->FileObject)
                                            : VolumeOf(DeviceObject, u"", &rest);
      status = QueryVolume(volume, Irp, stack);
      break;
    }
    default:  // close, reads, writes: nothing to keep
      break;
  }
  Irp->IoStatus.Status = status;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS NTAPI DiskDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  (void)DeviceObject;
  SimViolation("a file request reached a disk instead of its file system");
  Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

// ---- The file systems' fast I/O entries: each records its call and its arguments ------------

template <typename T>
ULONG_PTR Argument(T value) {
  if constexpr (std::is_pointer<T>::value) {
    return reinterpret_cast<ULONG_PTR>(value);
  } else {
    return static_cast<ULONG_PTR>(value);
  }
}

template <typename... Args>
void Record(size_t member, PDEVICE_OBJECT device, Args... arguments) {
  std::lock_guard<std::mutex> lock(F().logLock);
  F().fastIoCalls.push_back({member, device, {Argument(arguments)...}});
}

BOOLEAN Answer(PIO_STATUS_BLOCK IoStatus) {
  IoStatus->Status = F().fastIoStatus;
  IoStatus->Information = SimFastIoInformation;
  return F().fastIoAnswer;
}

#define MEMBER(name) offsetof(FAST_IO_DISPATCH, name)

BOOLEAN NTAPI FsCheckIfPossible(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                                BOOLEAN Wait, ULONG LockKey, BOOLEAN CheckForReadOperation,
                                PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoCheckIfPossible), DeviceObject, FileObject, FileOffset, Length, Wait, LockKey,
         CheckForReadOperation, IoStatus);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsRead(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length, BOOLEAN Wait,
                     ULONG LockKey, PVOID Buffer, PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoRead), DeviceObject, FileObject, FileOffset, Length, Wait, LockKey, Buffer, IoStatus);
  std::memset(Buffer, 'R', Length);
  BOOLEAN answer = Answer(IoStatus);
  IoStatus->Information = Length;
  return answer;
}

BOOLEAN NTAPI FsWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length, BOOLEAN Wait,
                      ULONG LockKey, PVOID Buffer, PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoWrite), DeviceObject, FileObject, FileOffset, Length, Wait, LockKey, Buffer, IoStatus);
  BOOLEAN answer = Answer(IoStatus);
  IoStatus->Information = Length;
  return answer;
}

BOOLEAN NTAPI FsQueryBasicInfo(PFILE_OBJECT FileObject, BOOLEAN Wait, PFILE_BASIC_INFORMATION Buffer,
                               PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoQueryBasicInfo), DeviceObject, FileObject, Wait, Buffer, IoStatus);
  std::memset(Buffer, 0, sizeof(*Buffer));
  Buffer->FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsQueryStandardInfo(PFILE_OBJECT FileObject, BOOLEAN Wait, PFILE_STANDARD_INFORMATION Buffer,
                                  PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoQueryStandardInfo), DeviceObject, FileObject, Wait, Buffer, IoStatus);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsLock(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, PLARGE_INTEGER Length,
                     PEPROCESS ProcessId, ULONG Key, BOOLEAN FailImmediately, BOOLEAN ExclusiveLock,
                     PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoLock), DeviceObject, FileObject, FileOffset, Length, ProcessId, Key, FailImmediately,
         ExclusiveLock, IoStatus);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsUnlockSingle(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, PLARGE_INTEGER Length,
                             PEPROCESS ProcessId, ULONG Key, PIO_STATUS_BLOCK IoStatus,
                             PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoUnlockSingle), DeviceObject, FileObject, FileOffset, Length, ProcessId, Key, IoStatus);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsUnlockAll(PFILE_OBJECT FileObject, PEPROCESS ProcessId, PIO_STATUS_BLOCK IoStatus,
                          PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoUnlockAll), DeviceObject, FileObject, ProcessId, IoStatus);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsUnlockAllByKey(PFILE_OBJECT FileObject, PVOID ProcessId, ULONG Key, PIO_STATUS_BLOCK IoStatus,
                               PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoUnlockAllByKey), DeviceObject, FileObject, ProcessId, Key, IoStatus);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsDeviceControl(PFILE_OBJECT FileObject, BOOLEAN Wait, PVOID InputBuffer,
                              ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength,
                              ULONG IoControlCode, PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoDeviceControl), DeviceObject, FileObject, Wait, InputBuffer, InputBufferLength,
         OutputBuffer, OutputBufferLength, IoControlCode, IoStatus);
  return Answer(IoStatus);
}

// As a file system does for section creation: the file's main resource, exclusive.
VOID NTAPI FsAcquireFile(PFILE_OBJECT FileObject) {
  Record(MEMBER(AcquireFileForNtCreateSection), FileObject->DeviceObject, FileObject);
  SimVolume::Node *node = NodeOf(FileObject);
  if (node == NULL) return;
  KeEnterCriticalRegion();
  ExAcquireResourceExclusiveLite(&node->fcb.MainResource, TRUE);
}

VOID NTAPI FsReleaseFile(PFILE_OBJECT FileObject) {
  Record(MEMBER(ReleaseFileForNtCreateSection), FileObject->DeviceObject, FileObject);
  SimVolume::Node *node = NodeOf(FileObject);
  if (node == NULL) return;
  ExReleaseResourceLite(&node->fcb.MainResource);
  KeLeaveCriticalRegion();
}

BOOLEAN NTAPI FsQueryNetworkOpenInfo(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                     PFILE_NETWORK_OPEN_INFORMATION Buffer, PIO_STATUS_BLOCK IoStatus,
                                     PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoQueryNetworkOpenInfo), DeviceObject, FileObject, Wait, Buffer, IoStatus);
  return Answer(IoStatus);
}

NTSTATUS NTAPI FsAcquireForModWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER EndingOffset,
                                    PERESOURCE *ResourceToRelease, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(AcquireForModWrite), DeviceObject, FileObject, EndingOffset, ResourceToRelease);
  return F().fastIoStatus;
}

BOOLEAN NTAPI FsMdlRead(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length, ULONG LockKey,
                        PMDL *MdlChain, PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(MdlRead), DeviceObject, FileObject, FileOffset, Length, LockKey, MdlChain, IoStatus);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsMdlReadComplete(PFILE_OBJECT FileObject, PMDL MdlChain, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(MdlReadComplete), DeviceObject, FileObject, MdlChain);
  return F().fastIoAnswer;
}

BOOLEAN NTAPI FsPrepareMdlWrite(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                                ULONG LockKey, PMDL *MdlChain, PIO_STATUS_BLOCK IoStatus,
                                PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(PrepareMdlWrite), DeviceObject, FileObject, FileOffset, Length, LockKey, MdlChain, IoStatus);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsMdlWriteComplete(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, PMDL MdlChain,
                                 PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(MdlWriteComplete), DeviceObject, FileObject, FileOffset, MdlChain);
  return F().fastIoAnswer;
}

BOOLEAN NTAPI FsReadCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                               ULONG LockKey, PVOID Buffer, PMDL *MdlChain, PIO_STATUS_BLOCK IoStatus,
                               PCOMPRESSED_DATA_INFO CompressedDataInfo, ULONG CompressedDataInfoLength,
                               PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoReadCompressed), DeviceObject, FileObject, FileOffset, Length, LockKey, Buffer, MdlChain,
         IoStatus, CompressedDataInfo, CompressedDataInfoLength);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsWriteCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                                ULONG LockKey, PVOID Buffer, PMDL *MdlChain, PIO_STATUS_BLOCK IoStatus,
                                PCOMPRESSED_DATA_INFO CompressedDataInfo, ULONG CompressedDataInfoLength,
                                PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoWriteCompressed), DeviceObject, FileObject, FileOffset, Length, LockKey, Buffer, MdlChain,
         IoStatus, CompressedDataInfo, CompressedDataInfoLength);
  return Answer(IoStatus);
}

BOOLEAN NTAPI FsMdlReadCompleteCompressed(PFILE_OBJECT FileObject, PMDL MdlChain, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(MdlReadCompleteCompressed), DeviceObject, FileObject, MdlChain);
  return F().fastIoAnswer;
}

BOOLEAN NTAPI FsMdlWriteCompleteCompressed(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, PMDL MdlChain,
                                           PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(MdlWriteCompleteCompressed), DeviceObject, FileObject, FileOffset, MdlChain);
  return F().fastIoAnswer;
}

BOOLEAN NTAPI FsQueryOpen(PIRP Irp, PFILE_NETWORK_OPEN_INFORMATION NetworkInformation,
                          PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(FastIoQueryOpen), DeviceObject, Irp, NetworkInformation);
  if (IoGetCurrentIrpStackLocation(Irp)->DeviceObject != DeviceObject) {
    SimViolation("query-open request not at the file system's stack location");
  }
  return F().fastIoAnswer;
}

NTSTATUS NTAPI FsReleaseForModWrite(PFILE_OBJECT FileObject, PERESOURCE ResourceToRelease,
                                    PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(ReleaseForModWrite), DeviceObject, FileObject, ResourceToRelease);
  return F().fastIoStatus;
}

NTSTATUS NTAPI FsAcquireForCcFlush(PFILE_OBJECT FileObject, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(AcquireForCcFlush), DeviceObject, FileObject);
  return F().fastIoStatus;
}

NTSTATUS NTAPI FsReleaseForCcFlush(PFILE_OBJECT FileObject, PDEVICE_OBJECT DeviceObject) {
  Record(MEMBER(ReleaseForCcFlush), DeviceObject, FileObject);
  return F().fastIoStatus;
}

void FillTable(FAST_IO_DISPATCH &table) {
  std::memset(&table, 0, sizeof(table));
  table.SizeOfFastIoDispatch = sizeof(FAST_IO_DISPATCH);
  table.FastIoCheckIfPossible = FsCheckIfPossible;
  table.FastIoRead = FsRead;
  table.FastIoWrite = FsWrite;
  table.FastIoQueryBasicInfo = FsQueryBasicInfo;
  table.FastIoQueryStandardInfo = FsQueryStandardInfo;
  table.FastIoLock = FsLock;
  table.FastIoUnlockSingle = FsUnlockSingle;
  table.FastIoUnlockAll = FsUnlockAll;
  table.FastIoUnlockAllByKey = FsUnlockAllByKey;
  table.FastIoDeviceControl = FsDeviceControl;
  table.AcquireFileForNtCreateSection = FsAcquireFile;
  table.ReleaseFileForNtCreateSection = FsReleaseFile;
  table.FastIoQueryNetworkOpenInfo = FsQueryNetworkOpenInfo;
  table.AcquireForModWrite = FsAcquireForModWrite;
  table.MdlRead = FsMdlRead;
  table.MdlReadComplete = FsMdlReadComplete;
  table.PrepareMdlWrite = FsPrepareMdlWrite;
  table.MdlWriteComplete = FsMdlWriteComplete;
  table.FastIoReadCompressed = FsReadCompressed;
  table.FastIoWriteCompressed = FsWriteCompressed;
  table.MdlReadCompleteCompressed = FsMdlReadCompleteCompressed;
  table.MdlWriteCompleteCompressed = FsMdlWriteCompleteCompressed;
  table.FastIoQueryOpen = FsQueryOpen;
  table.ReleaseForModWrite = FsReleaseForModWrite;
  table.AcquireForCcFlush = FsAcquireForCcFlush;
  table.ReleaseForCcFlush = FsReleaseForCcFlush;
}

void MakeDriver(int kind) {
  PDRIVER_OBJECT driver = SimLoadDriver(NULL, DriverNames[kind], NULL);
  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; major++) driver->MajorFunction[major] = FileSystemDispatch;
  FillTable(F().tables[kind]);
  driver->FastIoDispatch = &F().tables[kind];
  F().drivers[kind] = driver;
}

PDEVICE_OBJECT MakeDevice(PDRIVER_OBJECT driver, const std::u16string &name, DEVICE_TYPE type) {
  UNICODE_STRING text;
  RtlInitUnicodeString(&text, name.c_str());
  PDEVICE_OBJECT device = NULL;
  if (!NT_SUCCESS(IoCreateDevice(driver, 0, name.empty() ? NULL : &text, type, 0, FALSE, &device))) {
    SimViolation("the simulator could not create a device");
    return NULL;
  }
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return device;
}

SimVolume *AddSpecial(SimFsKind kind, const char16_t *name, DEVICE_TYPE type) {
  F().volumes.push_back(SimVolume());
  SimVolume *volume = &F().volumes.back();
  volume->letter = 0;
  volume->kind = kind;
  volume->disk = MakeDevice(F().drivers[kind], name, type);
  volume->volume = NULL;
  AddNode(volume, u"\\", true, 0);
  return volume;
}

void Mount(SimVolume *volume) {
  volume->volume = MakeDevice(F().drivers[volume->kind], u"", FILE_DEVICE_DISK_FILE_SYSTEM);
  volume->vpb.DeviceObject = volume->volume;
}

std::u16string LetterLink(char letter) {
  return u"\\DosDevices\\" + std::u16string(1, char16_t(letter)) + u":";
}

}  // namespace

void sim::ResetFileSystems() {
  FileSystems &fs = F();
  fs.volumes.clear();
  fs.requests.clear();
  fs.fastIoCalls.clear();
  fs.fastIoAnswer = TRUE;
  fs.fastIoStatus = STATUS_SUCCESS;
  fs.redirector = NULL;
  fs.nextVolumeNumber = 1;
  fs.disk = SimLoadDriver(NULL, u"\\Driver\\Disk", NULL);
  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; major++) fs.disk->MajorFunction[major] = DiskDispatch;
  for (int kind = 0; kind < FsKinds; kind++) MakeDriver(kind);
  AddSpecial(SimNamedPipeFs, u"\\Device\\NamedPipe", FILE_DEVICE_NAMED_PIPE);
  AddSpecial(SimMailslotFs, u"\\Device\\MailSlot", FILE_DEVICE_MAILSLOT);
}

SimVolume *SimAddLocalVolume(char letter, SimFsKind kind) {
  F().volumes.push_back(SimVolume());
  SimVolume *volume = &F().volumes.back();
  volume->letter = letter;
  volume->kind = kind;
  std::u16string name = u"\\Device\\HarddiskVolume" + Widen(std::to_string(F().nextVolumeNumber++).c_str());
  volume->disk = MakeDevice(F().disk, name, FILE_DEVICE_DISK);
  volume->vpb.RealDevice = volume->disk;
  volume->disk->Vpb = &volume->vpb;
  Mount(volume);
  AddNode(volume, u"\\", true, 5);
  SimCreateLink(LetterLink(letter).c_str(), name.c_str());
  return volume;
}

void SimAddSubstitute(char letter, const char *target) {
  SimCreateLink(LetterLink(letter).c_str(), (u"\\DosDevices\\" + Widen(target)).c_str());
}

namespace {

SimVolume *AddShare(char letter, const std::u16string &prefix) {
  if (F().redirector == NULL) {
    F().redirector = MakeDevice(F().drivers[SimRedirector], u"\\Device\\LanmanRedirector",
                                FILE_DEVICE_NETWORK_FILE_SYSTEM);
  }
  F().volumes.push_back(SimVolume());
  SimVolume *volume = &F().volumes.back();
  volume->letter = letter;
  volume->kind = SimRedirector;
  volume->disk = F().redirector;
  volume->volume = NULL;
  volume->sharePrefix = prefix;
  AddNode(volume, u"\\", true, 5);
  return volume;
}

}  // namespace

SimVolume *SimAddNetworkShare(const char *share) { return AddShare(0, Widen(share)); }

SimVolume *SimAddNetworkDriveWithoutSession(char letter, const char *share) {
  SimVolume *volume = AddShare(letter, u"\\" + std::u16string(1, char16_t(letter)) + u":" + Widen(share));
  SimCreateLink(LetterLink(letter).c_str(), (u"\\Device\\LanmanRedirector" + volume->sharePrefix).c_str());
  return volume;
}

SimVolume *SimAddNetworkDrive(char letter, const char *share) {
  SimVolume *volume =
      AddShare(letter, u"\\;" + std::u16string(1, char16_t(letter)) + u":0000000000034d8b" + Widen(share));
  SimCreateLink(LetterLink(letter).c_str(), (u"\\Device\\LanmanRedirector" + volume->sharePrefix).c_str());
  return volume;
}

void SimAddDirectory(SimVolume *volume, const char *path) {
  AddNode(volume, Widen(path), true, 100 + volume->nodes.size());
}

void SimAddFile(SimVolume *volume, const char *path, ULONGLONG fileNumber) {
  AddNode(volume, Widen(path), false, fileNumber);
}

void SimAddReparsePoint(SimVolume *volume, const char *path) {
  AddNode(volume, Widen(path), true, 100 + volume->nodes.size())->reparsePoint = true;
}

void SimDeleteVolume(SimVolume *volume) {
  PDEVICE_OBJECT device = volume->volume;
  if (device == NULL) return;
  volume->volume = NULL;
  volume->vpb.DeviceObject = NULL;
  F().requests.erase(device);
  IoDeleteDevice(device);
}

void SimRemountVolume(SimVolume *volume) {
  if (volume->volume == NULL) Mount(volume);
}

void SimDeleteSpecialFileSystem(SimFsKind kind) {
  for (SimVolume &volume : F().volumes) {
    if (volume.kind == kind && volume.disk != NULL) {
      PDEVICE_OBJECT device = volume.disk;
      volume.disk = NULL;
      F().requests.erase(device);
      IoDeleteDevice(device);
    }
  }
}

PDEVICE_OBJECT SimVolumeDevice(SimVolume *volume) { return volume->volume ? volume->volume : volume->disk; }

PDEVICE_OBJECT SimSpecialDevice(SimFsKind kind) {
  for (SimVolume &volume : F().volumes) {
    if (volume.kind == kind) return volume.disk;
  }
  return NULL;
}

PDRIVER_OBJECT SimFileSystemDriver(SimFsKind kind) { return F().drivers[kind]; }

void SimRemoveFastIoTable(SimFsKind kind) { F().drivers[kind]->FastIoDispatch = NULL; }

void SimRestoreFastIoTable(SimFsKind kind) {
  FillTable(F().tables[kind]);
  F().drivers[kind]->FastIoDispatch = &F().tables[kind];
}

void SimSetFastIoTableSize(SimFsKind kind, ULONG size) { F().tables[kind].SizeOfFastIoDispatch = size; }

void SimClearFastIoEntry(SimFsKind kind, size_t member) {
  std::memset(reinterpret_cast<char *>(&F().tables[kind]) + member, 0, sizeof(PVOID));
}

void SimSetFastIoAnswer(BOOLEAN answer, NTSTATUS status) {
  F().fastIoAnswer = answer;
  F().fastIoStatus = status;
}

bool SimFileExists(SimVolume *volume, const char *path) { return FindNode(volume, Widen(path)) != NULL; }

PERESOURCE SimMainResourceOf(PFILE_OBJECT file) {
  SimVolume::Node *node = NodeOf(file);
  return node == NULL ? NULL : &node->fcb.MainResource;
}

const std::vector<SimRequest> &SimRequestsSeen(PDEVICE_OBJECT fileSystemDevice) {
  return F().requests[fileSystemDevice];
}

const std::vector<SimFastIoCall> &SimFastIoCalls() { return F().fastIoCalls; }

PFILE_OBJECT SimCreateStreamFile(SimVolume *volume, ULONGLONG fileNumber) {
  SimVolume::Node *node = NULL;
  for (SimVolume::Node &candidate : volume->nodes) {
    if (candidate.fileNumber == fileNumber) node = &candidate;
  }
  if (node == NULL) {
    node = AddNode(volume, u"\\$Stream" + Widen(std::to_string(fileNumber).c_str()), false, fileNumber);
  }
  return sim::CreateFileObject(volume->disk, &node->fcb.Header, FO_STREAM_FILE);
}
