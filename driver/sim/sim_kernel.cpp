// The simulated kernel: pool, strings, resources, events, probes, request packets, devices and
// the object namespace. Everything runs synchronously in the caller's thread; what a real kernel
// would punish with a crash or a hang is recorded as a violation instead.
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "../kernel.h"
#include "sim_internal.h"

namespace sim {

// Never destroyed: pool blocks stay reachable until the next reset, also at process exit.
Kernel &K() {
  static Kernel *kernel = new Kernel();
  return *kernel;
}

std::u16string Widen(const char *text) {
  std::u16string wide;
  for (; *text; text++) wide.push_back(char16_t(UCHAR(*text)));
  return wide;
}

std::string Narrow(const std::u16string &text) {
  std::string narrow;
  for (char16_t c : text) narrow.push_back(c < 0x100 ? char(c) : '?');
  return narrow;
}

std::u16string Upper(const std::u16string &text) {
  std::u16string upper = text;
  for (char16_t &c : upper) {
    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
  }
  return upper;
}

std::u16string FromUnicode(PCUNICODE_STRING text) {
  if (text == NULL || text->Buffer == NULL) return std::u16string();
  return std::u16string(text->Buffer, text->Length / sizeof(WCHAR));
}

std::mutex &Bookkeeping() {
  static std::mutex *mutex = new std::mutex();
  return *mutex;
}

NTSTATUS PoolAllocationFailed(ULONG tag) {
  SimFaults &faults = K().faults;
  if (faults.poolOccurrence == 0 || (faults.poolTag != 0 && faults.poolTag != tag)) return 0;
  if (--faults.poolOccurrence != 0) return 0;
  faults.poolFaultHit = true;
  return STATUS_INSUFFICIENT_RESOURCES;
}

}  // namespace sim

using namespace sim;

namespace {

thread_local std::jmp_buf *activeGuard;
thread_local NTSTATUS raisedStatus;
thread_local LONG criticalRegionDepth;
thread_local KPROCESSOR_MODE previousMode = KernelMode;
// The executive resources the current thread holds, for deadlock checks.
const int MaximumHeldResources = 8;
thread_local PERESOURCE heldResources[MaximumHeldResources];
thread_local int heldResourceCount;

struct SimThread {
  int unused;
} currentThread;

bool InsidePool(const void *address) {
  std::lock_guard<std::mutex> lock(Bookkeeping());
  auto &pool = K().pool;
  auto it = pool.upper_bound(const_cast<PVOID>(address));
  if (it == pool.begin()) return false;
  --it;
  const char *start = static_cast<const char *>(it->first);
  return static_cast<const char *>(address) < start + it->second.second;
}

void Probe(const volatile void *address, SIZE_T length, ULONG alignment) {
  if (length == 0) return;
  ULONG_PTR start = reinterpret_cast<ULONG_PTR>(address);
  if (alignment != 0 && start % alignment != 0) ExRaiseStatus(STATUS_DATATYPE_MISALIGNMENT);
  ULONG_PTR unmapped = reinterpret_cast<ULONG_PTR>(K().unmappedStart);
  bool overlapsUnmapped = unmapped != 0 && start < unmapped + K().unmappedLength &&
                          unmapped < start + length;
  // Caller addresses only: not the null region, no wrap-around, nothing of the kernel's pool.
  if (start < 0x10000 || start + length < start || overlapsUnmapped ||
      InsidePool(const_cast<const void *>(address))) {
    ExRaiseStatus(STATUS_ACCESS_VIOLATION);
  }
}

}  // namespace

// ---- World bookkeeping ----------------------------------------------------------------------

void SimReset() {
  Kernel &k = K();
  for (auto &block : k.pool) std::free(block.first);
  k.pool.clear();
  k.devices.clear();
  k.deviceNames.clear();
  k.links.clear();
  k.handles.clear();
  k.fileReferences.clear();
  k.fileNames.clear();
  k.managerIrps.clear();
  k.drivers.clear();
  k.violations.clear();
  k.faults = SimFaults();
  k.nextHandle = 0x100;
  k.unmappedStart = NULL;
  k.unmappedLength = 0;
  criticalRegionDepth = 0;
  previousMode = KernelMode;
  ResetFileSystems();
}

const std::vector<std::string> &SimViolations() { return K().violations; }
void SimViolation(const std::string &text) {
  std::lock_guard<std::mutex> lock(Bookkeeping());
  K().violations.push_back(text);
}
SimFaults &SimFaultPlan() { return K().faults; }

void SimFailAllocation(ULONG tag, ULONG occurrence) {
  K().faults.poolTag = tag;
  K().faults.poolOccurrence = occurrence;
  K().faults.poolFaultHit = false;
}

size_t SimPoolBlocks(ULONG tag) {
  std::lock_guard<std::mutex> lock(Bookkeeping());
  size_t count = 0;
  for (auto &block : K().pool) count += (tag == 0 || block.second.first == tag);
  return count;
}

void SimSetUnmappedRange(const void *start, SIZE_T length) {
  K().unmappedStart = start;
  K().unmappedLength = length;
}

size_t SimOpenHandles() { return K().handles.size(); }
size_t SimLiveFileObjects() { return K().fileReferences.size(); }

PFILE_OBJECT SimFileObjectOf(HANDLE handle) {
  auto it = K().handles.find(handle);
  return it == K().handles.end() ? NULL : it->second;
}

bool SimResourceHeld(PERESOURCE resource) { return __atomic_load_n(&resource->State, __ATOMIC_ACQUIRE) != 0; }
bool SimResourceHeldExclusive(PERESOURCE resource) {
  return __atomic_load_n(&resource->State, __ATOMIC_ACQUIRE) == -1;
}
int SimResourcesHeldByThisThread() { return heldResourceCount; }
LONG SimCriticalRegionDepth() { return criticalRegionDepth; }

