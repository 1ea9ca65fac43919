// pjlwrap benchmark: what copying a job costs the filter against dd and cat,
// its system calls per chunk, its memory, and its start-up against the floor
// of any libcups PPD filter.  Prints a table; asserts nothing.
// Usage: pjlwrap_bench FILTER FLOOR PPD [MiB] [runs]

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Sample {
  double cpu = 0;    // user + system seconds of the measured process
  double wall = 0;   // seconds from fork to exit
  long rss_kib = 0;  // peak resident set
  uint64_t out = 0;  // bytes on standard output
};

void drain(int fd, uint64_t *count) {
  std::vector<char> buf(1 << 16);
  for (ssize_t n; (n = read(fd, buf.data(), buf.size())) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (count) *count += static_cast<uint64_t>(n);
  }
  close(fd);
}

// Runs `argv` with `bytes` of job data on a pipe into standard input, its
// standard output and error drained by readers as cupsd's are.
Sample run(const std::vector<std::string> &args, const char *ppd, uint64_t bytes) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) abort();
  std::vector<char *> argv;
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (ppd) setenv("PPD", ppd, 1);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  Sample s;
  std::thread out_reader(drain, out[0], &s.out);
  std::thread err_reader(drain, err[0], nullptr);
  static std::vector<char> block = [] {
    std::vector<char> b(1 << 20);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>((i * 2654435761u) >> 13);
    return b;
  }();
  for (uint64_t left = bytes; left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    ssize_t w = write(in[1], block.data(), n);
    if (w <= 0) break;
    left -= static_cast<uint64_t>(w);
  }
  close(in[1]);
  out_reader.join();
  err_reader.join();
  int status;
  struct rusage ru;
  wait4(pid, &status, 0, &ru);
  s.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
  s.rss_kib = ru.ru_maxrss;
  return s;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The "calls" total of an `strace -c` summary.
