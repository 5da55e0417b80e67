#include "service/FediverseSignIn.h"

#include "http/HttpCli.h"
#include "service/PostJob.h"
#include "service/ServerConfig.h"
#include "service/ServiceAccount.h"
#include "text/Logging.h"
#include "text/Utf8tosjis.h"
#include "xml/XMLDoc.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QUrlQuery>

namespace {

// Every answer of these calls is a small document; more is refused, not held.
constexpr qint64 kMaxReply = 1024 * 1024;
const QByteArray kClientName = "Brimlark_Simple";
const QByteArray kWebsite = "https://brimlark.example.org/simple/";

QByteArray RandomUrlSafe(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(raw.data()), bytes / 4);
    return raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray Form(std::initializer_list<std::pair<const char*, QString>> fields)
{
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QByteArray(name) + '=' + FormEncode(value.toUtf8());
    }
    return body;
}

QJsonObject JsonObjectOf(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    return error.error == QJsonParseError::NoError ? document.object() : QJsonObject();
}

} // namespace

// One request at a time on a client of its own, its reply body kept within kMaxReply; the
// answer goes to the function given with the request, unless the request was dropped.
class TJsonCalls {
public:
    using TThen = std::function<void(const THttpCliResult&, const QByteArray&)>;

    explicit TJsonCalls(THttpCli& client) : m_client(client)
    {
        m_client.ReplyLimits.MaxBodySize = kMaxReply;
        m_connection
            = QObject::connect(&m_client, &THttpCli::Finished, [this](const THttpCliResult& result) { Ended(result); });
    }
    ~TJsonCalls() { QObject::disconnect(m_connection); }

    bool Start(THttpRequest method, const QByteArray& url, const QByteArray& body, const QByteArray& authorization,
               const TNetworkOptions& network, TThen then)
    {
        THttpCliRequest request;
        request.Method = method;
        request.URL = url;
        request.Body = body;
        request.RequestVer = "1.1";
        request.Connection = "close";
        request.Accept = "application/json";
        request.Network = network;
        // Never after a relocation to another origin: the client holds it back there.
        if (!authorization.isEmpty())
            request.Headers.append({"Authorization", authorization});
        m_reply = std::make_unique<QBuffer>();
        m_reply->open(QIODevice::WriteOnly);
        request.ReplyStream = m_reply.get();
        m_then = std::move(then);
        THttpCliResult refusal;
        if (m_client.Start(request, &refusal))
            return true;
        m_then = {};
        return false;
    }

    void Ended(const THttpCliResult& result)
    {
        TThen then = std::exchange(m_then, {});
        const QByteArray body = m_reply ? m_reply->data() : QByteArray();
        if (then)
            then(result, body);
    }

    void Drop()
    {
        m_then = {};
        m_client.Abort();
    }

private:
    THttpCli& m_client;
    std::unique_ptr<QBuffer> m_reply;
    TThen m_then;
    QMetaObject::Connection m_connection;
};

// ---------------------------------------------------------------------------------------
// Finding the family

TFamilyProbe::TFamilyProbe(QObject* parent)
    : QObject(parent), m_client(std::make_unique<THttpCli>()), m_calls(std::make_unique<TJsonCalls>(*m_client))
{
    m_client->setObjectName(QStringLiteral("FamilyProbe"));
    m_client->Timeout = 20000;
}

TFamilyProbe::~TFamilyProbe()
{
    Abort();
}

bool TFamilyProbe::Running() const
{
    return m_client->Running();
}

void TFamilyProbe::Abort()
{
    m_calls->Drop();
}

void TFamilyProbe::Start(const QString& address, const TNetworkOptions& network)
{
    Abort();
    m_configStatus = 0;
    m_address = address;
    while (m_address.endsWith(u'/'))
        m_address.chop(1);
    m_network = network;
    const QByteArray config = ServerConfigAddress(m_address).toUtf8();
    const bool started = m_calls->Start(httpGET, config, {}, {}, network, [this](const THttpCliResult& result,
                                                                             const QByteArray& body) {
        if (result.Accepted()) {
            try {
                TXMLDocument document;
                document.LoadFromText(body);
                if (TXMLNode* root = document.RootElement(); root && root->LocalName() == QLatin1String("config")) {
                    qCInfo(lcService).noquote() << m_address << "speaks the XML interface";
                    Q_EMIT Found({TFamilyFound::Classic, m_address, {}, false, {}});
                    return;
                }
            } catch (const std::exception&) {
                // Not the configuration document: perhaps a web page of another server.
            }
        }
        m_configStatus = result.StatusCode;
        const QString origin = OriginOf(m_address);
        // Started from the slot of the first request's end, which the client allows.
        if (!m_calls->Start(httpGET, (origin + QStringLiteral("/api/v1/instance")).toUtf8(), {}, {}, m_network,
                            [this](const THttpCliResult& second, const QByteArray& instance) {
                                instanceRead(second, instance);
                            }))
            QMetaObject::invokeMethod(this, [this] { instanceRead({}, {}); }, Qt::QueuedConnection);
    });
    if (!started)
        QMetaObject::invokeMethod(this, [this] { instanceRead({}, {}); }, Qt::QueuedConnection);
}