// ---- Pool -----------------------------------------------------------------------------------

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
  (void)PoolType;
  PVOID block = std::malloc(NumberOfBytes ? NumberOfBytes : 1);
  std::memset(block, 0xCD, NumberOfBytes);  // pool memory is not zeroed
  std::lock_guard<std::mutex> lock(Bookkeeping());
  if (PoolAllocationFailed(Tag) != 0) {
    std::free(block);
    return NULL;
  }
  K().pool[block] = {Tag, NumberOfBytes};
  return block;
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag) {
  bool found = false;
  bool tagDiffers = false;
  {
    std::lock_guard<std::mutex> lock(Bookkeeping());
    auto it = K().pool.find(P);
    if (it != K().pool.end()) {
      found = true;
      tagDiffers = Tag != 0 && it->second.first != Tag;
      K().pool.erase(it);
    }
  }
  if (!found) {
    SimViolation("freeing memory that is not a pool block");
    return;
  }
  if (tagDiffers) SimViolation("pool block freed with another tag");
  std::free(P);
}

VOID ExFreePool(PVOID P) { ExFreePoolWithTag(P, 0); }

VOID ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PALLOCATE_FUNCTION Allocate,
                                     PFREE_FUNCTION Free, ULONG Flags, SIZE_T Size, ULONG Tag,
                                     USHORT Depth) {
  if (Allocate != NULL || Free != NULL || Flags != 0) SimViolation("lookaside list with custom routines");
  Lookaside->Type = NonPagedPool;
  Lookaside->Tag = Tag;
  Lookaside->Size = ULONG(Size);
  Lookaside->Depth = Depth;
  Lookaside->TotalAllocates = 0;
  Lookaside->TotalFrees = 0;
  Lookaside->Initialized = TRUE;
}

VOID ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside) { Lookaside->Initialized = FALSE; }

PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside) {
  if (!Lookaside->Initialized) SimViolation("allocation from an uninitialised lookaside list");
  __atomic_fetch_add(&Lookaside->TotalAllocates, 1, __ATOMIC_RELAXED);
  return ExAllocatePoolWithTag(Lookaside->Type, Lookaside->Size, Lookaside->Tag);
}

VOID ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PVOID Entry) {
  __atomic_fetch_add(&Lookaside->TotalFrees, 1, __ATOMIC_RELAXED);
  ExFreePoolWithTag(Entry, Lookaside->Tag);
}

// ---- Strings --------------------------------------------------------------------------------

VOID RtlInitUnicodeString(PUNICODE_STRING Destination, PCWSTR Source) {
  size_t length = 0;
  if (Source != NULL) {
    while (Source[length] != 0) length++;
  }
  Destination->Length = USHORT(length * sizeof(WCHAR));
  Destination->MaximumLength = USHORT(Source ? (length + 1) * sizeof(WCHAR) : 0);
  Destination->Buffer = const_cast<PWSTR>(Source);
}

