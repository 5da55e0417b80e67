#include "StatusJson.h"

#include <ctime>

namespace localservice {

namespace {

// Accounts have no time of their own; their ids carry this one.
constexpr std::int64_t kAccountEpoch = 1735689600;  // 2025-01-01
constexpr std::size_t kShownLinkLength = 30;

QString q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool isNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Where a link that starts at `at` ends: at white space or a character no address
// holds, less the punctuation that ends a sentence.
std::size_t linkEnd(std::string_view text, std::size_t at)
{
    std::size_t end = at;
    while (end < text.size()) {
        const auto c = static_cast<unsigned char>(text[end]);
        if (c <= ' ' || c >= 0x80 || c == '<' || c == '>' || c == '"')
            break;
        ++end;
    }
    while (end > at && std::string_view(".,:;!?)'").find(text[end - 1]) != std::string_view::npos)
        --end;
    return end;
}

std::string accountUrl(const UserRecord& user, const JsonContext& context)
{
    return context.origin + "/@" + user.screenName;
}

// One line of text, without its line break.
void appendLine(std::string& out, std::string_view line, const JsonContext& context, QJsonArray* mentions,
                QJsonArray* tags)
{
    std::size_t plainFrom = 0;
    const auto flushTo = [&](std::size_t to) {
        out += htmlEscape(line.substr(plainFrom, to - plainFrom));
    };
    for (std::size_t i = 0; i < line.size();) {
        const bool wordStart = i == 0 || !isNameByte(line[i - 1]);
        const std::string_view rest = line.substr(i);
        if (wordStart && (rest.substr(0, 7) == "http://" || rest.substr(0, 8) == "https://")) {
            const std::size_t end = linkEnd(line, i);
            const std::size_t scheme = rest.find("://") + 3;
            if (end > i + scheme) {
                flushTo(i);
                const std::string_view url = line.substr(i, end - i);
                std::size_t hidden = scheme;
                if (url.substr(hidden, 4) == "www.")
                    hidden += 4;
                const std::string_view shown = url.substr(hidden);
                out += "<a href=\"" + htmlEscape(url)
                       + "\" target=\"_blank\" rel=\"nofollow noopener\" translate=\"no\"><span class=\"invisible\">"
                       + htmlEscape(url.substr(0, hidden)) + "</span>";
                if (shown.size() > kShownLinkLength) {
                    out += "<span class=\"ellipsis\">" + htmlEscape(shown.substr(0, kShownLinkLength))
                           + "</span><span class=\"invisible\">" + htmlEscape(shown.substr(kShownLinkLength)) + "</span>";
                } else {
                    out += "<span class=\"\">" + htmlEscape(shown) + "</span><span class=\"invisible\"></span>";
                }
                out += "</a>";
                i = plainFrom = end;
                continue;
            }
        }
        if ((line[i] == '@' || line[i] == '#') && wordStart) {
            std::size_t end = i + 1;
            while (end < line.size() && isNameByte(line[end]))
                ++end;
            const std::string name(line.substr(i + 1, end - i - 1));
            if (!name.empty() && line[i] == '@') {
                if (const auto user = context.findUser ? context.findUser(name) : std::nullopt) {
                    flushTo(i);
                    out += "<span class=\"h-card\" translate=\"no\"><a href=\"" + htmlEscape(accountUrl(*user, context))
                           + "\" class=\"u-url mention\">@<span>" + htmlEscape(user->screenName) + "</span></a></span>";
                    if (mentions) {
                        mentions->append(QJsonObject{{"id", q(externalId(context.flavour, user->id, kAccountEpoch))},
                                                     {"username", q(user->screenName)},
                                                     {"acct", q(user->screenName)},
                                                     {"url", q(accountUrl(*user, context))}});
                    }
                    i = plainFrom = end;
                    continue;
                }
            } else if (!name.empty()) {
                flushTo(i);
                const std::string url = context.origin + "/tags/" + name;
                out += "<a href=\"" + htmlEscape(url) + "\" class=\"mention hashtag\" rel=\"tag\">#<span>"
                       + htmlEscape(name) + "</span></a>";
                if (tags)
                    tags->append(QJsonObject{{"name", q(name)}, {"url", q(url)}});
                i = plainFrom = end;
                continue;
            }
        }
        ++i;
    }
    flushTo(line.size());
}

} // namespace

std::string htmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}


std::string statusHtml(std::string_view text, const JsonContext& context, QJsonArray* mentions, QJsonArray* tags)
{
    std::string out;
    bool inParagraph = false;
    bool lineOpen = false;  // a line was written in this paragraph
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) {
            if (inParagraph)
                out += "</p>";
            inParagraph = lineOpen = false;
        } else {
            if (!inParagraph)
                out += "<p>";
            else if (lineOpen)
                out += "<br />";
            inParagraph = lineOpen = true;
            appendLine(out, line, context, mentions, tags);
        }
        start = end + 1;
    }
    if (inParagraph)
        out += "</p>";
    return out;
}

