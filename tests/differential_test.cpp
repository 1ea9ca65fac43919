// pjlwrap tests: the decoder against an independent model of its rules, on
// many random command texts, and on every byte value in and out of groups.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "decode_model.h"
#include "pjlwrap.h"

namespace {

void expect_same_as_model(const std::string &text) {
  unsigned char bad = 0;
  std::optional<std::string> want = model_decode(text, &bad);
  DecodedCommand got = decode_pjl_code(text);
  ASSERT_EQ(got.ok, want.has_value()) << ::testing::PrintToString(text);
  if (got.ok)
    ASSERT_EQ(got.bytes, *want) << ::testing::PrintToString(text);
  else
    ASSERT_EQ(got.bad_byte, bad) << ::testing::PrintToString(text);
}

TEST(DecodeDifferential, AgreesWithTheModelOnRandomTexts) {
  // Texts made mostly of the characters that matter, so groups open, close,
  // nest, run to the end and hold bad bytes often.
  const std::string alphabet = "<<<>>>0123456789abcdefABCDEFxyzG \t\n\x80\xff";
  std::mt19937 gen(20261211);
  constexpr int kCases = 50000;
  for (int i = 0; i < kCases; ++i) {
    std::string text(gen() % 40, '\0');
    for (char &c : text) c = gen() % 8 == 0 ? static_cast<char>(gen()) : alphabet[gen() % alphabet.size()];
    expect_same_as_model(text);
    if (HasFatalFailure()) return;
  }
  RecordProperty("cases", kCases);
}

TEST(DecodeDifferential, EveryByteValueInAndOutOfAGroup) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    for (const std::string &text :
         {std::string("a") + c + "b", std::string("<") + c + ">", std::string("<1") + c + "2>",
          std::string("<") + c}) {
      expect_same_as_model(text);
      if (HasFatalFailure()) return;
    }
    DecodedCommand outside = decode_pjl_code(std::string("a") + c + "b");
    if (c != '<') {
      EXPECT_EQ(outside.bytes, std::string("a") + c + "b");
    }
  }
}

}  // namespace
