// pjlwrap tests: the filter under faults injected into its reads and writes,
// and with hostile PPDs, options, commands and jobs.

#include <signal.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

using namespace std::string_literals;

namespace {

size_t count_lines(const std::string &log, const std::string &prefix) {
  size_t n = 0;
  for (size_t pos = 0; (pos = log.find(prefix, pos)) != std::string::npos; pos += prefix.size())
    if (pos == 0 || log[pos - 1] == '\n') ++n;
  return n;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Faults : public ::testing::Test {
 protected:
  TempDir dir;
  std::string ppd = dir.write("printer.ppd", ppd_text(kPpdBody));

  FilterResult run_stdin_with(const std::string &options, const std::string &job) {
    return run_filter(stdin_run(ppd, options, {job}));
  }

  // A run of `job` on standard input with the fault shim set as `faults` says.
  FilterRun faulty(std::string job, std::vector<std::pair<std::string, std::string>> faults) {
    FilterRun run = stdin_run(ppd, "", {std::move(job)});
    run.env = std::move(faults);
    run.env.emplace_back("LD_PRELOAD", fault_shim_path());
    // A sanitizer runtime wants to load first; the shim needs that place.
    run.env.emplace_back("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=1:halt_on_error=1");
    return run;
  }
};

// ---- Faults in the output and the input --------------------------------

TEST_F(Faults, OutputIsWholeThroughShortWritesEintrAndEagain) {
  const std::string job = noise(300 * 1024, 7);
  const std::vector<std::pair<std::string, std::string>> cases[] = {
      {{"PJLWRAP_FAULT_WRITE_MAX", "3"}},
      {{"PJLWRAP_FAULT_EINTR", "3"}},
      {{"PJLWRAP_FAULT_EAGAIN", "4"}},
      {{"PJLWRAP_FAULT_WRITE_MAX", "5"}, {"PJLWRAP_FAULT_EINTR", "7"}, {"PJLWRAP_FAULT_EAGAIN", "5"}},
  };
  for (const auto &faults : cases) {
    SCOPED_TRACE(faults.front().first + "=" + faults.front().second);
    FilterResult r = run_filter(faulty(job, faults));
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 2000);
    EXPECT_TRUE(r.out == kHeader + job) << "output of " << r.out.size() << " bytes differs";
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos);
  }
}

TEST_F(Faults, ReaderGoingAwayMidJobStillReadsTheWholeJob) {
  FilterRun run;
  run.ppd = ppd;
  run.input = {noise(4 << 20, 8)};
  run.output = Output::CloseAfter;
  run.close_after = 1 << 20;
  FilterResult r = run_filter(run);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.input_taken, run.input[0].size());
  EXPECT_EQ(r.out, (kHeader + run.input[0]).substr(0, 1 << 20));
  EXPECT_NE(r.err.find("DEBUG2: bytes written: -1\n"), std::string::npos);
}

TEST_F(Faults, DiskFullMidJobIsLoggedAndTheJobReadToItsEnd) {
  const std::string job = noise(3 << 20, 9);
  FilterResult r = run_filter(faulty(job, {{"PJLWRAP_FAULT_ENOSPC_AFTER", "1048576"}}));
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.input_taken, job.size());
  EXPECT_EQ(r.out, (kHeader + job).substr(0, r.out.size()));
  EXPECT_GE(r.out.size(), 1u << 20);
  EXPECT_NE(r.err.find("DEBUG2: bytes written: -1\n"), std::string::npos);
}

TEST_F(Faults, ReadErrorMidJobStopsWithStatus1) {
  const std::string job = noise(1 << 20, 10);
  FilterResult r = run_filter(faulty(job, {{"PJLWRAP_FAULT_EIO_AFTER", "100000"}}));
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(count_lines(r.err, "ERROR: Can not read job data: Input/output error\n"), 1u) << r.err;
  EXPECT_EQ(count_lines(r.err, "ERROR"), 1u);
  // What was read before the failure went out whole.
  EXPECT_GE(r.out.size(), kHeader.size() + 100000);
  EXPECT_EQ(r.out, (kHeader + job).substr(0, r.out.size()));
}

