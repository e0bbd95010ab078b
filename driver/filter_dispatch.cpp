// Requests on the filter devices, in the requesting thread at the level the I/O manager calls
// file systems at. For now every request passes to the device below unchanged;
// a closed file object takes its cached path with it so that a reused address starts clean.
#include "pelorin.h"

NTSTATUS NTAPI FilterDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (stack->MajorFunction == IRP_MJ_CLOSE) ForgetFileName(stack->FileObject);
  IoCopyCurrentIrpStackLocationToNext(Irp);
  return IoCallDriver(ExtensionOf(DeviceObject)->LowerDevice, Irp);
}
