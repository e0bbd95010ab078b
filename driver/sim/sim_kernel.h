// Our own declarations of the kernel types and routines the driver uses, with the names and
// fields the driver code expects, for the native build against the simulated kernel in this
// folder. Only what the driver needs is here; layouts follow the driver's view, not the real ABI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#define NTAPI
#define FASTCALL
#define VOID void
#define WIDE(text) u##text

typedef void *PVOID;
typedef unsigned char UCHAR, *PUCHAR, BOOLEAN, *PBOOLEAN;
typedef char CHAR, *PCHAR, CCHAR;
typedef const char *PCSTR;
typedef unsigned short USHORT, *PUSHORT;
typedef short SHORT, CSHORT;
typedef uint32_t ULONG, *PULONG;
typedef int32_t LONG, *PLONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR, SIZE_T;
typedef char16_t WCHAR, *PWCHAR, *PWSTR;
typedef const char16_t *PCWSTR;
typedef LONG NTSTATUS;
typedef ULONG ACCESS_MASK;
typedef PVOID HANDLE, *PHANDLE;
typedef CCHAR KPROCESSOR_MODE;
typedef UCHAR KIRQL;

#define TRUE 1
#define FALSE 0

typedef union _LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)

#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_PENDING ((NTSTATUS)0x00000103)
#define STATUS_DATATYPE_MISALIGNMENT ((NTSTATUS)0x80000002)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001)
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002)
#define STATUS_INVALID_INFO_CLASS ((NTSTATUS)0xC0000003)
#define STATUS_ACCESS_VIOLATION ((NTSTATUS)0xC0000005)
#define STATUS_REPARSE ((NTSTATUS)0x00000104)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000E)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010)
#define STATUS_MORE_PROCESSING_REQUIRED ((NTSTATUS)0xC0000016)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023)
#define STATUS_OBJECT_NAME_INVALID ((NTSTATUS)0xC0000033)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034)
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035)
#define STATUS_OBJECT_PATH_NOT_FOUND ((NTSTATUS)0xC000003A)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009A)
#define STATUS_FILE_IS_A_DIRECTORY ((NTSTATUS)0xC00000BA)
#define STATUS_NOT_A_DIRECTORY ((NTSTATUS)0xC0000103)

// Strings.
typedef struct _UNICODE_STRING {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING *PCUNICODE_STRING;

typedef struct _STRING {
  USHORT Length;
  USHORT MaximumLength;
  PCHAR Buffer;
} STRING, ANSI_STRING, *PANSI_STRING;

VOID RtlInitUnicodeString(PUNICODE_STRING Destination, PCWSTR Source);
NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING Destination, PCUNICODE_STRING Source,
                                      BOOLEAN AllocateDestination);
VOID RtlFreeAnsiString(PANSI_STRING AnsiString);

#define RtlZeroMemory(destination, length) memset((destination), 0, (length))
#define RtlCopyMemory(destination, source, length) memcpy((destination), (source), (length))
#define RtlMoveMemory(destination, source, length) memmove((destination), (source), (length))

// Lists.
typedef struct _LIST_ENTRY {
  struct _LIST_ENTRY *Flink;
  struct _LIST_ENTRY *Blink;
} LIST_ENTRY, *PLIST_ENTRY;

// Pool.
typedef enum _POOL_TYPE { NonPagedPool = 0, PagedPool = 1 } POOL_TYPE;

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
VOID ExFreePoolWithTag(PVOID P, ULONG Tag);
VOID ExFreePool(PVOID P);

// Lookaside lists; the simulator takes every entry from the pool, so the pool's fault injection
// reaches them as well.
typedef PVOID(NTAPI *PALLOCATE_FUNCTION)(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
typedef VOID(NTAPI *PFREE_FUNCTION)(PVOID Buffer);

typedef struct _NPAGED_LOOKASIDE_LIST {
  POOL_TYPE Type;
  ULONG Tag;
  ULONG Size;
  USHORT Depth;
  ULONG TotalAllocates;
  ULONG TotalFrees;
  BOOLEAN Initialized;
} NPAGED_LOOKASIDE_LIST, *PNPAGED_LOOKASIDE_LIST;

VOID ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PALLOCATE_FUNCTION Allocate,
                                     PFREE_FUNCTION Free, ULONG Flags, SIZE_T Size, ULONG Tag,
                                     USHORT Depth);
