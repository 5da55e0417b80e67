#include "FormCodec.h"

#include "text/HexDigit.h"

namespace localservice {

namespace {

// Decodes one name or value; `base` is its offset in the whole body, for the message.
bool decodePiece(std::string_view piece, std::size_t base, std::string& out, std::string& error)
{
    out.clear();
    out.reserve(piece.size());
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const char c = piece[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            const int hi = i + 1 < piece.size() ? HexDigitValue(piece[i + 1]) : -1;
            const int lo = i + 2 < piece.size() ? HexDigitValue(piece[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = "malformed form body: \"%\" without two hexadecimal digits at byte " + std::to_string(base + i);
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    std::size_t bad = 0;
    if (!isValidUtf8(out, &bad)) {
        error = "form body is not valid UTF-8 (decoded byte " + std::to_string(bad) + " of the field at byte " + std::to_string(base) + ")";
        return false;
    }
    return true;
}

} // namespace

std::size_t utf8SequenceAt(std::string_view text, std::size_t i, char32_t* codePoint)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        *codePoint = b0;
        return 1;
    }
    std::size_t length;
    char32_t cp;
    char32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2; cp = b0 & 0x1F; minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3; cp = b0 & 0x0F; minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4; cp = b0 & 0x07; minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *codePoint = cp;
    return length;
}

const std::string* FormResult::find(std::string_view name) const
{
    for (const auto& field : fields) {
        if (field.first == name)
            return &field.second;
    }
    return nullptr;
}

FormResult decodeForm(std::string_view body)
{
    FormResult result;
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t end = body.find('&', start);
        if (end == std::string_view::npos)
            end = body.size();
        const std::string_view piece = body.substr(start, end - start);
        if (!piece.empty()) {
            const std::size_t eq = piece.find('=');
            const std::string_view rawName = piece.substr(0, eq);
            const std::string_view rawValue = eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
            std::string name;
            std::string value;
            if (!decodePiece(rawName, start, name, result.error)
                || !decodePiece(rawValue, start + (eq == std::string_view::npos ? 0 : eq + 1), value, result.error)) {
                result.fields.clear();
                return result;
            }
            result.fields.emplace_back(std::move(name), std::move(value));
        }
        start = end + 1;
    }
    result.ok = true;
    return result;
}

bool isValidUtf8(std::string_view text, std::size_t* badOffset)
{
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        const std::size_t length = utf8SequenceAt(text, i, &cp);
        if (length == 0) {
            if (badOffset)
                *badOffset = i;
            return false;
        }
        i += length;
    }
    return true;
}

std::size_t utf16Length(std::string_view utf8)
{
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp;
        const std::size_t length = utf8SequenceAt(utf8, i, &cp);
        if (length == 0) {
            ++units;  // counted like a replacement character
            ++i;
            continue;
        }
        units += cp >= 0x10000 ? 2 : 1;
        i += length;
    }
    return units;
}

bool cutToUtf16Units(std::string& utf8, std::size_t maxUnits)
{
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp;
        std::size_t length = utf8SequenceAt(utf8, i, &cp);
        std::size_t width = 1;
        if (length == 0)
            length = 1;
        else if (cp >= 0x10000)
            width = 2;
        if (units + width > maxUnits) {
            utf8.resize(i);
            return true;
        }
        units += width;
        i += length;
    }
    return false;
}

std::string base64Url(const unsigned char* bytes, std::size_t size)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (std::size_t i = 0; i < size; ++i) {
        buffer = (buffer << 8) | bytes[i];
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out += kAlphabet[(buffer >> bits) & 0x3F];
        }
    }
    if (bits > 0)
        out += kAlphabet[(buffer << (6 - bits)) & 0x3F];
    return out;
}


} // namespace localservice