// The system's ANSI code page here is Latin-1: characters above 0xFF become '?'.
NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING Destination, PCUNICODE_STRING Source,
                                      BOOLEAN AllocateDestination) {
  USHORT length = USHORT(Source->Length / sizeof(WCHAR));
  if (AllocateDestination) {
    Destination->Buffer = static_cast<PCHAR>(ExAllocatePoolWithTag(PagedPool, length + 1u, SimTagString));
    if (Destination->Buffer == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    Destination->MaximumLength = USHORT(length + 1);
  } else if (Destination->MaximumLength < length) {
    return STATUS_BUFFER_OVERFLOW;
  }
  for (USHORT i = 0; i < length; i++) {
    WCHAR c = Source->Buffer[i];
    Destination->Buffer[i] = c < 0x100 ? CHAR(c) : '?';
  }
  Destination->Length = length;
  if (Destination->MaximumLength > length) Destination->Buffer[length] = 0;
  return STATUS_SUCCESS;
}

VOID RtlFreeAnsiString(PANSI_STRING AnsiString) {
  if (AnsiString->Buffer != NULL) ExFreePoolWithTag(AnsiString->Buffer, SimTagString);
  AnsiString->Buffer = NULL;
}

// ---- Resources, critical regions, events, threads -------------------------------------------

NTSTATUS ExInitializeResourceLite(PERESOURCE Resource) {
  Resource->State = 0;
  Resource->Initialized = TRUE;
  return STATUS_SUCCESS;
}

NTSTATUS ExDeleteResourceLite(PERESOURCE Resource) {
  if (Resource->State != 0) SimViolation("deleting a resource that is held");
  Resource->Initialized = FALSE;
  return STATUS_SUCCESS;
}

namespace {

// Checks before a thread waits for a resource; false when waiting would never end.
bool MayAcquire(PERESOURCE Resource) {
  if (!Resource->Initialized) SimViolation("acquiring an uninitialised resource");
  if (criticalRegionDepth == 0) SimViolation("resource acquired outside a critical region");
  for (int i = 0; i < heldResourceCount; i++) {
    if (heldResources[i] == Resource) {
      SimViolation("acquiring a resource this thread already holds: deadlock");
      return false;
    }
  }
  if (heldResourceCount == MaximumHeldResources) {
    SimViolation("too many resources held by one thread");
    return false;
  }
  return true;
}

void Held(PERESOURCE Resource) { heldResources[heldResourceCount++] = Resource; }

}  // namespace

BOOLEAN ExAcquireResourceSharedLite(PERESOURCE Resource, BOOLEAN Wait) {
  (void)Wait;
  if (!MayAcquire(Resource)) return FALSE;
  for (;;) {
    LONG state = __atomic_load_n(&Resource->State, __ATOMIC_RELAXED);
    if (state >= 0 && __atomic_compare_exchange_n(&Resource->State, &state, state + 1, false,
                                                  __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
      break;
    }
    std::this_thread::yield();
  }
  Held(Resource);
  return TRUE;
}

BOOLEAN ExAcquireResourceExclusiveLite(PERESOURCE Resource, BOOLEAN Wait) {
  (void)Wait;
  if (!MayAcquire(Resource)) return FALSE;
  for (;;) {
    LONG state = 0;
    if (__atomic_compare_exchange_n(&Resource->State, &state, -1, false, __ATOMIC_ACQUIRE,
                                    __ATOMIC_RELAXED)) {
      break;
    }
    std::this_thread::yield();
  }
  Held(Resource);
  return TRUE;
}

VOID ExReleaseResourceLite(PERESOURCE Resource) {
  int index = 0;
  while (index < heldResourceCount && heldResources[index] != Resource) index++;
  if (index == heldResourceCount) {
    SimViolation("releasing a resource that this thread does not hold");
    return;
  }
  heldResources[index] = heldResources[--heldResourceCount];
  if (__atomic_load_n(&Resource->State, __ATOMIC_RELAXED) == -1) {
    __atomic_store_n(&Resource->State, 0, __ATOMIC_RELEASE);
  } else {
    __atomic_fetch_sub(&Resource->State, 1, __ATOMIC_RELEASE);
  }
}

VOID KeEnterCriticalRegion(VOID) { criticalRegionDepth++; }

VOID KeLeaveCriticalRegion(VOID) {
  if (criticalRegionDepth == 0) {
    SimViolation("leaving a critical region that was not entered");
    return;
  }
  criticalRegionDepth--;
}

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
  Event->Type = Type;
  Event->SignalState = State;
}

LONG KeSetEvent(PRKEVENT Event, LONG Increment, BOOLEAN Wait) {
  (void)Increment;
  (void)Wait;
  LONG previous = Event->SignalState;
  Event->SignalState = 1;
  return previous;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
  (void)WaitReason;
  (void)WaitMode;
  (void)Alertable;
  (void)Timeout;
  PRKEVENT event = static_cast<PRKEVENT>(Object);
  // Every request completes before IoCallDriver returns here, so an unsignalled event would
  // never be set.
  if (event->SignalState == 0) {
    SimViolation("waiting for an event that nothing will set");
    return STATUS_UNSUCCESSFUL;
  }
  if (event->Type == SynchronizationEvent) event->SignalState = 0;
  return STATUS_SUCCESS;
}

PETHREAD PsGetCurrentThread(VOID) { return reinterpret_cast<PETHREAD>(&currentThread); }
KPROCESSOR_MODE ExGetPreviousMode(VOID) { return previousMode; }

// ---- Probes and the exception guard ----------------------------------------------------------

VOID ExRaiseStatus(NTSTATUS Status) {
  if (activeGuard == NULL) {
    SimViolation("exception raised outside any guard");
    std::abort();  // a real kernel stops here
  }
  raisedStatus = Status;
  std::longjmp(*activeGuard, 1);
}

VOID ProbeForRead(const volatile VOID *Address, SIZE_T Length, ULONG Alignment) {
  Probe(Address, Length, Alignment);
}

VOID ProbeForWrite(volatile VOID *Address, SIZE_T Length, ULONG Alignment) {
  Probe(Address, Length, Alignment);
}

extern "C" NTSTATUS NTAPI CallUnderExceptionGuard(GUARDED_ROUTINE Routine, PVOID Context) {
  std::jmp_buf guard;
  std::jmp_buf *outer = activeGuard;
  activeGuard = &guard;
  NTSTATUS status = STATUS_SUCCESS;
  if (setjmp(guard) == 0) {
    Routine(Context);
  } else {
    status = raisedStatus;
  }
  activeGuard = outer;
  return status;
}

// ---- Memory descriptor lists ----------------------------------------------------------------

PVOID MmGetSystemAddressForMdlSafe(PMDL Mdl, MM_PAGE_PRIORITY Priority) {
  (void)Priority;
  if ((Mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL)) == 0) {
    Mdl->MappedSystemVa = static_cast<char *>(Mdl->StartVa) + Mdl->ByteOffset;
    Mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
  }
  return Mdl->MappedSystemVa;
}

// ---- Request packets ------------------------------------------------------------------------

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota) {
  (void)ChargeQuota;
  if (StackSize < 1) SimViolation("request allocated without stack locations");
  SIZE_T size = sizeof(IRP) + SIZE_T(StackSize) * sizeof(IO_STACK_LOCATION);
  PIRP irp = static_cast<PIRP>(ExAllocatePoolWithTag(NonPagedPool, size, SimTagIrp));
  if (irp == NULL) return NULL;
  std::memset(irp, 0, size);
  irp->Type = 6;
  irp->Size = USHORT(size);
  irp->StackCount = StackSize;
  irp->CurrentLocation = CHAR(StackSize + 1);
  irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + StackSize;
  return irp;
}

VOID IoFreeIrp(PIRP Irp) {
  {
    std::lock_guard<std::mutex> lock(Bookkeeping());
    K().managerIrps.erase(Irp);
  }
  ExFreePoolWithTag(Irp, SimTagIrp);
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  auto info = K().devices.find(DeviceObject);
  if (info == K().devices.end()) {
    SimViolation("request sent to a device that does not exist");
    return STATUS_NO_SUCH_DEVICE;
  }
  if (DeviceObject->Flags & DO_DEVICE_INITIALIZING) SimViolation("request sent to an initialising device");
  if (Irp->CurrentLocation <= 1) {
    SimViolation("no more stack locations");
    return STATUS_INVALID_PARAMETER;
  }
  Irp->CurrentLocation--;
  Irp->Tail.Overlay.CurrentStackLocation--;
  PIO_STACK_LOCATION stack = Irp->Tail.Overlay.CurrentStackLocation;
  stack->DeviceObject = DeviceObject;
  NTSTATUS status = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction](DeviceObject, Irp);
  if (status == STATUS_PENDING) SimViolation("request left pending in a synchronous simulator");
  return status;
}