void TFamilyProbe::instanceRead(const THttpCliResult& result, const QByteArray& body)
{
    const QJsonObject instance = JsonObjectOf(body);
    const QString origin = OriginOf(m_address);
    if (result.Accepted()
        && (instance.contains(QLatin1String("uri")) || instance.contains(QLatin1String("domain"))
            || instance.value(QLatin1String("version")).isString())) {
        TFamilyFound found{TFamilyFound::Fediverse, origin, instance.value(QLatin1String("version")).toString(), false,
                           {}};
        found.TakesPassword = found.Software.contains(QLatin1String("Friendica"), Qt::CaseInsensitive);
        qCInfo(lcService).noquote() << origin << "speaks the fediverse client API:" << found.Software.left(80);
        Q_EMIT Found(found);
        return;
    }
    // A private XML site wants the account even for its configuration.
    if (m_configStatus == 401) {
        Q_EMIT Found({TFamilyFound::Classic, m_address, {}, false, {}});
        return;
    }
    TFamilyFound neither;
    const TPostOutcome outcome = PostOutcomeOf(result, (origin + QStringLiteral("/api/v1/instance")).toUtf8(), m_network);
    neither.Line = outcome.Kind == TPostOutcome::ConnectionFailure && !outcome.NoReplyLine.isEmpty()
                       ? outcome.NoReplyLine
                       : QCoreApplication::translate("FediverseSignIn", "このアドレスはXMLのAPIにもMastodon形式のAPIにも答えません: %1").arg(m_address);
    qCInfo(lcService).noquote() << m_address << "speaks neither family:" << result.StatusCode << result.ReasonPhrase;
    Q_EMIT Found(neither);
}

// ---------------------------------------------------------------------------------------
// Signing in

const QByteArray TFediverseSignIn::kRedirect = "urn:ietf:wg:oauth:2.0:oob";
const QByteArray TFediverseSignIn::kScopes = "read write";

TFediverseSignIn::TFediverseSignIn(QObject* parent)
    : QObject(parent), m_http(std::make_unique<THttpCli>()), m_calls(std::make_unique<TJsonCalls>(*m_http))
{
    m_http->setObjectName(QStringLiteral("SignInClient"));
    m_http->Timeout = 30000;
}

TFediverseSignIn::~TFediverseSignIn()
{
    Abort();
}

void TFediverseSignIn::SetServer(const QString& origin, const TNetworkOptions& network, const TOAuthClient& client)
{
    Abort();
    if (origin != m_origin) {
        m_verifier.clear();
        m_state.clear();
    }
    m_origin = origin;
    m_network = network;
    m_client = client;
}

bool TFediverseSignIn::Busy() const
{
    return m_http->Running();
}

void TFediverseSignIn::Abort()
{
    m_calls->Drop();
}

void TFediverseSignIn::call(int method, const QByteArray& path, const QByteArray& body,
                            const QByteArray& authorization, TThen then)
{
    Abort();
    if (!m_calls->Start(THttpRequest(method), m_origin.toUtf8() + path, body, authorization, m_network,
                        std::move(then))) {
        QMetaObject::invokeMethod(this, [this] { fail(QCoreApplication::translate("FediverseSignIn", "サインインの要求を始められませんでした")); },
                                  Qt::QueuedConnection);
    }
}

void TFediverseSignIn::fail(const QString& line)
{
    TSignedIn failed;
    failed.Line = line;
    failed.Client = m_client;
    Q_EMIT Finished(failed);
}

