// The control device: its requests and the control-code table. Everything here runs at passive
// level in the calling thread (the starter's single thread in practice), by the request road or
// the fast I/O road; control codes are not serialised against each other.
#include "pelorin.h"

namespace {

struct CallerCopy {
  PVOID Destination;
  PVOID Source;
  SIZE_T Length;
};

VOID NTAPI ProbeOutputForWrite(PVOID Context) {
  CallerCopy *copy = static_cast<CallerCopy *>(Context);
  ProbeForWrite(copy->Destination, copy->Length, 1);
}

VOID NTAPI CopyFromCaller(PVOID Context) {
  CallerCopy *copy = static_cast<CallerCopy *>(Context);
  ProbeForRead(copy->Source, copy->Length, 1);
  RtlCopyMemory(copy->Destination, copy->Source, copy->Length);
}

VOID NTAPI CopyToCaller(PVOID Context) {
  CallerCopy *copy = static_cast<CallerCopy *>(Context);
  ProbeForWrite(copy->Destination, copy->Length, 1);
  RtlCopyMemory(copy->Destination, copy->Source, copy->Length);
}

BOOLEAN HasUlong(ULONG Length) { return Length >= sizeof(ULONG); }

ULONG ReadUlong(PVOID Buffer) {
  ULONG value;
  RtlCopyMemory(&value, Buffer, sizeof(value));
  return value;
}

VOID WriteUlong(PVOID Buffer, ULONG Value, PIO_STATUS_BLOCK IoStatus) {
  RtlCopyMemory(Buffer, &Value, sizeof(Value));
  IoStatus->Information = sizeof(Value);
}

// A buffered control code from a user-mode caller on the fast I/O road: the I/O manager hands
// this road the caller's own addresses, so the (at most one ULONG) input and output travel
// through kernel copies, probed and copied under the guard as the request road's system
// buffer would be. The output is probed before the code has any effect.
VOID ExecuteWithCallerBuffers(PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                              ULONG OutputBufferLength, ULONG IoControlCode,
                              PIO_STATUS_BLOCK IoStatus) {
  ULONG input = 0;
  ULONG output = 0;
  ULONG inputLength = HasUlong(InputBufferLength) ? sizeof(ULONG) : InputBufferLength;
  ULONG outputLength = HasUlong(OutputBufferLength) ? sizeof(ULONG) : OutputBufferLength;

  CallerCopy copyIn = {&input, InputBuffer, inputLength};
  CallerCopy probeOut = {OutputBuffer, NULL, outputLength};
  if ((inputLength != 0 && !NT_SUCCESS(CallUnderExceptionGuard(CopyFromCaller, &copyIn))) ||
      (outputLength != 0 && !NT_SUCCESS(CallUnderExceptionGuard(ProbeOutputForWrite, &probeOut)))) {
    IoStatus->Status = STATUS_INVALID_PARAMETER;
    IoStatus->Information = 0;
    return;
  }

  ExecuteControlCode(&input, inputLength, &output, outputLength, IoControlCode, IoStatus);
  if (IoStatus->Information == 0) return;

  CallerCopy copyOut = {OutputBuffer, &output, IoStatus->Information};
  if (!NT_SUCCESS(CallUnderExceptionGuard(CopyToCaller, &copyOut))) {
    IoStatus->Status = STATUS_INVALID_PARAMETER;
    IoStatus->Information = 0;
  }
}

}  // namespace