VOID ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside);
PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside);
VOID ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PVOID Entry);

// Executive resources and critical regions. A real reader-writer lock: threads of a test wait
// for each other on it.
typedef struct _ERESOURCE {
  LONG State;  // 0 free, n > 0 held shared by n threads, -1 held exclusive
  BOOLEAN Initialized;
} ERESOURCE, *PERESOURCE;

NTSTATUS ExInitializeResourceLite(PERESOURCE Resource);
NTSTATUS ExDeleteResourceLite(PERESOURCE Resource);
BOOLEAN ExAcquireResourceSharedLite(PERESOURCE Resource, BOOLEAN Wait);
BOOLEAN ExAcquireResourceExclusiveLite(PERESOURCE Resource, BOOLEAN Wait);
VOID ExReleaseResourceLite(PERESOURCE Resource);
VOID KeEnterCriticalRegion(VOID);
VOID KeLeaveCriticalRegion(VOID);

// Events and threads.
typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _KWAIT_REASON { Executive = 0 } KWAIT_REASON;
#define KernelMode 0
#define UserMode 1
#define IO_NO_INCREMENT 0

typedef struct _KEVENT {
  EVENT_TYPE Type;
  LONG SignalState;
} KEVENT, *PKEVENT, *PRKEVENT;

struct _ETHREAD;
typedef struct _ETHREAD *PETHREAD;
struct _EPROCESS;
typedef struct _EPROCESS *PEPROCESS;

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
LONG KeSetEvent(PRKEVENT Event, LONG Increment, BOOLEAN Wait);
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout);
PETHREAD PsGetCurrentThread(VOID);
KPROCESSOR_MODE ExGetPreviousMode(VOID);

// Probing caller buffers: a failed probe raises an exception, which only
// CallUnderExceptionGuard catches.
VOID ProbeForRead(const volatile VOID *Address, SIZE_T Length, ULONG Alignment);
VOID ProbeForWrite(volatile VOID *Address, SIZE_T Length, ULONG Alignment);
VOID ExRaiseStatus(NTSTATUS Status);

// I/O status, file information.
typedef struct _IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef enum _FILE_INFORMATION_CLASS {
  FileBasicInformation = 4,
  FileStandardInformation = 5,
  FileInternalInformation = 6,
  FileNameInformation = 9,
  FileRenameInformation = 10,
  FileLinkInformation = 11,
  FileDispositionInformation = 13,
} FILE_INFORMATION_CLASS;

typedef enum _FSINFOCLASS {
  FileFsVolumeInformation = 1,
  FileFsAttributeInformation = 5,
} FS_INFORMATION_CLASS;

typedef struct _FILE_NAME_INFORMATION {
  ULONG FileNameLength;
  WCHAR FileName[1];
} FILE_NAME_INFORMATION, *PFILE_NAME_INFORMATION;

typedef struct _FILE_INTERNAL_INFORMATION {
  LARGE_INTEGER IndexNumber;
} FILE_INTERNAL_INFORMATION, *PFILE_INTERNAL_INFORMATION;

typedef struct _FILE_FS_ATTRIBUTE_INFORMATION {
  ULONG FileSystemAttributes;
  LONG MaximumComponentNameLength;
  ULONG FileSystemNameLength;
  WCHAR FileSystemName[1];
} FILE_FS_ATTRIBUTE_INFORMATION, *PFILE_FS_ATTRIBUTE_INFORMATION;

typedef struct _FILE_RENAME_INFORMATION {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  ULONG FileNameLength;
  WCHAR FileName[1];
} FILE_RENAME_INFORMATION, *PFILE_RENAME_INFORMATION, FILE_LINK_INFORMATION, *PFILE_LINK_INFORMATION;

