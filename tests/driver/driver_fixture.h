// A freshly booted simulated machine with pelorin loaded, and the starter's side of the control
// device: open, control codes, close.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pelorin.h"
#include "sim_world.h"

inline std::string Hex(ULONG value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lx", static_cast<unsigned long>(value));
  return text;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
    // The driver never unloads; between tests its records start over as at boot.
    AccessAllowed = 0;
    FilterDriverObject = NULL;
    ControlDevice = NULL;
    std::memset(DriveFilters, 0, sizeof(DriveFilters));
    HookedDriveMask = 0;
    PipeFilter = NULL;
    MailslotFilter = NULL;
    std::memset(NameCache, 0, sizeof(NameCache));
    std::memset(&NameCacheLock, 0, sizeof(NameCacheLock));
    std::memset(&PathTextList, 0, sizeof(PathTextList));
  }

  void TearDown() override {
    for (const std::string &violation : SimViolations()) ADD_FAILURE() << "kernel contract: " << violation;
  }

  void Load() {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    driver = SimLoadDriver(DriverEntry, u"\\Driver\\Pelorin", &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
  }

  void Open() { ASSERT_EQ(SimUserOpen(u"\\??\\PELORIN", &control), STATUS_SUCCESS); }

  void Close() { ASSERT_EQ(SimUserClose(control), STATUS_SUCCESS); }

  NTSTATUS Ioctl(ULONG code, const void *input, ULONG inputLength, void *output,
                 ULONG outputLength, ULONG_PTR *returned, SimRoad road = SimRequestRoad) {
    return SimUserDeviceIoControl(control, road, code, const_cast<void *>(input), inputLength,
                                  output, outputLength, returned);
  }

  // IOCTL_SET_DRIVES as the starter sends it; the mask the driver answers.
  ULONG SetDrives(ULONG mask) {
    ULONG result = 0xDEADBEEF;
    ULONG_PTR returned = 0;
    NTSTATUS status = Ioctl(IOCTL_SET_DRIVES, &mask, 4, &result, 4, &returned);
    EXPECT_EQ(status, STATUS_SUCCESS) << "mask " << Hex(mask);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(result, HookedDriveMask);
    return result;
  }

  NTSTATUS SendKind(ULONG code, ULONG kind) {
    ULONG_PTR returned = 0;
    return Ioctl(code, &kind, 4, NULL, 0, &returned);
  }

  // The driver's devices apart from the control device.
  std::vector<PDEVICE_OBJECT> Filters() {
    std::vector<PDEVICE_OBJECT> filters;
    for (PDEVICE_OBJECT device : SimDevicesOf(driver)) {
      if (device != ControlDevice) filters.push_back(device);
    }
    return filters;
  }

  // ResolveFullPath into a buffer of exactly PathTextSize bytes, so that AddressSanitizer sees
  // any write past it.
  static std::string Resolve(BOOLEAN useOwnName, PFILE_OBJECT file, PDEVICE_OBJECT filter) {
    std::vector<CHAR> text(PathTextSize, 'X');
    ResolveFullPath(useOwnName, file, ExtensionOf(filter), text.data());
    return std::string(text.data());
  }

  // The text the name cache holds for a file object, or "(none)".
  static std::string CachedName(PFILE_OBJECT file) {
    for (NameEntry *entry = NameCache[(reinterpret_cast<ULONG_PTR>(file) >> 5) & 0xFF]; entry != NULL;
         entry = entry->Next) {
      if (entry->FileObject == file) return entry->Text;
    }
    return "(none)";
  }

  // Requests of one major function that reached a file system's device.
  static size_t RequestsSeen(PDEVICE_OBJECT device, UCHAR majorFunction, PFILE_OBJECT file = NULL) {
    size_t count = 0;
    for (const SimRequest &request : SimRequestsSeen(device)) {
      count += request.majorFunction == majorFunction && (file == NULL || request.fileObject == file);
    }
    return count;
  }

  PDRIVER_OBJECT driver = NULL;
  HANDLE control = NULL;
};
