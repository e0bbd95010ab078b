// Run by the test script after the library has been unregistered once.
#include <olectl.h>

#include <gtest/gtest.h>

#include "library_under_test.h"

namespace vexlor_test {
namespace {

TEST(Unregistration, SecondTimeReportsSelfregClass) {
  HRESULT hr = Export<DllRegistrationFn>("DllUnregisterServer")();
  EXPECT_EQ(hr, SELFREG_E_CLASS) << "0x" << std::hex << hr;
}

}  // namespace
}  // namespace vexlor_test
