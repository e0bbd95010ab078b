// The one seam between the driver and its kernel: the toolchain's DDK headers for the real
// pelorin.sys, our own simulated kernel for the native build that the tests run against.
#pragma once

#if defined(VEXLOR_KERNEL_SIM)
#include "sim/sim_kernel.h"
#else
#include <ntifs.h>
// Wide literals are UTF-16 on both builds: L"" here, u"" in the simulator.
#define WIDE(text) L##text
#endif

// Runs Routine(Context) so that an exception it raises (a failed probe of a caller's buffer, an
// access violation while copying it) comes back as that exception's status instead of stopping
// the system. STATUS_SUCCESS when the routine returned normally.
typedef VOID(NTAPI *GUARDED_ROUTINE)(PVOID Context);
extern "C" NTSTATUS NTAPI CallUnderExceptionGuard(GUARDED_ROUTINE Routine, PVOID Context);
