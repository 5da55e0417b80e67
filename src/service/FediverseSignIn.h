#pragma once

#include "http/NetworkOptions.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QJsonObject;
class THttpCli;
class TJsonCalls;
struct THttpCliResult;

// What an address speaks, found by asking it.
struct TFamilyFound {
    enum TKind { Classic, Fediverse, Neither };
    TKind Kind = Neither;
    QString ApiBase;            // Classic: the address as given; Fediverse: its origin
    QString Software;           // the fediverse server's own "version" text
    bool TakesPassword = false; // it takes the account and password on its client API (Friendica)
    QString Line;               // Neither: the status line that says so
};

// Finds the family of an address: its XML configuration document first (so a server that
// serves both faces, reached at its XML base, stays what it was), then its origin's
// /api/v1/instance. Asks without credentials. Found follows once, from the event loop.
class TFamilyProbe : public QObject {
    Q_OBJECT
public:
    explicit TFamilyProbe(QObject* parent = nullptr);
    ~TFamilyProbe() override;

    // A probe already running is dropped unreported.
    void Start(const QString& address, const TNetworkOptions& network);
    void Abort();
    bool Running() const;

Q_SIGNALS:
    void Found(const TFamilyFound& found);

private:
    void instanceRead(const THttpCliResult& result, const QByteArray& body);

    std::unique_ptr<THttpCli> m_client;
    std::unique_ptr<TJsonCalls> m_calls;
    QString m_address;
    TNetworkOptions m_network;
    int m_configStatus = 0;     // the configuration document's answer
};

// The program's registration on one server.
struct TOAuthClient {
    QString Id;
    QString Secret;
    bool operator==(const TOAuthClient&) const = default;
};

// How a sign-in ended.
struct TSignedIn {
    bool Ok = false;
    QString Line;           // failed: what to tell the user, with the server's own words when it gave any
    QString AccountName;    // the account's username, as verify_credentials gives it
    QString Password;       // signed in with the account and password: kept, sent as Basic
    QString Token;          // signed in with a token: sent as Bearer
    TOAuthClient Client;    // the registration in use, perhaps made on the way
};

// Signs in to a fediverse server on the event loop: the OAuth road (register the program
// once, the authorisation page with state and PKCE, the pasted code exchanged for a
// token), a personal access token pasted as it is, or the account and password of a
// server that takes them. Every road ends by asking verify_credentials who it is.
// Nothing goes over plain http except to this machine.
class TFediverseSignIn : public QObject {
    Q_OBJECT
public:
    static const QByteArray kRedirect;  // the out-of-band redirect: the server shows the code
    static const QByteArray kScopes;

    explicit TFediverseSignIn(QObject* parent = nullptr);
    ~TFediverseSignIn() override;

    // The server (its origin), the network options and the registration known for it (empty: none).
    void SetServer(const QString& origin, const TNetworkOptions& network, const TOAuthClient& client);
    const TOAuthClient& Client() const { return m_client; }

    // Registers the program when it is not (only then), then AuthorizationReady gives the
    // page to open with a fresh state and verifier; a failure ends with Finished.
    void StartAuthorization();
    // The code the page showed, or the address it went to ("...?code=...&state=...").
    void ExchangeCode(const QString& pasted);
    void UseToken(const QString& token);
    void UsePassword(const QString& account, const QString& password);
    // Drops what runs, unreported.
    void Abort();
    bool Busy() const;

Q_SIGNALS:
    void AuthorizationReady(const QUrl& page);
    // The registration changed: made at the server (before its page is ready), or dropped
    // because the server refused it as a client it does not know (empty then). Worth
    // keeping whether or not the sign-in ends well: servers allow few registrations.
    void ClientChanged(const TOAuthClient& client);
    void Finished(const TSignedIn& result);

private:
    using TThen = std::function<void(const THttpCliResult&, const QByteArray&)>;
    void call(int method, const QByteArray& path, const QByteArray& body, const QByteArray& authorization, TThen then);
    void verify(const QByteArray& authorization, TSignedIn signedIn);
    void fail(const QString& line);
    QString failureLine(const THttpCliResult& result, const QByteArray& body, const QByteArray& path) const;
    bool refusedPlainHttp();
    void authorize();

    std::unique_ptr<THttpCli> m_http;
    std::unique_ptr<TJsonCalls> m_calls;
    QString m_origin;
    TNetworkOptions m_network;
    TOAuthClient m_client;
    QByteArray m_verifier;      // of the authorisation under way
    QByteArray m_state;
};

// The S256 challenge of a PKCE verifier: base64url of its SHA-256, without padding.
QByteArray PkceChallenge(const QByteArray& verifier);

// The authorisation page's address for a registration, state and verifier.
QUrl AuthorizationPage(const QString& origin, const QString& clientId, const QByteArray& state,
                       const QByteArray& verifier);

// The line that refuses to sign in over plain http to a host beyond this machine; empty
// when the origin may be used.
QString PlainHttpSignInRefusal(const QString& origin);

// The posting limit an instance document publishes: configuration.statuses.max_characters
// (v2, and v1 of newer servers), else max_toot_chars; nothing when it says none.
std::optional<int> InstanceTextLimit(const QJsonObject& instance);
// What a link counts as in a status, as the same document publishes it:
// configuration.statuses.characters_reserved_per_url; nothing when it says none (a link
// then counts its own characters).
std::optional<int> InstanceLinkLength(const QJsonObject& instance);

// The Authorization value for a fediverse account's requests: its token as Bearer, else
// its account and password as Basic; empty without either.
QByteArray FediverseAuthorization(const QString& token, const QString& account, const QString& password);