QString TFediverseSignIn::failureLine(const THttpCliResult& result, const QByteArray& body,
                                      const QByteArray& path) const
{
    // The step and how it ended; the body and the form sent stay out, as they may carry secrets.
    qCInfo(lcService).noquote() << "sign-in not completed at" << m_origin + QString::fromLatin1(path) + QLatin1Char(':')
                                << result.StatusCode
                                << (result.Failed ? result.ErrorMessage : QString::fromUtf8(result.ReasonPhrase));
    TPostOutcome outcome = PostOutcomeOf(result, m_origin.toUtf8() + path, m_network);
    if (outcome.Kind == TPostOutcome::ConnectionFailure)
        return outcome.NoReplyLine.isEmpty() ? QString::fromUtf8(outcome.ReasonPhrase) : outcome.NoReplyLine;
    // OAuth's own errors say it best in error_description ("invalid_grant" says little).
    QString words = JsonObjectOf(body).value(QLatin1String("error_description")).toString().simplified().left(300);
    if (words.isEmpty()) {
        ReadReplyBody(outcome, body, {}, true);
        words = outcome.ServerText;
    }
    const QString status = QString::number(result.StatusCode)
                         + (result.ReasonPhrase.isEmpty() ? QString() : u' ' + QString::fromUtf8(result.ReasonPhrase));
    if (result.Accepted())
        return QCoreApplication::translate("FediverseSignIn", "サーバーの応答を読み取れませんでした: %1").arg(status);
    // An HTML page carries no words meant for the user: the status alone.
    return words.isEmpty() ? QCoreApplication::translate("FediverseSignIn", "サインインできませんでした: %1").arg(status)
                           : QCoreApplication::translate("FediverseSignIn", "サインインできませんでした: %1 (%2)").arg(words, status);
}

bool TFediverseSignIn::refusedPlainHttp()
{
    const QString refusal = PlainHttpSignInRefusal(m_origin);
    if (refusal.isEmpty())
        return false;
    QMetaObject::invokeMethod(this, [this, refusal] { fail(refusal); }, Qt::QueuedConnection);
    return true;
}

void TFediverseSignIn::StartAuthorization()
{
    if (refusedPlainHttp())
        return;
    if (!m_client.Id.isEmpty() && !m_client.Secret.isEmpty()) {
        QMetaObject::invokeMethod(this, [this] { authorize(); }, Qt::QueuedConnection);
        return;
    }
    const QByteArray path = "/api/v1/apps";
    // The redirect as a form string: GoToSocial and Akkoma take no list here.
    const QByteArray body = Form({{"client_name", QString::fromUtf8(kClientName)},
                                  {"redirect_uris", QString::fromUtf8(kRedirect)},
                                  {"scopes", QString::fromUtf8(kScopes)},
                                  {"website", QString::fromUtf8(kWebsite)}});
    call(httpPOST, path, body, {}, [this, path](const THttpCliResult& result, const QByteArray& reply) {
        const QJsonObject app = JsonObjectOf(reply);
        const TOAuthClient client{app.value(QLatin1String("client_id")).toString(),
                                  app.value(QLatin1String("client_secret")).toString()};
        if (!result.Accepted() || client.Id.isEmpty() || client.Secret.isEmpty()) {
            fail(failureLine(result, reply, path));
            return;
        }
        qCInfo(lcService).noquote() << "registered at" << m_origin;
        m_client = client;
        Q_EMIT ClientChanged(m_client);
        authorize();
    });
}

void TFediverseSignIn::authorize()
{
    // Fresh for every sign-in: a code shown for an earlier page is worth nothing now.
    m_verifier = RandomUrlSafe(32);
    m_state = RandomUrlSafe(16);
    Q_EMIT AuthorizationReady(AuthorizationPage(m_origin, m_client.Id, m_state, m_verifier));
}

void TFediverseSignIn::ExchangeCode(const QString& pasted)
{
    if (refusedPlainHttp())
        return;
    QString code = pasted.trimmed();
    // The address the page went to, or its query, carries the state to check as well.
    if (code.contains(QLatin1String("code="))) {
        const QUrlQuery query(code.mid(code.indexOf(u'?') + 1));
        const QString state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
        code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
        if (!state.isEmpty() && state.toUtf8() != m_state) {
            QMetaObject::invokeMethod(this, [this] { fail(QCoreApplication::translate("FediverseSignIn", "この認証コードは今回のサインインのものではありません")); },
                                      Qt::QueuedConnection);
            return;
        }
    }
    if (m_verifier.isEmpty() || m_client.Id.isEmpty() || code.isEmpty()) {
        QMetaObject::invokeMethod(this, [this] { fail(QCoreApplication::translate("FediverseSignIn", "先に認証ページを開き、表示されたコードを貼り付けてください")); },
                                  Qt::QueuedConnection);
        return;
    }
    const QByteArray path = "/oauth/token";
    // The client's credentials in the body: GoToSocial takes them nowhere else.
    const QByteArray body = Form({{"grant_type", QStringLiteral("authorization_code")},
                                  {"code", code},
                                  {"client_id", m_client.Id},
                                  {"client_secret", m_client.Secret},
                                  {"redirect_uri", QString::fromUtf8(kRedirect)},
                                  {"code_verifier", QString::fromLatin1(m_verifier)}});
    call(httpPOST, path, body, {}, [this, path](const THttpCliResult& result, const QByteArray& reply) {
        const QJsonObject answer = JsonObjectOf(reply);
        const QString token = answer.value(QLatin1String("access_token")).toString();
        if (!result.Accepted() || token.isEmpty()) {
            // Only a registration the server no longer knows is made anew at the next try;
            // a wrong or old code keeps it.
            if (result.StatusCode == 401 || answer.value(QLatin1String("error")).toString() == QLatin1String("invalid_client")) {
                m_client = {};
                Q_EMIT ClientChanged(m_client);
            }
            fail(failureLine(result, reply, path));
            return;
        }
        m_verifier.clear();
        TSignedIn signedIn;
        signedIn.Token = token;
        verify(FediverseAuthorization(token, {}, {}), signedIn);
    });
}

