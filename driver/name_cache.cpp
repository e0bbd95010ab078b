// Path resolution and the name cache: one path text per file object, in 256 buckets under one
// executive resource. The resource is always held inside a critical region and never while the
// file system below is asked for a name: callers run below dispatch level, in the thread of the
// request (or of the control code that clears the cache).
#include "pelorin.h"

NameEntry *NameCache[NameCacheBucketCount];
ERESOURCE NameCacheLock;
NPAGED_LOOKASIDE_LIST PathTextList;

namespace {

// Every text, cached or not, fits a path-text buffer with its terminator.
const ULONG MaximumPathLength = PathTextSize - 1;

const CHAR PipePrefix[] = "\\\\.\\Pipe";
const CHAR MailslotPrefix[] = "\\\\.\\MailSlot";
const CHAR NameTooLongText[] = " <Name Too Long>";
const CHAR OutOfMemoryText[] = ": <Out of Memory>";

const CHAR *const NtfsMetadataNames[] = {
    "$Mft",    "$MftMirr", "$LogFile", "$Volume", "$AttrDef", "$Root",
    "$Bitmap", "$Boot",    "$BadClus", "$Secure", "$UpCase",  "$Extend",
};
const ULONG NtfsMetadataCount = sizeof(NtfsMetadataNames) / sizeof(NtfsMetadataNames[0]);

ULONG BucketOf(PFILE_OBJECT FileObject) {
  return static_cast<ULONG>((reinterpret_cast<ULONG_PTR>(FileObject) >> 5) & 0xFF);
}

VOID AcquireShared(VOID) {
  KeEnterCriticalRegion();
  ExAcquireResourceSharedLite(&NameCacheLock, TRUE);
}

VOID AcquireExclusive(VOID) {
  KeEnterCriticalRegion();
  ExAcquireResourceExclusiveLite(&NameCacheLock, TRUE);
}

VOID Release(VOID) {
  ExReleaseResourceLite(&NameCacheLock);
  KeLeaveCriticalRegion();
}

// Length of a text that ends within a path-text buffer.
ULONG TextLength(PCSTR Text) {
  ULONG length = 0;
  while (length < MaximumPathLength && Text[length] != 0) length++;
  return length;
}

// Appends Source at Text[At], never beyond the buffer; the new length.
ULONG AppendText(PCHAR Text, ULONG At, PCSTR Source) {
  while (*Source != 0 && At < MaximumPathLength) Text[At++] = *Source++;
  Text[At] = 0;
  return At;
}

BOOLEAN OnNetworkFileSystem(PFILE_OBJECT FileObject) {
  return FileObject != NULL && FileObject->DeviceObject != NULL &&
         FileObject->DeviceObject->DeviceType == FILE_DEVICE_NETWORK_FILE_SYSTEM;
}

// Writes the filter's prefix and terminates it; its length p. A redirector's names carry their
// drive letter themselves, so a network drive has none.
ULONG WritePrefix(const FilterExtension *Extension, PFILE_OBJECT FileObject, PCHAR Text) {
  Text[0] = 0;
  if (Extension->Kind == KindNamedPipe) return AppendText(Text, 0, PipePrefix);
  if (Extension->Kind == KindMailslot) return AppendText(Text, 0, MailslotPrefix);
  if (OnNetworkFileSystem(FileObject)) return 0;
  Text[0] = static_cast<CHAR>(Extension->DriveLetter);
  Text[1] = ':';
  Text[2] = 0;
  return 2;
}

// "%s: <Out of Memory>" after the pipe or mailslot prefix, "%C: <Out of Memory>" after a drive
// letter.
VOID WriteOutOfMemory(const FilterExtension *Extension, PCHAR Text) {
  ULONG length;
  if (Extension->Kind == KindNamedPipe) {
    length = AppendText(Text, 0, PipePrefix);
  } else if (Extension->Kind == KindMailslot) {
    length = AppendText(Text, 0, MailslotPrefix);
  } else {
    Text[0] = static_cast<CHAR>(Extension->DriveLetter);
    length = 1;
  }
  AppendText(Text, length, OutOfMemoryText);
}

BOOLEAN IsNtfsVolume(PFILE_FS_ATTRIBUTE_INFORMATION Attributes) {
  if (Attributes == NULL || Attributes->FileSystemNameLength < 4 * sizeof(WCHAR)) return FALSE;
  return Attributes->FileSystemName[0] == 'N' && Attributes->FileSystemName[1] == 'T' &&
         Attributes->FileSystemName[2] == 'F' && Attributes->FileSystemName[3] == 'S';
}

BOOLEAN LookUpFileName(PFILE_OBJECT FileObject, PCHAR Text) {
  BOOLEAN found = FALSE;
  AcquireShared();
  for (NameEntry *entry = NameCache[BucketOf(FileObject)]; entry != NULL; entry = entry->Next) {
    if (entry->FileObject == FileObject) {
      ULONG length = TextLength(entry->Text);
      RtlCopyMemory(Text, entry->Text, length);
      Text[length] = 0;
      found = TRUE;
      break;
    }
  }
  Release();
  return found;
}

// Two threads resolving one file object at once both insert; the newer entry replaces the
// older, so that the forget at close leaves nothing behind for a later object at the address.
VOID RememberFileName(PFILE_OBJECT FileObject, PCSTR Text) {
  ULONG length = TextLength(Text);
  NameEntry *entry = static_cast<NameEntry *>(
      ExAllocatePoolWithTag(NonPagedPool, offsetof(NameEntry, Text) + length + 1, DriverPoolTag));
  if (entry == NULL) return;  // the text serves this request uncached
  entry->FileObject = FileObject;
  RtlCopyMemory(entry->Text, Text, length);
  entry->Text[length] = 0;

  NameEntry *older = NULL;
  AcquireExclusive();
  ULONG bucket = BucketOf(FileObject);
  for (NameEntry **link = &NameCache[bucket]; *link != NULL; link = &(*link)->Next) {
    if ((*link)->FileObject == FileObject) {
      older = *link;
      *link = older->Next;
      break;
    }
  }
  entry->Next = NameCache[bucket];
  NameCache[bucket] = entry;
  Release();
  if (older != NULL) ExFreePoolWithTag(older, DriverPoolTag);
}

// An unnamed NTFS object (a stream file of the file system) named by its file number; TRUE
// when the text is written.
BOOLEAN NameNtfsMetadataFile(PFILE_OBJECT FileObject, FilterExtension *Extension, PCHAR Text) {
  FILE_INTERNAL_INFORMATION internal;
  if (!QueryFileInformation(Extension->LowerDevice, FileObject, FileInternalInformation, &internal,
                            sizeof(internal))) {
    return FALSE;
  }
  ULONG number = internal.IndexNumber.LowPart & 0x0FFFFFFF;
  if (number >= NtfsMetadataCount) return FALSE;
  Text[0] = static_cast<CHAR>(Extension->DriveLetter);
  Text[1] = ':';
  Text[2] = '\\';
  AppendText(Text, 3, NtfsMetadataNames[number]);
  return TRUE;
}

// The file system's own name for the file, behind the prefix of length Prefix; TRUE when the
// text is written. The query buffer holds at most 1021 characters with the prefix.
BOOLEAN AskFileSystemForName(PFILE_OBJECT FileObject, FilterExtension *Extension, ULONG Prefix,
                             PCHAR Text) {
  const ULONG bufferSize = 2048;
  PFILE_NAME_INFORMATION info = static_cast<PFILE_NAME_INFORMATION>(
      ExAllocatePoolWithTag(NonPagedPool, bufferSize, DriverPoolTag));
  if (info == NULL) return FALSE;

  BOOLEAN written = FALSE;
  ULONG length = 2046 - 2 * Prefix;
  if (QueryFileInformation(Extension->LowerDevice, FileObject, FileNameInformation, info, length) &&
      info->FileNameLength <= length - offsetof(FILE_NAME_INFORMATION, FileName)) {
    UNICODE_STRING name;
    name.Buffer = info->FileName;
    name.Length = static_cast<USHORT>(info->FileNameLength);
    name.MaximumLength = name.Length;
    ANSI_STRING ansi;
    if (NT_SUCCESS(RtlUnicodeStringToAnsiString(&ansi, &name, TRUE))) {
      // A multi-byte code page can make the text longer than the name; such a text takes the
      // own-name road, which knows what to do with over-long paths.
      if (Prefix + ansi.Length <= MaximumPathLength) {
        WritePrefix(Extension, FileObject, Text);
        RtlCopyMemory(Text + Prefix, ansi.Buffer, ansi.Length);
        Text[Prefix + ansi.Length] = 0;
        written = TRUE;
      }
      RtlFreeAnsiString(&ansi);
    }
  }
  ExFreePoolWithTag(info, DriverPoolTag);
  return written;
}

// The path from the file object's own name (and its related file object's for a relative
// open), behind the prefix of length Prefix. TRUE when the text may be cached.
BOOLEAN BuildFromOwnName(PFILE_OBJECT FileObject, FilterExtension *Extension, ULONG Prefix,
                         PCHAR Text) {
  if (FileObject->FileName.Buffer == NULL) {
    WritePrefix(Extension, FileObject, Text);
    return FALSE;
  }
  ANSI_STRING name;
  if (!NT_SUCCESS(RtlUnicodeStringToAnsiString(&name, &FileObject->FileName, TRUE))) {
    WriteOutOfMemory(Extension, Text);
    return FALSE;
  }
  ULONG total = Prefix + name.Length;

  ANSI_STRING related;
  BOOLEAN useRelated = FALSE;
  PFILE_OBJECT relatedFile = FileObject->RelatedFileObject;
  if ((name.Length == 0 || name.Buffer[0] != '\\') && relatedFile != NULL &&
      relatedFile->FileName.Buffer != NULL && relatedFile->FileName.Length != 0) {
    if (!NT_SUCCESS(RtlUnicodeStringToAnsiString(&related, &relatedFile->FileName, TRUE))) {
      RtlFreeAnsiString(&name);
      WriteOutOfMemory(Extension, Text);
      return FALSE;
    }
    useRelated = TRUE;
    total += related.Length + 1;
  }

  ULONG prefixLength = WritePrefix(Extension, FileObject, Text);
  if (total > MaximumPathLength) {
    AppendText(Text, prefixLength, NameTooLongText);
  } else {
    Text[total] = 0;
    RtlCopyMemory(Text + total - name.Length, name.Buffer, name.Length);
    if (useRelated) {
      Text[total - name.Length - 1] = '\\';
      RtlCopyMemory(Text + Prefix, related.Buffer, related.Length);
      // A related name of "\" alone: C:\a.txt, not C:\\a.txt.
      if (total > 3 && Text[2] == '\\' && Text[3] == '\\') RtlMoveMemory(Text + 2, Text + 3, total - 2);
    }
  }
  if (useRelated) RtlFreeAnsiString(&related);
  RtlFreeAnsiString(&name);
  return TRUE;
}

// A redirector names a file \;Z:<session>\server\share\dir\f.txt or \Z:\server\share\...; the
// user sees Z:\dir\f.txt. A UNC name gets its second leading backslash. The inserted backslash
// counts against the limit: a text it would push past 1023 characters is too long.
VOID RewriteNetworkName(PFILE_OBJECT FileObject, PCHAR Text) {
  if (!OnNetworkFileSystem(FileObject)) return;
  ULONG length = TextLength(Text);
  if (length < 4) return;
  if (Text[1] == ';' || Text[2] == ':') {
    CHAR letter = Text[1] == ';' ? Text[2] : Text[1];
    Text[0] = letter;
    Text[1] = ':';
    Text[2] = '\\';
    ULONG from = 3;
    ULONG backslashes = 0;
    while (from < length) {
      if (Text[from++] == '\\' && ++backslashes == 3) break;
    }
    RtlMoveMemory(Text + 3, Text + from, length - from + 1);
  } else if (length + 1 > MaximumPathLength) {
    // A network drive has no prefix; written as the rewrite writes an over-long own name.
    Text[0] = '\\';
    AppendText(Text, 1, NameTooLongText);
  } else {
    RtlMoveMemory(Text + 1, Text, length + 1);
    Text[0] = '\\';
  }
}

}  // namespace