long strace_calls(const std::vector<std::string> &args, const char *ppd, uint64_t bytes) {
  char path[] = "/tmp/pjlwrap-strace-XXXXXX";
  close(mkstemp(path));
  std::vector<std::string> traced = {"strace", "-c", "-o", path};
  traced.insert(traced.end(), args.begin(), args.end());
  run(traced, ppd, bytes);
  std::ifstream in(path);
  std::string line;
  long calls = -1;
  while (std::getline(in, line)) {
    if (line.find("total") == std::string::npos) continue;
    std::istringstream fields(line);
    double pct, secs;
    long usecs;
    fields >> pct >> secs >> usecs >> calls;
  }
  unlink(path);
  return calls;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "Usage: %s FILTER FLOOR PPD [MiB] [runs]\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  const std::string filter = argv[1], floor_prog = argv[2], ppd = argv[3];
  const uint64_t mib = argc > 4 ? strtoull(argv[4], nullptr, 10) : 1024;
  const int runs = argc > 5 ? atoi(argv[5]) : 5;
  const uint64_t bytes = mib << 20;
  const std::vector<std::string> filter_args = {filter, "1", "user", "title", "1", ""};

  struct utsname u;
  uname(&u);
  printf("pjlwrap benchmark: %s %s, %u cores; job of %llu MiB, %d alternated runs\n\n", u.sysname,
         u.release, std::thread::hardware_concurrency(), static_cast<unsigned long long>(mib), runs);

  // ---- Copy cost ----
  struct Contender {
    const char *name;
    std::vector<std::string> args;
    const char *ppd;
    std::vector<double> cpu, wall;
    Sample last;
  } contenders[] = {
      {"pjlwrap", filter_args, ppd.c_str(), {}, {}, {}},
      {"dd bs=8192", {"dd", "bs=8192"}, nullptr, {}, {}, {}},
      {"cat", {"cat"}, nullptr, {}, {}, {}},
  };
  for (int r = 0; r < runs; ++r) {
    for (auto &c : contenders) {
      c.last = run(c.args, c.ppd, bytes);
      c.cpu.push_back(c.last.cpu);
      c.wall.push_back(c.last.wall);
    }
  }
  const double filter_cpu = median(contenders[0].cpu), dd_cpu = median(contenders[1].cpu);
  printf("| copy of %llu MiB through pipes | CPU s (median) | wall s (median) | CPU vs dd | wall vs dd |\n",
         static_cast<unsigned long long>(mib));
  printf("|---|---|---|---|---|\n");
  for (auto &c : contenders)
    printf("| %s | %.3f | %.3f | %.2f | %.2f |\n", c.name, median(c.cpu), median(c.wall),
           median(c.cpu) / dd_cpu, median(c.wall) / median(contenders[1].wall));
  printf("\nfilter CPU / dd CPU = %.2f (target <= 1.30); filter output %llu bytes\n\n", filter_cpu / dd_cpu,
         static_cast<unsigned long long>(contenders[0].last.out));

  // ---- System calls per chunk ----
  const uint64_t traced_bytes = 64ull << 20;
  long empty_calls = strace_calls(filter_args, ppd.c_str(), 0);
  long job_calls = strace_calls(filter_args, ppd.c_str(), traced_bytes);
  long dd_empty = strace_calls({"dd", "bs=8192"}, nullptr, 0);
  long dd_job = strace_calls({"dd", "bs=8192"}, nullptr, traced_bytes);
  const double chunks = static_cast<double>(traced_bytes) / 8192;
  printf("| system calls (strace -c, 64 MiB job minus empty job) | calls | per 8 KiB chunk |\n");
  printf("|---|---|---|\n");
  printf("| pjlwrap | %ld - %ld | %.3f |\n", job_calls, empty_calls, (job_calls - empty_calls) / chunks);
  printf("| dd bs=8192 | %ld - %ld | %.3f |\n\n", dd_job, dd_empty, (dd_job - dd_empty) / chunks);

  // ---- Memory ----
  Sample empty = run(filter_args, ppd.c_str(), 0);
  printf("| peak RSS | KiB |\n|---|---|\n");
  printf("| pjlwrap, empty job | %ld |\n| pjlwrap, %llu MiB job | %ld |\n| difference | %ld (target < 1024) |\n\n",
         empty.rss_kib, static_cast<unsigned long long>(mib), contenders[0].last.rss_kib,
         contenders[0].last.rss_kib - empty.rss_kib);

  // ---- Start-up ----
  const int starts = 200;
  std::vector<double> f_wall, f_cpu, fl_wall, fl_cpu;
  for (int r = 0; r < starts; ++r) {
    Sample a = run(filter_args, ppd.c_str(), 0);
    Sample b = run({floor_prog, "1", "user", "title", "1", ""}, ppd.c_str(), 0);
    f_wall.push_back(a.wall), f_cpu.push_back(a.cpu);
    fl_wall.push_back(b.wall), fl_cpu.push_back(b.cpu);
  }
  printf("| empty job, %d alternated runs | wall ms (median) | CPU ms (median) |\n|---|---|---|\n", starts);
  printf("| pjlwrap | %.3f | %.3f |\n", median(f_wall) * 1e3, median(f_cpu) * 1e3);
  printf("| floor: open and mark the PPD | %.3f | %.3f |\n", median(fl_wall) * 1e3, median(fl_cpu) * 1e3);
  printf("| ratio | %.3f (target <= 1.10) | %.3f |\n\n", median(f_wall) / median(fl_wall),
         median(f_cpu) / median(fl_cpu));

  // ---- A large PPD ----
  char big_path[] = "/tmp/pjlwrap-big-XXXXXX";
  close(mkstemp(big_path));
  {
    std::ofstream big(big_path);
    big << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
           "*LanguageEncoding: ISOLatin1\n*ModelName: \"Big\"\n*NickName: \"Big\"\n"
           "*OpenUI *Quality: PickOne\n*DefaultQuality: Normal\n*Quality Normal: \"\"\n"
           "*CloseUI: *Quality\n*vekNormalCommand: \"@PJL SET RESOLUTION=600\"\n";
    for (int o = 0; big.tellp() < 2000000; ++o) {
      big << "*OpenUI *Option" << o << "/Option " << o << ": PickOne\n*DefaultOption" << o << ": C0\n";
      for (int c = 0; c < 6; ++c)
        big << "*Option" << o << " C" << c << "/Choice " << c << ": \"<</Option" << o << " " << c
            << ">>setpagedevice\"\n";
      big << "*CloseUI: *Option" << o << "\n";
    }
  }
  std::vector<double> big_f, big_fl;
  for (int r = 0; r < 20; ++r) {
    big_f.push_back(run(filter_args, big_path, 0).wall);
    big_fl.push_back(run({floor_prog, "1", "user", "title", "1", ""}, big_path, 0).wall);
  }
  std::ifstream sz(big_path, std::ios::ate);
  printf("| empty job with a generated PPD of %lld bytes | wall ms (median of 20) |\n|---|---|\n",
         static_cast<long long>(sz.tellg()));
  printf("| pjlwrap | %.2f |\n| floor | %.2f |\n", median(big_f) * 1e3, median(big_fl) * 1e3);
  unlink(big_path);
  return 0;
}
