// The real pelorin.sys, installed and started as a demand-start kernel service in the Wine
// prefix, driven through its control device as the starter drives it. Wine delivers only the
// request road, and it cannot name the device below a volume, so no drive can be hooked here:
// what this checks is that the driver loads, answers every control code and fails hooking
// cleanly instead of taking the driver host down.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control_codes.h"

namespace {

std::string WindowsPath(const char *unixPath) {
  std::string path = "Z:";
  for (const char *c = unixPath; *c; c++) path.push_back(*c == '/' ? '\\' : *c);
  return path;
}

bool IsRunning(SC_HANDLE service) {
  SERVICE_STATUS status;
  return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
}

// Starts the service and waits until it runs. A fresh Wine prefix's service manager spends its
// first one or two minutes on its own start-up: meanwhile it refuses starts
// (ERROR_SERVICE_DATABASE_LOCKED), its pipe is busy (ERROR_PIPE_BUSY) or it gives up waiting
// for the driver host (ERROR_SERVICE_REQUEST_TIMEOUT). So every failure is retried until a
// deadline; the errors seen are kept for the failure message.
DWORD StartAndWait(SC_HANDLE service, std::string *errors) {
  const DWORD deadline = GetTickCount() + 420000;
  DWORD error = ERROR_SERVICE_REQUEST_TIMEOUT;
  while (LONG(GetTickCount() - deadline) < 0) {
    if (StartServiceA(service, 0, NULL)) {
      error = 0;
    } else {
      error = GetLastError();
      *errors += std::to_string(error) + " ";
      if (error == ERROR_SERVICE_ALREADY_RUNNING) error = 0;
    }
    for (int wait = 0; wait < 8; wait++) {
      if (IsRunning(service)) return 0;
      Sleep(250);
    }
  }
  return error != 0 ? error : DWORD(ERROR_SERVICE_REQUEST_TIMEOUT);
}

// Installs and starts the service once per program. In a Wine session that already ran this
// program the service may be installed and running, or deleted while its driver stays loaded
// (CreateService then fails with ERROR_SERVICE_MARKED_FOR_DELETE); both are fine.
class PelorinService : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << GetLastError();
    std::string image = WindowsPath(PELORIN_SYS_PATH);
    service = CreateServiceA(manager, "PELORIN", "PELORIN", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), NULL, NULL,
                             NULL, NULL, NULL);
    if (service == NULL) {
      DWORD error = GetLastError();
      if (error == ERROR_SERVICE_EXISTS) {
        service = OpenServiceA(manager, "PELORIN", SERVICE_ALL_ACCESS);
        ASSERT_NE(service, nullptr) << GetLastError();
      } else {
        ASSERT_EQ(error, DWORD(ERROR_SERVICE_MARKED_FOR_DELETE)) << "CreateService";
      }
    }
    if (service != NULL) {
      std::string errors;
      ASSERT_EQ(StartAndWait(service, &errors), 0u) << "StartService errors: " << errors;
    }
  }

  // As the starter does when it ends: stop (the driver has no unload routine and stays) and
  // delete the service.
  static void TearDownTestSuite() {
    if (service != NULL) {
      SERVICE_STATUS status;
      ControlService(service, SERVICE_CONTROL_STOP, &status);
      DeleteService(service);
      CloseServiceHandle(service);
    }
    if (manager != NULL) CloseServiceHandle(manager);
  }

  void SetUp() override {
    device = CreateFileA("\\\\.\\PELORIN", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << "open \\\\.\\PELORIN: " << GetLastError();
  }

  void TearDown() override {
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
  }

  static SC_HANDLE manager;
  static SC_HANDLE service;
  HANDLE device = INVALID_HANDLE_VALUE;
};

SC_HANDLE PelorinService::manager = NULL;
SC_HANDLE PelorinService::service = NULL;

TEST_F(PelorinService, AnswersItsVersion) {
  DWORD version = 0;
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(device, IOCTL_GET_VERSION, NULL, 0, &version, 4, &returned, NULL))
      << GetLastError();
  EXPECT_EQ(returned, 4u);
  EXPECT_EQ(version, 430u);
}