// Every length check comes before any effect, so a refused request changes nothing.
VOID ExecuteControlCode(PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                        ULONG OutputBufferLength, ULONG IoControlCode, PIO_STATUS_BLOCK IoStatus) {
  IoStatus->Status = STATUS_SUCCESS;
  IoStatus->Information = 0;

  switch (IoControlCode) {
    case IOCTL_CLEAR_RECORDS:
    case IOCTL_IGNORED:
      break;

    case IOCTL_READ_RECORDS: {
      if (OutputBufferLength < ReadRecordsMinimumLength) {
        IoStatus->Status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      // The caller's own address (METHOD_NEITHER): a bad one must fail the request, not the system.
      CallerCopy probe = {OutputBuffer, NULL, OutputBufferLength};
      if (!NT_SUCCESS(CallUnderExceptionGuard(ProbeOutputForWrite, &probe))) {
        IoStatus->Status = STATUS_INVALID_PARAMETER;
      }
      break;  // the driver keeps no records: nothing is returned
    }

    case IOCTL_RETURN_ONE:
      IoStatus->Information = 1;  // reported, never written
      break;

    case IOCTL_GET_VERSION:
      if (!HasUlong(OutputBufferLength)) {
        IoStatus->Status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      WriteUlong(OutputBuffer, DriverVersion, IoStatus);
      break;

    case IOCTL_HOOK_SPECIAL:
      if (!HasUlong(InputBufferLength)) {
        IoStatus->Status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      if (!HookSpecial(FilterDriverObject, ReadUlong(InputBuffer))) {
        IoStatus->Status = STATUS_UNSUCCESSFUL;
      }
      break;

    case IOCTL_UNHOOK_SPECIAL:
      if (!HasUlong(InputBufferLength)) {
        IoStatus->Status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      UnhookSpecial(ReadUlong(InputBuffer));
      break;

    case IOCTL_ALLOW_ACCESS:
      AccessAllowed = 1;
      break;

    case IOCTL_RESTRICT_ACCESS:
      AccessAllowed = 0;
      break;

    case IOCTL_SET_DRIVES:
      if (!HasUlong(InputBufferLength) || !HasUlong(OutputBufferLength)) {
        IoStatus->Status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      WriteUlong(OutputBuffer, HookDriveSet(ReadUlong(InputBuffer), FilterDriverObject), IoStatus);
      break;

    default:
      IoStatus->Status = STATUS_INVALID_DEVICE_REQUEST;
      break;
  }
}

// FastIoDeviceControl. On a filter device it only passes the call on; on the control device it
// executes the control code and always answers TRUE.
BOOLEAN NTAPI FilterFastIoDeviceControl(PFILE_OBJECT FileObject, BOOLEAN Wait, PVOID InputBuffer,
                                        ULONG InputBufferLength, PVOID OutputBuffer,
                                        ULONG OutputBufferLength, ULONG IoControlCode,
                                        PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject) {
  if (DeviceObject == NULL) return FALSE;
  FilterExtension *extension = ExtensionOf(DeviceObject);
  if (extension->Kind != KindControl) {
    PDEVICE_OBJECT lower = extension->LowerDevice;
    PFAST_IO_DISPATCH lowerTable = lower->DriverObject->FastIoDispatch;
    if (lowerTable == NULL ||
        lowerTable->SizeOfFastIoDispatch <= offsetof(FAST_IO_DISPATCH, FastIoDeviceControl) ||
        lowerTable->FastIoDeviceControl == NULL) {
      return FALSE;
    }
    // A buffer of its own on the stack: device control never falls back on the static text.
    CHAR text[PathTextSize];
    ResolveFullPath(FALSE, FileObject, extension, text);
    return lowerTable->FastIoDeviceControl(FileObject, Wait, InputBuffer, InputBufferLength,
                                           OutputBuffer, OutputBufferLength, IoControlCode,
                                           IoStatus, lower);
  }

  if (ExGetPreviousMode() != KernelMode && (IoControlCode & 3) == METHOD_BUFFERED) {
    ExecuteWithCallerBuffers(InputBuffer, InputBufferLength, OutputBuffer, OutputBufferLength,
                             IoControlCode, IoStatus);
  } else {
    ExecuteControlCode(InputBuffer, InputBufferLength, OutputBuffer, OutputBufferLength,
                       IoControlCode, IoStatus);
  }
  return TRUE;
}

NTSTATUS NTAPI ControlDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  (void)DeviceObject;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  Irp->IoStatus.Status = STATUS_SUCCESS;
  Irp->IoStatus.Information = 0;

  switch (stack->MajorFunction) {
    case IRP_MJ_CLOSE:
      // The starter's handle is gone: stop watching everything until the next open. The
      // protection switch keeps its value.
      ClearNameCache();
      HookDriveSet(0, FilterDriverObject);
      UnhookSpecial(KindNamedPipe);
      UnhookSpecial(KindMailslot);
      break;

    case IRP_MJ_DEVICE_CONTROL: {
      // Straight to the worker, not through FilterFastIoDeviceControl: that entry treats a
      // user-mode caller's buffered addresses as the caller's own and would probe the system
      // buffer here, and the previous-mode query it makes is one that Wine's kernel cannot
      // answer (this road is the only one Wine takes).
      ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
      BOOLEAN neither = (code & 3) == METHOD_NEITHER;
      // The I/O manager's copies for buffered codes; the caller's own addresses for
      // METHOD_NEITHER, which the codes that touch them probe.
      PVOID input = neither ? stack->Parameters.DeviceIoControl.Type3InputBuffer
                            : Irp->AssociatedIrp.SystemBuffer;
      PVOID output;
      if (Irp->MdlAddress != NULL) {
        output = MmGetSystemAddressForMdlSafe(Irp->MdlAddress, NormalPagePriority);
        if (output == NULL) {
          Irp->IoStatus.Status = STATUS_INSUFFICIENT_RESOURCES;
          break;
        }
      } else if (neither) {
        output = Irp->UserBuffer;
      } else {
        output = Irp->AssociatedIrp.SystemBuffer;
      }
      ExecuteControlCode(input, stack->Parameters.DeviceIoControl.InputBufferLength, output,
                         stack->Parameters.DeviceIoControl.OutputBufferLength, code,
                         &Irp->IoStatus);
      break;
    }

    default:  // create, read, write, cleanup and the rest succeed with 0 bytes
      break;
  }

  NTSTATUS status = Irp->IoStatus.Status;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return status;
}
