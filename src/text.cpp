#include "text.hpp"

namespace quarn {

bool is_unicode_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

char32_t decode_utf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  auto cont = [&](std::size_t k) -> int {
    if (i + k >= s.size()) return -1;
    const auto b = static_cast<unsigned char>(s[i + k]);
    return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
  };
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int n = 0;
  char32_t c = 0;
  if ((b0 & 0xE0) == 0xC0) {
    n = 1;
    c = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 2;
    c = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 3;
    c = b0 & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k <= n; ++k) {
    const int v = cont(static_cast<std::size_t>(k));
    if (v < 0) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | static_cast<char32_t>(v);
  }
  i += static_cast<std::size_t>(n) + 1;
  return c;
}

std::string_view trim_unicode(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t j = begin;
    if (!is_unicode_space(decode_utf8(s, j))) break;
    begin = j;
  }
  std::size_t end = begin;
  for (std::size_t i = begin; i < s.size();) {
    const bool space = is_unicode_space(decode_utf8(s, i));
    if (!space) end = i;
  }
  return s.substr(begin, end - begin);
}

std::string trim_lower(std::string_view s) {
  std::string out(trim_unicode(s));
  for (char& ch : out)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return out;
}

}  // namespace quarn
