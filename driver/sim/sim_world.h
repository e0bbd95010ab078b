// The simulated machine around the driver, as the tests see it: volumes per drive letter, a
// substituted letter, a network drive, the named-pipe and mailslot file systems, a user-mode
// caller of the control device, fault injection and the record of contract violations (what a
// real kernel would answer with a crash or a hang).
#pragma once

#include <string>
#include <vector>

#include "sim_kernel.h"

// Pool tags of the simulated kernel's own allocations, so tests can fail exactly one of them.
constexpr ULONG SimTag(const char (&text)[5]) {
  return ULONG(UCHAR(text[0])) | ULONG(UCHAR(text[1])) << 8 | ULONG(UCHAR(text[2])) << 16 |
         ULONG(UCHAR(text[3])) << 24;
}
const ULONG SimTagDevice = SimTag("Devi");
const ULONG SimTagFile = SimTag("File");
const ULONG SimTagIrp = SimTag("Irp ");
const ULONG SimTagSystemBuffer = SimTag("SysB");
const ULONG SimTagString = SimTag("Strg");

// Forgets everything: pool, devices, drivers, names, handles, faults and violations. The named-pipe
// and mailslot file systems exist from the start, drive letters only when a test adds them.
void SimReset();

// Contract violations seen since the reset, one text each.
const std::vector<std::string> &SimViolations();
void SimViolation(const std::string &text);

// Fault injection.
struct SimFaults {
  ULONG poolTag;           // 0: any tag
  ULONG poolOccurrence;    // fail the n-th matching allocation from now on (1-based); 0: none
  bool poolFaultHit;       // set when the armed allocation failure happened
  bool failReferenceByHandle;
  bool noRelatedDevice;    // IoGetRelatedDeviceObject answers NULL, as some kernels do
  bool failAttach;         // IoAttachDeviceByPointer refuses
};
SimFaults &SimFaultPlan();
void SimFailAllocation(ULONG tag, ULONG occurrence);

// Pool accounting: live blocks with the tag (0: all tags).
size_t SimPoolBlocks(ULONG tag);
// Marks a caller address range as unmapped: probes of it fail.
void SimSetUnmappedRange(const void *start, SIZE_T length);

// Drivers.
PDRIVER_OBJECT SimLoadDriver(DRIVER_INITIALIZE *entry, PCWSTR name, NTSTATUS *status);
std::vector<PDEVICE_OBJECT> SimDevicesOf(PDRIVER_OBJECT driver);
PDEVICE_OBJECT SimTopOfStack(PDEVICE_OBJECT device);
PDEVICE_OBJECT SimAttachedTo(PDEVICE_OBJECT device);  // the device below, or NULL
bool SimDeviceExists(PDEVICE_OBJECT device);
NTSTATUS SimCreateLink(PCWSTR link, PCWSTR target);

// File systems and volumes.
enum SimFsKind { SimNtfs, SimFat, SimRedirector, SimNamedPipeFs, SimMailslotFs };

