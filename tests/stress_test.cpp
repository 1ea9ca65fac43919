// pjlwrap tests: more data than any counter of 32 bits holds, and many
// filters at once.

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(Stress, StreamsMoreThan4GiB) {
  TempDir dir;
  const uint64_t size = (4ull << 30) + 12345;  // past every 32-bit boundary
  JobSource source(size, 21);
  CountingSink sink(kHeader.size());
  FilterRun run = stdin_run(dir.write("printer.ppd", ppd_text(kPpdBody)), "", {});
  run.source = std::ref(source);
  run.sink = std::ref(sink);
  run.timeout = std::chrono::seconds(600);
  FilterResult r = run_filter(run);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.input_taken, size);
  EXPECT_EQ(sink.header(), kHeader);
  EXPECT_EQ(sink.job_bytes(), size);
  EXPECT_EQ(sink.crc(), source.crc());
  RecordProperty("bytes", std::to_string(sink.job_bytes()));
}

TEST(Stress, SixtyFourFiltersAtOnce) {
  TempDir dir;
  // Four printers, each with the options a job may bring and the command expected.
  const std::string quality = dir.write("quality.ppd", ppd_text(kPpdBody));
  const std::string gz = dir.write_gz("quality.ppd.gz", ppd_text(kPpdBody));
  const std::string resolution = dir.write(
      "resolution.ppd",
      ppd_text("*OpenUI *Resolution: PickOne\n*DefaultResolution: 600dpi\n"
               "*Resolution 300dpi: \"\"\n*Resolution 600dpi: \"\"\n*CloseUI: *Resolution\n"
               "*vek300dpiCommand: \"<1B>*t300R\"\n*vek600dpiCommand: \"<1B>*t600R\"\n"));
  const std::string none = dir.write("none.ppd", ppd_text(""));
  struct Variant {
    std::string ppd, options, command;
  } variants[] = {
      {quality, "", kNormal},
      {quality, "Quality=Best", "\x1b" "E@PJL SET RESOLUTION=1200\n@PJL SET RET=ON\n"},
      {gz, "Quality=Zero", std::string("\0z\n", 3)},
      {resolution, "resolution=300x300dpi", "\x1b*t300R\n"},
      {resolution, "", "\x1b*t600R\n"},
      {none, "Quality=Best", ""},
  };

  constexpr int kFilters = 64;
  constexpr uint64_t kJobSize = 32ull << 20;
  struct Outcome {
    std::string header;
    FilterResult result;
    uint64_t bytes = 0;
    bool crc_ok = false;
  };
  std::vector<Outcome> outcomes(kFilters);
  std::vector<std::thread> threads;
  for (int i = 0; i < kFilters; ++i) {
    threads.emplace_back([&, i] {
      const Variant &v = variants[i % std::size(variants)];
      const std::string header = kUel + "@PJL\n" + v.command + kEnter;
      JobSource source(kJobSize, 100 + i);
      CountingSink sink(header.size());
      FilterRun run = stdin_run(v.ppd, v.options, {});
      run.source = std::ref(source);
      run.sink = std::ref(sink);
      run.timeout = std::chrono::seconds(600);
      outcomes[i].result = run_filter(run);
      outcomes[i].header = sink.header() == header ? "ok" : sink.header();
      outcomes[i].bytes = sink.job_bytes();
      outcomes[i].crc_ok = sink.crc() == source.crc();
    });
  }
  for (auto &t : threads) t.join();
  for (int i = 0; i < kFilters; ++i) {
    SCOPED_TRACE("filter " + std::to_string(i));
    EXPECT_EQ(outcomes[i].result.exit_code, 0);
    EXPECT_EQ(outcomes[i].header, "ok");
    EXPECT_EQ(outcomes[i].bytes, kJobSize);
    EXPECT_TRUE(outcomes[i].crc_ok);
  }
}

}  // namespace
