// Loading: the control device, its link, the dispatch table and the driver-wide structures.
#include "pelorin.h"

BOOLEAN AccessAllowed;
PDRIVER_OBJECT FilterDriverObject;
PDEVICE_OBJECT ControlDevice;

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  (void)RegistryPath;
  FilterDriverObject = DriverObject;

  UNICODE_STRING deviceName;
  RtlInitUnicodeString(&deviceName, WIDE("\\Device\\Pelorin"));
  PDEVICE_OBJECT device = NULL;
  NTSTATUS status = IoCreateDevice(DriverObject, sizeof(FilterExtension), &deviceName,
                                   ControlDeviceType, 0, TRUE, &device);
  if (!NT_SUCCESS(status)) return status;
  ExtensionOf(device)->Kind = KindControl;

  UNICODE_STRING linkName;
  RtlInitUnicodeString(&linkName, WIDE("\\DosDevices\\Pelorin"));
  status = IoCreateSymbolicLink(&linkName, &deviceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  ControlDevice = device;

  for (ULONG major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; major++) {
    DriverObject->MajorFunction[major] = DispatchRequest;
  }
  DriverObject->FastIoDispatch = &FilterFastIoDispatch;

  for (ULONG bucket = 0; bucket < NameCacheBucketCount; bucket++) NameCache[bucket] = NULL;
  ExInitializeResourceLite(&NameCacheLock);
  ExInitializeNPagedLookasideList(&PathTextList, NULL, NULL, 0, PathTextSize, PathTextTag, 256);

  // No drive is hooked and protection is on until the first control codes arrive. There is no
  // unload routine: the filters may sit in volume stacks for the rest of the system's life.
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI DispatchRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (ExtensionOf(DeviceObject)->Kind == KindControl) return ControlDispatch(DeviceObject, Irp);
  return FilterDispatch(DeviceObject, Irp);
}
