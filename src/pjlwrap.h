// pjlwrap: what the filter's source files share.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// libcups 2.4 marks its whole PPD API deprecated, yet it is the only public
// way to read PPD attributes, which is this filter's job.  Silence that one
// warning for the files that use the API; all other warnings stay on.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/cups.h>
#include <cups/ppd.h>

// An open PPD, closed with the library's own call however its owner ends.
struct PpdCloser {
  void operator()(ppd_file_t *ppd) const { ppdClose(ppd); }
};
using ScopedPpd = std::unique_ptr<ppd_file_t, PpdCloser>;

// ---- Descriptor I/O ------------------------------------------------------

// Writes all `len` bytes to `fd`: retries EINTR, waits with poll() when a
// non-blocking descriptor says EAGAIN, and goes on after short writes.
// Returns `len`, or -1 (errno set) when a real error stopped it.
ssize_t write_all(int fd, const void *data, size_t len);

// One read() of at most `len` bytes: EINTR is retried and EAGAIN on a
// non-blocking descriptor waits with poll().  Returns what read() returned.
ssize_t read_some(int fd, void *data, size_t len);

// ---- Quality command selection -------------------------------------------

// Marks the PPD's defaults, then the job's options in their place.  An IPP
// resolution such as "300x300dpi" (as CUPS passes `resolution` and
// `printer-resolution`) that names no "Resolution" choice is first rewritten
// in the options to its short form "300dpi", which libcups can match.
// Returns the option count, which the rewriting may change.
int mark_job_options(ppd_file_t *ppd, int num_options, cups_option_t **options);

// What the PPD gives for the job's marked quality.
struct QualityCommand {
  const ppd_choice_t *choice = nullptr;  // marked "Quality" or "Resolution" choice
  std::string keyword;                   // "vek" + choice + "Command", cut to 40 chars
  const ppd_attr_t *attr = nullptr;      // the command attribute, if the PPD has it
};

// Finds the marked quality choice and its command attribute in an open PPD
// whose defaults and job options are already marked.  Logs nothing.
[[nodiscard]] QualityCommand find_quality_command(ppd_file_t *ppd);

// Logs the lookup and writes the quality command, if any, to standard output.
void send_quality_command(ppd_file_t *ppd);

// ---- Command decoding and output -----------------------------------------

// The bytes a command text stands for, or the byte that made it invalid.
struct DecodedCommand {
  bool ok = false;
  std::string bytes;           // decoded bytes, without the trailing newline
  unsigned char bad_byte = 0;  // when !ok: the non-hex byte found inside <...>
};

// Turns <hex> groups into bytes and copies everything else unchanged.
[[nodiscard]] DecodedCommand decode_pjl_code(std::string_view text);

// Decodes `text`, adds a newline and writes the result to `fd`, logging each
// step and every failure on standard error.
void write_pjl_code(int fd, const char *text);
