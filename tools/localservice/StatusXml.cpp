#include "StatusXml.h"

#include "FormCodec.h"

#include <cstdio>

namespace localservice {

namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

bool allowedInXml(char32_t cp)
{
    if (cp < 0x20)
        return cp == 0x09 || cp == 0x0A || cp == 0x0D;
    return cp != 0xFFFE && cp != 0xFFFF;  // surrogates never get past the UTF-8 check
}

void element(std::string& out, std::string_view indent, std::string_view name, std::string_view text)
{
    out += indent;
    out += '<';
    out += name;
    out += '>';
    out += xmlEscape(text);
    out += "</";
    out += name;
    out += ">\n";
}

void appendStatus(std::string& out, const StatusRecord& s)
{
    out += "<status>\n";
    element(out, "  ", "created_at", historicDate(s.createdAt));
    element(out, "  ", "id", std::to_string(s.id));
    element(out, "  ", "text", s.text);
    element(out, "  ", "source", s.source);
    element(out, "  ", "truncated", s.truncated ? "true" : "false");
    element(out, "  ", "in_reply_to_status_id", "");
    element(out, "  ", "in_reply_to_user_id", "");
    element(out, "  ", "favorited", s.favorited ? "true" : "false");
    element(out, "  ", "in_reply_to_screen_name", "");
    const UserRecord& u = s.user;
    out += "  <user>\n";
    element(out, "    ", "id", std::to_string(u.id));
    element(out, "    ", "name", u.name);
    element(out, "    ", "screen_name", u.screenName);
    element(out, "    ", "location", u.location);
    element(out, "    ", "description", u.description);
    element(out, "    ", "profile_image_url", u.profileImageUrl);
    element(out, "    ", "url", u.url);
    element(out, "    ", "protected", u.isProtected ? "true" : "false");
    element(out, "    ", "followers_count", std::to_string(u.followersCount));
    out += "  </user>\n";
    out += "</status>\n";
}

} // namespace

std::string xmlEscape(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp;
        const std::size_t length = utf8SequenceAt(utf8, i, &cp);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\r': out += "&#13;"; break;
        default:
            if (allowedInXml(cp))
                out.append(utf8.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string historicDate(std::int64_t secondsSinceEpoch)
{
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[64];
    // Built by hand: strftime's names follow the locale, the service's must not.
    std::snprintf(buffer, sizeof buffer, "%s %s %02d %02d:%02d:%02d +0000 %04d",
                  kDays[tm.tm_wday % 7], kMonths[tm.tm_mon % 12], tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
    return buffer;
}

std::string statusesDocument(const std::vector<StatusRecord>& statuses)
{
    std::string out(kDeclaration);
    out += "<statuses type=\"array\">\n";
    for (const StatusRecord& s : statuses)
        appendStatus(out, s);
    out += "</statuses>\n";
    return out;
}

std::string statusDocument(const StatusRecord& status)
{
    std::string out(kDeclaration);
    appendStatus(out, status);
    return out;
}

std::string configDocument(int textLimit)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><site><name>localservice</name><textlimit>"
           + std::to_string(textLimit) + "</textlimit></site></config>";
}

std::string errorDocument(std::string_view requestPath, std::string_view message)
{
    std::string out(kDeclaration);
    out += "<hash>\n";
    element(out, "  ", "request", requestPath);
    element(out, "  ", "error", message);
    out += "</hash>\n";
    return out;
}

} // namespace localservice
