// Drive hooking: filter devices on drive volumes and on the pipe and mailslot file systems.
// Nothing here takes a lock: it runs in the thread of the control request, and the detach
// routine in the thread that deletes a volume; the records are written whole.
#include "pelorin.h"

PDEVICE_OBJECT DriveFilters[DriveCount];
ULONG HookedDriveMask;
PDEVICE_OBJECT PipeFilter;
PDEVICE_OBJECT MailslotFilter;

namespace {

// A file system's root opened by name, and the topmost device of its stack.
struct OpenedTarget {
  HANDLE Handle;
  PFILE_OBJECT FileObject;
  PDEVICE_OBJECT Device;
};

VOID CloseTarget(OpenedTarget *Target) {
  ObDereferenceObject(Target->FileObject);
  ZwClose(Target->Handle);
}

BOOLEAN OpenTarget(PCWSTR Name, OpenedTarget *Target) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, Name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, NULL, NULL);
  IO_STATUS_BLOCK ioStatus;
  NTSTATUS status = ZwCreateFile(&Target->Handle, SYNCHRONIZE, &attributes, &ioStatus, NULL, 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                                 FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
  if (!NT_SUCCESS(status)) return FALSE;

  PVOID object = NULL;
  status = ObReferenceObjectByHandle(Target->Handle, FILE_READ_DATA, NULL, KernelMode, &object, NULL);
  if (!NT_SUCCESS(status)) {
    ZwClose(Target->Handle);
    return FALSE;
  }
  Target->FileObject = static_cast<PFILE_OBJECT>(object);

  // Some kernels cannot name the top of the stack; nothing must be attached then.
  Target->Device = IoGetRelatedDeviceObject(Target->FileObject);
  if (Target->Device == NULL) {
    CloseTarget(Target);
    return FALSE;
  }
  return TRUE;
}

BOOLEAN IsDriveFilter(PDEVICE_OBJECT Device) {
  for (ULONG index = 0; index < DriveCount; index++) {
    if (DriveFilters[index] == Device) return TRUE;
  }
  return FALSE;
}

// A filter that is not yet attached; no request can reach it, so it may simply go.
PDEVICE_OBJECT CreateFilter(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT Target) {
  PDEVICE_OBJECT filter = NULL;
  NTSTATUS status = IoCreateDevice(DriverObject, sizeof(FilterExtension), NULL,
                                   Target->DeviceType, 0, FALSE, &filter);
  if (!NT_SUCCESS(status)) return NULL;
  filter->Flags &= ~DO_DEVICE_INITIALIZING;
  return filter;
}

}  // namespace

BOOLEAN HookDrive(ULONG Index, PDRIVER_OBJECT DriverObject) {
  if (Index >= DriveCount) return FALSE;
  if (DriveFilters[Index] != NULL) {
    ExtensionOf(DriveFilters[Index])->Active = 1;
    return TRUE;
  }

  WCHAR rootName[] = WIDE("\\DosDevices\\A:\\");
  rootName[12] = static_cast<WCHAR>('A' + Index);
  OpenedTarget target;
  if (!OpenTarget(rootName, &target)) return FALSE;

  // Another letter already led to this volume (a substituted drive): share its filter and
  // leave its Active flag as it is.
  if (IsDriveFilter(target.Device)) {
    CloseTarget(&target);
    DriveFilters[Index] = target.Device;
    return TRUE;
  }

  PDEVICE_OBJECT filter = CreateFilter(DriverObject, target.Device);
  if (filter == NULL) {
    CloseTarget(&target);
    return FALSE;
  }
  FilterExtension *extension = ExtensionOf(filter);
  extension->DriveLetter = 'A' + Index;
  extension->LowerDevice = target.Device;
  extension->Active = 1;
  extension->Kind = KindDrive;

  if (!NT_SUCCESS(IoAttachDeviceByPointer(filter, target.Device))) {
    IoDeleteDevice(filter);
    CloseTarget(&target);
    return FALSE;
  }

  // Without the attributes the filter still works; only the NTFS naming is skipped.
  PFILE_FS_ATTRIBUTE_INFORMATION attributes = static_cast<PFILE_FS_ATTRIBUTE_INFORMATION>(
      ExAllocatePoolWithTag(NonPagedPool, VolumeAttributesSize, DriverPoolTag));
  if (attributes != NULL) {
    ULONG returned = 0;
    NTSTATUS status = IoQueryVolumeInformation(target.FileObject, FileFsAttributeInformation,
                                               VolumeAttributesSize, attributes, &returned);
    if (!NT_SUCCESS(status)) {
      ExFreePoolWithTag(attributes, DriverPoolTag);
      attributes = NULL;
    }
  }
  extension->VolumeAttributes = attributes;

  CloseTarget(&target);
  DriveFilters[Index] = filter;
  return TRUE;
}

