// pjlwrap tests: temporary files and running the built filter as a process.
#pragma once

#include <optional>
#include <string>
#include <vector>

// A folder that lives as long as the object and is removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  // Writes `content` to `name` inside the folder and returns the file's path.
  std::string write(const std::string &name, const std::string &content) const;
  // The same, gzip-compressed.
  std::string write_gz(const std::string &name, const std::string &content) const;

 private:
  std::string path_;
};

// A PPD made of a minimal valid preamble followed by `body`.
std::string ppd_text(const std::string &body);

// Bytes that look like nothing in particular, the same for the same seed.
std::string noise(size_t size, unsigned seed);

// Where the filter's standard output goes.
enum class Output {
  Pipe,             // a pipe read to the end
  ClosedPipe,       // a pipe whose reader has gone before the filter starts
  DevFull,          // /dev/full: every write fails with ENOSPC
  SlowNonBlocking,  // a non-blocking pipe drained slowly, so writes meet EAGAIN
};

struct FilterRun {
  std::vector<std::string> args = {"1", "user", "title", "1", ""};  // after argv[0]
  std::optional<std::string> ppd;  // $PPD; unset when empty
  // Written to standard input in turn; each piece after the first waits until
  // the filter has written something, so the filter's first read sees only
  // the first piece.
  std::vector<std::string> input;
  Output output = Output::Pipe;
};

struct FilterResult {
  std::string out;
  std::string err;
  int exit_code = -1;     // when it exited
  int signal = 0;         // when a signal ended it
  bool timed_out = false; // killed after a minute
  size_t input_taken = 0; // bytes of input that the filter accepted
};

FilterResult run_filter(const FilterRun &run);

// The filter's path, as built.
const char *filter_path();