TEST_F(Faults, SigtermEndsALargeCopyAtOnce) {
  JobSource source(8ull << 30, 11);  // far more than the test lets through
  FilterRun run;
  run.ppd = ppd;
  run.source = std::ref(source);
  run.sink = [](std::string_view) {};
  run.terminate_after = 16 << 20;
  FilterResult r = run_filter(run);
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_LT(r.out_bytes, 1ull << 30);
  RecordProperty("terminate_to_exit_ms", std::to_string(r.terminate_to_exit.count()));
}

// ---- Hostile PPD files -----------------------------------------------------

TEST_F(Faults, BrokenPpdsNeverCostTheJob) {
  const std::string sample = read_file(PJLWRAP_SAMPLES_DIR "/pjlwrap-generic.ppd");
  std::string big_value = "*vekNormalCommand: \"";
  for (int i = 0; i < 4200; ++i) big_value += "@PJL COMMENT " + std::string(60, 'a' + i % 26) + "\n";
  big_value += "\"\n*End\n";
  std::string body_without_normal = sample;
  body_without_normal.erase(sample.find("*vekNormalCommand"),
                            sample.find("*vekBestCommand") - sample.find("*vekNormalCommand"));
  std::string gz_path = dir.write_gz("whole.ppd.gz", sample);
  std::string corrupt_gz = read_file(gz_path).substr(0, 700);
  corrupt_gz[300] ^= 0x55;

  struct Case {
    const char *name;
    std::string path;
    bool rejected;  // libcups refuses it: the job passes through unchanged
  } cases[] = {
      {"binary noise", dir.write("noise.ppd", noise(4000, 12)), true},
      {"a line of 256 characters",
       dir.write("line.ppd", sample + "*vekLine: \"" + std::string(244, 'x') + "\"\n"), true},
      {"a keyword of 41 characters",
       dir.write("keyword.ppd", sample + "*vek" + std::string(38, 'K') + ": \"x\"\n"), true},
      {"a directory", dir.path(), true},
      {"/dev/null", "/dev/null", true},
      {"an empty file", dir.write("empty.ppd", ""), true},
      {"a corrupt gzip file", dir.write("corrupt.ppd.gz", corrupt_gz), true},
      // libcups holds a value to 256 KiB.
      {"a value of 300 KiB over many lines",
       dir.write("big.ppd", body_without_normal + big_value), true},
      // libcups reads what it can of these and accepts them: the job goes
      // out whole behind the header.
      {"truncated", dir.write("truncated.ppd", sample.substr(0, sample.size() / 2)), false},
      {"an unterminated quoted value",
       dir.write("unterminated.ppd", sample + "*vekDraftCommand: \"never closed\n"), false},
      {"a truncated gzip file", dir.write("cut.ppd.gz", read_file(gz_path).substr(0, 800)), false},
  };
  const std::string job = "%!PS\n" + noise(20000, 13);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FilterResult r = run_filter(stdin_run(c.path, "", {job}));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(r.timed_out);
    if (c.rejected) {
      EXPECT_TRUE(r.out == job);
      EXPECT_EQ(count_lines(r.err, "ERROR:"), 1u) << r.err;
      EXPECT_EQ(count_lines(r.err, "ERROR: Failed to open PPD file " + c.path + "\n"), 1u);
    } else {
      ASSERT_GE(r.out.size(), job.size());
      EXPECT_EQ(r.out.substr(0, kUel.size()), kUel);
      EXPECT_TRUE(r.out.substr(r.out.size() - job.size()) == job);
      EXPECT_EQ(count_lines(r.err, "ERROR"), 0u) << r.err.substr(0, 2000);
    }
  }
}

