#pragma once

#include "Flavour.h"
#include "StatusXml.h"
#include "Store.h"

#include <QJsonArray>
#include <QJsonObject>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace localservice {

// What the JSON entities need beyond the rows: the ids' form, the origin links point
// to, and the accounts a status may name.
struct JsonContext {
    Flavour flavour = Flavour::Mastodon;
    std::string origin;  // "http://127.0.0.1:8080"
    std::function<std::optional<UserRecord>(const std::string& screenName)> findUser;
};

// A status's text as the server family writes it: paragraphs at blank lines, "<br />"
// at line ends, links with their scheme and anything past 30 characters in invisible
// spans, known "@name"s as h-cards, "#tags" as tag links, the rest escaped. The
// accounts named and the tags go into *mentions and *tags.
std::string statusHtml(std::string_view text, const JsonContext& context, QJsonArray* mentions, QJsonArray* tags);

// Text for HTML content or a quoted attribute.
std::string htmlEscape(std::string_view text);

// "2026-12-07T07:41:00.000Z".
std::string isoDate(std::int64_t secondsSinceEpoch);

QJsonObject accountJson(const UserRecord& user, const JsonContext& context);
QJsonObject statusJson(const StatusRecord& status, const JsonContext& context);
QJsonObject notificationJson(const Store::Notification& notification, const JsonContext& context);

} // namespace localservice
