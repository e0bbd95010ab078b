#include "library_under_test.h"

#include <cstdio>

namespace vexlor_test {

const CLSID kVexlorClass = {
    0x590362D7, 0xFCE8, 0x4E99, {0xAF, 0x8F, 0x71, 0xC0, 0x62, 0x57, 0x3F, 0xB9}};
const char kVexlorClassText[] = "{590362D7-FCE8-4E99-AF8F-71C062573FB9}";

std::string LibraryPath() {
  char path[MAX_PATH] = "";
  GetEnvironmentVariableA("VEXLOR_DLL", path, sizeof(path));
  return path;
}

HMODULE Library() {
  static HMODULE module = LoadLibraryA(LibraryPath().c_str());
  return module;
}

long LiveObjects(TraceCapture& traces) {
  traces.Take();
  Export<DllCanUnloadNowFn>("DllCanUnloadNow")();
  long live = -1;
  for (const std::string& line : traces.Take()) {
    unsigned long count = 0;
    char end = 0;
    if (std::sscanf(line.c_str(), "DllCanUnloadNow g_cRefThisDll = %lu%c", &count, &end) == 2 &&
        end == '\n') {
      live = static_cast<long>(count);
    }
  }
  return live;
}

}  // namespace vexlor_test
