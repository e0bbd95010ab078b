// The registered library as the shell meets it: its class, its file and its exports.
#pragma once

#include <windows.h>

#include <string>

#include "trace_capture.h"

namespace vexlor_test {

// The library's class identifier, {590362D7-FCE8-4E99-AF8F-71C062573FB9}.
extern const CLSID kVexlorClass;
extern const char kVexlorClassText[];

// The library file, as the test script names it in VEXLOR_DLL (a Windows path).
std::string LibraryPath();
// The library loaded into this process (the same module COM activation uses).
HMODULE Library();

using DllGetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT(WINAPI*)();
using DllRegistrationFn = HRESULT(WINAPI*)();

template <typename Function>
Function Export(const char* name) {
  // Through the generic function pointer type, which converts without a warning.
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(Library(), name)));
}

// The value of g_cRefThisDll, read from the trace line that DllCanUnloadNow writes; -1 when the
// line is missing. Takes (and drops) the lines captured so far.
long LiveObjects(TraceCapture& traces);

}  // namespace vexlor_test
