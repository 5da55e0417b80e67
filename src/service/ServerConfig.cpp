#include "service/ServerConfig.h"

#include "http/BlockingHttpClient.h"
#include "service/FediverseSignIn.h"
#include "service/ServicePost.h"
#include "service/ServiceRead_p.h"
#include "text/Logging.h"
#include "xml/XMLDoc.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <functional>

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

// Reads the document at address the way a timeline page is read and hands its root to
// take when the root is named rootName; otherwise, or when the read fails, *why says why
// in one line.
void ReadRoot(const TServiceAccount& account, const TReadBounds& bounds, const QString& address,
              const char* rootName, QString* why, const std::function<void(TXMLNode*)>& take)
{
    try {
        TBlockingHttpClient client;
        TXMLDocument document;
        ServiceRead::LoadDocument(client, account, bounds, address, document);
        TXMLNode* root = document.RootElement();
        if (!root || root->LocalName() != QLatin1String(rootName))
            *why = QStringLiteral("not a %1 document").arg(QLatin1String(rootName));
        else
            take(root);
    } catch (const std::exception& e) {
        *why = ServiceRead::OneLine(ServiceRead::MessageOf(e));
    }
}

// A fediverse server's JSON document at path, read the way a page is, with the account's
// token (or account and password) when asked to; an empty object with *why set when the
// read fails or the reply is no JSON object.
QJsonObject ReadJsonObject(const TServiceAccount& account, const TReadBounds& bounds, const QString& path,
                           bool signedIn, QString* why)
{
    try {
        TBlockingHttpClient client;
        ServiceRead::Bind(client, account, bounds);
        client.Request().Accept = "application/json";
        const QByteArray authorization
            = signedIn ? FediverseAuthorization(account.Token, account.AccountName, account.Password) : QByteArray();
        if (!authorization.isEmpty())
            client.Request().Headers.append({"Authorization", authorization});
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(client.FetchText((account.ApiBase + path).toUtf8()), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            *why = QStringLiteral("not a JSON object");
        return document.object();
    } catch (const std::exception& e) {
        *why = ServiceRead::OneLine(ServiceRead::MessageOf(e));
        return QJsonObject();
    }
}

// The posting limit of a fediverse server: /api/v2/instance, else /api/v1/instance
// (Akkoma serves only this one), else the 500 that Mastodon holds statuses to.
TServerConfig ReadInstanceConfig(const TServiceAccount& account, const TReadBounds& bounds)
{
    TServerConfig config;
    QString why;
    for (const char* path : {"/api/v2/instance", "/api/v1/instance"}) {
        const QJsonObject instance = ReadJsonObject(account, bounds, QString::fromLatin1(path), false, &why);
        config.Read = config.Read || !instance.isEmpty();
        config.TextLimit = InstanceTextLimit(instance);
        if (config.TextLimit) {
            config.LinkLength = InstanceLinkLength(instance);
            qCInfo(lcService).noquote() << "server text limit:" << *config.TextLimit << "link length:"
                                        << (config.LinkLength ? QString::number(*config.LinkLength) : QStringLiteral("its own"))
                                        << "from" << account.ApiBase + QLatin1String(path);
            return config;
        }
        if (bounds.Cancelled && bounds.Cancelled->load())
            break;
    }
    qCInfo(lcService).noquote() << "no server text limit from" << account.ApiBase + QLatin1Char(':') << why
                                << "- 500 it is";
    config.TextLimit = kFediverseTextLimit;
    return config;
}

} // namespace

QString ServerConfigAddress(const QString& apiBase)
{
    return apiBase + QStringLiteral("/statusnet/config.xml");
}

TServerConfig ReadServerConfig(const TServiceAccount& account, const TReadBounds& bounds)
{
    if (account.Family == TServiceFamily::Fediverse)
        return ReadInstanceConfig(account, bounds);
    TServerConfig config;
    const QString address = ServerConfigAddress(account.ApiBase);
    QString why;
    // A 404 from a server that publishes nothing is a failed read too.
    ReadRoot(account, bounds, address, "config", &why, [&](TXMLNode* root) {
        config.Read = true;
        TXMLNode* text = ChildElement(ChildElement(root, QStringLiteral("site")), QStringLiteral("textlimit"));
        TXMLNode* content = ChildElement(ChildElement(root, QStringLiteral("notice")), QStringLiteral("contentlimit"));
        // GNU social limits a notice by contentlimit when that holds a number (not
        // "false", not empty), by textlimit otherwise.
        const QString contentText = content ? content->ElementText().trimmed() : QString();
        if (IsStatusId(contentText))
            config.TextLimit = TextLimitOf(QStringLiteral("contentlimit"), contentText, &why);
        else if (text)
            config.TextLimit = TextLimitOf(QStringLiteral("textlimit"), text->ElementText(), &why);
        else
            why = QStringLiteral("no site/textlimit");
    });
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
    if (account.Family == TServiceFamily::Fediverse) {
        QString why;
        const QString name = ReadJsonObject(account, bounds, QStringLiteral("/api/v1/accounts/verify_credentials"),
                                            true, &why)
                                 .value(QLatin1String("username"))
                                 .toString();
        if (name.isEmpty())
            qCInfo(lcService).noquote() << "own account not read from" << account.ApiBase + QLatin1Char(':') << why;
        return name;
    }
    const QString address = VerifyCredentialsAddress(account.ApiBase);
    QString name;
    QString why;
    ReadRoot(account, bounds, address, "user", &why, [&](TXMLNode* root) {
        if (TXMLNode* screenName = ChildElement(root, QStringLiteral("screen_name")))
            name = screenName->ElementText().trimmed();
        if (name.isEmpty())
            why = QStringLiteral("no screen_name");
    });
    if (name.isEmpty())
        qCInfo(lcService).noquote() << "own screen name not read from" << address + QLatin1Char(':') << why;
    else
        qCInfo(lcService).noquote() << "signed in as" << name;
    return name;
}
