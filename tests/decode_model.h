// pjlwrap tests: a second, independent statement of the command decoding
// rules, written group by group rather than byte by byte, to check the
// decoder against.
#pragma once

#include <cctype>
#include <optional>
#include <string>
#include <string_view>

// The decoded bytes, or nullopt with `*bad` set to the offending byte.
inline std::optional<std::string> model_decode(std::string_view text, unsigned char *bad) {
  auto digit = [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return std::isdigit(u) ? u - '0' : std::tolower(u) - 'a' + 10;
  };
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t open = text.find('<', pos);
    if (open == std::string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    out.append(text.substr(pos, open - pos));
    size_t close = text.find('>', open + 1);
    bool closed = close != std::string_view::npos;
    std::string_view group = text.substr(open + 1, closed ? close - open - 1 : std::string_view::npos);
    for (char c : group) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        *bad = static_cast<unsigned char>(c);
        return std::nullopt;
      }
    }
    size_t n = group.size();
    for (size_t k = 0; k + 1 < n; k += 2)
      out.push_back(static_cast<char>(digit(group[k]) * 16 + digit(group[k + 1])));
    // An odd digit at the end: closed, it makes a byte with the digit before
    // it (or alone, in a one-digit group); left open, it is dropped.
    if (n % 2 == 1 && closed)
      out.push_back(static_cast<char>(n == 1 ? digit(group[0])
                                             : digit(group[n - 2]) * 16 + digit(group[n - 1])));
    pos = closed ? close + 1 : text.size();
  }
  return out;
}