VOID UnhookDrive(ULONG Index) {
  if (Index < DriveCount && DriveFilters[Index] != NULL) ExtensionOf(DriveFilters[Index])->Active = 0;
}

// Letters that lead to one volume share its filter, so they are hooked and dropped together.
// Bits 26 to 31 are never examined and come back as they were sent.
ULONG HookDriveSet(ULONG Mask, PDRIVER_OBJECT DriverObject) {
  ULONG oldMask = HookedDriveMask;
  for (ULONG index = 0; index < DriveCount; index++) {
    ULONG bit = 1u << index;
    if ((Mask & bit) != 0 && (oldMask & bit) == 0) {
      if (!HookDrive(index, DriverObject)) {
        Mask &= ~bit;
        continue;
      }
      for (ULONG other = 0; other < DriveCount; other++) {
        if (DriveFilters[other] == DriveFilters[index]) Mask |= 1u << other;
      }
    } else if ((Mask & bit) == 0 && (oldMask & bit) != 0) {
      PDEVICE_OBJECT filter = DriveFilters[index];
      // A letter whose volume went away shares nothing: the empty entries of the letters never
      // looked up must not count as its volume, or the mask would lose letters it asks for.
      if (filter == NULL) continue;
      for (ULONG other = 0; other < DriveCount; other++) {
        if (DriveFilters[other] == filter) {
          UnhookDrive(other);
          Mask &= ~(1u << other);
        }
      }
    }
  }
  HookedDriveMask = Mask;
  return Mask;
}

BOOLEAN HookSpecial(PDRIVER_OBJECT DriverObject, ULONG Kind) {
  PDEVICE_OBJECT *current;
  PCWSTR name;
  if (Kind == KindNamedPipe) {
    current = &PipeFilter;
    name = WIDE("\\Device\\NamedPipe");
  } else if (Kind == KindMailslot) {
    current = &MailslotFilter;
    name = WIDE("\\Device\\MailSlot");
  } else {
    return FALSE;  // no other special file system is known
  }
  if (*current != NULL) return TRUE;

  OpenedTarget target;
  if (!OpenTarget(name, &target)) return FALSE;
  PDEVICE_OBJECT filter = CreateFilter(DriverObject, target.Device);
  if (filter == NULL) {
    CloseTarget(&target);
    return FALSE;
  }
  // A zero Kind would route the first requests to the control device's dispatch; the filter
  // is a complete pass-through (still inactive) from the moment it is attached.
  FilterExtension *extension = ExtensionOf(filter);
  extension->Kind = Kind;
  extension->DriveLetter = '\\';
  extension->LowerDevice = target.Device;

  PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(filter, target.Device);
  if (lower == NULL) {
    IoDeleteDevice(filter);
    CloseTarget(&target);
    return FALSE;
  }
  extension->LowerDevice = lower;
  extension->Active = 1;

  CloseTarget(&target);
  *current = filter;
  return TRUE;
}

// The filter stays attached; the next hook attaches a new one above it.
VOID UnhookSpecial(ULONG Kind) {
  PDEVICE_OBJECT *current;
  if (Kind == KindNamedPipe) {
    current = &PipeFilter;
  } else if (Kind == KindMailslot) {
    current = &MailslotFilter;
  } else {
    return;
  }
  if (*current == NULL) return;
  ExtensionOf(*current)->Active = 0;
  *current = NULL;
}

// The device below SourceDevice is being deleted: the system asks the owner of the device
// attached to it, us, to let go. HookedDriveMask keeps its bits; a mask that first drops and
// then sets a letter again hooks its new volume.
VOID NTAPI FilterFastIoDetachDevice(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice) {
  FilterExtension *extension = ExtensionOf(SourceDevice);
  if (IsDriveFilter(SourceDevice)) {
    for (ULONG index = 0; index < DriveCount; index++) {
      if (DriveFilters[index] == SourceDevice) DriveFilters[index] = NULL;
    }
    if (extension->VolumeAttributes != NULL) {
      ExFreePoolWithTag(extension->VolumeAttributes, DriverPoolTag);
      extension->VolumeAttributes = NULL;
    }
  } else if (extension->Kind == KindNamedPipe || extension->Kind == KindMailslot) {
    // The current pipe or mailslot filter, or an inactive one that was forgotten but stays
    // attached: either way it is ours and goes with its file system.
    if (PipeFilter == SourceDevice) PipeFilter = NULL;
    if (MailslotFilter == SourceDevice) MailslotFilter = NULL;
  } else {
    return;  // the control device is never attached to anything
  }
  IoDetachDevice(TargetDevice);
  IoDeleteDevice(SourceDevice);
}