TEST_F(PelorinService, ControlCodes) {
  struct Case {
    const char *what;
    DWORD code;
    DWORD input;
    DWORD inputLength;
    DWORD outputLength;
    DWORD error;  // 0: the call succeeds
    DWORD returned;
  };
  const Case cases[] = {
      {"version into 2 bytes", IOCTL_GET_VERSION, 0, 0, 2, ERROR_INSUFFICIENT_BUFFER, 0},
      {"read records, 65522 bytes", IOCTL_READ_RECORDS, 0, 0, 65522, ERROR_INSUFFICIENT_BUFFER, 0},
      {"read records, 65523 bytes", IOCTL_READ_RECORDS, 0, 0, 65523, 0, 0},
      {"return one", IOCTL_RETURN_ONE, 0, 0, 0, 0, 1},
      {"clear records", IOCTL_CLEAR_RECORDS, 0, 0, 0, 0, 0},
      {"ignored", IOCTL_IGNORED, 0, 0, 0, 0, 0},
      {"allow access", IOCTL_ALLOW_ACCESS, 0, 0, 0, 0, 0},
      {"restrict access", IOCTL_RESTRICT_ACCESS, 0, 0, 0, 0, 0},
      {"set drives, 3-byte input", IOCTL_SET_DRIVES, 4, 3, 4, ERROR_INSUFFICIENT_BUFFER, 0},
      {"set drives, 3-byte output", IOCTL_SET_DRIVES, 4, 4, 3, ERROR_INSUFFICIENT_BUFFER, 0},
      {"hook special, 3-byte input", IOCTL_HOOK_SPECIAL, 2, 3, 0, ERROR_INSUFFICIENT_BUFFER, 0},
      {"hook special, unknown kind", IOCTL_HOOK_SPECIAL, 9, 4, 0, ERROR_GEN_FAILURE, 0},
      {"hook named pipes: no device below", IOCTL_HOOK_SPECIAL, 2, 4, 0, ERROR_GEN_FAILURE, 0},
      {"unhook named pipes", IOCTL_UNHOOK_SPECIAL, 2, 4, 0, 0, 0},
      {"unhook special, 3-byte input", IOCTL_UNHOOK_SPECIAL, 2, 3, 0, ERROR_INSUFFICIENT_BUFFER, 0},
      {"unknown function 20", 0x83000050, 0, 4, 4, ERROR_INVALID_FUNCTION, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<BYTE> output(65536, 0xAB);
    DWORD input[2] = {c.input, 0};
    DWORD returned = 0xFFFF;
    SetLastError(0);
    BOOL ok = DeviceIoControl(device, c.code, input, c.inputLength, output.data(), c.outputLength,
                              &returned, NULL);
    if (c.error == 0) {
      EXPECT_TRUE(ok) << "error " << GetLastError();
      EXPECT_EQ(returned, c.returned);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
}

TEST_F(PelorinService, SetDrivesAnswersAMask) {
  // C: cannot be hooked under Wine (no device below the volume); bits 26 to 31 come back.
  DWORD mask = 0xFC000004;
  DWORD result = 0;
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(device, IOCTL_SET_DRIVES, &mask, 4, &result, 4, &returned, NULL))
      << GetLastError();
  EXPECT_EQ(returned, 4u);
  EXPECT_EQ(result, 0xFC000000u);
  mask = 0;
  ASSERT_TRUE(DeviceIoControl(device, IOCTL_SET_DRIVES, &mask, 4, &result, 4, &returned, NULL));
  EXPECT_EQ(result, 0u);
}

TEST_F(PelorinService, ClosedAndReopenedDeviceStillAnswers) {
  ASSERT_TRUE(CloseHandle(device));
  device = CreateFileA("\\\\.\\Global\\PELORIN", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD version = 0;
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(device, IOCTL_GET_VERSION, NULL, 0, &version, 4, &returned, NULL));
  EXPECT_EQ(version, 430u);
}

}  // namespace
