// CallUnderExceptionGuard for 32-bit x86 Windows. GCC has no __try/__except, so the guard
// builds the frame that such a block would: an exception registration record on the stack,
// linked at fs:[0], whose handler unwinds the frames above it (RtlUnwind), restores the guard's
// stack and frame pointers and resumes after the call with the exception code in eax. The
// routine runs with ebx, esi and edi saved by the guard, so nothing the compiler keeps in
// registers across the call is lost when the routine is abandoned midway.
//
// Registration record, at the guard's esp while the routine runs:
//   +0 previous record   +4 handler   +8 the guard's ebp
// Pure assembly; the declaration lives in kernel.h.

__asm__(
    ".text\n"
    ".globl _CallUnderExceptionGuard@8\n"
    "_CallUnderExceptionGuard@8:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  pushl %ebp\n"
    "  pushl $_GuardExceptionHandler\n"
    "  pushl %fs:0\n"
    "  movl %esp, %fs:0\n"
    "  pushl 12(%ebp)\n"   // Context
    "  call *8(%ebp)\n"    // Routine, stdcall: pops its argument
    "  xorl %eax, %eax\n"  // STATUS_SUCCESS
    "GuardResume:\n"
    "  movl (%esp), %ecx\n"
    "  movl %ecx, %fs:0\n"
    "  addl $12, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret $8\n"
    "\n"
    // EXCEPTION_DISPOSITION handler(ExceptionRecord, EstablisherFrame, ContextRecord,
    //                               DispatcherContext), cdecl.
    "_GuardExceptionHandler:\n"
    "  movl 4(%esp), %eax\n"
    "  testl $6, 4(%eax)\n"  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND: nothing to do
    "  jnz 1f\n"
    "  pushl $0\n"           // ReturnValue
    "  pushl %eax\n"         // ExceptionRecord
    "  pushl $2f\n"          // TargetIp
    "  pushl 20(%esp)\n"     // TargetFrame: our registration record
    "  call *__imp__RtlUnwind@16\n"
    "2:\n"                   // back with the handler's own stack: the arguments as on entry
    "  movl 4(%esp), %eax\n"
    "  movl (%eax), %eax\n"  // ExceptionCode
    "  movl 8(%esp), %esp\n" // the guard's stack, at the registration record
    "  movl 8(%esp), %ebp\n"
    "  jmp GuardResume\n"
    "1:\n"
    "  movl $1, %eax\n"      // ExceptionContinueSearch
    "  ret\n");