VOID IoCompleteRequest(PIRP Irp, CCHAR PriorityBoost) {
  (void)PriorityBoost;
  if (Irp->CurrentLocation > Irp->StackCount) {
    SimViolation("completing a request that no driver holds");
    return;
  }
  while (Irp->CurrentLocation <= Irp->StackCount) {
    PIO_STACK_LOCATION done = Irp->Tail.Overlay.CurrentStackLocation;
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
    PDEVICE_OBJECT upper =
        Irp->CurrentLocation <= Irp->StackCount ? Irp->Tail.Overlay.CurrentStackLocation->DeviceObject : NULL;
    UCHAR wanted = NT_SUCCESS(Irp->IoStatus.Status) ? SL_INVOKE_ON_SUCCESS : SL_INVOKE_ON_ERROR;
    if (Irp->Cancel) wanted = SL_INVOKE_ON_CANCEL;
    if (done->CompletionRoutine != NULL && (done->Control & wanted) != 0) {
      NTSTATUS status = done->CompletionRoutine(upper, Irp, done->Context);
      if (status == STATUS_MORE_PROCESSING_REQUIRED) return;  // the routine owns the request now
    }
  }
  if (Irp->UserIosb != NULL) *Irp->UserIosb = Irp->IoStatus;
  if (Irp->UserEvent != NULL) KeSetEvent(Irp->UserEvent, 0, FALSE);
  bool managedHere = false;
  {
    std::lock_guard<std::mutex> lock(Bookkeeping());
    auto managed = K().managerIrps.find(Irp);
    if (managed != K().managerIrps.end()) {
      managed->second = true;
      managedHere = true;
    }
  }
  if (!managedHere) SimViolation("a driver's own request was completed back to the I/O manager");
}

namespace sim {

PIRP BuildIrp(PDEVICE_OBJECT device, UCHAR majorFunction, PFILE_OBJECT fileObject) {
  // Cleanup and close cannot fail for lack of memory: the I/O manager keeps reserves for them.
  bool mustSucceed = majorFunction == IRP_MJ_CLEANUP || majorFunction == IRP_MJ_CLOSE;
  SimFaults saved = K().faults;
  if (mustSucceed) K().faults.poolOccurrence = 0;
  PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
  if (mustSucceed) K().faults = saved;
  if (irp == NULL) return NULL;
  {
    std::lock_guard<std::mutex> lock(Bookkeeping());
    K().managerIrps[irp] = false;
  }
  irp->RequestorMode = previousMode;
  irp->Tail.Overlay.Thread = PsGetCurrentThread();
  irp->Tail.Overlay.OriginalFileObject = fileObject;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->MajorFunction = majorFunction;
  stack->FileObject = fileObject;
  return irp;
}

NTSTATUS SendIrp(PDEVICE_OBJECT device, PIRP irp) {
  NTSTATUS status = IoCallDriver(device, irp);
  bool completed = false;
  {
    std::lock_guard<std::mutex> lock(Bookkeeping());
    auto managed = K().managerIrps.find(irp);
    completed = managed != K().managerIrps.end() && managed->second;
  }
  if (!completed) {
    SimViolation("request returned without being completed");
    return status;
  }
  if (status != irp->IoStatus.Status) SimViolation("dispatch status differs from the completed status");
  return irp->IoStatus.Status;
}

void FreeManagerIrp(PIRP irp) { IoFreeIrp(irp); }

}  // namespace sim

// ---- Devices --------------------------------------------------------------------------------

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                        ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT *DeviceObject) {
  std::u16string name = FromUnicode(DeviceName);
  if (!name.empty() && K().deviceNames.count(Upper(name))) return STATUS_OBJECT_NAME_COLLISION;
  SIZE_T size = sizeof(DEVICE_OBJECT) + DeviceExtensionSize;
  PDEVICE_OBJECT device = static_cast<PDEVICE_OBJECT>(ExAllocatePoolWithTag(NonPagedPool, size, SimTagDevice));
  if (device == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  std::memset(device, 0, size);
  device->Type = 3;
  device->Size = USHORT(size);
  device->DriverObject = DriverObject;
  device->Flags = DO_DEVICE_INITIALIZING | (Exclusive ? DO_EXCLUSIVE : 0);
  device->Characteristics = DeviceCharacteristics;
  device->DeviceExtension = DeviceExtensionSize ? device + 1 : NULL;
  device->DeviceType = DeviceType;
  device->StackSize = 1;
  device->NextDevice = DriverObject->DeviceObject;
  DriverObject->DeviceObject = device;
  K().devices[device] = DeviceInfo{name, NULL, false};
  if (!name.empty()) K().deviceNames[Upper(name)] = device;
  *DeviceObject = device;
  return STATUS_SUCCESS;
}

namespace {

void FreeDevice(PDEVICE_OBJECT device) {
  DeviceInfo &info = K().devices[device];
  if (!info.name.empty()) K().deviceNames.erase(Upper(info.name));
  PDEVICE_OBJECT *link = &device->DriverObject->DeviceObject;
  while (*link != NULL && *link != device) link = &(*link)->NextDevice;
  if (*link == device) *link = device->NextDevice;
  K().devices.erase(device);
  ExFreePoolWithTag(device, SimTagDevice);
}

}  // namespace

// A device with something attached asks the owner of the attached device to let go first
// (its FastIoDetachDevice), as the I/O manager does when a volume's device is deleted.
VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
  auto found = K().devices.find(DeviceObject);
  if (found == K().devices.end() || found->second.deletePending) {
    SimViolation("deleting a device that does not exist");
    return;
  }
  found->second.deletePending = true;
  if (found->second.attachedTo != NULL) SimViolation("deleting a device that is still attached");
  PDEVICE_OBJECT above = DeviceObject->AttachedDevice;
  if (above != NULL) {
    PFAST_IO_DISPATCH table = above->DriverObject->FastIoDispatch;
    if (table != NULL && table->FastIoDetachDevice != NULL) {
      table->FastIoDetachDevice(above, DeviceObject);
    }
    if (DeviceObject->AttachedDevice != NULL) {
      SimViolation("a device was deleted under a device that stayed attached");
      K().devices[DeviceObject->AttachedDevice].attachedTo = NULL;
    }
  }
  if (DeviceObject->ReferenceCount == 0) FreeDevice(DeviceObject);
}

