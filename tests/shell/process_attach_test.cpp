// The entry point's process-attach work: the platform flag, the module handle, the settings.
#include <gtest/gtest.h>

#include <cstdlib>

#include "com_server.h"
#include "machine_key_redirect.h"
#include "settings_record.h"

namespace vexlor {
namespace {

// The platform the test run expects: 1 when the script has switched Wine to Windows 98,
// 2 (the NT family) otherwise.
DWORD ExpectedPlatform() {
  char value[8] = "";
  GetEnvironmentVariableA("VEXLOR_TEST_PLATFORM", value, sizeof(value));
  return value[0] == '1' ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
}

TEST(ProcessAttach, SetsPlatformFlagModuleAndSettings) {
  vexlor_test::MachineKeyRedirect registry;
  ASSERT_TRUE(registry.active());
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_TRUE(GetVersionExA(&version));
  ASSERT_EQ(version.dwPlatformId, ExpectedPlatform()) << "the system reports another platform";

  HINSTANCE module = GetModuleHandleA(nullptr);
  g_fIsNT = 7;
  g_hInstThisDll = nullptr;
  g_settings.protectEncryptedFiles = 0;
  EXPECT_TRUE(DllMain(module, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(g_fIsNT, ExpectedPlatform() == VER_PLATFORM_WIN32_NT ? 1u : 0u);
  EXPECT_EQ(g_hInstThisDll, module);
  EXPECT_EQ(g_settings.protectEncryptedFiles, 1) << "settings not loaded";
}

TEST(ProcessAttach, OtherReasonsChangeNothing) {
  HINSTANCE module = GetModuleHandleA(nullptr);
  for (DWORD reason : {DWORD{DLL_THREAD_ATTACH}, DWORD{DLL_THREAD_DETACH},
                       DWORD{DLL_PROCESS_DETACH}, DWORD{4}, DWORD{0x1000}}) {
    g_fIsNT = 7;
    g_hInstThisDll = nullptr;
    EXPECT_TRUE(DllMain(module, reason, nullptr)) << reason;
    EXPECT_EQ(g_fIsNT, 7u) << reason;
    EXPECT_EQ(g_hInstThisDll, nullptr) << reason;
  }
}

}  // namespace
}  // namespace vexlor
