// src/text.hpp: small text helpers shared by the option-name parsers.
#pragma once
#include <string>
#include <string_view>

namespace quarn {

/// True for a code point with the Unicode White_Space property.
[[nodiscard]] bool is_unicode_space(char32_t c);

/// Strips leading and trailing Unicode White_Space from UTF-8 text.
[[nodiscard]] std::string_view trim_unicode(std::string_view s);

/// trim_unicode, then ASCII A-Z lower-cased (other characters unchanged).
[[nodiscard]] std::string trim_lower(std::string_view s);

/// Decodes one UTF-8 code point at s[i], advancing i; invalid bytes decode as U+FFFD.
[[nodiscard]] char32_t decode_utf8(std::string_view s, std::size_t& i);

}  // namespace quarn