PDEVICE_OBJECT SimTopOfStack(PDEVICE_OBJECT device) {
  while (device->AttachedDevice != NULL) device = device->AttachedDevice;
  return device;
}

PDEVICE_OBJECT SimAttachedTo(PDEVICE_OBJECT device) {
  auto found = K().devices.find(device);
  return found == K().devices.end() ? NULL : found->second.attachedTo;
}

bool SimDeviceExists(PDEVICE_OBJECT device) {
  auto found = K().devices.find(device);
  return found != K().devices.end() && !found->second.deletePending;
}

std::vector<PDEVICE_OBJECT> SimDevicesOf(PDRIVER_OBJECT driver) {
  std::vector<PDEVICE_OBJECT> devices;
  for (PDEVICE_OBJECT device = driver->DeviceObject; device; device = device->NextDevice) {
    if (!K().devices[device].deletePending) devices.push_back(device);
  }
  return devices;
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice) {
  if (K().devices[TargetDevice].deletePending) return NULL;
  if (K().devices[SourceDevice].attachedTo != NULL) SimViolation("attaching a device twice");
  PDEVICE_OBJECT top = SimTopOfStack(TargetDevice);
  top->AttachedDevice = SourceDevice;
  SourceDevice->StackSize = CCHAR(top->StackSize + 1);
  K().devices[SourceDevice].attachedTo = top;
  return top;
}

NTSTATUS IoAttachDeviceByPointer(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice) {
  if (K().faults.failAttach) return STATUS_NO_SUCH_DEVICE;
  return IoAttachDeviceToDeviceStack(SourceDevice, TargetDevice) ? STATUS_SUCCESS : STATUS_NO_SUCH_DEVICE;
}

VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice) {
  PDEVICE_OBJECT above = TargetDevice->AttachedDevice;
  if (above == NULL) {
    SimViolation("detaching from a device that has nothing attached");
    return;
  }
  K().devices[above].attachedTo = NULL;
  TargetDevice->AttachedDevice = NULL;
}

// ---- Names ----------------------------------------------------------------------------------

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
  return SimCreateLink(FromUnicode(SymbolicLinkName).c_str(), FromUnicode(DeviceName).c_str());
}

