// The simulated file systems: an NTFS-like and a FAT-like local file system mounted on disk
// volumes, a network redirector (device type 0x14) serving shares, and the named-pipe and
// mailslot file systems. Each answers opens, name and number queries and the attribute query,
// logs the requests that reach it and owns a fast I/O table that records its calls.
#include <deque>

#include "sim_internal.h"

struct SimVolume {
  char letter;
  SimFsKind kind;
  PDEVICE_OBJECT disk;    // the named device a drive letter leads to
  PDEVICE_OBJECT volume;  // the mounted file-system device (local volumes only)
  VPB vpb;
  std::u16string sharePrefix;  // the redirector's name of a share: \;Z:0000000000034d8b\server\share
  struct Node {
    std::u16string path;  // from the volume's root: "\" or "\docs\a.txt"
    bool directory;
    ULONGLONG fileNumber;
  };
  std::deque<Node> nodes;
};

using namespace sim;

namespace {

const int FsKinds = 5;

struct FileSystems {
  PDRIVER_OBJECT disk;
  PDRIVER_OBJECT drivers[FsKinds];
  FAST_IO_DISPATCH tables[FsKinds];
  std::deque<SimVolume> volumes;
  PDEVICE_OBJECT redirector;
  std::map<PDEVICE_OBJECT, std::vector<SimRequest>> requests;
  std::vector<SimFastIoCall> fastIoCalls;
  int nextVolumeNumber;
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
    if (Upper(node.path) == upper) return &node;
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
      if (file->FsContext == &node) return &volume;
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
    SimVolume::Node *base = static_cast<SimVolume::Node *>(file->RelatedFileObject->FsContext);
    if (base == NULL) return STATUS_INVALID_PARAMETER;
    path = base->path + (base->path == u"\\" || path.empty() ? u"" : u"\\") + path;
  }
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  if (path.empty()) path = u"\\";

