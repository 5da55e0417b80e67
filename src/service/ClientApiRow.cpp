#include "service/ClientApiRow.h"

#include "xml/HtmlText.h"

#include <QJsonValue>

namespace {

QString Text(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toString();
}

} // namespace

std::optional<TTimelineStatus> ClientApiStatusRow(const QJsonObject& status)
{
    TTimelineStatus row;
    row.Id = Text(status, "id");
    if (row.Id.isEmpty())
        return std::nullopt;
    const QJsonObject shown = status.value(QLatin1String("reblog")).isObject()
                                  ? status.value(QLatin1String("reblog")).toObject() : status;
    const QJsonObject account = shown.value(QLatin1String("account")).toObject();
    row.Name = Text(account, "display_name");
    if (row.Name.isEmpty())
        row.Name = Text(account, "username");
    row.ScreenName = Text(account, "acct");
    const QString warning = Text(shown, "spoiler_text");
    row.Text = warning.isEmpty() ? StatusHtmlText(Text(shown, "content")) : warning;
    row.Favorited = shown.value(QLatin1String("favourited")).toBool() ? QStringLiteral("true") : QStringLiteral("false");
    row.InReplyToId = Text(shown, "in_reply_to_id");
    row.ExternalUrl = Text(shown, "url");
    return row;
}
