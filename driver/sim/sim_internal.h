// State shared by the simulator's own files; the driver never sees it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim_world.h"

namespace sim {

std::u16string Widen(const char *text);
std::string Narrow(const std::u16string &text);
std::u16string Upper(const std::u16string &text);
std::u16string FromUnicode(PCUNICODE_STRING text);

struct DeviceInfo {
  std::u16string name;          // empty for unnamed devices
  PDEVICE_OBJECT attachedTo;    // the device below, when attached
  bool deletePending;
};

struct Kernel {
  std::map<PVOID, std::pair<ULONG, SIZE_T>> pool;  // block -> tag, size
  std::map<PDEVICE_OBJECT, DeviceInfo> devices;
  std::map<std::u16string, PDEVICE_OBJECT> deviceNames;  // upper-case name -> device
  std::map<std::u16string, std::u16string> links;         // upper-case link -> target
  std::map<HANDLE, PFILE_OBJECT> handles;
  std::map<PFILE_OBJECT, LONG> fileReferences;
  std::map<PFILE_OBJECT, std::u16string> fileNames;   // storage behind FileName.Buffer
  std::map<PIRP, bool> managerIrps;                   // built here -> completed yet
  std::vector<std::unique_ptr<DRIVER_OBJECT>> drivers;
  std::vector<std::string> violations;
  SimFaults faults;
  ULONG_PTR nextHandle;
  const void *unmappedStart;
  SIZE_T unmappedLength;
};

Kernel &K();
// Guards the kernel's maps that threads of a test share: pool, own requests, violations.
std::mutex &Bookkeeping();

// Builds and sends a request from the I/O manager itself; completes synchronously. Cleanup and
// close requests are never refused for lack of memory.
PIRP BuildIrp(PDEVICE_OBJECT device, UCHAR majorFunction, PFILE_OBJECT fileObject);
NTSTATUS SendIrp(PDEVICE_OBJECT device, PIRP irp);
void FreeManagerIrp(PIRP irp);

void ResetFileSystems();
// A file object the file system opened itself: referenced once, no handle, no create request.
PFILE_OBJECT CreateFileObject(PDEVICE_OBJECT device, PVOID fsContext, ULONG flags);
NTSTATUS PoolAllocationFailed(ULONG tag);

}  // namespace sim