typedef struct _FILE_DISPOSITION_INFORMATION {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFORMATION, *PFILE_DISPOSITION_INFORMATION;

typedef struct _FILE_BASIC_INFORMATION {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  ULONG FileAttributes;
} FILE_BASIC_INFORMATION, *PFILE_BASIC_INFORMATION;

typedef struct _FILE_STANDARD_INFORMATION {
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  ULONG NumberOfLinks;
  BOOLEAN DeletePending;
  BOOLEAN Directory;
} FILE_STANDARD_INFORMATION, *PFILE_STANDARD_INFORMATION;

typedef struct _FILE_NETWORK_OPEN_INFORMATION {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  ULONG FileAttributes;
} FILE_NETWORK_OPEN_INFORMATION, *PFILE_NETWORK_OPEN_INFORMATION;

// Access rights, sharing, create options.
#define FILE_READ_DATA 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_ANY_ACCESS 0
#define DELETE 0x00010000
#define SYNCHRONIZE 0x00100000
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define FILE_SUPERSEDE 0x0
#define FILE_OPEN 0x1
#define FILE_CREATE 0x2
#define FILE_OPEN_IF 0x3
#define FILE_OVERWRITE 0x4
#define FILE_OVERWRITE_IF 0x5
#define FILE_DIRECTORY_FILE 0x00000001
#define FILE_NON_DIRECTORY_FILE 0x00000040
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#define FILE_DELETE_ON_CLOSE 0x00001000
#define FILE_OPEN_BY_FILE_ID 0x00002000
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define OBJ_CASE_INSENSITIVE 0x40
#define OBJ_KERNEL_HANDLE 0x200

// Device types, flags, transfer methods, control codes.
#define FILE_DEVICE_DISK 0x07
#define FILE_DEVICE_DISK_FILE_SYSTEM 0x08
#define FILE_DEVICE_MAILSLOT 0x0C
#define FILE_DEVICE_NAMED_PIPE 0x11
#define FILE_DEVICE_NETWORK_FILE_SYSTEM 0x14
typedef ULONG DEVICE_TYPE;

#define DO_EXCLUSIVE 0x00000008
#define DO_BUFFERED_IO 0x00000004
#define DO_DIRECT_IO 0x00000010
#define DO_DEVICE_INITIALIZING 0x00000080
#define FO_SYNCHRONOUS_IO 0x00000002
#define FO_STREAM_FILE 0x00000100

#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define CTL_CODE(type, function, method, access) \
  (((ULONG)(type) << 16) | ((ULONG)(access) << 14) | ((ULONG)(function) << 2) | (ULONG)(method))

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CREATE_NAMED_PIPE 0x01
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_READ 0x03
#define IRP_MJ_WRITE 0x04
#define IRP_MJ_QUERY_INFORMATION 0x05
#define IRP_MJ_SET_INFORMATION 0x06
#define IRP_MJ_QUERY_VOLUME_INFORMATION 0x0A
#define IRP_MJ_DEVICE_CONTROL 0x0E
#define IRP_MJ_CLEANUP 0x12
#define IRP_MJ_CREATE_MAILSLOT 0x13
#define IRP_MJ_PNP 0x1B
#define IRP_MJ_MAXIMUM_FUNCTION 0x1B

#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

// Memory descriptor lists (only the mapping the control device needs).
typedef struct _MDL {
  struct _MDL *Next;
  CSHORT Size;
  CSHORT MdlFlags;
  PVOID MappedSystemVa;
  PVOID StartVa;
  ULONG ByteCount;
  ULONG ByteOffset;
} MDL, *PMDL;

#define MDL_MAPPED_TO_SYSTEM_VA 0x0001
#define MDL_SOURCE_IS_NONPAGED_POOL 0x0004
typedef enum _MM_PAGE_PRIORITY { LowPagePriority, NormalPagePriority = 16 } MM_PAGE_PRIORITY;
PVOID MmGetSystemAddressForMdlSafe(PMDL Mdl, MM_PAGE_PRIORITY Priority);

// Objects.
struct _DEVICE_OBJECT;
struct _DRIVER_OBJECT;
struct _FILE_OBJECT;
struct _IRP;

typedef struct _VPB {
  CSHORT Type;
  CSHORT Size;
  USHORT Flags;
  struct _DEVICE_OBJECT *DeviceObject;  // the file system's volume device mounted on RealDevice
  struct _DEVICE_OBJECT *RealDevice;
  ULONG ReferenceCount;
} VPB, *PVPB;

typedef struct _DEVICE_OBJECT {
  CSHORT Type;
  USHORT Size;
  LONG ReferenceCount;
  struct _DRIVER_OBJECT *DriverObject;
  struct _DEVICE_OBJECT *NextDevice;
  struct _DEVICE_OBJECT *AttachedDevice;
  struct _IRP *CurrentIrp;
  ULONG Flags;
  ULONG Characteristics;
  PVPB Vpb;
  PVOID DeviceExtension;
  DEVICE_TYPE DeviceType;
  CCHAR StackSize;
} DEVICE_OBJECT, *PDEVICE_OBJECT;

// The header that file systems put at the start of a file's FsContext; its main resource is
// what the system takes for section creation when a file system offers no routine of its own.
typedef struct _FSRTL_COMMON_FCB_HEADER {
  CSHORT NodeTypeCode;
  CSHORT NodeByteSize;
  UCHAR Flags;
  UCHAR IsFastIoPossible;
  UCHAR Flags2;
  UCHAR Reserved;
  PERESOURCE Resource;
  PERESOURCE PagingIoResource;
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER FileSize;
  LARGE_INTEGER ValidDataLength;
} FSRTL_COMMON_FCB_HEADER, *PFSRTL_COMMON_FCB_HEADER;

typedef struct _SECTION_OBJECT_POINTERS {
  PVOID DataSectionObject;
  PVOID SharedCacheMap;
  PVOID ImageSectionObject;
} SECTION_OBJECT_POINTERS, *PSECTION_OBJECT_POINTERS;

typedef struct _FILE_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;
  PVPB Vpb;
  PVOID FsContext;
  PVOID FsContext2;
  PSECTION_OBJECT_POINTERS SectionObjectPointer;
  struct _FILE_OBJECT *RelatedFileObject;
  BOOLEAN DeletePending;
  ULONG Flags;
  UNICODE_STRING FileName;
  LARGE_INTEGER CurrentByteOffset;
} FILE_OBJECT, *PFILE_OBJECT;

