// pjlwrap fuzz target: PPD text through libcups, marking, selection,
// decoding and the write of the command, as the filter does them.
// Input: the job's option string on the first line, the PPD after it
// (plain or gzip-compressed).

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pjlwrap.h"

namespace {

// The command goes to standard output; point that at a temporary file,
// emptied before each input.
void redirect_stdout() {
  char path[] = "/tmp/pjlwrap-fuzz-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) abort();
  unlink(path);
  dup2(fd, 1);
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool once = (redirect_stdout(), true);
  (void)once;

  std::string_view input(reinterpret_cast<const char *>(data), size);
  size_t eol = input.find('\n');
  std::string options(input.substr(0, eol));
  options.resize(strnlen(options.c_str(), options.size()));  // an argument holds no NUL
  std::string_view ppd_text = eol == std::string_view::npos ? "" : input.substr(eol + 1);

  int fd = memfd_create("ppd", MFD_CLOEXEC);
  if (fd < 0 || write_all(fd, ppd_text.data(), ppd_text.size()) < 0) abort();
  lseek(fd, 0, SEEK_SET);
  ScopedPpd ppd(ppdOpenFd(fd));
  close(fd);
  if (!ppd) return 0;

  cups_option_t *job_options = nullptr;
  int count = cupsParseOptions(options.c_str(), 0, &job_options);
  count = mark_job_options(ppd.get(), count, &job_options);
  if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0) abort();
  send_quality_command(ppd.get());
  cupsFreeOptions(count, job_options);
  return 0;
}