struct SimVolume;
SimVolume *SimAddLocalVolume(char letter, SimFsKind kind);
// letter: leads to "\DosDevices\<target>", for instance "C:\\folder".
void SimAddSubstitute(char letter, const char *target);
// letter: a share of the network redirector (device type 0x14), named like "\\server\\share".
SimVolume *SimAddNetworkDrive(char letter, const char *share);
// Names the redirector gives without a session: \X:\server\share\... for a letter, or a share
// reached by its UNC name only (\Device\LanmanRedirector\server\share\...).
SimVolume *SimAddNetworkDriveWithoutSession(char letter, const char *share);
SimVolume *SimAddNetworkShare(const char *share);
void SimAddDirectory(SimVolume *volume, const char *path);
void SimAddFile(SimVolume *volume, const char *path, ULONGLONG fileNumber);
// A folder whose opens the file system answers with STATUS_REPARSE (a junction or mount point);
// the simulated I/O manager ends such an open there instead of following it.
void SimAddReparsePoint(SimVolume *volume, const char *path);
// An unnamed stream file object of the file system on a file (as IoCreateStreamFileObject makes
// them): no name, FO_STREAM_FILE set, one reference that ObDereferenceObject gives back.
PFILE_OBJECT SimCreateStreamFile(SimVolume *volume, ULONGLONG fileNumber);
// The file system deletes the volume's device (a dismount); the letter leads nowhere until
// SimRemountVolume mounts a new volume device on the same disk.
void SimDeleteVolume(SimVolume *volume);
void SimRemountVolume(SimVolume *volume);
void SimDeleteSpecialFileSystem(SimFsKind kind);  // SimNamedPipeFs or SimMailslotFs
PDEVICE_OBJECT SimVolumeDevice(SimVolume *volume);  // the mounted file-system device, or NULL
PDEVICE_OBJECT SimSpecialDevice(SimFsKind kind);
PDRIVER_OBJECT SimFileSystemDriver(SimFsKind kind);
// A file system without a fast I/O table, with a table that ends before some entries, or
// without one entry.
void SimRemoveFastIoTable(SimFsKind kind);
void SimRestoreFastIoTable(SimFsKind kind);
void SimSetFastIoTableSize(SimFsKind kind, ULONG size);
void SimClearFastIoEntry(SimFsKind kind, size_t member);
// What the file systems' fast I/O entries answer from now on: BOOLEAN entries the answer (and
// the status with SimFastIoInformation in their I/O status block), NTSTATUS entries the status.
void SimSetFastIoAnswer(BOOLEAN answer, NTSTATUS status);
const ULONG_PTR SimFastIoInformation = 0x5A5A;
bool SimFileExists(SimVolume *volume, const char *path);
// The main resource in the common header of the file's FsContext.
PERESOURCE SimMainResourceOf(PFILE_OBJECT file);

// Requests that reached a file system's volume device: major function and file object.
struct SimRequest {
  UCHAR majorFunction;
  PFILE_OBJECT fileObject;
};
const std::vector<SimRequest> &SimRequestsSeen(PDEVICE_OBJECT fileSystemDevice);
// Fast I/O entries of the file systems that were called, by member offset, the device object
// they were given and their other arguments in order (pointers and numbers alike).
struct SimFastIoCall {
  size_t member;
  PDEVICE_OBJECT device;
  std::vector<ULONG_PTR> arguments;
};
const std::vector<SimFastIoCall> &SimFastIoCalls();

// A user-mode caller: opens, device controls and closes as the I/O manager does for
// CreateFile("\\\\.\\NAME"), DeviceIoControl and CloseHandle.
enum SimRoad {
  SimRequestRoad,   // a request packet
  SimMdlRoad,       // a request packet whose output travels in a memory descriptor list
  SimFastIoRoad,    // the driver's FastIoDeviceControl, falling back to a request when it declines
};
NTSTATUS SimUserOpen(PCWSTR name, HANDLE *handle);
NTSTATUS SimUserClose(HANDLE handle);
NTSTATUS SimUserDeviceIoControl(HANDLE handle, SimRoad road, ULONG code, PVOID input,
                                ULONG inputLength, PVOID output, ULONG outputLength,
                                ULONG_PTR *returned);
// Any other request on an open handle (a read, a write, a flush), without buffers.
NTSTATUS SimUserRequest(HANDLE handle, UCHAR majorFunction, ULONG_PTR *information);
// A file opened as a program does: a full name, or a name relative to the directory of the
// handle related; disposition and options as for ZwCreateFile.
NTSTATUS SimUserCreate(PCWSTR name, HANDLE related, ULONG disposition, ULONG options, HANDLE *handle);
// Set-information requests on an open handle. New names are paths from the volume's root.
NTSTATUS SimUserSetInformation(HANDLE handle, FILE_INFORMATION_CLASS infoClass, PVOID buffer, ULONG length);
NTSTATUS SimUserSetDisposition(HANDLE handle, BOOLEAN deleteFile);
NTSTATUS SimUserRename(HANDLE handle, PCWSTR newName, BOOLEAN replaceIfExists);
NTSTATUS SimUserLink(HANDLE handle, PCWSTR linkName);
// A read as the cache manager's callers make it: the fast I/O entry of the top of the file's
// stack first, a read request when that declines. *fastPath tells which road answered.
NTSTATUS SimUserCachedRead(HANDLE handle, ULONG length, PVOID buffer, bool *fastPath);
size_t SimOpenHandles();
size_t SimLiveFileObjects();
PFILE_OBJECT SimFileObjectOf(HANDLE handle);
bool SimResourceHeld(PERESOURCE resource);
bool SimResourceHeldExclusive(PERESOURCE resource);
int SimResourcesHeldByThisThread();
LONG SimCriticalRegionDepth();
