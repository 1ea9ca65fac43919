// pjlwrap: turns a PPD command text with <hex> groups into printer bytes and
// writes them out.

#include <cstdio>
#include <cstring>
#include <new>

#include "pjlwrap.h"

namespace {

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

DecodedCommand decode_pjl_code(std::string_view text) {
  DecodedCommand result;
  // Decoding never lengthens the text; one more byte for the caller's newline.
  result.bytes.reserve(text.size() + 1);

  bool in_group = false;
  int digits = 0;           // hex digits pending since the group opened or the last byte
  unsigned char acc = 0;    // the last two digits read
  for (unsigned char c : text) {
    if (!in_group) {
      if (c == '<') {
        in_group = true;
        digits = 0;
        acc = 0;
      } else {
        result.bytes.push_back(static_cast<char>(c));
      }
      continue;
    }
    if (c == '>') {
      // A lone digit stands for a byte of its own: <1> is 0x01.
      if (digits == 1) result.bytes.push_back(static_cast<char>(acc));
      in_group = false;
      continue;
    }
    int v = hex_value(c);
    if (v < 0) {
      result.bytes.clear();
      result.bad_byte = c;
      return result;
    }
    acc = static_cast<unsigned char>((acc << 4) | v);
    if (++digits == 2) {
      result.bytes.push_back(static_cast<char>(acc));
      digits = 0;
    }
  }
  // A group left open at the end closes silently; a lone pending digit is dropped.
  result.ok = true;
  return result;
}

void write_pjl_code(int fd, const char *text) {
  if (text == nullptr || *text == '\0') return;

  size_t len = strlen(text);
  fprintf(stderr, "DEBUG:Input command[%d]=<%s>\n", static_cast<int>(len), text);

  DecodedCommand decoded;
  try {
    decoded = decode_pjl_code(std::string_view(text, len));
  } catch (const std::bad_alloc &) {
    fprintf(stderr, "ERROR:Failed to allocate %d bytes for destination string\n",
            static_cast<int>(len));
    return;
  }
  if (!decoded.ok) {
    fprintf(stderr, "ERROR:Non hexadecimal entry %c inside <...>\n", decoded.bad_byte);
    return;
  }

  // A decoded zero byte is part of the command: lengths count every byte.
  std::string &out = decoded.bytes;
  out.push_back('\n');
  fprintf(stderr, "DEBUG: dst[%d]=<%s>\n", static_cast<int>(out.size()), out.c_str());
  if (write_all(fd, out.data(), out.size()) < 0)
    fprintf(stderr, "ERROR: Failed to write resulting PJL code!\n");
}
