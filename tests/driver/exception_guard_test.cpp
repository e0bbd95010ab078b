// The x86 exception guard that the real driver uses around caller buffers, run in a user-mode
// program: the frame it registers, the unwind and the resume work the same way there.
#include <windows.h>

#include <gtest/gtest.h>

extern "C" LONG __stdcall CallUnderExceptionGuard(void(__stdcall *routine)(void *), void *context);

namespace {

void __stdcall Store(void *context) { *static_cast<volatile int *>(context) = 42; }

int *volatile NullPage = reinterpret_cast<int *>(0x10);

void __stdcall WriteThroughNull(void *) { *NullPage = 1; }

void __stdcall Raise(void *context) { RaiseException(*static_cast<DWORD *>(context), 0, 0, NULL); }

// Leaves the callee-saved registers and the stack in disorder before faulting.
void __stdcall ClobberAndFault(void *) {
  __asm__ volatile(
      "movl $0x11111111, %%ebx\n"
      "movl $0x22222222, %%esi\n"
      "movl $0x33333333, %%edi\n"
      "pushl $0x44444444\n"
      "pushl $0x55555555\n"
      "xorl %%eax, %%eax\n"
      "movl (%%eax), %%eax\n"
      :
      :
      : "eax", "ebx", "esi", "edi", "memory");
}

struct Nested {
  LONG inner;
  int after;
};

void __stdcall GuardInside(void *context) {
  Nested *nested = static_cast<Nested *>(context);
  nested->inner = CallUnderExceptionGuard(WriteThroughNull, NULL);
  nested->after = 1;  // runs: the inner guard caught the fault
}

TEST(ExceptionGuard, RoutineThatReturnsGivesSuccess) {
  volatile int value = 0;
  EXPECT_EQ(CallUnderExceptionGuard(Store, const_cast<int *>(&value)), 0);
  EXPECT_EQ(value, 42);
}

TEST(ExceptionGuard, FaultsAndRaisedExceptionsComeBackAsTheirCodes) {
  EXPECT_EQ(DWORD(CallUnderExceptionGuard(WriteThroughNull, NULL)), DWORD(EXCEPTION_ACCESS_VIOLATION));
  DWORD codes[] = {0xE0001234, 0xC0000005, 0x80000002};
  for (DWORD code : codes) {
    EXPECT_EQ(DWORD(CallUnderExceptionGuard(Raise, &code)), code);
  }
}

TEST(ExceptionGuard, CallerRegistersAndStackSurviveAnAbandonedRoutine) {
  // Values the compiler keeps in callee-saved registers across the call.
  unsigned a = GetTickCount() | 1, b = a * 3, c = b ^ 0x5A5A, d = c + a, e = d * 7;
  for (int round = 0; round < 1000; round++) {
    ASSERT_EQ(DWORD(CallUnderExceptionGuard(ClobberAndFault, NULL)), DWORD(EXCEPTION_ACCESS_VIOLATION));
  }
  EXPECT_EQ(b, a * 3);
  EXPECT_EQ(c, b ^ 0x5A5A);
  EXPECT_EQ(d, c + a);
  EXPECT_EQ(e, d * 7);
}

TEST(ExceptionGuard, NestedGuardsCatchAtTheInnermost) {
  Nested nested = {0, 0};
  EXPECT_EQ(CallUnderExceptionGuard(GuardInside, &nested), 0);
  EXPECT_EQ(DWORD(nested.inner), DWORD(EXCEPTION_ACCESS_VIOLATION));
  EXPECT_EQ(nested.after, 1);
  // The frame chain is intact afterwards: a guard still catches.
  DWORD code = 0xE0000001;
  EXPECT_EQ(DWORD(CallUnderExceptionGuard(Raise, &code)), code);
}

}  // namespace
