#include "service/ServerConfig.h"

#include "http/BlockingHttpClient.h"
#include "service/ServicePost.h"
#include "service/ServiceRead_p.h"
#include "text/Logging.h"
#include "xml/XMLDoc.h"

#include <QLoggingCategory>

namespace {

TXMLNode* ChildElement(TXMLNode* parent, const QString& name)
{
    return parent ? parent->ChildList()->FindByName(name) : nullptr;
}

// A non-negative decimal within kMaxServerTextLimit, blanks around it allowed; otherwise
// empty with *why set.
std::optional<int> TextLimitOf(const QString& text, QString* why)
{
    const QString digits = text.trimmed();
    if (!IsStatusId(digits)) {  // plain decimal digits, as a status id
        *why = QStringLiteral("textlimit is not a decimal count: \"%1\"").arg(text.left(40));
        return std::nullopt;
    }
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok);
    if (!ok || value > qulonglong(kMaxServerTextLimit)) {
        *why = QStringLiteral("textlimit %1 is beyond %2").arg(digits.left(40)).arg(kMaxServerTextLimit);
        return std::nullopt;
    }
    return int(value);
}

} // namespace

QString ServerConfigAddress(const QString& apiBase)
{
    return apiBase + QStringLiteral("/statusnet/config.xml");
}

TServerConfig ReadServerConfig(const TServiceAccount& account, const TReadBounds& bounds)
{
    TServerConfig config;
    const QString address = ServerConfigAddress(account.ApiBase);
    QString why;
    try {
        TBlockingHttpClient client;
        TXMLDocument document;
        ServiceRead::LoadDocument(client, account, bounds, address, document);
        TXMLNode* root = document.RootElement();
        if (!root || root->LocalName() != QLatin1String("config")) {
            why = QStringLiteral("not a configuration document");
        } else {
            config.Read = true;
            TXMLNode* limit = ChildElement(ChildElement(root, QStringLiteral("site")), QStringLiteral("textlimit"));
            if (limit)
                config.TextLimit = TextLimitOf(limit->ElementText(), &why);
            else
                why = QStringLiteral("no site/textlimit");
        }
    } catch (const std::exception& e) {
        // A 404 from a server that publishes nothing lands here too.
        why = ServiceRead::OneLine(ServiceRead::MessageOf(e));
    }
    if (config.TextLimit)
        qCInfo(lcService).noquote() << "server text limit:" << *config.TextLimit << "from" << address;
    else
        qCInfo(lcService).noquote() << "no server text limit from" << address + QLatin1Char(':') << why;
    return config;
}
