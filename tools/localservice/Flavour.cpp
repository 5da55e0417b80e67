#include "Flavour.h"

#include <charconv>

namespace localservice {

namespace {

using u128 = unsigned __int128;

constexpr std::string_view kCrockford = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr std::string_view kBase62 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// The ULID's random part keeps this above the row, so ids do not all start with zeros.
constexpr std::uint64_t kUlidMark = 0x5A17;
// An Akkoma FlakeId is 64 bits of time, 48 of the node and 16 of sequence; the row
// takes the last 64.
constexpr int kFlakeRowBits = 64;

std::string encode(u128 value, std::string_view alphabet, std::size_t width)
{
    std::string out;
    while (value > 0 || out.size() < width) {
        out.insert(out.begin(), alphabet[static_cast<std::size_t>(value % alphabet.size())]);
        value /= alphabet.size();
    }
    return out;
}

std::optional<u128> decode(std::string_view text, std::string_view alphabet, std::size_t maxLength)
{
    if (text.empty() || text.size() > maxLength)
        return std::nullopt;
    u128 value = 0;
    for (const char c : text) {
        const std::size_t digit = alphabet.find(c);
        if (digit == std::string_view::npos)
            return std::nullopt;
        value = value * alphabet.size() + digit;
    }
    return value;
}

std::optional<std::int64_t> positive(std::uint64_t value)
{
    if (value == 0 || value > static_cast<std::uint64_t>(INT64_MAX))
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

} // namespace

std::optional<Flavour> flavourNamed(std::string_view name)
{
    for (const Flavour f : {Flavour::Mastodon, Flavour::GoToSocial, Flavour::Akkoma, Flavour::Friendica}) {
        if (name == flavourName(f))
            return f;
    }
    return std::nullopt;
}

const char* flavourName(Flavour flavour)
{
    switch (flavour) {
    case Flavour::Mastodon: return "mastodon";
    case Flavour::GoToSocial: return "gotosocial";
    case Flavour::Akkoma: return "akkoma";
    case Flavour::Friendica: return "friendica";
    }
    return "mastodon";
}

std::string externalId(Flavour flavour, std::int64_t rowId, std::int64_t createdAtSeconds)
{
    const auto row = static_cast<std::uint64_t>(rowId);
    const auto millis = static_cast<std::uint64_t>(createdAtSeconds < 0 ? 0 : createdAtSeconds) * 1000;
    switch (flavour) {
    case Flavour::GoToSocial: {
        // 48 bits of milliseconds, then 80 "random" bits: the mark and the row.
        const u128 value = (u128(millis & 0xFFFFFFFFFFFFull) << 80) | (u128(kUlidMark) << 64) | row;
        return encode(value, kCrockford, 26);
    }
    case Flavour::Akkoma:
        return encode((u128(millis) << kFlakeRowBits) | row, kBase62, 1);
    case Flavour::Mastodon:
    case Flavour::Friendica:
        break;
    }
    return std::to_string(rowId);
}

std::optional<std::int64_t> rowId(Flavour flavour, std::string_view id)
{
    switch (flavour) {
    case Flavour::GoToSocial: {
        const auto value = decode(id, kCrockford, 26);
        if (!value || id.size() != 26 || ((*value >> 64) & 0xFFFF) != kUlidMark)
            return std::nullopt;
        return positive(static_cast<std::uint64_t>(*value));
    }
    case Flavour::Akkoma: {
        const auto value = decode(id, kBase62, 22);
        if (!value)
            return std::nullopt;
        return positive(static_cast<std::uint64_t>(*value));
    }
    case Flavour::Mastodon:
    case Flavour::Friendica:
        break;
    }
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(id.data(), id.data() + id.size(), value);
    if (ec != std::errc() || ptr != id.data() + id.size() || value < 1 || id.front() == '+')
        return std::nullopt;
    return value;
}

int defaultStatusLimit(Flavour flavour)
{
    switch (flavour) {
    case Flavour::Mastodon: return 500;
    case Flavour::GoToSocial: return 5000;
    case Flavour::Akkoma: return 5000;
    case Flavour::Friendica: return 200000;
    }
    return 500;
}

std::optional<int> linkLength(Flavour flavour)
{
    if (flavour == Flavour::Mastodon)
        return 23;
    return std::nullopt;
}

} // namespace localservice
