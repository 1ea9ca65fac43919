// pjlwrap tests: temporary files and running the built filter as a process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

inline const std::string kUel = "\x1b%-12345X";
inline const std::string kEnter = "@PJL ENTER LANGUAGE=POSTSCRIPT\n";

// A printer whose default quality Normal has a plain command, Best one with
// an escape and two lines, Zero one with a zero byte and Broken a bad group;
// and the header that a job gets from it by default.
inline const std::string kPpdBody =
    "*OpenUI *Quality/Quality: PickOne\n"
    "*DefaultQuality: Normal\n"
    "*Quality Normal/Normal: \"\"\n"
    "*Quality Best/Best: \"\"\n"
    "*Quality Zero/Zero: \"\"\n"
    "*Quality Broken/Broken: \"\"\n"
    "*CloseUI: *Quality\n"
    "*vekNormalCommand: \"@PJL SET RESOLUTION=600\"\n"
    "*vekBestCommand: \"<1B>E@PJL SET RESOLUTION=1200\n@PJL SET RET=ON\"\n*End\n"
    "*vekZeroCommand: \"<00>z\"\n"
    "*vekBrokenCommand: \"<1B 2C>\"\n";
inline const std::string kNormal = "@PJL SET RESOLUTION=600\n";
inline const std::string kHeader = kUel + "@PJL\n" + kNormal + kEnter;

// A PPD made of a minimal valid preamble followed by `body`.
std::string ppd_text(const std::string &body);

// Bytes that look like nothing in particular, the same for the same seed.
std::string noise(size_t size, unsigned seed);

// A job of pseudo-random bytes produced piece by piece, with the CRC-32 of
// everything produced so far.
class JobSource {
 public:
  JobSource(uint64_t size, uint64_t seed) : left_(size), state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  size_t operator()(char *buf, size_t size);
  uint32_t crc() const { return crc_; }

 private:
  uint64_t left_;
  uint64_t state_;
  uint32_t crc_ = 0;
};

// Takes the filter's output: keeps the first `header_size` bytes and counts
// the rest, with their CRC-32.
class CountingSink {
 public:
  explicit CountingSink(size_t header_size) : header_size_(header_size) {}
  void operator()(std::string_view piece);
  const std::string &header() const { return header_; }
  uint64_t job_bytes() const { return job_bytes_; }
  uint32_t crc() const { return crc_; }

 private:
  size_t header_size_;
  std::string header_;
  uint64_t job_bytes_ = 0;
  uint32_t crc_ = 0;
};

// Where the filter's standard output goes.
enum class Output {
  Pipe,             // a pipe read to the end
  ClosedPipe,       // a pipe whose reader has gone before the filter starts
  DevFull,          // /dev/full: every write fails with ENOSPC
  SlowNonBlocking,  // a non-blocking pipe drained slowly, so writes meet EAGAIN
  CloseAfter,       // a pipe whose reader goes away after `close_after` bytes
};

struct FilterRun {
  std::vector<std::string> args = {"1", "user", "title", "1", ""};  // after argv[0]
  std::optional<std::string> ppd;  // $PPD; unset when empty
  // Written to standard input in turn; each piece after the first waits until
  // the filter has written something, so the filter's first read sees only
  // the first piece.
  std::vector<std::string> input;
  // Instead of `input`: called for more input until it returns 0.
  std::function<size_t(char *buf, size_t size)> source;
  Output output = Output::Pipe;
  size_t close_after = 0;
  // Instead of keeping standard output in FilterResult::out: called with each
  // piece as it arrives.
  std::function<void(std::string_view)> sink;
  // Sends SIGTERM once this many bytes of output have arrived (0: never).
  size_t terminate_after = 0;
  std::vector<std::pair<std::string, std::string>> env;  // set in the filter's environment
  std::chrono::seconds timeout{60};
};

struct FilterResult {
  std::string out;
  std::string err;
  int exit_code = -1;     // when it exited
  int signal = 0;         // when a signal ended it
  bool timed_out = false; // killed after a minute
  size_t input_taken = 0; // bytes of input that the filter accepted
  size_t out_bytes = 0;   // bytes of output read
  std::chrono::milliseconds terminate_to_exit{0};  // from SIGTERM to the end of the process
};

FilterResult run_filter(const FilterRun &run);

// A run with $PPD set, the option string and the pieces of input given.
FilterRun stdin_run(const std::string &ppd, std::string options, std::vector<std::string> input);

// The filter's path, as built.
const char *filter_path();

// The write/read fault shim's path, for LD_PRELOAD.
const char *fault_shim_path();
