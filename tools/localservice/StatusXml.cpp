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

void appendUser(std::string& out, const std::string& indent, const UserRecord& u)
{
    const std::string inner = indent + "  ";
    out += indent + "<user>\n";
    element(out, inner, "id", std::to_string(u.id));
    element(out, inner, "name", u.name);
    element(out, inner, "screen_name", u.screenName);
    element(out, inner, "location", u.location);
    element(out, inner, "description", u.description);
    element(out, inner, "profile_image_url", u.profileImageUrl);
    element(out, inner, "url", u.url);
    element(out, inner, "protected", u.isProtected ? "true" : "false");
    element(out, inner, "followers_count", std::to_string(u.followersCount));
    out += indent + "</user>\n";
}

std::string idOrEmpty(std::int64_t id)
{
    return id > 0 ? std::to_string(id) : std::string();
}

// The element is named by the caller: <status> at the top, <retweeted_status> inside a
// repeat, which holds the repeated status with the same children.
void appendStatus(std::string& out, const std::string& indent, std::string_view name, const StatusRecord& s)
{
    const std::string inner = indent + "  ";
    out += indent + '<';
    out += name;
    out += ">\n";
    element(out, inner, "created_at", historicDate(s.createdAt));
    element(out, inner, "id", std::to_string(s.id));
    element(out, inner, "text", s.text);
    element(out, inner, "source", s.source);
    element(out, inner, "truncated", s.truncated ? "true" : "false");
    element(out, inner, "in_reply_to_status_id", idOrEmpty(s.inReplyToStatusId));
    element(out, inner, "in_reply_to_user_id", idOrEmpty(s.inReplyToUserId));
    element(out, inner, "favorited", s.favorited ? "true" : "false");
    element(out, inner, "in_reply_to_screen_name", s.inReplyToStatusId > 0 ? s.inReplyToScreenName : std::string());
    appendUser(out, inner, s.user);
    // Only repeats carry it, after the user, as the classic interface did.
    if (s.retweetedStatus)
        appendStatus(out, inner, "retweeted_status", *s.retweetedStatus);
    out += indent + "</";
    out += name;
    out += ">\n";
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
        appendStatus(out, "", "status", s);
    out += "</statuses>\n";
    return out;
}

std::string statusDocument(const StatusRecord& status)
{
    std::string out(kDeclaration);
    appendStatus(out, "", "status", status);
    return out;
}

std::string userDocument(const UserRecord& user)
{
    std::string out(kDeclaration);
    appendUser(out, "", user);
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
