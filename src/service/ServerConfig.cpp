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

// A limit as published: plain decimal digits, or GNU social's "false" (0) and "true" (1),
// blanks around allowed; otherwise empty with *why set. Beyond kMaxServerTextLimit is no
// limit.
std::optional<int> TextLimitOf(const QString& name, const QString& text, QString* why)
{
    const QString value = text.trimmed();
    if (value == QLatin1String("false"))
        return 0;
    if (value == QLatin1String("true"))
        return 1;
    if (!IsStatusId(value)) {  // plain decimal digits, as a status id
        *why = QStringLiteral("%1 is not a decimal count: \"%2\"").arg(name, text.left(40));
        return std::nullopt;
    }
    bool ok = false;
    const qulonglong count = value.toULongLong(&ok);
    if (!ok || count > qulonglong(kMaxServerTextLimit)) {
        qCInfo(lcService).noquote() << name << value.left(40) << "is beyond" << kMaxServerTextLimit
                                    << "characters: no limit";
        return 0;
    }
    return int(count);
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
            TXMLNode* text = ChildElement(ChildElement(root, QStringLiteral("site")), QStringLiteral("textlimit"));
            TXMLNode* content
                = ChildElement(ChildElement(root, QStringLiteral("notice")), QStringLiteral("contentlimit"));
            // GNU social limits a notice by contentlimit when that holds a number (not
            // "false", not empty), by textlimit otherwise.
            const QString contentText = content ? content->ElementText().trimmed() : QString();
            if (IsStatusId(contentText))
                config.TextLimit = TextLimitOf(QStringLiteral("contentlimit"), contentText, &why);
            else if (text)
                config.TextLimit = TextLimitOf(QStringLiteral("textlimit"), text->ElementText(), &why);
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

QString VerifyCredentialsAddress(const QString& apiBase)
{
    return apiBase + QStringLiteral("/account/verify_credentials.xml");
}

QString ReadOwnScreenName(const TServiceAccount& account, const TReadBounds& bounds)
{
    const QString address = VerifyCredentialsAddress(account.ApiBase);
    QString name;
    QString why;
    try {
        TBlockingHttpClient client;
        TXMLDocument document;
        ServiceRead::LoadDocument(client, account, bounds, address, document);
        TXMLNode* root = document.RootElement();
        if (!root || root->LocalName() != QLatin1String("user"))
            why = QStringLiteral("not a user document");
        else if (TXMLNode* screenName = ChildElement(root, QStringLiteral("screen_name")))
            name = screenName->ElementText().trimmed();
        if (name.isEmpty() && why.isEmpty())
            why = QStringLiteral("no screen_name");
    } catch (const std::exception& e) {
        why = ServiceRead::OneLine(ServiceRead::MessageOf(e));
    }
    if (name.isEmpty())
        qCInfo(lcService).noquote() << "own screen name not read from" << address + QLatin1Char(':') << why;
    else
        qCInfo(lcService).noquote() << "signed in as" << name;
    return name;
}
