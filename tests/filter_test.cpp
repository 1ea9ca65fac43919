// pjlwrap tests: the filter as CUPS runs it, a process with arguments, $PPD,
// standard input and output, checked byte for byte.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

using namespace std::string_literals;

namespace {

class Filter : public ::testing::Test {
 protected:
  TempDir dir;
  std::string ppd = dir.write("printer.ppd", ppd_text(kPpdBody));

  FilterResult run_stdin(std::vector<std::string> input, const char *options = "") {
    return run_filter(stdin_run(ppd, options, std::move(input)));
  }
};

struct JobCase {
  const char *name;
  std::vector<std::string> input;  // pieces reaching the filter's first read one at a time
  const char *options;
  std::string expected;
};

TEST_F(Filter, WrapsJobsInTheHeader) {
  const std::string job = "%!PS-Adobe-3.0\n/Courier findfont\nshowpage\n";
  const JobCase cases[] = {
      {"plain job", {job}, "", kHeader + job},
      {"empty job", {}, "", kHeader},
      {"job shorter than the peek", {"%!PS"}, "", kHeader + "%!PS"},
      {"job with its own UEL", {kUel + "@PJL JOB\n" + job}, "",
       kUel + kNormal + "@PJL JOB\n" + job},
      {"job of only a UEL", {kUel}, "", kUel + kNormal},
      {"near-UEL", {"\x1b%-12345Y" + job}, "", kHeader + "\x1b%-12345Y" + job},
      {"UEL split over two reads", {"\x1b%-12", "345X" + job}, "", kHeader + kUel + job},
      {"job option chooses the command", {job}, "Quality=Best",
       kUel + "@PJL\n\x1b" "E@PJL SET RESOLUTION=1200\n@PJL SET RET=ON\n" + kEnter + job},
      {"zero byte in the command", {job}, "Quality=Zero",
       kUel + "@PJL\n" + "\0z\n"s + kEnter + job},
      {"bad command: header without it", {job}, "Quality=Broken", kUel + "@PJL\n" + kEnter + job},
  };
  for (const JobCase &c : cases) {
    SCOPED_TRACE(c.name);
    FilterResult r = run_stdin(c.input, c.options);
    EXPECT_EQ(r.out, c.expected);
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
}

TEST_F(Filter, LogsEachStep) {
  FilterResult r = run_stdin({"%!PS\nshowpage\n"});  // 9 bytes peeked, 5 copied
  EXPECT_EQ(r.err,
            "DEBUG: Reading from STDIN\n"
            "DEBUG:Quality='Normal'\n"
            "DEBUG: vek_attr {name: vekNormalCommand, spec: , text: , "
            "value: @PJL SET RESOLUTION=600}\n"
            "DEBUG:Input command[23]=<@PJL SET RESOLUTION=600>\n"
            "DEBUG: dst[24]=<@PJL SET RESOLUTION=600\n>\n"
            "DEBUG2: bytes_read = 5\n"
            "DEBUG2: bytes written: 5\n");

  r = run_stdin({"%!PS\n"}, "Quality=Broken");
  EXPECT_NE(r.err.find("ERROR:Non hexadecimal entry   inside <...>\n"), std::string::npos) << r.err;
  r = run_stdin({"%!PS\n"}, "Quality=Zero");
  EXPECT_NE(r.err.find("DEBUG: dst[3]=<"), std::string::npos) << r.err;
}

TEST_F(Filter, CopiesLargeJobsExactly) {
  const std::string job = noise(5 * 1024 * 1024 + 123, 1);
  FilterResult r = run_stdin({job});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out == kHeader + job) << "output of " << r.out.size() << " bytes differs";

  FilterRun from_file;
  from_file.args.push_back(dir.write("job.ps", job));
  from_file.ppd = ppd;
  r = run_filter(from_file);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out == kHeader + job) << "output of " << r.out.size() << " bytes differs";
  EXPECT_NE(r.err.find("DEBUG: Input file: " + from_file.args[5] + "\n"), std::string::npos);
}

