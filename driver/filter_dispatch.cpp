// Requests on the filter devices and the one rule the driver exists for: while protection is on,
// a rename or a delete of a file whose path ends in ".vxl" is refused. Runs in the requesting
// thread at the level the I/O manager calls file systems at, and may wait while the path is
// resolved; takes no lock of its own.
#include "pelorin.h"

// Judged in place of a path when no path-text buffer is to be had; it never ends in ".vxl", so
// protection fails open under memory exhaustion.
const CHAR InsufficientMemoryText[] = "<INSUFFICIENT MEMORY>";

namespace {

BOOLEAN IsCreateKind(UCHAR MajorFunction) {
  return MajorFunction == IRP_MJ_CREATE || MajorFunction == IRP_MJ_CREATE_NAMED_PIPE ||
         MajorFunction == IRP_MJ_CREATE_MAILSLOT;
}

// Requests whose file object is not (or no longer) known to the file system by name are
// resolved from the object's own name fields.
BOOLEAN UsesOwnName(UCHAR MajorFunction, PFILE_OBJECT FileObject) {
  if (IsCreateKind(MajorFunction) || MajorFunction == IRP_MJ_CLOSE) return TRUE;
  return MajorFunction == IRP_MJ_CLEANUP && FileObject != NULL &&
         (FileObject->Flags & FO_STREAM_FILE) != 0;
}

VOID Forget(PFILE_OBJECT FileObject) {
  if (FileObject != NULL) ForgetFileName(FileObject);
}

// The bookkeeping and the rule for a request on an active filter, judged on Path; TRUE when
// the request is refused. Only the source name of a rename or delete is looked at.
BOOLEAN ApplyRule(PIO_STACK_LOCATION Stack, PCSTR Path) {
  PFILE_OBJECT file = Stack->FileObject;
  switch (Stack->MajorFunction) {
    case IRP_MJ_CREATE:
      // A path built from a file identifier is not kept.
      if ((Stack->Parameters.Create.Options & FILE_OPEN_BY_FILE_ID) != 0) Forget(file);
      return FALSE;
    case IRP_MJ_CLOSE:
      Forget(file);
      return FALSE;
    case IRP_MJ_SET_INFORMATION: {
      FILE_INFORMATION_CLASS infoClass = Stack->Parameters.SetFile.FileInformationClass;
      BOOLEAN refused = AccessAllowed == 0 &&
                        (infoClass == FileRenameInformation || infoClass == FileDispositionInformation) &&
                        IsProtectedName(Path);
      if (infoClass == FileRenameInformation) Forget(file);
      return refused;
    }
    default:
      return FALSE;
  }
}

}  // namespace

BOOLEAN IsProtectedName(PCSTR Text) {
  ULONG length = 0;
  while (length < PathTextSize && Text[length] != 0) length++;
  if (length == PathTextSize || length < 4) return FALSE;
  PCSTR end = Text + length - 4;
  return end[0] == '.' && (end[1] == 'v' || end[1] == 'V') && (end[2] == 'x' || end[2] == 'X') &&
         (end[3] == 'l' || end[3] == 'L');
}

NTSTATUS NTAPI FilterDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  FilterExtension *extension = ExtensionOf(DeviceObject);
  PFILE_OBJECT file = stack->FileObject;
  UCHAR major = stack->MajorFunction;
  BOOLEAN useOwnName = UsesOwnName(major, file);
  // A reused file-object address must never inherit an old path.
  if (IsCreateKind(major)) Forget(file);

  BOOLEAN refused = FALSE;
  if (!extension->Active) {
    if (major == IRP_MJ_CLOSE) Forget(file);
  } else {
    PCHAR text = static_cast<PCHAR>(ExAllocateFromNPagedLookasideList(&PathTextList));
    if (text != NULL) ResolveFullPath(useOwnName, file, extension, text);
    PCSTR path = text != NULL ? text : InsufficientMemoryText;
    if (extension->Active) {
      refused = ApplyRule(stack, path);
    } else if (major == IRP_MJ_CLOSE) {
      Forget(file);  // switched off meanwhile; a closed object still takes its path with it
    }
    if (text != NULL) ExFreeToNPagedLookasideList(&PathTextList, text);
  }

  if (refused) {
    Irp->IoStatus.Status = STATUS_ACCESS_DENIED;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_ACCESS_DENIED;
  }
  IoCopyCurrentIrpStackLocationToNext(Irp);
  NTSTATUS status = IoCallDriver(extension->LowerDevice, Irp);
  // A failed create is never followed by a close, nor is one that the file system sends
  // elsewhere (STATUS_REPARSE, a success code: junctions, mount points, symbolic links): the I/O
  // manager frees its file object itself, and the path cached for the address would outlive it.
  // The address is only a key here.
  if (IsCreateKind(major) && (!NT_SUCCESS(status) || status == STATUS_REPARSE)) Forget(file);
  return status;
}
