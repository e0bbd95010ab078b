// Driver-wide records of pelorin and the routines the driver's files share.
#pragma once

#include "kernel.h"
#include "control_codes.h"

enum FilterKind : ULONG {
  KindControl = 0,
  KindDrive = 1,
  KindNamedPipe = 2,
  KindMailslot = 3,
};

// Device extension of every device the driver creates, the control device included; zero-filled
// by the I/O manager at creation.
struct FilterExtension {
  ULONG Kind;
  PDEVICE_OBJECT LowerDevice;  // where requests are passed on
  ULONG DriveLetter;           // 'A' + drive index, or '\\' for the pipe and mailslot filters
  BOOLEAN Active;              // 0: pass everything through unexamined
  PFILE_FS_ATTRIBUTE_INFORMATION VolumeAttributes;  // VolumeAttributesSize bytes, drive filters only
};

inline FilterExtension *ExtensionOf(PDEVICE_OBJECT DeviceObject) {
  return static_cast<FilterExtension *>(DeviceObject->DeviceExtension);
}

const ULONG DriveCount = 26;
const ULONG VolumeAttributesSize = 1040;
const ULONG PathTextSize = 1024;
const ULONG NameCacheBucketCount = 256;
const ULONG DriverVersion = 430;

// Pool tags: the four characters in memory order.
const ULONG PathTextTag = 0x6D6C6946;    // "Film"
const ULONG DriverPoolTag = 0x206B6444;  // "Ddk "

// One cached path per file object (the later lookups need no file-system query).
struct NameEntry {
  PFILE_OBJECT FileObject;
  NameEntry *Next;
  CHAR Text[1];
};

// Driver-wide state. Protection is on while AccessAllowed is 0.
extern BOOLEAN AccessAllowed;
extern PDRIVER_OBJECT FilterDriverObject;
extern PDEVICE_OBJECT ControlDevice;
extern PDEVICE_OBJECT DriveFilters[DriveCount];
extern ULONG HookedDriveMask;
extern PDEVICE_OBJECT PipeFilter;
extern PDEVICE_OBJECT MailslotFilter;
extern NameEntry *NameCache[NameCacheBucketCount];
extern ERESOURCE NameCacheLock;
extern NPAGED_LOOKASIDE_LIST PathTextList;
extern FAST_IO_DISPATCH FilterFastIoDispatch;

extern "C" DRIVER_INITIALIZE DriverEntry;
DRIVER_DISPATCH DispatchRequest;
DRIVER_DISPATCH ControlDispatch;
DRIVER_DISPATCH FilterDispatch;

// Control codes, on the control device (the fast I/O entry and the request road share it).
FAST_IO_DEVICE_CONTROL FilterFastIoDeviceControl;
VOID ExecuteControlCode(PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                        ULONG OutputBufferLength, ULONG IoControlCode, PIO_STATUS_BLOCK IoStatus);

// Drive hooking.
ULONG HookDriveSet(ULONG Mask, PDRIVER_OBJECT DriverObject);
BOOLEAN HookDrive(ULONG Index, PDRIVER_OBJECT DriverObject);
VOID UnhookDrive(ULONG Index);
BOOLEAN HookSpecial(PDRIVER_OBJECT DriverObject, ULONG Kind);
VOID UnhookSpecial(ULONG Kind);
FAST_IO_DETACH_DEVICE FilterFastIoDetachDevice;

// Path resolution and the name cache. Text is a PathTextSize-byte buffer.
VOID ResolveFullPath(BOOLEAN UseOwnName, PFILE_OBJECT FileObject, FilterExtension *Extension,
                     PCHAR Text);
VOID ForgetFileName(PFILE_OBJECT FileObject);
VOID ClearNameCache(VOID);
BOOLEAN QueryFileInformation(PDEVICE_OBJECT LowerDevice, PFILE_OBJECT FileObject,
                             FILE_INFORMATION_CLASS InformationClass, PVOID Buffer, ULONG Length);
IO_COMPLETION_ROUTINE QueryCompletion;

// The protection rule.
extern const CHAR InsufficientMemoryText[];
BOOLEAN IsProtectedName(PCSTR Text);