TEST_F(Filter, RejectsWrongArgumentCounts) {
  for (size_t count : {4u, 7u}) {
    FilterRun run;
    run.args.resize(count, "x");
    run.ppd = ppd;
    run.input = {"%!PS\n"};
    FilterResult r = run_filter(run);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Usage: "s + filter_path() + " job-id user title copies options [file]\n");
  }
}

TEST_F(Filter, FailsOnAnInputFileThatCannotBeOpened) {
  FilterRun run;
  run.args.push_back(dir.path() + "/missing.ps");
  run.ppd = ppd;
  FilterResult r = run_filter(run);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("ERROR: Can not open input file " + dir.path() +
                       "/missing.ps: No such file or directory\n"),
            std::string::npos)
      << r.err;
}

TEST_F(Filter, PassesTheJobUnchangedWithoutAUsablePpd) {
  const std::string job = kUel + "@PJL JOB\n%!PS\nshowpage\n";
  struct {
    std::optional<std::string> ppd;
    std::string log;
  } cases[] = {
      {std::nullopt, "ERROR: Failed to open PPD file (PPD not set)\n"},
      {dir.path() + "/missing.ppd", "ERROR: Failed to open PPD file " + dir.path() + "/missing.ppd\n"},
      {dir.write("bad.ppd", "not a PPD\n"), "ERROR: Failed to open PPD file " + dir.path() +
                                                "/bad.ppd\nDEBUG: Missing asterisk in column 1 on line 1\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.log);
    FilterRun run;
    run.ppd = c.ppd;
    run.input = {job};
    FilterResult r = run_filter(run);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, job);
    EXPECT_NE(r.err.find(c.log), std::string::npos) << r.err;
  }
}

// ---- Faults on the output and the input ----

TEST_F(Filter, ReadsTheWholeJobWhenTheReaderHasGone) {
  FilterRun run;
  run.ppd = ppd;
  run.input = {noise(1024 * 1024, 2)};
  run.output = Output::ClosedPipe;
  FilterResult r = run_filter(run);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.input_taken, run.input[0].size());
  EXPECT_NE(r.err.find("ERROR: Can not write UEL!\n"), std::string::npos);
  EXPECT_NE(r.err.find("DEBUG2: bytes written: -1\n"), std::string::npos);
}

TEST_F(Filter, ReportsEveryFailedWriteOnAFullDevice) {
  FilterRun run;
  run.ppd = ppd;
  run.input = {"%!PS\nshowpage\n"};
  run.output = Output::DevFull;
  FilterResult r = run_filter(run);
  EXPECT_EQ(r.exit_code, 0);
  for (const char *line :
       {"ERROR: Can not write UEL!\n", "ERROR: failed to write @PJL!\n",
        "ERROR: Failed to write resulting PJL code!\n",
        "ERROR: Can not write @PJL ENTER LANGUAGE string!\n",
        "ERROR: Can not write string chunk!\n", "DEBUG2: bytes_read = 5\nDEBUG2: bytes written: -1\n"})
    EXPECT_NE(r.err.find(line), std::string::npos) << line << " missing from\n" << r.err;
}

TEST_F(Filter, LosesNothingOnANonBlockingOutput) {
  FilterRun run;
  run.ppd = ppd;
  run.input = {noise(2 * 1024 * 1024, 3)};
  run.output = Output::SlowNonBlocking;
  FilterResult r = run_filter(run);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out == kHeader + run.input[0]) << "output of " << r.out.size() << " bytes differs";
}

TEST_F(Filter, StopsWithAnErrorWhenTheJobCannotBeRead) {
  // A directory opens but cannot be read; with a PPD the peek read fails,
  // without one the copy's first read does.
  for (bool with_ppd : {true, false}) {
    FilterRun run;
    run.args.push_back(dir.path());
    if (with_ppd) run.ppd = ppd;
    FilterResult r = run_filter(run);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("ERROR: Can not read job data: Is a directory\n"), std::string::npos)
        << r.err;
  }
}

}  // namespace