TEST_F(Faults, HugeCommandIsSentWhole) {
  // Tens of KiB of hex groups over many lines.
  std::string text, bytes;
  for (int line = 0; line < 600; ++line) {
    for (int g = 0; g < 8; ++g) {
      unsigned char b = static_cast<unsigned char>(line * 8 + g);
      char group[8];
      snprintf(group, sizeof group, "<%02X%02x>", b, b ^ 0xff);
      text += group;
      bytes += static_cast<char>(b);
      bytes += static_cast<char>(b ^ 0xff);
    }
    text += "@PJL\n";
    bytes += "@PJL\n";
  }
  std::string path = dir.write(
      "huge.ppd", ppd_text("*OpenUI *Quality: PickOne\n*DefaultQuality: Huge\n*Quality Huge: \"\"\n"
                           "*CloseUI: *Quality\n*vekHugeCommand: \"" + text + "\"\n*End\n"));
  FilterResult r = run_filter(stdin_run(path, "", {"%!PS\n"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out == kUel + "@PJL\n" + bytes + "\n" + kEnter + "%!PS\n")
      << "command of " << text.size() << " characters";
}

TEST_F(Faults, EveryByteValueReachesThePrinter) {
  // Outside groups every byte goes out as it stands, but for the quote that
  // ends a PPD value, and for CR and Ctrl-Z, which libcups reads as a line
  // break and as nothing.  Inside groups every value can be spelled; PPD lines
  // are short, so the groups go 32 to a line, and the line breaks go out too.
  std::string literal, literal_sent, grouped, all;
  for (int b = 1; b < 256; ++b) {
    const char c = static_cast<char>(b);
    if (c != '"' && c != '<') {
      literal += c;
      if (c != '\x1a') literal_sent += c == '\r' ? '\n' : c;
    }
    char group[6];
    snprintf(group, sizeof group, "<%02X>", b);
    grouped += group;
    all += c;
    if (b % 32 == 0) {
      grouped += '\n';
      all += '\n';
    }
  }
  for (const auto &[text, expected] : {std::pair{literal, literal_sent}, std::pair{grouped, all}}) {
    std::string path = dir.write(
        "bytes.ppd", ppd_text("*OpenUI *Quality: PickOne\n*DefaultQuality: B\n*Quality B: \"\"\n"
                              "*CloseUI: *Quality\n*vekBCommand: \"" + text + "\"\n*End\n"));
    FilterResult r = run_filter(stdin_run(path, "", {"%!PS\n"}));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kUel + "@PJL\n" + expected + "\n" + kEnter + "%!PS\n");
  }
}

// ---- Hostile options and jobs ---------------------------------------------------

TEST_F(Faults, HostileOptionStringsLeaveTheJobWhole) {
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "option" + std::to_string(i) + "=value" + std::to_string(i) + " ";
  const std::string best = "\x1b" "E@PJL SET RESOLUTION=1200\n@PJL SET RET=ON\n";
  struct Case {
    const char *name;
    std::string options;
    std::optional<std::string> command;  // nullopt: whichever the library makes of it
  } cases[] = {
      {"very long", std::string(120000, 'a'), kNormal},
      {"thousands of options, then Quality", many + "Quality=Best", best},
      {"unbalanced double quote", "Quality=\"Best", std::nullopt},
      {"unbalanced single quote", "Quality='Best foo=bar", std::nullopt},
      {"unbalanced braces", "Quality={Best", std::nullopt},
      {"bytes that are not UTF-8", "\xff\xfe=\x80 Quality=\xc3\x28 \xc0\xaf", kNormal},
      {"choice longer than 40 characters", "Quality=" + std::string(60, 'B'), kNormal},
      {"backslashes at the end", "Quality=Best\\", std::nullopt},
  };
  const std::string job = "%!PS\nshowpage\n";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FilterResult r = run_stdin_with(c.options, job);
    EXPECT_EQ(r.exit_code, 0);
    if (c.command) {
      EXPECT_EQ(r.out, kUel + "@PJL\n" + *c.command + kEnter + job);
    } else {
      EXPECT_EQ(r.out.substr(0, kUel.size() + 5), kUel + "@PJL\n");
      EXPECT_EQ(r.out.substr(r.out.size() - kEnter.size() - job.size()), kEnter + job);
    }
  }
}

TEST_F(Faults, HostileJobsPassUnchanged) {
  std::string uels;
  for (int i = 0; i < 1000; ++i) uels += kUel;
  const std::string zeros(1 << 20, '\0');
  FilterResult r = run_stdin_with("", zeros);
  EXPECT_TRUE(r.out == kHeader + zeros);
  // Only the first UEL is the job's own; the rest are job data.
  r = run_stdin_with("", uels + "@PJL EOJ\n");
  EXPECT_TRUE(r.out == kUel + kNormal + uels.substr(kUel.size()) + "@PJL EOJ\n");
}

}  // namespace