void TFediverseSignIn::UseToken(const QString& token)
{
    if (refusedPlainHttp())
        return;
    TSignedIn signedIn;
    signedIn.Token = token.trimmed();
    verify(FediverseAuthorization(signedIn.Token, {}, {}), signedIn);
}

void TFediverseSignIn::UsePassword(const QString& account, const QString& password)
{
    if (refusedPlainHttp())
        return;
    TSignedIn signedIn;
    signedIn.Password = password;
    signedIn.AccountName = account;
    verify(FediverseAuthorization({}, account, password), signedIn);
}

void TFediverseSignIn::verify(const QByteArray& authorization, TSignedIn signedIn)
{
    if (authorization.isEmpty()) {
        QMetaObject::invokeMethod(this, [this] { fail(QCoreApplication::translate("FediverseSignIn", "トークン、またはユーザ名とパスワードを入れてください")); },
                                  Qt::QueuedConnection);
        return;
    }
    const QByteArray path = "/api/v1/accounts/verify_credentials";
    call(httpGET, path, {}, authorization,
         [this, path, signedIn](const THttpCliResult& result, const QByteArray& reply) mutable {
             const QString name = JsonObjectOf(reply).value(QLatin1String("username")).toString();
             if (!result.Accepted() || name.isEmpty()) {
                 fail(failureLine(result, reply, path));
                 return;
             }
             signedIn.Ok = true;
             signedIn.AccountName = name;
             signedIn.Client = m_client;
             qCInfo(lcService).noquote() << "signed in at" << m_origin << "as" << name;
             Q_EMIT Finished(signedIn);
         });
}

// ---------------------------------------------------------------------------------------

QByteArray PkceChallenge(const QByteArray& verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QUrl AuthorizationPage(const QString& origin, const QString& clientId, const QByteArray& state,
                       const QByteArray& verifier)
{
    QUrl page(origin + QStringLiteral("/oauth/authorize"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), QString::fromUtf8(QUrl::toPercentEncoding(clientId)));
    query.addQueryItem(QStringLiteral("redirect_uri"),
                       QString::fromUtf8(QUrl::toPercentEncoding(QString::fromUtf8(TFediverseSignIn::kRedirect))));
    query.addQueryItem(QStringLiteral("scope"), QStringLiteral("read%20write"));
    query.addQueryItem(QStringLiteral("state"), QString::fromLatin1(state));
    query.addQueryItem(QStringLiteral("code_challenge"), QString::fromLatin1(PkceChallenge(verifier)));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    page.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return page;
}

QString PlainHttpSignInRefusal(const QString& origin)
{
    if (!SendsPasswordInTheClear(origin))
        return QString();
    return QCoreApplication::translate("FediverseSignIn", "暗号化されない http:// ではサインインしません。https:// のアドレスをお使いください: %1").arg(origin);
}

namespace {

QJsonObject StatusesConfiguration(const QJsonObject& instance)
{
    return instance.value(QLatin1String("configuration")).toObject().value(QLatin1String("statuses")).toObject();
}

// A whole count from least to kMaxServerTextLimit; nothing for anything else.
std::optional<int> CountOf(const QJsonValue& value, int least)
{
    const double count = value.toDouble(-1);
    if (!value.isDouble() || count < least || count > kMaxServerTextLimit || count != double(qint64(count)))
        return std::nullopt;
    return int(count);
}

} // namespace

std::optional<int> InstanceTextLimit(const QJsonObject& instance)
{
    QJsonValue limit = StatusesConfiguration(instance).value(QLatin1String("max_characters"));
    if (!limit.isDouble())
        limit = instance.value(QLatin1String("max_toot_chars"));
    return CountOf(limit, 1);
}

std::optional<int> InstanceLinkLength(const QJsonObject& instance)
{
    return CountOf(StatusesConfiguration(instance).value(QLatin1String("characters_reserved_per_url")), 0);
}

QByteArray FediverseAuthorization(const QString& token, const QString& account, const QString& password)
{
    if (!token.isEmpty())
        return "Bearer " + token.toUtf8();
    if (account.isEmpty() || password.isEmpty())
        return QByteArray();
    return "Basic " + (account.toUtf8() + ':' + password.toUtf8()).toBase64();
}
