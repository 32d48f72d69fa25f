#include "host/components/termios2_baud.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace ph {

int setLineBaud(int fd, int baud) {
  if (baud <= 0) return EINVAL;
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = static_cast<speed_t>(baud);
  t.c_ospeed = static_cast<speed_t>(baud);
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int readLineBaud(int fd, int& baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  baud = static_cast<int>(t.c_ospeed);
  return 0;
}

}  // namespace ph
