// pjlwrap: CUPS filter that sends a PostScript job behind a PJL job header
// carrying the printer command that the PPD gives for the job's print quality.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "pjlwrap.h"

namespace {

constexpr char kUel[] = "\x1b%-12345X";  // Universal Exit Language, 9 bytes
constexpr size_t kUelLength = sizeof kUel - 1;
constexpr char kPjl[] = "@PJL\n";
constexpr char kEnterPostScript[] = "@PJL ENTER LANGUAGE=POSTSCRIPT\n";
constexpr size_t kChunkSize = 8192;

// The parsed job options, freed with the library's own call.
struct JobOptions {
  int count = 0;
  cups_option_t *options = nullptr;
  JobOptions() = default;
  JobOptions(const JobOptions &) = delete;
  JobOptions &operator=(const JobOptions &) = delete;
  ~JobOptions() { cupsFreeOptions(count, options); }
};

void print_usage(const char *program_name) {
  fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", program_name);
}

// Writes one fixed piece of the header; a failure is logged and the job goes on.
void write_header(const char *text, size_t len, const char *error_message) {
  if (write_all(1, text, len) < 0) fputs(error_message, stderr);
}

void log_read_error() {
  fprintf(stderr, "ERROR: Can not read job data: %s\n", strerror(errno));
}

// Opens the PPD named by $PPD, logging why when it cannot.
ScopedPpd open_ppd() {
  const char *path = getenv("PPD");
  ppd_file_t *ppd = ppdOpenFile(path);
  if (ppd != nullptr) return ScopedPpd(ppd);

  if (path == nullptr) {
    fprintf(stderr, "ERROR: Failed to open PPD file (PPD not set)\n");
    return nullptr;
  }
  fprintf(stderr, "ERROR: Failed to open PPD file %s\n", path);
  if (access(path, F_OK) == 0) {
    // The file is there but libcups refused it: say where and why.
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    fprintf(stderr, "DEBUG: %s on line %d\n", ppdErrorString(status), line);
  }
  return nullptr;
}

// Marks the PPD defaults and then the job's options, and sends the command
// for the marked quality.  The options and the PPD are released on return,
// so the copy runs with nothing allocated.
void send_command_for_job(ScopedPpd ppd, const char *option_string) {
  JobOptions job;
  job.count = cupsParseOptions(option_string, 0, &job.options);
  job.count = mark_job_options(ppd.get(), job.count, &job.options);
  send_quality_command(ppd.get());
}

// Appends the decimal form of `n` to `p` (room for 20 characters) and
// returns the new end.  The trace of every chunk is built with this: printf
// through stdio took some 1,500 instructions a chunk, this a tenth of that.
char *append_decimal(char *p, long n) {
  unsigned long magnitude = static_cast<unsigned long>(n);
  if (n < 0) {
    *p++ = '-';
    magnitude = 0 - magnitude;
  }
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  while (count > 0) *p++ = digits[--count];
  return p;
}

char *append(char *p, std::string_view text) {
  memcpy(p, text.data(), text.size());
  return p + text.size();
}

// Copies the job to standard output in chunks of at most kChunkSize bytes
// until end of input.  A failed write is traced and the copy goes on, so the
// job is always read to its end; returns false when a read fails.
bool copy_job(int fd, char *buffer) {
  for (;;) {
    ssize_t got = read_some(fd, buffer, kChunkSize);
    if (got == 0) return true;
    if (got < 0) {
      log_read_error();
      return false;
    }
    ssize_t written = write_all(1, buffer, static_cast<size_t>(got));
    // Both trace lines of a chunk leave in one write to the log.
    char trace[96];
    char *end = append(trace, "DEBUG2: bytes_read = ");
    end = append_decimal(end, got);
    end = append(end, "\nDEBUG2: bytes written: ");
    end = append_decimal(end, written);
    end = append(end, "\n");
    write_all(2, trace, static_cast<size_t>(end - trace));
  }
}

}  // namespace

int main(int argc, char *argv[]) {
  // A reader that goes away must show up as a failed write, not kill us.
  struct sigaction action = {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);

  setbuf(stderr, nullptr);

  if (argc != 6 && argc != 7) {
    print_usage(argv[0]);
    return 1;
  }

  // Open the job data: the named file, or standard input.
  int fd = 0;
  if (argc == 7) {
    fprintf(stderr, "DEBUG: Input file: %s\n", argv[6]);
    fd = open(argv[6], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      fprintf(stderr, "ERROR: Can not open input file %s: %s\n", argv[6], strerror(errno));
      return 1;
    }
  } else {
    fprintf(stderr, "DEBUG: Reading from STDIN\n");
  }

  alignas(4096) static char buffer[kChunkSize];  // page-aligned, as the kernel copies best
  bool read_ok = true;

  // Without a PPD there is no header: the job passes through unchanged.
  if (ScopedPpd ppd = open_ppd()) {
    // Peek at the start of the job: a job with its own UEL gets ours in its
    // place, followed by the command and then the job's own PJL.
    ssize_t peeked = read_some(fd, buffer, kUelLength);
    if (peeked < 0) {
      log_read_error();
      read_ok = false;
    }
    const bool leading_uel =
        peeked == static_cast<ssize_t>(kUelLength) && memcmp(buffer, kUel, kUelLength) == 0;

    write_header(kUel, kUelLength, "ERROR: Can not write UEL!\n");
    if (!leading_uel) write_header(kPjl, sizeof kPjl - 1, "ERROR: failed to write @PJL!\n");

    send_command_for_job(std::move(ppd), argv[5]);

    if (!leading_uel) {
      write_header(kEnterPostScript, sizeof kEnterPostScript - 1,
                   "ERROR: Can not write @PJL ENTER LANGUAGE string!\n");
      if (peeked > 0)
        write_header(buffer, static_cast<size_t>(peeked), "ERROR: Can not write string chunk!\n");
    }
  }

  // Copy the rest of the job.
  if (read_ok) read_ok = copy_job(fd, buffer);

  if (fd != 0) close(fd);
  return read_ok ? 0 : 1;
}