NTSTATUS SimCreateLink(PCWSTR link, PCWSTR target) {
  std::u16string key = Upper(link);
  if (K().links.count(key) || K().deviceNames.count(key)) return STATUS_OBJECT_NAME_COLLISION;
  K().links[key] = target;
  return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
  return K().links.erase(Upper(FromUnicode(SymbolicLinkName))) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

namespace {

// The longest key of names that is the whole path or a prefix of it ending at a backslash.
template <typename Map>
typename Map::const_iterator LongestPrefix(const Map &names, const std::u16string &upperPath) {
  auto best = names.end();
  for (auto it = names.begin(); it != names.end(); ++it) {
    const std::u16string &key = it->first;
    if (upperPath.compare(0, key.size(), key) != 0) continue;
    if (upperPath.size() != key.size() && upperPath[key.size()] != u'\\') continue;
    if (best == names.end() || key.size() > best->first.size()) best = it;
  }
  return best;
}

// Follows symbolic links until the path names a device; rest is what follows the device name.
NTSTATUS ResolveName(std::u16string path, PDEVICE_OBJECT *device, std::u16string *rest) {
  for (int depth = 0; depth < 16; depth++) {
    if (Upper(path.substr(0, 4)) == u"\\??\\") path = u"\\DosDevices\\" + path.substr(4);
    std::u16string upper = Upper(path);
    auto link = LongestPrefix(K().links, upper);
    auto named = LongestPrefix(K().deviceNames, upper);
    if (link != K().links.end() && (named == K().deviceNames.end() || link->first.size() > named->first.size())) {
      path = link->second + path.substr(link->first.size());
      continue;
    }
    if (named == K().deviceNames.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    *device = named->second;
    *rest = path.substr(named->first.size());
    return STATUS_SUCCESS;
  }
  return STATUS_OBJECT_NAME_NOT_FOUND;
}

PDEVICE_OBJECT RelatedDevice(PFILE_OBJECT file) {
  PDEVICE_OBJECT device = file->DeviceObject;
  if (file->Vpb != NULL && file->Vpb->DeviceObject != NULL) {
    device = file->Vpb->DeviceObject;
  } else if (device->Vpb != NULL && device->Vpb->DeviceObject != NULL) {
    device = device->Vpb->DeviceObject;
  }
  return SimTopOfStack(device);
}

void DereferenceFile(PFILE_OBJECT file) {
  auto found = K().fileReferences.find(file);
  if (found == K().fileReferences.end()) {
    SimViolation("dereferencing a file object that does not exist");
    return;
  }
  if (--found->second > 0) return;
  // The last reference: the file system sees the close, then the object goes.
  PDEVICE_OBJECT top = RelatedDevice(file);
  PIRP irp = BuildIrp(top, IRP_MJ_CLOSE, file);
  if (irp != NULL) {
    SendIrp(top, irp);
    FreeManagerIrp(irp);
  }
  PDEVICE_OBJECT device = file->DeviceObject;
  PFILE_OBJECT related = file->RelatedFileObject;
  K().fileReferences.erase(file);
  K().fileNames.erase(file);
  ExFreePoolWithTag(file, SimTagFile);
  if (--device->ReferenceCount == 0 && K().devices[device].deletePending) FreeDevice(device);
  if (related != NULL) DereferenceFile(related);
}


}  // namespace

PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT FileObject) {
  if (K().faults.noRelatedDevice) return NULL;
  return RelatedDevice(FileObject);
}

// ---- Files and handles ----------------------------------------------------------------------

PFILE_OBJECT sim::CreateFileObject(PDEVICE_OBJECT device, PVOID fsContext, ULONG flags) {
  PFILE_OBJECT file = static_cast<PFILE_OBJECT>(ExAllocatePoolWithTag(NonPagedPool, sizeof(FILE_OBJECT), SimTagFile));
  if (file == NULL) return NULL;
  std::memset(file, 0, sizeof(FILE_OBJECT));
  file->Type = 5;
  file->Size = sizeof(FILE_OBJECT);
  file->DeviceObject = device;
  file->Vpb = device->Vpb;
  file->FsContext = fsContext;
  file->Flags = flags;
  device->ReferenceCount++;
  K().fileReferences[file] = 1;
  return file;
}

NTSTATUS ZwCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                      POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                      PLARGE_INTEGER AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                      ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer, ULONG EaLength) {
  (void)DesiredAccess;
  (void)AllocationSize;
  (void)EaBuffer;
  (void)EaLength;
  PDEVICE_OBJECT device = NULL;
  std::u16string rest;
  PFILE_OBJECT related = NULL;
  NTSTATUS status = STATUS_SUCCESS;
  if (ObjectAttributes->RootDirectory != NULL) {
    // Relative to an open directory: the name goes to that directory's file system as it is.
    related = SimFileObjectOf(ObjectAttributes->RootDirectory);
    if (related == NULL) return STATUS_INVALID_HANDLE;
    device = related->DeviceObject;
    rest = FromUnicode(ObjectAttributes->ObjectName);
  } else {
    status = ResolveName(FromUnicode(ObjectAttributes->ObjectName), &device, &rest);
    if (!NT_SUCCESS(status)) return status;
  }
  if ((device->Flags & DO_EXCLUSIVE) && device->ReferenceCount != 0) return STATUS_ACCESS_DENIED;
  if (K().devices[device].deletePending) return STATUS_NO_SUCH_DEVICE;

  ULONG flags = (CreateOptions & FILE_SYNCHRONOUS_IO_NONALERT) ? FO_SYNCHRONOUS_IO : 0;
  PFILE_OBJECT file = sim::CreateFileObject(device, NULL, flags);
  if (file == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  file->RelatedFileObject = related;
  std::u16string &name = K().fileNames[file];
  name = rest;
  file->FileName.Buffer = name.empty() ? NULL : &name[0];
  file->FileName.Length = USHORT(name.size() * sizeof(WCHAR));
  file->FileName.MaximumLength = file->FileName.Length;

  PDEVICE_OBJECT top = RelatedDevice(file);
  PIRP irp = BuildIrp(top, IRP_MJ_CREATE, file);
  if (irp == NULL) {
    status = STATUS_INSUFFICIENT_RESOURCES;
  } else {
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->Parameters.Create.Options = (CreateDisposition << 24) | (CreateOptions & 0x00FFFFFF);
    stack->Parameters.Create.FileAttributes = USHORT(FileAttributes);
    stack->Parameters.Create.ShareAccess = USHORT(ShareAccess);
    status = SendIrp(top, irp);
    if (IoStatusBlock != NULL) *IoStatusBlock = irp->IoStatus;
    FreeManagerIrp(irp);
  }
  if (!NT_SUCCESS(status) || status == STATUS_REPARSE) {
    // A failed open never reaches cleanup or close, nor does one the file system sends
    // elsewhere: the system frees its file object and parses the name again with a new one.
    K().fileNames.erase(file);
    K().fileReferences.erase(file);
    ExFreePoolWithTag(file, SimTagFile);
    if (--device->ReferenceCount == 0 && K().devices[device].deletePending) FreeDevice(device);
    return status;
  }
  // The new file object keeps the directory it was opened relative to until it goes.
  if (related != NULL) K().fileReferences[related]++;
  HANDLE handle = reinterpret_cast<HANDLE>(K().nextHandle);
  K().nextHandle += 4;
  K().handles[handle] = file;
  *FileHandle = handle;
  return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE Handle) {
  auto found = K().handles.find(Handle);
  if (found == K().handles.end()) {
    SimViolation("closing a handle that is not open");
    return STATUS_INVALID_HANDLE;
  }
  PFILE_OBJECT file = found->second;
  K().handles.erase(found);
  PDEVICE_OBJECT top = RelatedDevice(file);
  PIRP irp = BuildIrp(top, IRP_MJ_CLEANUP, file);
  if (irp != NULL) {
    SendIrp(top, irp);
    FreeManagerIrp(irp);
  }
  DereferenceFile(file);
  return STATUS_SUCCESS;
}

NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess,
                                   POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                   PVOID *Object, POBJECT_HANDLE_INFORMATION HandleInformation) {
  (void)DesiredAccess;
  (void)ObjectType;
  (void)AccessMode;
  (void)HandleInformation;
  if (K().faults.failReferenceByHandle) return STATUS_INVALID_HANDLE;
  auto found = K().handles.find(Handle);
  if (found == K().handles.end()) return STATUS_INVALID_HANDLE;
  K().fileReferences[found->second]++;
  *Object = found->second;
  return STATUS_SUCCESS;
}