VOID ResolveFullPath(BOOLEAN UseOwnName, PFILE_OBJECT FileObject, FilterExtension *Extension,
                     PCHAR Text) {
  if (Text == NULL) return;
  Text[0] = 0;
  if (Extension == NULL || !Extension->Active) return;
  if (FileObject == NULL) {
    WritePrefix(Extension, NULL, Text);
    return;
  }
  if (LookUpFileName(FileObject, Text)) return;

  ULONG prefix = WritePrefix(Extension, FileObject, Text);
  BOOLEAN named = FALSE;
  if (FileObject->FileName.Buffer == NULL && IsNtfsVolume(Extension->VolumeAttributes)) {
    if (UseOwnName) {
      Text[0] = static_cast<CHAR>(Extension->DriveLetter);
      Text[1] = ':';
      Text[2] = 0;
      return;
    }
    named = NameNtfsMetadataFile(FileObject, Extension, Text);
  }
  if (!named && !UseOwnName) named = AskFileSystemForName(FileObject, Extension, prefix, Text);
  if (!named && !BuildFromOwnName(FileObject, Extension, prefix, Text)) return;

  RewriteNetworkName(FileObject, Text);
  RememberFileName(FileObject, Text);
}

VOID ForgetFileName(PFILE_OBJECT FileObject) {
  AcquireExclusive();
  for (NameEntry **link = &NameCache[BucketOf(FileObject)]; *link != NULL; link = &(*link)->Next) {
    if ((*link)->FileObject == FileObject) {
      NameEntry *entry = *link;
      *link = entry->Next;
      ExFreePoolWithTag(entry, DriverPoolTag);
      break;
    }
  }
  Release();
}