std::string isoDate(std::int64_t secondsSinceEpoch)
{
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S.000Z", &tm);
    return buffer;
}

QJsonObject accountJson(const UserRecord& user, const JsonContext& context)
{
    const std::string url = accountUrl(user, context);
    const QString avatar = q(user.profileImageUrl.empty() ? context.origin + "/avatars/original/missing.png"
                                                          : user.profileImageUrl);
    return QJsonObject{
        {"id", q(externalId(context.flavour, user.id, kAccountEpoch))},
        {"username", q(user.screenName)},
        {"acct", q(user.screenName)},
        {"display_name", q(user.name)},
        {"locked", user.isProtected},
        {"bot", false},
        {"discoverable", true},
        {"group", false},
        {"created_at", q(isoDate(kAccountEpoch))},
        {"note", q(statusHtml(user.description, context, nullptr, nullptr))},
        {"url", q(url)},
        {"uri", q(context.origin + "/users/" + user.screenName)},
        {"avatar", avatar},
        {"avatar_static", avatar},
        {"header", q(context.origin + "/headers/original/missing.png")},
        {"header_static", q(context.origin + "/headers/original/missing.png")},
        {"followers_count", user.followersCount},
        {"following_count", user.followersCount},
        {"statuses_count", 0},
        {"last_status_at", QJsonValue::Null},
        {"emojis", QJsonArray()},
        {"fields", QJsonArray()},
    };
}

QJsonObject statusJson(const StatusRecord& status, const JsonContext& context)
{
    const auto id = [&](std::int64_t row, std::int64_t time) { return q(externalId(context.flavour, row, time)); };
    QJsonArray mentions;
    QJsonArray tags;
    // A repeat's own text is the old face's "RT @name: ..."; here it holds the original.
    const bool repeat = status.retweetedStatus != nullptr;
    const std::string content = repeat ? std::string() : statusHtml(status.text, context, &mentions, &tags);
    QJsonValue inReplyTo = QJsonValue::Null;
    QJsonValue inReplyToAccount = QJsonValue::Null;
    if (status.inReplyToStatusId > 0) {
        inReplyTo = id(status.inReplyToStatusId, status.inReplyToCreatedAt);
        inReplyToAccount = id(status.inReplyToUserId, kAccountEpoch);
    }
    const std::string statusId = externalId(context.flavour, status.id, status.createdAt);
    return QJsonObject{
        {"id", q(statusId)},
        {"created_at", q(isoDate(status.createdAt))},
        {"in_reply_to_id", inReplyTo},
        {"in_reply_to_account_id", inReplyToAccount},
        {"sensitive", !status.spoilerText.empty()},
        {"spoiler_text", q(status.spoilerText)},
        {"visibility", status.user.isProtected ? "private" : "public"},
        {"language", "ja"},
        {"uri", q(context.origin + "/users/" + status.user.screenName + "/statuses/" + statusId)},
        {"url", q(context.origin + "/@" + status.user.screenName + "/" + statusId)},
        {"replies_count", static_cast<qint64>(status.repliesCount)},
        {"reblogs_count", static_cast<qint64>(status.reblogsCount)},
        {"favourites_count", static_cast<qint64>(status.favouritesCount)},
        {"edited_at", QJsonValue::Null},
        // A repeat answers for what it holds, as the servers do.
        {"favourited", repeat ? status.retweetedStatus->favorited : status.favorited},
        {"reblogged", repeat ? status.retweetedStatus->reblogged : status.reblogged},
        {"muted", false},
        {"bookmarked", false},
        {"pinned", false},
        {"content", q(content)},
        {"filtered", QJsonArray()},
        {"reblog", repeat ? QJsonValue(statusJson(*status.retweetedStatus, context)) : QJsonValue(QJsonValue::Null)},
        {"application", QJsonObject{{"name", q(status.source)}, {"website", QJsonValue::Null}}},
        {"account", accountJson(status.user, context)},
        {"media_attachments", QJsonArray()},
        {"mentions", mentions},
        {"tags", tags},
        {"emojis", QJsonArray()},
        {"card", QJsonValue::Null},
        {"poll", QJsonValue::Null},
    };
}

QJsonObject notificationJson(const Store::Notification& notification, const JsonContext& context)
{
    QJsonObject out{
        {"id", q(externalId(context.flavour, notification.id, notification.createdAt))},
        {"type", q(notification.type)},
        {"created_at", q(isoDate(notification.createdAt))},
        {"account", accountJson(notification.account, context)},
    };
    if (notification.status)
        out.insert("status", statusJson(*notification.status, context));
    return out;
}

} // namespace localservice