VOID ObReferenceObject(PVOID Object) {
  auto found = K().fileReferences.find(static_cast<PFILE_OBJECT>(Object));
  if (found == K().fileReferences.end()) {
    SimViolation("referencing an object that does not exist");
    return;
  }
  found->second++;
}

VOID ObDereferenceObject(PVOID Object) { DereferenceFile(static_cast<PFILE_OBJECT>(Object)); }

NTSTATUS IoQueryVolumeInformation(PFILE_OBJECT FileObject, FS_INFORMATION_CLASS FsInformationClass,
                                  ULONG Length, PVOID FsInformation, PULONG ReturnedLength) {
  PDEVICE_OBJECT top = RelatedDevice(FileObject);
  PIRP irp = BuildIrp(top, IRP_MJ_QUERY_VOLUME_INFORMATION, FileObject);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  irp->AssociatedIrp.SystemBuffer = FsInformation;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->Parameters.QueryVolume.Length = Length;
  stack->Parameters.QueryVolume.FsInformationClass = FsInformationClass;
  NTSTATUS status = SendIrp(top, irp);
  *ReturnedLength = ULONG(irp->IoStatus.Information);
  FreeManagerIrp(irp);
  return status;
}

// ---- Drivers and the user-mode caller -------------------------------------------------------

PDRIVER_OBJECT SimLoadDriver(DRIVER_INITIALIZE *entry, PCWSTR name, NTSTATUS *status) {
  K().drivers.push_back(std::make_unique<DRIVER_OBJECT>());
  PDRIVER_OBJECT driver = K().drivers.back().get();
  std::memset(driver, 0, sizeof(DRIVER_OBJECT));
  driver->Type = 4;
  driver->Size = sizeof(DRIVER_OBJECT);
  RtlInitUnicodeString(&driver->DriverName, name);
  driver->DriverInit = entry;
  if (entry != NULL) {
    UNICODE_STRING registryPath;
    RtlInitUnicodeString(&registryPath, u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\PELORIN");
    NTSTATUS result = entry(driver, &registryPath);
    if (status != NULL) *status = result;
    // Devices created while the driver loads are ready once its entry point returns.
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != NULL; device = device->NextDevice) {
      device->Flags &= ~DO_DEVICE_INITIALIZING;
    }
  }
  return driver;
}

namespace {

// The calls of a user-mode program arrive with user mode as the previous mode.
struct UserCaller {
  UserCaller() { previousMode = UserMode; }
  ~UserCaller() { previousMode = KernelMode; }
};

}  // namespace