VOID ClearNameCache(VOID) {
  AcquireExclusive();
  for (ULONG bucket = 0; bucket < NameCacheBucketCount; bucket++) {
    while (NameCache[bucket] != NULL) {
      NameEntry *entry = NameCache[bucket];
      NameCache[bucket] = entry->Next;
      ExFreePoolWithTag(entry, DriverPoolTag);
    }
  }
  Release();
}

// The request is the driver's own: completion frees it here, and the I/O manager must not
// touch it again.
NTSTATUS NTAPI QueryCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  (void)DeviceObject;
  (void)Context;
  *Irp->UserIosb = Irp->IoStatus;
  KeSetEvent(Irp->UserEvent, IO_NO_INCREMENT, FALSE);
  IoFreeIrp(Irp);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Asks the file system below directly with a request of our own, so that no filter above sees
// it; waits at passive level for the answer. A warning (name longer than the buffer) is no
// success.
BOOLEAN QueryFileInformation(PDEVICE_OBJECT LowerDevice, PFILE_OBJECT FileObject,
                             FILE_INFORMATION_CLASS InformationClass, PVOID Buffer, ULONG Length) {
  KEVENT event;
  KeInitializeEvent(&event, SynchronizationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus;
  ioStatus.Status = STATUS_UNSUCCESSFUL;
  ioStatus.Information = 0;

  PIRP irp = IoAllocateIrp(LowerDevice->StackSize, FALSE);
  if (irp == NULL) return FALSE;
  irp->AssociatedIrp.SystemBuffer = Buffer;
  irp->UserEvent = &event;
  irp->UserIosb = &ioStatus;
  irp->Tail.Overlay.Thread = PsGetCurrentThread();
  irp->Tail.Overlay.OriginalFileObject = FileObject;
  irp->RequestorMode = KernelMode;
  irp->Flags = 0;

  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->MajorFunction = IRP_MJ_QUERY_INFORMATION;
  stack->DeviceObject = LowerDevice;
  stack->FileObject = FileObject;
  stack->Parameters.QueryFile.Length = Length;
  stack->Parameters.QueryFile.FileInformationClass = InformationClass;
  IoSetCompletionRoutine(irp, QueryCompletion, NULL, TRUE, TRUE, TRUE);

  IoCallDriver(LowerDevice, irp);
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
  return NT_SUCCESS(ioStatus.Status);
}
