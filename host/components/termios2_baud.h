#pragma once
// Line speed through termios2, so that any rate (Marlin's 250000, 460800)
// can be set, not only the B* constants. Kept apart from <termios.h>, whose
// declarations clash with the kernel's termios2 header.

namespace ph {

// Sets input and output speed of the tty; returns 0 or an errno code.
int setLineBaud(int fd, int baud);
// Reads the output speed back; returns 0 or an errno code.
int readLineBaud(int fd, int& baud);

}  // namespace ph
