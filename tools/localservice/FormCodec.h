#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace localservice {

// One decoded application/x-www-form-urlencoded body. On failure `error` says what is
// wrong and where; `fields` is then empty.
struct FormResult {
    bool ok = false;
    std::string error;
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of the first field with this name, or nullptr.
    const std::string* find(std::string_view name) const;
};

// Splits at "&" and "=", turns "+" into a space and %XX into its byte. A "%" without two
// hexadecimal digits after it is an error; every name and value must be valid UTF-8.
// Empty pieces ("a=1&&b=2") are skipped; a piece without "=" is a name with an empty value.
FormResult decodeForm(std::string_view body);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. On failure
// *badOffset (when given) is the byte offset of the first bad sequence.
bool isValidUtf8(std::string_view text, std::size_t* badOffset = nullptr);

// Length of the UTF-8 sequence that starts at text[i] (i < size) with its code point in
// *codePoint; 0 when no valid sequence starts there.
std::size_t utf8SequenceAt(std::string_view text, std::size_t i, char32_t* codePoint);

// The length in UTF-16 code units of valid UTF-8 text: the unit the program counts its
// 140 characters in, so a character outside the BMP counts two.
std::size_t utf16Length(std::string_view utf8);

// Cuts valid UTF-8 text to at most maxUnits UTF-16 code units, never inside a character
// (a character that would need a surrogate pair across the limit is dropped whole).
// Returns true when something was cut.
bool cutToUtf16Units(std::string& utf8, std::size_t maxUnits);

// Base64 with the URL-safe alphabet and no padding, as tokens and PKCE use it.
std::string base64Url(const unsigned char* bytes, std::size_t size);

} // namespace localservice
