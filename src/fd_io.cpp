// pjlwrap: reads and writes on raw descriptors that survive signals,
// non-blocking descriptors and short writes.

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "pjlwrap.h"

namespace {

// Waits until `fd` is ready for `events`.  Returns false when poll() itself
// fails; a hang-up or error on the descriptor is left for the next read or
// write to report.
bool wait_for(int fd, short events) {
  struct pollfd pfd = {fd, events, 0};
  for (;;) {
    if (poll(&pfd, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

ssize_t write_all(int fd, const void *data, size_t len) {
  const char *p = static_cast<const char *>(data);
  size_t left = len;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n > 0) {
      p += n;
      left -= static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_for(fd, POLLOUT)) return -1;
    } else {
      // write() never returns 0 for a non-zero length on a pipe or file;
      // treat it as an error rather than spin.
      if (n == 0) errno = EIO;
      return -1;
    }
  }
  return static_cast<ssize_t>(len);
}

ssize_t read_some(int fd, void *data, size_t len) {
  for (;;) {
    ssize_t n = read(fd, data, len);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!wait_for(fd, POLLIN)) return -1;
  }
}