NTSTATUS SimUserOpen(PCWSTR name, HANDLE *handle) {
  UserCaller caller;
  UNICODE_STRING text;
  RtlInitUnicodeString(&text, name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, NULL, NULL);
  IO_STATUS_BLOCK ioStatus;
  return ZwCreateFile(handle, GENERIC_READ, &attributes, &ioStatus, NULL, 0, 0, FILE_OPEN,
                      FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
}

NTSTATUS SimUserClose(HANDLE handle) {
  UserCaller caller;
  return ZwClose(handle);
}

NTSTATUS SimUserDeviceIoControl(HANDLE handle, SimRoad road, ULONG code, PVOID input,
                                ULONG inputLength, PVOID output, ULONG outputLength,
                                ULONG_PTR *returned) {
  UserCaller caller;
  *returned = 0;
  PFILE_OBJECT file = SimFileObjectOf(handle);
  if (file == NULL) return STATUS_INVALID_HANDLE;
  PDEVICE_OBJECT device = RelatedDevice(file);

  if (road == SimFastIoRoad) {
    PFAST_IO_DISPATCH table = device->DriverObject->FastIoDispatch;
    IO_STATUS_BLOCK ioStatus = {};
    if (table != NULL && table->FastIoDeviceControl != NULL &&
        table->FastIoDeviceControl(file, TRUE, input, inputLength, output, outputLength, code,
                                   &ioStatus, device)) {
      *returned = ioStatus.Information;
      return ioStatus.Status;
    }
  }

  PIRP irp = BuildIrp(device, IRP_MJ_DEVICE_CONTROL, file);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->Parameters.DeviceIoControl.IoControlCode = code;
  stack->Parameters.DeviceIoControl.InputBufferLength = inputLength;
  stack->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
  irp->UserBuffer = output;

  ULONG method = code & 3;
  PVOID systemBuffer = NULL;
  MDL mdl = {};
  if (method == METHOD_NEITHER) {
    stack->Parameters.DeviceIoControl.Type3InputBuffer = input;
  } else {
    ULONG size = road == SimMdlRoad || method != METHOD_BUFFERED
                     ? inputLength
                     : (inputLength > outputLength ? inputLength : outputLength);
    if (size != 0) {
      systemBuffer = ExAllocatePoolWithTag(NonPagedPool, size, SimTagSystemBuffer);
      if (systemBuffer == NULL) {
        FreeManagerIrp(irp);
        return STATUS_INSUFFICIENT_RESOURCES;
      }
      std::memcpy(systemBuffer, input, inputLength);
    }
    irp->AssociatedIrp.SystemBuffer = systemBuffer;
    // The user's input pointer also travels in the stack location, as on the real system.
    stack->Parameters.DeviceIoControl.Type3InputBuffer = input;
    if (road == SimMdlRoad || method != METHOD_BUFFERED) {
      mdl.StartVa = output;
      mdl.ByteCount = outputLength;
      irp->MdlAddress = outputLength ? &mdl : NULL;
    }
  }

  NTSTATUS status = SendIrp(device, irp);
  ULONG_PTR information = irp->IoStatus.Information;
  if (method == METHOD_BUFFERED && irp->MdlAddress == NULL && (ULONG(status) >> 30) != 3 && information != 0) {
    if (information > outputLength) SimViolation("more bytes reported than the output holds");
    std::memcpy(output, systemBuffer, information > outputLength ? outputLength : information);
  }
  *returned = information;
  if (systemBuffer != NULL) ExFreePoolWithTag(systemBuffer, SimTagSystemBuffer);
  FreeManagerIrp(irp);
  return status;
}

NTSTATUS SimUserRequest(HANDLE handle, UCHAR majorFunction, ULONG_PTR *information) {
  UserCaller caller;
  *information = 0;
  PFILE_OBJECT file = SimFileObjectOf(handle);
  if (file == NULL) return STATUS_INVALID_HANDLE;
  PDEVICE_OBJECT device = RelatedDevice(file);
  PIRP irp = BuildIrp(device, majorFunction, file);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = SendIrp(device, irp);
  *information = irp->IoStatus.Information;
  FreeManagerIrp(irp);
  return status;
}

NTSTATUS SimUserCreate(PCWSTR name, HANDLE related, ULONG disposition, ULONG options, HANDLE *handle) {
  UserCaller caller;
  UNICODE_STRING text;
  RtlInitUnicodeString(&text, name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, related, NULL);
  IO_STATUS_BLOCK ioStatus;
  return ZwCreateFile(handle, GENERIC_READ | DELETE, &attributes, &ioStatus, NULL, 0,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                      options | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
}

NTSTATUS SimUserSetInformation(HANDLE handle, FILE_INFORMATION_CLASS infoClass, PVOID buffer, ULONG length) {
  UserCaller caller;
  PFILE_OBJECT file = SimFileObjectOf(handle);
  if (file == NULL) return STATUS_INVALID_HANDLE;
  PDEVICE_OBJECT device = RelatedDevice(file);
  PIRP irp = BuildIrp(device, IRP_MJ_SET_INFORMATION, file);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  PVOID systemBuffer = ExAllocatePoolWithTag(NonPagedPool, length, SimTagSystemBuffer);
  if (systemBuffer == NULL) {
    FreeManagerIrp(irp);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  std::memcpy(systemBuffer, buffer, length);
  irp->AssociatedIrp.SystemBuffer = systemBuffer;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->Parameters.SetFile.Length = length;
  stack->Parameters.SetFile.FileInformationClass = infoClass;
  NTSTATUS status = SendIrp(device, irp);
  ExFreePoolWithTag(systemBuffer, SimTagSystemBuffer);
  FreeManagerIrp(irp);
  return status;
}

NTSTATUS SimUserSetDisposition(HANDLE handle, BOOLEAN deleteFile) {
  FILE_DISPOSITION_INFORMATION info = {deleteFile};
  return SimUserSetInformation(handle, FileDispositionInformation, &info, sizeof(info));
}

namespace {

NTSTATUS SetNewName(HANDLE handle, FILE_INFORMATION_CLASS infoClass, PCWSTR newName, BOOLEAN replace) {
  std::u16string name = newName;
  std::vector<UCHAR> buffer(offsetof(FILE_RENAME_INFORMATION, FileName) + name.size() * sizeof(WCHAR) + sizeof(WCHAR));
  PFILE_RENAME_INFORMATION info = reinterpret_cast<PFILE_RENAME_INFORMATION>(buffer.data());
  info->ReplaceIfExists = replace;
  info->RootDirectory = NULL;
  info->FileNameLength = ULONG(name.size() * sizeof(WCHAR));
  std::memcpy(info->FileName, name.data(), info->FileNameLength);
  return SimUserSetInformation(handle, infoClass, buffer.data(), ULONG(buffer.size()));
}

}  // namespace

NTSTATUS SimUserRename(HANDLE handle, PCWSTR newName, BOOLEAN replaceIfExists) {
  return SetNewName(handle, FileRenameInformation, newName, replaceIfExists);
}

NTSTATUS SimUserLink(HANDLE handle, PCWSTR linkName) {
  return SetNewName(handle, FileLinkInformation, linkName, FALSE);
}

NTSTATUS SimUserCachedRead(HANDLE handle, ULONG length, PVOID buffer, bool *fastPath) {
  UserCaller caller;
  *fastPath = false;
  PFILE_OBJECT file = SimFileObjectOf(handle);
  if (file == NULL) return STATUS_INVALID_HANDLE;
  PDEVICE_OBJECT device = RelatedDevice(file);
  PFAST_IO_DISPATCH table = device->DriverObject->FastIoDispatch;
  LARGE_INTEGER offset = {};
  IO_STATUS_BLOCK ioStatus = {};
  if (table != NULL && table->SizeOfFastIoDispatch > offsetof(FAST_IO_DISPATCH, FastIoRead) &&
      table->FastIoRead != NULL &&
      table->FastIoRead(file, &offset, length, TRUE, 0, buffer, &ioStatus, device)) {
    *fastPath = true;
    return ioStatus.Status;
  }
  PIRP irp = BuildIrp(device, IRP_MJ_READ, file);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  irp->UserBuffer = buffer;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  stack->Parameters.Read.Length = length;
  stack->Parameters.Read.ByteOffset = offset;
  NTSTATUS status = SendIrp(device, irp);
  FreeManagerIrp(irp);
  return status;
}
