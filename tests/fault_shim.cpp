// pjlwrap tests: an LD_PRELOAD shim that makes write() on standard output and
// read() on standard input misbehave the way pipes and disks can, as set by
// the environment:
//   PJLWRAP_FAULT_WRITE_MAX=N      a write to fd 1 takes at most N bytes
//   PJLWRAP_FAULT_EINTR=K          every K-th read or write on fd 0/1 fails with EINTR
//   PJLWRAP_FAULT_EAGAIN=K         about one write to fd 1 in K fails with EAGAIN
//   PJLWRAP_FAULT_ENOSPC_AFTER=N   writes to fd 1 fail with ENOSPC once N bytes are written
//   PJLWRAP_FAULT_EIO_AFTER=N      reads from fd 0 fail with EIO once N bytes are read
// Calls on other descriptors (the log on fd 2, the PPD) pass straight through.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using io_fn = ssize_t (*)(int, void *, size_t);

long setting(const char *name) {
  const char *value = getenv(name);
  return value ? atol(value) : 0;
}

struct Faults {
  long write_max = setting("PJLWRAP_FAULT_WRITE_MAX");
  long eintr = setting("PJLWRAP_FAULT_EINTR");
  long eagain = setting("PJLWRAP_FAULT_EAGAIN");
  long enospc_after = setting("PJLWRAP_FAULT_ENOSPC_AFTER");
  long eio_after = setting("PJLWRAP_FAULT_EIO_AFTER");
  long calls = 0;
  size_t written = 0, read = 0;
  unsigned random = 12345;

  bool interrupt() { return eintr > 0 && ++calls % eintr == 0; }
  bool again() {
    random = random * 1103515245 + 12345;
    return eagain > 0 && (random >> 16) % static_cast<unsigned>(eagain) == 0;
  }
};

Faults &faults() {
  static Faults f;
  return f;
}

template <typename Fn>
Fn next(const char *name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void *buf, size_t count) {
  static auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
  if (fd != 1) return real(fd, buf, count);
  Faults &f = faults();
  if (f.interrupt()) return errno = EINTR, -1;
  if (f.again()) return errno = EAGAIN, -1;
  if (f.enospc_after > 0 && f.written >= static_cast<size_t>(f.enospc_after))
    return errno = ENOSPC, -1;
  if (f.write_max > 0 && count > static_cast<size_t>(f.write_max))
    count = static_cast<size_t>(f.write_max);
  ssize_t n = real(fd, buf, count);
  if (n > 0) f.written += static_cast<size_t>(n);
  return n;
}

extern "C" ssize_t read(int fd, void *buf, size_t count) {
  static auto real = next<io_fn>("read");
  if (fd != 0) return real(fd, buf, count);
  Faults &f = faults();
  if (f.interrupt()) return errno = EINTR, -1;
  if (f.eio_after > 0 && f.read >= static_cast<size_t>(f.eio_after)) return errno = EIO, -1;
  ssize_t n = real(fd, buf, count);
  if (n > 0) f.read += static_cast<size_t>(n);
  return n;
}
