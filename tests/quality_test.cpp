// pjlwrap tests: which command the PPD gives for the job's marked quality.

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "pjlwrap.h"
#include "test_support.h"

namespace {

const char kQuality[] =
    "*OpenUI *Quality/Quality: PickOne\n"
    "*DefaultQuality: Normal\n"
    "*Quality Draft/Draft: \"\"\n"
    "*Quality Normal/Normal: \"\"\n"
    "*Quality Best/Best: \"\"\n"
    "*CloseUI: *Quality\n";
const char kResolution[] =
    "*OpenUI *Resolution/Resolution: PickOne\n"
    "*DefaultResolution: 600dpi\n"
    "*Resolution 300dpi/300 dpi: \"\"\n"
    "*Resolution 600dpi/600 dpi: \"\"\n"
    "*CloseUI: *Resolution\n";
const char kCommands[] =
    "*vekDraftCommand: \"draft\"\n"
    "*vekNormalCommand: \"normal\"\n"
    "*vekBestCommand: \"best\"\n"
    "*vek300dpiCommand: \"300\"\n"
    "*vek600dpiCommand: \"600\"\n";

struct Lookup {
  std::string choice;   // empty when no quality choice is marked
  std::string keyword;  // the attribute keyword looked up
  std::string value;    // "(none)" when the attribute is missing
};

// Opens a PPD file, marks its defaults and then the job options, and looks up
// the quality command, as the filter does.
Lookup lookup_file(const std::string &path, const char *job_options) {
  ScopedPpd ppd(ppdOpenFile(path.c_str()));
  if (!ppd) {
    ADD_FAILURE() << "PPD does not open: " << ppdErrorString(ppdLastError(nullptr));
    return {};
  }
  cups_option_t *options = nullptr;
  int count = cupsParseOptions(job_options, 0, &options);
  count = mark_job_options(ppd.get(), count, &options);
  QualityCommand found = find_quality_command(ppd.get());
  cupsFreeOptions(count, options);

  Lookup result;
  if (found.choice) result.choice = found.choice->choice;
  result.keyword = found.keyword;
  result.value = found.attr ? found.attr->value : "(none)";
  return result;
}

Lookup lookup(const std::string &ppd_body, const char *job_options = "") {
  TempDir dir;
  return lookup_file(dir.write("test.ppd", ppd_text(ppd_body)), job_options);
}

struct Case {
  const char *name;
  std::string ppd_body;
  const char *job_options;
  Lookup expected;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class QualitySelection : public ::testing::TestWithParam<Case> {};

TEST_P(QualitySelection, FindsTheCommandOfTheMarkedChoice) {
  const Case &c = GetParam();
  Lookup got = lookup(c.ppd_body, c.job_options);
  EXPECT_EQ(got.choice, c.expected.choice);
  EXPECT_EQ(got.keyword, c.expected.keyword);
  EXPECT_EQ(got.value, c.expected.value);
}

const std::string k35 = "Q2345678901234567890123456789012345";  // a 35-character choice

const Case kCases[] = {
    {"QualityOverResolution", std::string(kQuality) + kResolution + kCommands, "",
     {"Normal", "vekNormalCommand", "normal"}},
    {"UnmarkedQualityFallsBackToResolution",
     "*OpenUI *Quality/Quality: PickOne\n*Quality Draft/Draft: \"\"\n*CloseUI: *Quality\n" +
         std::string(kResolution) + kCommands,
     "", {"600dpi", "vek600dpiCommand", "600"}},
    {"MarkedChoiceWithoutCommandStopsThere",
     std::string(kQuality) + kResolution + "*vek600dpiCommand: \"600\"\n", "",
     {"Normal", "vekNormalCommand", "(none)"}},
    {"NeitherOption", kCommands, "", {"", "", "(none)"}},
    {"JobOptionOverridesDefault", std::string(kQuality) + kCommands, "Quality=Best",
     {"Best", "vekBestCommand", "best"}},
    {"UnknownChoiceKeepsDefault", std::string(kQuality) + kCommands, "Quality=Superb",
     {"Normal", "vekNormalCommand", "normal"}},
    {"ResolutionOnly", std::string(kResolution) + kCommands, "",
     {"600dpi", "vek600dpiCommand", "600"}},
    {"IppResolutionOptionMapsOntoResolution", std::string(kResolution) + kCommands,
     "resolution=300dpi", {"300dpi", "vek300dpiCommand", "300"}},
    {"IppResolutionWithBothAxes", std::string(kResolution) + kCommands,
     "resolution=300x300dpi", {"300dpi", "vek300dpiCommand", "300"}},
    {"IppPrinterResolutionWithBothAxes", std::string(kResolution) + kCommands,
     "printer-resolution=300x300dpi", {"300dpi", "vek300dpiCommand", "300"}},
    {"PpdResolutionOptionItself", std::string(kResolution) + kCommands,
     "Resolution=300dpi", {"300dpi", "vek300dpiCommand", "300"}},
    {"UnequalAxesKeepDefault", std::string(kResolution) + kCommands,
     "resolution=300x600dpi", {"600dpi", "vek600dpiCommand", "600"}},
    {"ResolutionInDotsPerCm",
     "*OpenUI *Resolution/Resolution: PickOne\n*DefaultResolution: 236dpcm\n"
     "*Resolution 118dpcm/118: \"\"\n*Resolution 236dpcm/236: \"\"\n*CloseUI: *Resolution\n"
     "*vek118dpcmCommand: \"118\"\n",
     "resolution=118x118dpcm", {"118dpcm", "vek118dpcmCommand", "118"}},
    {"ChoiceNamedWithBothAxesIsKept",
     "*OpenUI *Resolution/Resolution: PickOne\n*DefaultResolution: 600x600dpi\n"
     "*Resolution 300x300dpi/300: \"\"\n*Resolution 300dpi/300 draft: \"\"\n"
     "*Resolution 600x600dpi/600: \"\"\n*CloseUI: *Resolution\n"
     "*vek300x300dpiCommand: \"300x300\"\n*vek300dpiCommand: \"300\"\n",
     "resolution=300x300dpi", {"300x300dpi", "vek300x300dpiCommand", "300x300"}},
    {"LongChoiceKeywordIsCutTo40", 
     "*OpenUI *Quality/Quality: PickOne\n*DefaultQuality: " + k35 + "\n*Quality " + k35 +
         "/Long: \"\"\n*CloseUI: *Quality\n*vek" + k35 + "Co: \"cut\"\n",
     "", {k35, "vek" + k35 + "Co", "cut"}},
    {"UnspecifiedAttributeWins",
     std::string(kQuality) +
         "*vekNormalCommand Alpha/A: \"alpha\"\n*vekNormalCommand: \"plain\"\n"
         "*vekNormalCommand: \"second\"\n",
     "", {"Normal", "vekNormalCommand", "plain"}},
    {"FirstSpecifierWithoutRegardToCase",
     std::string(kQuality) +
         "*vekNormalCommand Beta/B: \"beta\"\n*vekNormalCommand alpha/a: \"alpha\"\n"
         "*vekNormalCommand Gamma/G: \"gamma\"\n",
     "", {"Normal", "vekNormalCommand", "alpha"}},
    {"MultiLineValueKeepsLineBreaks",
     std::string(kQuality) + "*vekNormalCommand: \"@PJL SET A=1\n@PJL SET B=<22>2<22>\"\n*End\n",
     "", {"Normal", "vekNormalCommand", "@PJL SET A=1\n@PJL SET B=<22>2<22>"}},
};

INSTANTIATE_TEST_SUITE_P(Ppd, QualitySelection, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(QualitySelectionFile, ReadsGzipCompressedPpd) {
  TempDir dir;
  std::string path =
      dir.write_gz("test.ppd.gz", ppd_text(std::string(kQuality) + kResolution + kCommands));
  Lookup got = lookup_file(path, "Quality=Draft");
  EXPECT_EQ(got.keyword, "vekDraftCommand");
  EXPECT_EQ(got.value, "draft");
}

}  // namespace
