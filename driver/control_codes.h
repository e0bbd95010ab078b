// The control codes of the control device: device type 0x8300, any access, a function number
// and a transfer method. Plain arithmetic, so that user-mode tests can include it too.
#pragma once

constexpr unsigned long PelorinCode(unsigned long function, unsigned long method) {
  return (0x8300ul << 16) | (function << 2) | method;
}

const unsigned long ControlDeviceType = 0x8300;
const unsigned long PelorinMethodBuffered = 0;
const unsigned long PelorinMethodNeither = 3;

const unsigned long IOCTL_CLEAR_RECORDS = PelorinCode(1, PelorinMethodBuffered);
const unsigned long IOCTL_READ_RECORDS = PelorinCode(2, PelorinMethodNeither);
const unsigned long IOCTL_RETURN_ONE = PelorinCode(3, PelorinMethodNeither);
const unsigned long IOCTL_GET_VERSION = PelorinCode(7, PelorinMethodBuffered);
const unsigned long IOCTL_HOOK_SPECIAL = PelorinCode(8, PelorinMethodBuffered);
const unsigned long IOCTL_UNHOOK_SPECIAL = PelorinCode(9, PelorinMethodBuffered);
const unsigned long IOCTL_ALLOW_ACCESS = PelorinCode(16, PelorinMethodBuffered);
const unsigned long IOCTL_RESTRICT_ACCESS = PelorinCode(17, PelorinMethodBuffered);
const unsigned long IOCTL_SET_DRIVES = PelorinCode(18, PelorinMethodBuffered);
const unsigned long IOCTL_IGNORED = PelorinCode(19, PelorinMethodBuffered);

// The records read returns nothing but wants a caller buffer at least this long.
const unsigned long ReadRecordsMinimumLength = 65523;
