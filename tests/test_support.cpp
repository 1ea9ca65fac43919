// pjlwrap tests: temporary files and running the built filter as a process.

#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

const char *filter_path() { return PJLWRAP_PATH; }
const char *fault_shim_path() { return PJLWRAP_FAULT_SHIM_PATH; }

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "pjlwrap-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string &name, const std::string &content) const {
  std::string file = path_ + "/" + name;
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

std::string TempDir::write_gz(const std::string &name, const std::string &content) const {
  std::string file = path_ + "/" + name;
  gzFile gz = gzopen(file.c_str(), "wb");
  if (gz == nullptr) throw std::runtime_error("gzopen failed");
  gzwrite(gz, content.data(), static_cast<unsigned>(content.size()));
  gzclose(gz);
  return file;
}

std::string ppd_text(const std::string &body) {
  return "*PPD-Adobe: \"4.3\"\n"
         "*FormatVersion: \"4.3\"\n"
         "*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"TEST.PPD\"\n"
         "*Manufacturer: \"Test\"\n"
         "*Product: \"(Test)\"\n"
         "*ModelName: \"Test Printer\"\n"
         "*ShortNickName: \"Test Printer\"\n"
         "*NickName: \"Test Printer\"\n"
         "*PSVersion: \"(3010.000) 0\"\n" +
         body;
}

std::string noise(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (char &c : s) c = static_cast<char>(gen());
  return s;
}

size_t JobSource::operator()(char *buf, size_t size) {
  size_t n = static_cast<size_t>(std::min<uint64_t>(left_, size & ~size_t{7}));
  for (size_t i = 0; i < n; i += 8) {
    // xorshift64*: fast, and bytes that look like nothing in particular.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    uint64_t word = state_ * 0x2545F4914F6CDD1Dull;
    memcpy(buf + i, &word, std::min<size_t>(8, n - i));
  }
  left_ -= n;
  crc_ = static_cast<uint32_t>(crc32(crc_, reinterpret_cast<const Bytef *>(buf), static_cast<uInt>(n)));
  return n;
}

void CountingSink::operator()(std::string_view piece) {
  if (header_.size() < header_size_) {
    size_t take = std::min(piece.size(), header_size_ - header_.size());
    header_.append(piece.substr(0, take));
    piece.remove_prefix(take);
  }
  job_bytes_ += piece.size();
  crc_ = static_cast<uint32_t>(
      crc32(crc_, reinterpret_cast<const Bytef *>(piece.data()), static_cast<uInt>(piece.size())));
}

namespace {

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Writes all of `data` to a blocking descriptor; false when the reader has gone.
bool feed(int fd, const char *data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

FilterResult run_filter(const FilterRun &run) {
  signal(SIGPIPE, SIG_IGN);  // the feeder must see EPIPE, not die

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe failed");

  std::vector<std::string> argv_s = {filter_path()};
  argv_s.insert(argv_s.end(), run.args.begin(), run.args.end());
  std::vector<char *> argv;
  for (auto &a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    if (run.output == Output::DevFull) {
      int full = open("/dev/full", O_WRONLY);
      dup2(full, 1);
    } else {
      dup2(out[1], 1);
      if (run.output == Output::SlowNonBlocking) set_nonblocking(1);
    }
    dup2(err[1], 2);
    if (run.ppd) setenv("PPD", run.ppd->c_str(), 1); else unsetenv("PPD");
    for (const auto &[name, value] : run.env) setenv(name.c_str(), value.c_str(), 1);
    signal(SIGPIPE, SIG_DFL);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (run.output == Output::ClosedPipe || run.output == Output::DevFull) {
    close(out[0]);
    out[0] = -1;
  }

  FilterResult result;
  std::atomic<size_t> out_seen{0};
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    if (run.source) {
      std::vector<char> buf(1 << 16);
      for (size_t n; !stop && (n = run.source(buf.data(), buf.size())) > 0;) {
        if (!feed(in[1], buf.data(), n)) break;
        result.input_taken += n;
      }
    }
    for (size_t i = 0; i < run.input.size(); ++i) {
      // Later pieces wait until the filter has written (so it has done its first read).
      while (i > 0 && out_seen.load() == 0 && !stop.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (!feed(in[1], run.input[i].data(), run.input[i].size())) break;
      result.input_taken += run.input[i].size();
    }
    close(in[1]);
  });

  auto deadline = std::chrono::steady_clock::now() + run.timeout;
  std::chrono::steady_clock::time_point terminated;
  std::vector<char> buf(1 << 16);
  while (out[0] >= 0 || err[0] >= 0) {
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (poll(fds, 2, 100) < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
    for (int k = 0; k < 2; ++k) {
      int &fd = k == 0 ? out[0] : err[0];
      if (fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      // The slow reader takes little at a time and pauses, so the filter's
      // non-blocking writes find the pipe full.
      size_t want = (k == 0 && run.output == Output::SlowNonBlocking) ? 4096 : buf.size();
      if (k == 0 && run.output == Output::CloseAfter)
        want = std::min(want, run.close_after - result.out_bytes);
      ssize_t n = read(fd, buf.data(), want);
      if (n > 0) {
        std::string_view piece(buf.data(), static_cast<size_t>(n));
        if (k == 1) {
          result.err.append(piece);
          continue;
        }
        if (run.sink) run.sink(piece); else result.out.append(piece);
        result.out_bytes += piece.size();
        out_seen = result.out_bytes;
        if (run.output == Output::SlowNonBlocking)
          std::this_thread::sleep_for(std::chrono::microseconds(300));
        if (run.output == Output::CloseAfter && result.out_bytes >= run.close_after) {
          close(fd);
          fd = -1;
        }
        if (run.terminate_after > 0 && result.out_bytes >= run.terminate_after &&
            terminated == std::chrono::steady_clock::time_point()) {
          terminated = std::chrono::steady_clock::now();
          kill(pid, SIGTERM);
        }
      } else if (n == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
      }
    }
  }
  for (int fd : {out[0], err[0]})
    if (fd >= 0) close(fd);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (terminated != std::chrono::steady_clock::time_point())
    result.terminate_to_exit = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - terminated);
  stop = true;
  feeder.join();
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

FilterRun stdin_run(const std::string &ppd, std::string options, std::vector<std::string> input) {
  FilterRun run;
  run.args[4] = std::move(options);
  run.ppd = ppd;
  run.input = std::move(input);
  return run;
}
