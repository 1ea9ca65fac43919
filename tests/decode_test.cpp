// pjlwrap tests: decoding command texts with <hex> groups, and writing them.

#include <unistd.h>

#include <string>
#include <string_view>
#include <thread>

#include <gtest/gtest.h>

#include "pjlwrap.h"

using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

struct Good {
  std::string_view text;
  std::string bytes;  // decoded, without the newline write_pjl_code adds
};

TEST(DecodePjlCode, DecodesGoodTexts) {
  const Good cases[] = {
      {"ABC", "ABC"},
      {"<1B>E", "\x1b" "E"},
      {"<1b>", "\x1b"},
      {"<1>", "\x01"},
      {"<123>", "\x12\x23"},  // the odd last digit pairs with the one before it
      {"<1234>", "\x12\x34"},
      {"<12345>", "\x12\x34\x45"},
      {"<12><3>", "\x12\x03"},  // a new group starts from a clear accumulator
      {"<>", ""},
      {"x>y", "x>y"},
      {"<1B", "\x1b"},  // an open group ends silently...
      {"<1", ""},       // ...dropping a lone pending digit
      {"<00>z", "\0z"s},
      {"a<00><00>b", "a\0\0b"s},
      {"<1B><1B>", "\x1b\x1b"},
      {"<aF><Fa>", "\xaf\xfa"},
      {"line 1\nline 2", "line 1\nline 2"},
      {"caf\xe9 \xff", "caf\xe9 \xff"},  // high bytes outside a group are copied
      {"", ""},
      // Views that end before their literal does: nothing past the end is read.
      {"<1B>E"sv.substr(0, 4), "\x1b"},
      {"<1B>"sv.substr(0, 2), ""},
      {"A<1G>"sv.substr(0, 1), "A"},
  };
  for (const Good &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
    DecodedCommand d = decode_pjl_code(c.text);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.bytes, c.bytes);
  }
}

struct Bad {
  std::string_view text;
  unsigned char bad;
};

TEST(DecodePjlCode, RejectsNonHexInsideGroups) {
  const Bad cases[] = {
      {"a<1G>b", 'G'},     // not a hex digit
      {"<1B<1B>", '<'},    // a group cannot open inside a group
      {"<1B 2C>", ' '},    // no blanks inside a group
      {"<1B\t>", '\t'},
      {"<1B\n2C>", '\n'},  // nor line breaks
      {"<\xe9>", 0xe9},    // a high byte is no digit
      {"ok<00><x>", 'x'},  // bytes decoded before the bad one do not count
  };
  for (const Bad &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
    DecodedCommand d = decode_pjl_code(c.text);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.bad_byte, c.bad);
    EXPECT_EQ(d.bytes, "");
  }
}

// Reads back what write_pjl_code wrote into a pipe.
std::string written_by(const char *text) {
  int p[2];
  EXPECT_EQ(pipe(p), 0);
  write_pjl_code(p[1], text);
  close(p[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(p[0]);
  return out;
}

TEST(WritePjlCode, WritesTheWholeDecodedCommandAndANewline) {
  EXPECT_EQ(written_by("<1B>E"), "\x1b" "E\n");
  EXPECT_EQ(written_by("<00>z"), "\0z\n"s);  // a zero byte does not end the command
  EXPECT_EQ(written_by("a<1G>b"), "");       // invalid: nothing of it is sent
  EXPECT_EQ(written_by(""), "");
  EXPECT_EQ(written_by(nullptr), "");
}

TEST(WritePjlCode, WritesLongCommandsWhole) {
  // A command far larger than one write into a pipe may take at once.
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "<1B>E\n";
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  std::string out;
  std::thread reader([&] {
    char buf[4096];
    for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  });
  write_pjl_code(p[1], text.c_str());
  close(p[1]);
  reader.join();
  close(p[0]);
  std::string expected;
  for (int i = 0; i < 40000; ++i) expected += "\x1b" "E\n";
  EXPECT_EQ(out, expected + "\n");
}

}  // namespace
