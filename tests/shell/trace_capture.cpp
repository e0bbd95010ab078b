#include "trace_capture.h"

#include <windows.h>

namespace vexlor_test {
namespace {

// Any thread may write a trace line; the lines are guarded by a lock.
std::vector<std::string>* g_lines = nullptr;
CRITICAL_SECTION g_linesLock;

LONG CALLBACK CollectDebugString(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (g_lines != nullptr && record->ExceptionCode == DBG_PRINTEXCEPTION_C &&
      record->NumberParameters >= 2) {
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    EnterCriticalSection(&g_linesLock);
    g_lines->push_back(text);
    LeaveCriticalSection(&g_linesLock);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

TraceCapture::TraceCapture() {
  InitializeCriticalSection(&g_linesLock);
  g_lines = new std::vector<std::string>();
  handler_ = AddVectoredExceptionHandler(1, CollectDebugString);
}

TraceCapture::~TraceCapture() {
  RemoveVectoredExceptionHandler(handler_);
  delete g_lines;
  g_lines = nullptr;
  DeleteCriticalSection(&g_linesLock);
}

std::vector<std::string> TraceCapture::Take() {
  std::vector<std::string> lines;
  EnterCriticalSection(&g_linesLock);
  lines.swap(*g_lines);
  LeaveCriticalSection(&g_linesLock);
  return lines;
}

}  // namespace vexlor_test
