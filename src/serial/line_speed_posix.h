#pragma once
// Line speed through struct termios2 (BOTHER), so that any bit rate the
// splicer knows (256000, 512000, 896000, ...) can be set, not only the
// standard Bxxx constants. Kept apart because <asm/termbits.h> cannot share a
// translation unit with <termios.h>.

namespace velmora::serial {

// Sets input and output speed of the open terminal `fd`; false with errno set on failure.
bool SetLineSpeed(int fd, int bitsPerSecond);

// The output speed the driver reports for `fd`, or -1 on failure.
int GetLineSpeed(int fd);

}  // namespace velmora::serial
