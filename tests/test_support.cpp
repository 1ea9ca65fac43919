// pjlwrap tests: temporary files and running the built filter as a process.

#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

const char *filter_path() { return PJLWRAP_PATH; }

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

namespace {

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

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
    for (size_t i = 0; i < run.input.size(); ++i) {
      // Later pieces wait until the filter has written (so it has done its first read).
      while (i > 0 && out_seen.load() == 0 && !stop.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const std::string &piece = run.input[i];
      size_t done = 0;
      while (done < piece.size()) {
        ssize_t n = write(in[1], piece.data() + done, piece.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      result.input_taken += done;
      if (done < piece.size()) break;
    }
    close(in[1]);
  });

  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  char buf[65536];
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
      size_t want = (k == 0 && run.output == Output::SlowNonBlocking) ? 4096 : sizeof buf;
      ssize_t n = read(fd, buf, want);
      if (n > 0) {
        (k == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
        if (k == 0) out_seen += static_cast<size_t>(n);
        if (k == 0 && run.output == Output::SlowNonBlocking)
          std::this_thread::sleep_for(std::chrono::microseconds(300));
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
  stop = true;
  feeder.join();
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}