typedef struct _OBJECT_ATTRIBUTES {
  ULONG Length;
  HANDLE RootDirectory;
  PUNICODE_STRING ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

#define InitializeObjectAttributes(p, n, a, r, s) \
  do {                                            \
    (p)->Length = sizeof(OBJECT_ATTRIBUTES);      \
    (p)->RootDirectory = (r);                     \
    (p)->Attributes = (a);                        \
    (p)->ObjectName = (n);                        \
    (p)->SecurityDescriptor = (s);                \
    (p)->SecurityQualityOfService = NULL;         \
  } while (0)

typedef struct _OBJECT_HANDLE_INFORMATION {
  ULONG HandleAttributes;
  ACCESS_MASK GrantedAccess;
} OBJECT_HANDLE_INFORMATION, *POBJECT_HANDLE_INFORMATION;

typedef PVOID POBJECT_TYPE;

// Request packets.
typedef NTSTATUS NTAPI IO_COMPLETION_ROUTINE(PDEVICE_OBJECT DeviceObject, struct _IRP *Irp,
                                             PVOID Context);
typedef IO_COMPLETION_ROUTINE *PIO_COMPLETION_ROUTINE;

typedef struct _IO_STACK_LOCATION {
  UCHAR MajorFunction;
  UCHAR MinorFunction;
  UCHAR Flags;
  UCHAR Control;
  union {
    struct {
      PVOID SecurityContext;
      ULONG Options;
      USHORT FileAttributes;
      USHORT ShareAccess;
      ULONG EaLength;
    } Create;
    struct {
      ULONG Length;
      ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Read;
    struct {
      ULONG Length;
      ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Write;
    struct {
      ULONG Length;
      FILE_INFORMATION_CLASS FileInformationClass;
    } QueryFile;
    struct {
      ULONG Length;
      FILE_INFORMATION_CLASS FileInformationClass;
      PFILE_OBJECT FileObject;
      BOOLEAN ReplaceIfExists;
    } SetFile;
    struct {
      ULONG Length;
      FS_INFORMATION_CLASS FsInformationClass;
    } QueryVolume;
    struct {
      ULONG OutputBufferLength;
      ULONG InputBufferLength;
      ULONG IoControlCode;
      PVOID Type3InputBuffer;
    } DeviceIoControl;
  } Parameters;
  PDEVICE_OBJECT DeviceObject;
  PFILE_OBJECT FileObject;
  PIO_COMPLETION_ROUTINE CompletionRoutine;
  PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;

typedef struct _IRP {
  CSHORT Type;
  USHORT Size;
  PMDL MdlAddress;
  ULONG Flags;
  union {
    struct _IRP *MasterIrp;
    PVOID SystemBuffer;
  } AssociatedIrp;
  IO_STATUS_BLOCK IoStatus;
  KPROCESSOR_MODE RequestorMode;
  BOOLEAN PendingReturned;
  CHAR StackCount;
  CHAR CurrentLocation;
  BOOLEAN Cancel;
  PIO_STATUS_BLOCK UserIosb;
  PKEVENT UserEvent;
  PVOID UserBuffer;
  union {
    struct {
      PETHREAD Thread;
      PCHAR AuxiliaryBuffer;
      LIST_ENTRY ListEntry;
      PIO_STACK_LOCATION CurrentStackLocation;
      PFILE_OBJECT OriginalFileObject;
    } Overlay;
  } Tail;
} IRP, *PIRP;

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp) {
  return Irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp) {
  return Irp->Tail.Overlay.CurrentStackLocation - 1;
}
inline VOID IoSetNextIrpStackLocation(PIRP Irp) {
  Irp->CurrentLocation--;
  Irp->Tail.Overlay.CurrentStackLocation--;
}
inline VOID IoSkipCurrentIrpStackLocation(PIRP Irp) {
  Irp->CurrentLocation++;
  Irp->Tail.Overlay.CurrentStackLocation++;
}
inline VOID IoCopyCurrentIrpStackLocationToNext(PIRP Irp) {
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
  next->Control = 0;
}
inline VOID IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE Routine, PVOID Context,
                                   BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError,
                                   BOOLEAN InvokeOnCancel) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  next->CompletionRoutine = Routine;
  next->Context = Context;
  next->Control = 0;
  if (InvokeOnSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (InvokeOnError) next->Control |= SL_INVOKE_ON_ERROR;
  if (InvokeOnCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota);
VOID IoFreeIrp(PIRP Irp);
NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp);
VOID IoCompleteRequest(PIRP Irp, CCHAR PriorityBoost);

// Fast I/O.
typedef struct _COMPRESSED_DATA_INFO COMPRESSED_DATA_INFO, *PCOMPRESSED_DATA_INFO;
typedef struct _ERESOURCE *PERESOURCE;

typedef BOOLEAN NTAPI FAST_IO_CHECK_IF_POSSIBLE(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                                ULONG Length, BOOLEAN Wait, ULONG LockKey,
                                                BOOLEAN CheckForReadOperation,
                                                PIO_STATUS_BLOCK IoStatus,
                                                PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_READ(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset, ULONG Length,
                                   BOOLEAN Wait, ULONG LockKey, PVOID Buffer,
                                   PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject);
typedef FAST_IO_READ FAST_IO_WRITE;
typedef BOOLEAN NTAPI FAST_IO_QUERY_BASIC_INFO(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                               PFILE_BASIC_INFORMATION Buffer,
                                               PIO_STATUS_BLOCK IoStatus,
                                               PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_QUERY_STANDARD_INFO(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                                  PFILE_STANDARD_INFORMATION Buffer,
                                                  PIO_STATUS_BLOCK IoStatus,
                                                  PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_LOCK(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                   PLARGE_INTEGER Length, PEPROCESS ProcessId, ULONG Key,
                                   BOOLEAN FailImmediately, BOOLEAN ExclusiveLock,
                                   PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_UNLOCK_SINGLE(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                            PLARGE_INTEGER Length, PEPROCESS ProcessId, ULONG Key,
                                            PIO_STATUS_BLOCK IoStatus,
                                            PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_UNLOCK_ALL(PFILE_OBJECT FileObject, PEPROCESS ProcessId,
                                         PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_UNLOCK_ALL_BY_KEY(PFILE_OBJECT FileObject, PVOID ProcessId, ULONG Key,
                                                PIO_STATUS_BLOCK IoStatus,
                                                PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_DEVICE_CONTROL(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                             PVOID InputBuffer, ULONG InputBufferLength,
                                             PVOID OutputBuffer, ULONG OutputBufferLength,
                                             ULONG IoControlCode, PIO_STATUS_BLOCK IoStatus,
                                             PDEVICE_OBJECT DeviceObject);
typedef VOID NTAPI FAST_IO_ACQUIRE_FILE(PFILE_OBJECT FileObject);
typedef VOID NTAPI FAST_IO_RELEASE_FILE(PFILE_OBJECT FileObject);
typedef VOID NTAPI FAST_IO_DETACH_DEVICE(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice);
typedef BOOLEAN NTAPI FAST_IO_QUERY_NETWORK_OPEN_INFO(PFILE_OBJECT FileObject, BOOLEAN Wait,
                                                      PFILE_NETWORK_OPEN_INFORMATION Buffer,
                                                      PIO_STATUS_BLOCK IoStatus,
                                                      PDEVICE_OBJECT DeviceObject);
typedef NTSTATUS NTAPI FAST_IO_ACQUIRE_FOR_MOD_WRITE(PFILE_OBJECT FileObject,
                                                     PLARGE_INTEGER EndingOffset,
                                                     PERESOURCE *ResourceToRelease,
                                                     PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_MDL_READ(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                       ULONG Length, ULONG LockKey, PMDL *MdlChain,
                                       PIO_STATUS_BLOCK IoStatus, PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_MDL_READ_COMPLETE(PFILE_OBJECT FileObject, PMDL MdlChain,
                                                PDEVICE_OBJECT DeviceObject);
typedef FAST_IO_MDL_READ FAST_IO_PREPARE_MDL_WRITE;
typedef BOOLEAN NTAPI FAST_IO_MDL_WRITE_COMPLETE(PFILE_OBJECT FileObject,
                                                 PLARGE_INTEGER FileOffset, PMDL MdlChain,
                                                 PDEVICE_OBJECT DeviceObject);
typedef BOOLEAN NTAPI FAST_IO_READ_COMPRESSED(PFILE_OBJECT FileObject, PLARGE_INTEGER FileOffset,
                                              ULONG Length, ULONG LockKey, PVOID Buffer,
                                              PMDL *MdlChain, PIO_STATUS_BLOCK IoStatus,
                                              PCOMPRESSED_DATA_INFO CompressedDataInfo,
                                              ULONG CompressedDataInfoLength,
                                              PDEVICE_OBJECT DeviceObject);
typedef FAST_IO_READ_COMPRESSED FAST_IO_WRITE_COMPRESSED;
typedef FAST_IO_MDL_READ_COMPLETE FAST_IO_MDL_READ_COMPLETE_COMPRESSED;
typedef FAST_IO_MDL_WRITE_COMPLETE FAST_IO_MDL_WRITE_COMPLETE_COMPRESSED;
typedef BOOLEAN NTAPI FAST_IO_QUERY_OPEN(struct _IRP *Irp,
                                         PFILE_NETWORK_OPEN_INFORMATION NetworkInformation,
                                         PDEVICE_OBJECT DeviceObject);
typedef NTSTATUS NTAPI FAST_IO_RELEASE_FOR_MOD_WRITE(PFILE_OBJECT FileObject,
                                                     PERESOURCE ResourceToRelease,
                                                     PDEVICE_OBJECT DeviceObject);
typedef NTSTATUS NTAPI FAST_IO_ACQUIRE_FOR_CCFLUSH(PFILE_OBJECT FileObject,
                                                   PDEVICE_OBJECT DeviceObject);
typedef FAST_IO_ACQUIRE_FOR_CCFLUSH FAST_IO_RELEASE_FOR_CCFLUSH;

typedef struct _FAST_IO_DISPATCH {
  ULONG SizeOfFastIoDispatch;
  FAST_IO_CHECK_IF_POSSIBLE *FastIoCheckIfPossible;
  FAST_IO_READ *FastIoRead;
  FAST_IO_WRITE *FastIoWrite;
  FAST_IO_QUERY_BASIC_INFO *FastIoQueryBasicInfo;
  FAST_IO_QUERY_STANDARD_INFO *FastIoQueryStandardInfo;
  FAST_IO_LOCK *FastIoLock;
  FAST_IO_UNLOCK_SINGLE *FastIoUnlockSingle;
  FAST_IO_UNLOCK_ALL *FastIoUnlockAll;
  FAST_IO_UNLOCK_ALL_BY_KEY *FastIoUnlockAllByKey;
  FAST_IO_DEVICE_CONTROL *FastIoDeviceControl;
  FAST_IO_ACQUIRE_FILE *AcquireFileForNtCreateSection;
  FAST_IO_RELEASE_FILE *ReleaseFileForNtCreateSection;
  FAST_IO_DETACH_DEVICE *FastIoDetachDevice;
  FAST_IO_QUERY_NETWORK_OPEN_INFO *FastIoQueryNetworkOpenInfo;
  FAST_IO_ACQUIRE_FOR_MOD_WRITE *AcquireForModWrite;
  FAST_IO_MDL_READ *MdlRead;
  FAST_IO_MDL_READ_COMPLETE *MdlReadComplete;
  FAST_IO_PREPARE_MDL_WRITE *PrepareMdlWrite;
  FAST_IO_MDL_WRITE_COMPLETE *MdlWriteComplete;
  FAST_IO_READ_COMPRESSED *FastIoReadCompressed;
  FAST_IO_WRITE_COMPRESSED *FastIoWriteCompressed;
  FAST_IO_MDL_READ_COMPLETE_COMPRESSED *MdlReadCompleteCompressed;
  FAST_IO_MDL_WRITE_COMPLETE_COMPRESSED *MdlWriteCompleteCompressed;
  FAST_IO_QUERY_OPEN *FastIoQueryOpen;
  FAST_IO_RELEASE_FOR_MOD_WRITE *ReleaseForModWrite;
  FAST_IO_ACQUIRE_FOR_CCFLUSH *AcquireForCcFlush;
  FAST_IO_RELEASE_FOR_CCFLUSH *ReleaseForCcFlush;
} FAST_IO_DISPATCH, *PFAST_IO_DISPATCH;

// Drivers.
typedef NTSTATUS NTAPI DRIVER_INITIALIZE(struct _DRIVER_OBJECT *DriverObject,
                                         PUNICODE_STRING RegistryPath);
typedef NTSTATUS NTAPI DRIVER_DISPATCH(PDEVICE_OBJECT DeviceObject, PIRP Irp);
typedef DRIVER_DISPATCH *PDRIVER_DISPATCH;
typedef VOID NTAPI DRIVER_UNLOAD(struct _DRIVER_OBJECT *DriverObject);

typedef struct _DRIVER_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;
  ULONG Flags;
  UNICODE_STRING DriverName;
  PFAST_IO_DISPATCH FastIoDispatch;
  DRIVER_INITIALIZE *DriverInit;
  DRIVER_UNLOAD *DriverUnload;
  PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
} DRIVER_OBJECT, *PDRIVER_OBJECT;

// I/O manager and object manager.
NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                        ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT *DeviceObject);
VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject);
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName);
NTSTATUS IoAttachDeviceByPointer(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice);
PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                           PDEVICE_OBJECT TargetDevice);
VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice);
PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT FileObject);
NTSTATUS IoQueryVolumeInformation(PFILE_OBJECT FileObject, FS_INFORMATION_CLASS FsInformationClass,
                                  ULONG Length, PVOID FsInformation, PULONG ReturnedLength);

NTSTATUS ZwCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                      POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                      PLARGE_INTEGER AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                      ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                      ULONG EaLength);
NTSTATUS ZwClose(HANDLE Handle);
NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess,
                                   POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                   PVOID *Object, POBJECT_HANDLE_INFORMATION HandleInformation);
VOID ObDereferenceObject(PVOID Object);
VOID ObReferenceObject(PVOID Object);