  SimVolume::Node *node = FindNode(volume, path);
  if (node == NULL && (volume->kind == SimNamedPipeFs || volume->kind == SimMailslotFs)) {
    volume->nodes.push_back({path, false, volume->nodes.size()});
    node = &volume->nodes.back();
  }
  if (node == NULL) return STATUS_OBJECT_NAME_NOT_FOUND;
  ULONG options = stack->Parameters.Create.Options & 0x00FFFFFF;
  if ((options & FILE_DIRECTORY_FILE) && !node->directory) return STATUS_NOT_A_DIRECTORY;
  if ((options & FILE_NON_DIRECTORY_FILE) && node->directory) return STATUS_FILE_IS_A_DIRECTORY;
  file->FsContext = node;
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
  SimVolume::Node *node = static_cast<SimVolume::Node *>(file->FsContext);
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
  F().requests[DeviceObject].push_back({stack->MajorFunction, stack->FileObject});
  Irp->IoStatus.Information = 0;
  NTSTATUS status = STATUS_SUCCESS;
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      status = Open(DeviceObject, stack);
      break;
    case IRP_MJ_QUERY_INFORMATION:
      status = QueryFile(DeviceObject, Irp, stack);
      break;
    case IRP_MJ_QUERY_VOLUME_INFORMATION: {
      std::u16string rest;
      SimVolume *volume = stack->FileObject ? VolumeOfFile(DeviceObject, stack->FileObject)
                                            : VolumeOf(DeviceObject, u"", &rest);
      status = QueryVolume(volume, Irp, stack);
      break;
    }
    default:  // cleanup, close, reads, writes, set information: nothing to keep
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

// ---- The file systems' fast I/O entries: each records its call --------------------------------

void Record(size_t member, PDEVICE_OBJECT device) { F().fastIoCalls.push_back({member, device}); }

BOOLEAN NTAPI FsCheckIfPossible(PFILE_OBJECT, PLARGE_INTEGER, ULONG, BOOLEAN, ULONG, BOOLEAN,
                                PIO_STATUS_BLOCK, PDEVICE_OBJECT DeviceObject) {
  Record(offsetof(FAST_IO_DISPATCH, FastIoCheckIfPossible), DeviceObject);
  return TRUE;
}

BOOLEAN NTAPI FsRead(PFILE_OBJECT, PLARGE_INTEGER, ULONG Length, BOOLEAN, ULONG, PVOID Buffer,
                     PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(offsetof(FAST_IO_DISPATCH, FastIoRead), DeviceObject);
  std::memset(Buffer, 'R', Length);
  IoStatus->Status = STATUS_SUCCESS;
  IoStatus->Information = Length;
  return TRUE;
}

BOOLEAN NTAPI FsWrite(PFILE_OBJECT, PLARGE_INTEGER, ULONG Length, BOOLEAN, ULONG, PVOID,
                      PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(offsetof(FAST_IO_DISPATCH, FastIoWrite), DeviceObject);
  IoStatus->Status = STATUS_SUCCESS;
  IoStatus->Information = Length;
  return TRUE;
}

BOOLEAN NTAPI FsQueryBasicInfo(PFILE_OBJECT, BOOLEAN, PFILE_BASIC_INFORMATION Buffer,
                               PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  Record(offsetof(FAST_IO_DISPATCH, FastIoQueryBasicInfo), DeviceObject);
  std::memset(Buffer, 0, sizeof(*Buffer));
  Buffer->FileAttributes = FILE_ATTRIBUTE_NORMAL;
  IoStatus->Status = STATUS_SUCCESS;
  IoStatus->Information = sizeof(*Buffer);
  return TRUE;
}

BOOLEAN NTAPI FsDeviceControl(PFILE_OBJECT, BOOLEAN, PVOID, ULONG, PVOID, ULONG, ULONG,
                              PIO_STATUS_BLOCK, PDEVICE_OBJECT DeviceObject) {
  Record(offsetof(FAST_IO_DISPATCH, FastIoDeviceControl), DeviceObject);
  return FALSE;  // device controls of a file system go by request
}

VOID NTAPI FsAcquireFile(PFILE_OBJECT FileObject) {
  Record(offsetof(FAST_IO_DISPATCH, AcquireFileForNtCreateSection), FileObject->DeviceObject);
}

VOID NTAPI FsReleaseFile(PFILE_OBJECT FileObject) {
  Record(offsetof(FAST_IO_DISPATCH, ReleaseFileForNtCreateSection), FileObject->DeviceObject);
}

BOOLEAN NTAPI FsQueryOpen(PIRP Irp, PFILE_NETWORK_OPEN_INFORMATION, PDEVICE_OBJECT DeviceObject) {
  Record(offsetof(FAST_IO_DISPATCH, FastIoQueryOpen), DeviceObject);
  if (IoGetCurrentIrpStackLocation(Irp)->DeviceObject != DeviceObject) {
    SimViolation("query-open request not at the file system's stack location");
  }
  return TRUE;
}

void MakeDriver(int kind) {
  PDRIVER_OBJECT driver = SimLoadDriver(NULL, DriverNames[kind], NULL);
  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; major++) driver->MajorFunction[major] = FileSystemDispatch;
  FAST_IO_DISPATCH &table = F().tables[kind];
  std::memset(&table, 0, sizeof(table));
  table.SizeOfFastIoDispatch = sizeof(FAST_IO_DISPATCH);
  table.FastIoCheckIfPossible = FsCheckIfPossible;
  table.FastIoRead = FsRead;
  table.FastIoWrite = FsWrite;
  table.FastIoQueryBasicInfo = FsQueryBasicInfo;
  table.FastIoDeviceControl = FsDeviceControl;
  table.AcquireFileForNtCreateSection = FsAcquireFile;
  table.ReleaseFileForNtCreateSection = FsReleaseFile;
  table.FastIoQueryOpen = FsQueryOpen;
  driver->FastIoDispatch = &table;
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
  volume->nodes.push_back({u"\\", true, 0});
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
  volume->nodes.push_back({u"\\", true, 5});
  SimCreateLink(LetterLink(letter).c_str(), name.c_str());
  return volume;
}

void SimAddSubstitute(char letter, const char *target) {
  SimCreateLink(LetterLink(letter).c_str(), (u"\\DosDevices\\" + Widen(target)).c_str());
}

SimVolume *SimAddNetworkDrive(char letter, const char *share) {
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
  volume->sharePrefix = u"\\;" + std::u16string(1, char16_t(letter)) + u":0000000000034d8b" + Widen(share);
  volume->nodes.push_back({u"\\", true, 5});
  SimCreateLink(LetterLink(letter).c_str(), (u"\\Device\\LanmanRedirector" + volume->sharePrefix).c_str());
  return volume;
}

void SimAddDirectory(SimVolume *volume, const char *path) {
  volume->nodes.push_back({Widen(path), true, 100 + volume->nodes.size()});
}

void SimAddFile(SimVolume *volume, const char *path, ULONGLONG fileNumber) {
  volume->nodes.push_back({Widen(path), false, fileNumber});
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
    volume->nodes.push_back({u"\\$Stream" + Widen(std::to_string(fileNumber).c_str()), false, fileNumber});
    node = &volume->nodes.back();
  }
  return sim::CreateFileObject(volume->disk, node, FO_STREAM_FILE);
}
