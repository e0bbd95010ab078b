// The name cache: one path text per file object, in 256 buckets under one executive resource,
// which is always held inside a critical region (callers run below dispatch level, in the
// thread of the request or of the control code).
#include "pelorin.h"

NameEntry *NameCache[NameCacheBucketCount];
ERESOURCE NameCacheLock;
NPAGED_LOOKASIDE_LIST PathTextList;

namespace {

ULONG BucketOf(PFILE_OBJECT FileObject) {
  return static_cast<ULONG>((reinterpret_cast<ULONG_PTR>(FileObject) >> 5) & 0xFF);
}

VOID AcquireExclusive(VOID) {
  KeEnterCriticalRegion();
  ExAcquireResourceExclusiveLite(&NameCacheLock, TRUE);
}

VOID Release(VOID) {
  ExReleaseResourceLite(&NameCacheLock);
  KeLeaveCriticalRegion();
}

}  // namespace

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
