#include "FediFace.h"

#include "FormCodec.h"
#include "StatusJson.h"
#include "Store.h"
#include "StreamSocket.h"

#include <httplib.h>
#include <openssl/evp.h>

#include <QJsonDocument>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <set>

namespace localservice {

namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";
constexpr const char* kHtmlType = "text/html; charset=utf-8";
constexpr const char* kOob = "urn:ietf:wg:oauth:2.0:oob";
constexpr std::int64_t kGrantSeconds = 600;
constexpr auto kIdempotencyWindow = std::chrono::hours(1);
constexpr const char* kInvalidGrant =
    "The provided authorization grant is invalid, expired, revoked, does not match the redirection URI used in the "
    "authorization request, or was issued to another client.";
constexpr const char* kInvalidClient =
    "Client authentication failed due to unknown client, no client authentication included, or unsupported "
    "authentication method.";

using Clock = std::chrono::steady_clock;

std::string jsonText(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string jsonText(const QJsonArray& array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

// PKCE S256: the challenge is base64url(SHA-256(verifier)) without padding.
bool verifierMatches(const std::string& verifier, const std::string& challenge)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (verifier.size() < 43 || verifier.size() > 128
        || EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return false;
    return base64Url(digest, length) == challenge;
}

std::vector<std::string> words(std::string_view text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t\r\n+", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(text.find_first_of(" \t\r\n+", start), text.size());
        out.emplace_back(text.substr(start, end - start));
        at = end;
    }
    return out;
}

// Whether the granted scopes cover the wanted one: "read" covers "read:statuses".
bool covers(const std::string& granted, std::string_view wanted)
{
    for (const std::string& scope : words(granted)) {
        if (scope == wanted || (wanted.substr(0, scope.size()) == scope && wanted.size() > scope.size()
                                && wanted[scope.size()] == ':'))
            return true;
    }
    return false;
}

std::string percentEncode(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// "types[]" and "types[0]" (as some clients number the members) are "types".
std::string bareName(std::string name)
{
    const std::size_t open = name.find('[');
    if (open != std::string::npos && open > 0 && name.back() == ']'
        && name.find_first_not_of("0123456789", open + 1) == name.size() - 1)
        name.resize(open);
    return name;
}

// The request's parameters from its query and its body, form, JSON or multipart alike.
// Array members count under their bare name.
class Params {
public:
    explicit Params(const httplib::Request& req)
    {
        for (const auto& [name, value] : req.params)
            add(name, value);
        for (const auto& [name, file] : req.files)
            add(name, file.content);
        if (req.get_header_value("Content-Type").rfind("application/json", 0) == 0) {
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
            const QJsonObject object = doc.object();
            for (auto it = object.begin(); it != object.end(); ++it) {
                const std::string name = it.key().toStdString();
                if (it->isArray()) {
                    for (const QJsonValue& v : it->toArray())
                        add(name, text(v));
                } else if (!it->isNull()) {
                    add(name, text(*it));
                }
            }
        }
    }

    const std::string* find(const std::string& name) const
    {
        const auto it = m_values.find(bareName(name));
        return it == m_values.end() ? nullptr : &it->second;
    }
    std::string value(const std::string& name) const
    {
        const std::string* v = find(name);
        return v ? *v : std::string();
    }
    std::vector<std::string> all(const std::string& name) const
    {
        std::vector<std::string> out;
        const auto [from, to] = m_values.equal_range(bareName(name));
        for (auto it = from; it != to; ++it)
            out.push_back(it->second);
        return out;
    }

private:
    static std::string text(const QJsonValue& v)
    {
        if (v.isString())
            return v.toString().toStdString();
        if (v.isBool())
            return v.toBool() ? "true" : "false";
        if (v.isDouble())
            return QString::number(v.toDouble(), 'g', 17).toStdString();
        return {};
    }
    void add(const std::string& name, const std::string& value) { m_values.emplace(bareName(name), value); }

    std::multimap<std::string, std::string> m_values;
};

struct Caller {
    std::int64_t userId = 0;
    std::string scopes;
    std::string appName;
};

// One open event stream: what happened since it last wrote, for its account.
struct Listener {
    std::int64_t userId = 0;
    std::deque<Store::Change> pending;
};

} // namespace

class FediFace::Impl {
public:
    Impl(Store& store, const ServiceOptions& options) : m_store(store), m_options(options)
    {
        m_store.setObserver([this](const Store::Change& change) { publish(change); });
        // The WebSocket stream beside the server-sent events, for clients that speak only
        // that; plain ws:// only, so over https there is none.
        if (streams() && m_options.tlsCertPath.empty()) {
            m_socket = std::make_unique<StreamSocket>(
                [this](const WebSocketConnection& c) { return socketProtocol(c); },
                [this](WebSocketConnection& c) { serveSocket(c); });
        }
    }
    ~Impl()
    {
        stop();
        m_socket.reset();
        m_store.setObserver(nullptr);
    }

    Flavour flavour() const { return m_options.flavour; }

    JsonContext context(const httplib::Request& req) const
    {
        // The Host line names the origin the client reached; anything odd in it is not echoed.
        std::string host = req.get_header_value("Host");
        if (host.empty() || host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]")
                                != std::string::npos)
            host = "127.0.0.1";
        JsonContext c;
        c.flavour = flavour();
        c.origin = (m_options.tlsCertPath.empty() ? "http://" : "https://") + host;
        c.findUser = [this](const std::string& name) { return m_store.userByName(name); };
        return c;
    }

    int statusLimit() const
    {
        return m_options.textLimit > 0 ? m_options.textLimit : defaultStatusLimit(flavour());
    }

    // ---- answers

    void json(httplib::Response& res, const std::string& body, int status = 200)
    {
        res.status = status;
        res.set_content(body, kJsonType);
    }
    void error(httplib::Response& res, int status, const std::string& message)
    {
        json(res, jsonText(QJsonObject{{"error", QString::fromStdString(message)}}), status);
    }
    void notFound(httplib::Response& res)
    {
        error(res, 404, flavour() == Flavour::GoToSocial ? "Not Found" : "Record not found");
    }
    void oauthError(httplib::Response& res, int status, const char* code, const char* description)
    {
        json(res, jsonText(QJsonObject{{"error", code}, {"error_description", description}}), status);
    }

    // Each server refuses a missing or unknown token in its own way.
    void refuseToken(httplib::Response& res)
    {
        switch (flavour()) {
        case Flavour::Akkoma:
            return error(res, 403, "Invalid credentials.");
        case Flavour::Friendica:
            res.set_header("WWW-Authenticate", "Basic realm=\"Friendica\"");
            res.status = 401;
            return res.set_content("<!DOCTYPE html>\n<html><head><title>401 Unauthorized</title></head>"
                                   "<body><h1>Unauthorized</h1><p>Permission denied.</p></body></html>\n",
                                   kHtmlType);
        case Flavour::GoToSocial:
            res.set_header("WWW-Authenticate", "Bearer");
            return error(res, 401, "Unauthorized: token not supplied or invalid");
        case Flavour::Mastodon:
            break;
        }
        res.set_header("WWW-Authenticate", "Bearer realm=\"Doorkeeper\", error=\"invalid_token\", "
                                            "error_description=\"The access token is invalid\"");
        error(res, 401, "The access token is invalid");
    }

    std::optional<Caller> caller(const httplib::Request& req)
    {
        const std::string header = req.get_header_value("Authorization");
        std::string token;
        if (header.size() > 7 && strncasecmp(header.c_str(), "Bearer ", 7) == 0)
            token = header.substr(7);
        else if (header.empty() && req.has_param("access_token"))
            token = req.get_param_value("access_token");
        if (!token.empty()) {
            const auto owner = m_store.tokenOwner(token);
            if (!owner)
                return std::nullopt;
            return Caller{owner->userId, owner->scopes, owner->appName};
        }
        // Friendica takes the account's name and password on these calls as well.
        if (flavour() == Flavour::Friendica && header.size() > 6 && strncasecmp(header.c_str(), "Basic ", 6) == 0) {
            const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(header.substr(6)),
                                                              QByteArray::AbortOnBase64DecodingErrors);
            const qsizetype colon = decoded.indexOf(':');
            if (colon > 0) {
                if (const auto id = m_store.authenticate(decoded.left(colon).toStdString(),
                                                         decoded.mid(colon + 1).toStdString()))
                    return Caller{*id, "read write", ""};
            }
        }
        return std::nullopt;
    }

    // Rate headers on every signed-in answer except Akkoma's; true when over the limit
    // (the answer is then written).
    bool overLimit(std::int64_t user, httplib::Response& res)
    {
        const bool enforced = m_options.rateLimitCount > 0;
        const int limit = enforced ? m_options.rateLimitCount : 300;
        const auto window = std::chrono::seconds(enforced ? m_options.rateLimitWindowSeconds : 300);
        const auto now = Clock::now();
        std::size_t used;
        Clock::time_point oldest;
        bool over = false;
        {
            std::lock_guard lock(m_limitMutex);
            auto& times = m_requestTimes[user];
            while (!times.empty() && now - times.front() >= window)
                times.pop_front();
            over = enforced && times.size() >= static_cast<std::size_t>(limit);
            if (!over)
                times.push_back(now);
            used = times.size();
            oldest = times.empty() ? now : times.front();
        }
        const auto reset = std::chrono::duration_cast<std::chrono::seconds>(oldest + window - now).count();
        if (flavour() != Flavour::Akkoma) {
            res.set_header("X-RateLimit-Limit", std::to_string(limit));
            res.set_header("X-RateLimit-Remaining", std::to_string(limit - std::min<std::size_t>(used, limit)));
            res.set_header("X-RateLimit-Reset", isoDate(static_cast<std::int64_t>(std::time(nullptr)) + reset));
        }
        if (!over)
            return false;
        res.set_header("Retry-After", std::to_string(std::max<std::int64_t>(1, reset)));
        error(res, 429, flavour() == Flavour::Akkoma ? "Throttled" : "Too many requests");
        return true;
    }

    // ---- routing

    void handle(const httplib::Request& req, httplib::Response& res)
    {
        const std::string& path = req.path;
        const std::string& method = req.method;
        const bool get = method == "GET" || method == "HEAD";
        const bool post = method == "POST";

        if (path == "/api/v1/apps" && post)
            return registerApp(req, res);
        if (path == "/oauth/authorize" && (get || post))
            return get ? authorizePage(req, res) : authorizeAnswer(req, res);
        if ((path == "/oauth/authorize/native" || path == "/oauth/oob") && get)
            return codePage(req, res);
        if (path == "/oauth/token" && post)
            return token(req, res);
        if (path == "/api/v1/instance" && get)
            return instance(req, res, 1);
        if (path == "/api/v2/instance" && get)
            return instance(req, res, 2);
        if (path == "/api/v1/streaming/health" && get && streams())
            return res.set_content("OK", "text/plain");
        if (path == "/api/v1/streaming/user" && get && flavour() == Flavour::Friendica)
            return error(res, 501, "Not implemented");

        std::optional<std::string> statusAction;  // "", "favourite", ...
        std::string statusId;
        constexpr std::string_view statuses = "/api/v1/statuses/";
        if (path.rfind(statuses, 0) == 0) {
            const std::string rest = path.substr(statuses.size());
            const std::size_t slash = rest.find('/');
            statusId = rest.substr(0, slash);
            statusAction = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        }
        std::string notificationId;
        constexpr std::string_view notifications = "/api/v1/notifications/";
        if (path.rfind(notifications, 0) == 0)
            notificationId = path.substr(notifications.size());

        enum class Call { None, Me, Home, Notifications, Notification, Post, Status, Favourite, Unfavourite, Reblog, Stream };
        Call call = Call::None;
        const char* scope = "read";
        if (get && path == "/api/v1/accounts/verify_credentials")
            call = Call::Me, scope = "read:accounts";
        else if (get && path == "/api/v1/timelines/home")
            call = Call::Home, scope = "read:statuses";
        else if (get && path == "/api/v1/notifications")
            call = Call::Notifications, scope = "read:notifications";
        else if (get && !notificationId.empty() && notificationId.find('/') == std::string::npos)
            call = Call::Notification, scope = "read:notifications";
        else if (post && path == "/api/v1/statuses")
            call = Call::Post, scope = "write:statuses";
        else if (get && statusAction && statusAction->empty())
            call = Call::Status, scope = "read:statuses";
        else if (post && statusAction == "favourite")
            call = Call::Favourite, scope = "write:favourites";
        else if (post && statusAction == "unfavourite")
            call = Call::Unfavourite, scope = "write:favourites";
        else if (post && statusAction == "reblog")
            call = Call::Reblog, scope = "write:statuses";
        else if (get && path == "/api/v1/streaming/user" && streams())
            call = Call::Stream, scope = "read:statuses";
        if (call == Call::None)
            return notFound(res);

        const auto who = caller(req);
        if (!who)
            return refuseToken(res);
        if (!covers(who->scopes, scope))
            return error(res, 403, "This action is outside the authorized scopes");
        if (call != Call::Stream && overLimit(who->userId, res))
            return;
        switch (call) {
        case Call::Me: return me(req, res, *who);
        case Call::Home: return home(req, res, *who);
        case Call::Notifications: return notificationList(req, res, *who);
        case Call::Notification: return oneNotification(req, res, *who, notificationId);
        case Call::Post: return postStatus(req, res, *who);
        case Call::Status: return oneStatus(req, res, *who, statusId);
        case Call::Favourite: return favourite(req, res, *who, statusId, true);
        case Call::Unfavourite: return favourite(req, res, *who, statusId, false);
        case Call::Reblog: return reblog(req, res, *who, statusId);
        case Call::Stream: return stream(req, res, *who);
        case Call::None: break;
        }
    }

    // GoToSocial and Akkoma stream over WebSocket only, Friendica not at all.
    bool streams() const { return flavour() == Flavour::Mastodon; }

    // ---- sign-in

    void registerApp(const httplib::Request& req, httplib::Response& res)
    {
        const Params params(req);
        const std::string name = params.value("client_name");
        std::vector<std::string> redirects;
        for (const std::string& value : params.all("redirect_uris")) {
            for (const std::string& uri : words(value))
                redirects.push_back(uri);
        }
        if (name.empty() || !isValidUtf8(name))
            return error(res, 422, "Validation failed: Application name can't be blank");
        if (utf16Length(name) > 60)
            return error(res, 422, "Validation failed: Application name is too long (maximum is 60 characters)");
        if (redirects.empty())
            return error(res, 422, "Validation failed: Redirect URI must be an absolute URI.");
        for (const std::string& uri : redirects) {
            if (uri != kOob && uri.find("://") == std::string::npos)
                return error(res, 422, "Validation failed: Redirect URI must be an absolute URI.");
        }
        // Friendica keeps the first address only.
        if (flavour() == Flavour::Friendica)
            redirects.resize(1);
        const std::string scopes = params.find("scopes") ? params.value("scopes") : "read";
        for (const std::string& scope : words(scopes)) {
            if (!knownScope(scope))
                return error(res, 422, "Validation failed: Scopes doesn't match configured on the server.");
        }
        std::string joinedRedirects;
        for (const std::string& uri : redirects)
            joinedRedirects += (joinedRedirects.empty() ? "" : "\n") + uri;
        const std::string website = params.value("website");
        const Store::App app = m_store.createApp(name, isValidUtf8(website) ? website : std::string(), joinedRedirects,
                                                 scopes.empty() ? "read" : scopes);
        json(res, jsonText(QJsonObject{
                      {"id", QString::number(app.id)},
                      {"name", QString::fromStdString(app.name)},
                      {"website", app.website.empty() ? QJsonValue(QJsonValue::Null) : QString::fromStdString(app.website)},
                      {"scopes", QJsonArray::fromStringList(QString::fromStdString(app.scopes).split(' ', Qt::SkipEmptyParts))},
                      {"redirect_uri", QString::fromStdString(app.redirectUris)},
                      {"redirect_uris", QJsonArray::fromStringList(QString::fromStdString(app.redirectUris).split('\n'))},
                      {"client_id", QString::fromStdString(app.clientId)},
                      {"client_secret", QString::fromStdString(app.clientSecret)},
                      {"vapid_key", ""},
                  }));
    }

    static bool knownScope(const std::string& scope)
    {
        static const std::set<std::string> known = {
            "read", "write", "follow", "push", "profile", "read:accounts", "read:statuses", "read:notifications",
            "read:favourites", "read:blocks", "read:bookmarks", "read:filters", "read:follows", "read:lists",
            "read:mutes", "read:search", "write:statuses", "write:favourites", "write:media", "write:accounts",
            "write:blocks", "write:bookmarks", "write:conversations", "write:filters", "write:follows",
            "write:lists", "write:mutes", "write:notifications", "write:reports"};
        return known.count(scope) > 0;
    }

    static bool listed(const Store::App& app, const std::string& redirect)
    {
        std::size_t start = 0;
        const std::string& all = app.redirectUris;
        while (start <= all.size()) {
            const std::size_t end = std::min(all.find('\n', start), all.size());
            if (all.compare(start, end - start, redirect) == 0)
                return true;
            start = end + 1;
        }
        return false;
    }

    struct AuthorizeRequest {
        std::optional<Store::App> app;
        std::string redirect, scopes, state, challenge;
        std::string problem;  // why it cannot go on
    };

    AuthorizeRequest readAuthorize(const Params& params)
    {
        AuthorizeRequest a;
        a.app = m_store.appByClientId(params.value("client_id"));
        a.redirect = params.value("redirect_uri");
        a.scopes = params.find("scope") ? params.value("scope") : "read";
        a.state = params.value("state");
        if (!a.app)
            a.problem = "Client authentication failed due to unknown client.";
        else if (params.value("response_type") != "code")
            a.problem = "The authorization server does not support this response type.";
        else if (!listed(*a.app, a.redirect))
            a.problem = "The redirect uri included is not valid.";
        for (const std::string& scope : words(a.scopes)) {
            if (a.problem.empty() && a.app && !covers(a.app->scopes, scope))
                a.problem = "The requested scope is invalid, unknown, or malformed.";
        }
        // Only Mastodon checks PKCE; the others ignore what is sent.
        if (flavour() == Flavour::Mastodon && params.find("code_challenge")) {
            if (params.value("code_challenge_method") != "S256")
                a.problem = "Code challenge method must be S256.";
            a.challenge = params.value("code_challenge");
        }
        return a;
    }

    static std::string page(const std::string& title, const std::string& body)
    {
        return "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\"><title>" + htmlEscape(title)
               + "</title></head>\n<body>\n<h1>" + htmlEscape(title) + "</h1>\n" + body + "</body></html>\n";
    }

    std::string approveForm(const Params& params, const AuthorizeRequest& a, const std::string& note)
    {
        std::string hidden;
        for (const char* name : {"client_id", "redirect_uri", "response_type", "scope", "state", "code_challenge",
                                 "code_challenge_method"}) {
            if (params.find(name))
                hidden += "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\""
                          + htmlEscape(params.value(name)) + "\">\n";
        }
        return page("Authorize " + a.app->name,
                    (note.empty() ? "" : "<p class=\"error\">" + htmlEscape(note) + "</p>\n")
                        + "<p><b>" + htmlEscape(a.app->name) + "</b> asks for: <code>" + htmlEscape(a.scopes)
                        + "</code></p>\n<form method=\"post\" action=\"/oauth/authorize\">\n" + hidden
                        + "<label>Account <input name=\"username\" autocomplete=\"username\"></label>\n"
                          "<label>Password <input name=\"password\" type=\"password\" autocomplete=\"current-password\"></label>\n"
                          "<button type=\"submit\" name=\"approve\" value=\"1\">Authorize</button>\n</form>\n");
    }

    void authorizePage(const httplib::Request& req, httplib::Response& res)
    {
        const Params params(req);
        const AuthorizeRequest a = readAuthorize(params);
        if (!a.problem.empty()) {
            res.status = 400;
            return res.set_content(page("Authorization failed", "<p>" + htmlEscape(a.problem) + "</p>\n"), kHtmlType);
        }
        res.set_content(approveForm(params, a, ""), kHtmlType);
    }

    void authorizeAnswer(const httplib::Request& req, httplib::Response& res)
    {
        const Params params(req);
        const AuthorizeRequest a = readAuthorize(params);
        if (!a.problem.empty()) {
            res.status = 400;
            return res.set_content(page("Authorization failed", "<p>" + htmlEscape(a.problem) + "</p>\n"), kHtmlType);
        }
        const auto user = m_store.authenticate(params.value("username"), params.value("password"));
        if (!user) {
            res.status = 401;
            return res.set_content(approveForm(params, a, "Wrong account name or password."), kHtmlType);
        }
        const std::string code = m_store.createGrant({a.app->id, *user, a.redirect, a.scopes, a.challenge, 0});
        std::string location;
        if (a.redirect == kOob) {
            location = std::string(flavour() == Flavour::GoToSocial ? "/oauth/oob" : "/oauth/authorize/native")
                       + "?code=" + percentEncode(code);
        } else {
            location = a.redirect + (a.redirect.find('?') == std::string::npos ? "?" : "&") + "code=" + percentEncode(code);
            if (!a.state.empty())
                location += "&state=" + percentEncode(a.state);
        }
        res.status = 302;
        res.set_header("Location", location);
        res.set_content(page("Redirecting", "<p><a href=\"" + htmlEscape(location) + "\">Continue</a></p>\n"), kHtmlType);
    }

    void codePage(const httplib::Request& req, httplib::Response& res)
    {
        const std::string code = req.get_param_value("code");
        res.set_content(page("Authorization code", "<p>Copy this code and paste it into the application:</p>\n"
                                                   "<p><code id=\"code\">" + htmlEscape(code) + "</code></p>\n"),
                        kHtmlType);
    }

    void token(const httplib::Request& req, httplib::Response& res)
    {
        const Params params(req);
        std::string clientId = params.value("client_id");
        std::string secret = params.value("client_secret");
        // The client's credentials may come as Basic, except on GoToSocial (body only).
        const std::string header = req.get_header_value("Authorization");
        if (flavour() != Flavour::GoToSocial && header.size() > 6 && strncasecmp(header.c_str(), "Basic ", 6) == 0) {
            const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(header.substr(6)));
            const qsizetype colon = decoded.indexOf(':');
            if (colon > 0) {
                clientId = QByteArray::fromPercentEncoding(decoded.left(colon)).toStdString();
                secret = QByteArray::fromPercentEncoding(decoded.mid(colon + 1)).toStdString();
            }
        }
        const auto app = m_store.appByClientId(clientId);
        if (!app || app->clientSecret != secret)
            return oauthError(res, 401, "invalid_client", kInvalidClient);
        const std::string grantType = params.value("grant_type");
        std::int64_t user = 0;
        std::string scopes;
        if (grantType == "authorization_code") {
            const auto grant = m_store.takeGrant(params.value("code"));
            const std::int64_t age = grant ? static_cast<std::int64_t>(std::time(nullptr)) - grant->createdAt : 0;
            if (!grant || grant->appId != app->id || age > kGrantSeconds || grant->redirectUri != params.value("redirect_uri")
                || (!grant->challenge.empty() && !verifierMatches(params.value("code_verifier"), grant->challenge)))
                return oauthError(res, 400, "invalid_grant", kInvalidGrant);
            user = grant->userId;
            scopes = grant->scopes;
        } else if (grantType == "password" && flavour() == Flavour::Akkoma) {
            const auto id = m_store.authenticate(params.value("username"), params.value("password"));
            if (!id)
                return oauthError(res, 400, "invalid_grant", kInvalidGrant);
            user = *id;
            scopes = params.find("scope") ? params.value("scope") : app->scopes;
        } else {
            return oauthError(res, 400, "unsupported_grant_type",
                              "The authorization grant type is not supported by the authorization server.");
        }
        const std::string token = m_store.createToken(app->id, user, scopes);
        json(res, jsonText(QJsonObject{{"access_token", QString::fromStdString(token)},
                                       {"token_type", "Bearer"},
                                       {"scope", QString::fromStdString(scopes)},
                                       {"created_at", static_cast<qint64>(std::time(nullptr))}}));
    }

    // ---- reading

    void me(const httplib::Request& req, httplib::Response& res, const Caller& who)
    {
        const auto user = m_store.user(who.userId);
        if (!user)
            return refuseToken(res);
        QJsonObject account = accountJson(*user, context(req));
        account.insert("source", QJsonObject{{"privacy", "public"},
                                             {"sensitive", false},
                                             {"language", "ja"},
                                             {"note", QString::fromStdString(user->description)},
                                             {"fields", QJsonArray()}});
        json(res, jsonText(account));
    }

    // Reads max_id, since_id, min_id and limit; false with the answer written when one
    // of them is not this server's.
    bool readWindow(const httplib::Request& req, httplib::Response& res, int defaultLimit, int maxLimit,
                    Store::Window* window)
    {
        for (const auto& [name, field] : {std::pair{"max_id", &Store::Window::maxId},
                                          std::pair{"since_id", &Store::Window::sinceId},
                                          std::pair{"min_id", &Store::Window::minId}}) {
            const std::string value = req.get_param_value(name);
            if (value.empty())
                continue;
            const auto row = rowId(flavour(), value);
            if (!row) {
                error(res, 400, std::string(name) + " is not an id this server gave: \"" + value + "\"");
                return false;
            }
            window->*field = *row;
        }
        window->limit = defaultLimit;
        const std::string limit = req.get_param_value("limit");
        if (!limit.empty()) {
            char* end = nullptr;
            const long value = std::strtol(limit.c_str(), &end, 10);
            if (end && *end == '\0' && value > 0)
                window->limit = static_cast<int>(std::min<long>(value, maxLimit));
        }
        return true;
    }

    // Link: the next page (older) after the last id, the previous (newer) before the first.
    void link(const httplib::Request& req, httplib::Response& res, const JsonContext& c, const std::string& first,
              const std::string& last)
    {
        std::string keep;
        for (const auto& [name, value] : req.params) {
            const std::string bare = bareName(name);
            if (bare == "limit" || bare == "types" || bare == "exclude_types")
                keep += percentEncode(name) + "=" + percentEncode(value) + "&";
        }
        const std::string base = c.origin + req.path + "?" + keep;
        res.set_header("Link", "<" + base + "max_id=" + percentEncode(last) + ">; rel=\"next\", <" + base
                                   + "min_id=" + percentEncode(first) + ">; rel=\"prev\"");
    }

    void home(const httplib::Request& req, httplib::Response& res, const Caller& who)
    {
        Store::Window window;
        if (!readWindow(req, res, 20, 40, &window))
            return;
        const JsonContext c = context(req);
        QJsonArray page;
        for (const StatusRecord& status : m_store.homeTimeline(who.userId, window))
            page.append(statusJson(status, c));
        if (!page.isEmpty())
            link(req, res, c, page.first()["id"].toString().toStdString(), page.last()["id"].toString().toStdString());
        json(res, jsonText(page));
    }

    void notificationList(const httplib::Request& req, httplib::Response& res, const Caller& who)
    {
        Store::Window window;
        if (!readWindow(req, res, 40, 80, &window))
            return;
        const Params params(req);
        // Akkoma ignores types[]; Friendica knows exclude_types[] alone.
        std::vector<std::string> types;
        if (flavour() == Flavour::Mastodon || flavour() == Flavour::GoToSocial)
            types = params.all("types");
        const JsonContext c = context(req);
        QJsonArray page;
        for (const auto& n : m_store.notifications(who.userId, window, types, params.all("exclude_types")))
            page.append(notificationJson(n, c));
        if (!page.isEmpty())
            link(req, res, c, page.first()["id"].toString().toStdString(), page.last()["id"].toString().toStdString());
        json(res, jsonText(page));
    }

    void oneNotification(const httplib::Request& req, httplib::Response& res, const Caller& who, const std::string& id)
    {
        const auto row = rowId(flavour(), id);
        const auto n = row ? m_store.notification(who.userId, *row) : std::nullopt;
        if (!n)
            return notFound(res);
        json(res, jsonText(notificationJson(*n, context(req))));
    }

    std::optional<StatusRecord> visibleStatus(const Caller& who, const std::string& id)
    {
        const auto row = rowId(flavour(), id);
        auto status = row ? m_store.status(who.userId, *row) : std::nullopt;
        if (status && status->user.isProtected && !m_store.follows(who.userId, status->user.id))
            return std::nullopt;
        return status;
    }

    void oneStatus(const httplib::Request& req, httplib::Response& res, const Caller& who, const std::string& id)
    {
        const auto status = visibleStatus(who, id);
        if (!status)
            return notFound(res);
        json(res, jsonText(statusJson(*status, context(req))));
    }

    // ---- talking

    // Characters as the server counts them: code points, a link as the flavour publishes
    // (23 on Mastodon), else as its own characters.
    std::size_t counted(const std::string& text) const
    {
        const std::optional<int> link = linkLength(flavour());
        std::size_t count = 0;
        for (std::size_t i = 0; i < text.size();) {
            const std::string_view rest = std::string_view(text).substr(i);
            if (link && (rest.substr(0, 7) == "http://" || rest.substr(0, 8) == "https://")) {
                std::size_t end = i;
                while (end < text.size() && static_cast<unsigned char>(text[end]) > ' ')
                    ++end;
                count += static_cast<std::size_t>(*link);
                i = end;
                continue;
            }
            char32_t cp;
            const std::size_t length = utf8SequenceAt(text, i, &cp);
            i += length ? length : 1;
            ++count;
        }
        return count;
    }

    void postStatus(const httplib::Request& req, httplib::Response& res, const Caller& who)
    {
        const Params params(req);
        const std::string text = params.value("status");
        if (!isValidUtf8(text))
            return error(res, 422, "Validation failed: Text is not valid UTF-8");
        if (text.find_first_not_of(" \t\r\n") == std::string::npos)
            return error(res, 422, "Validation failed: Text can't be blank");
        const std::string spoiler = params.value("spoiler_text");
        if (!isValidUtf8(spoiler))
            return error(res, 422, "Validation failed: Spoiler text is not valid UTF-8");
        // The warning counts towards the limit, as the servers count it.
        const std::size_t length = counted(text) + counted(spoiler);
        const auto limit = static_cast<std::size_t>(statusLimit());
        if (length > limit) {
            switch (flavour()) {
            case Flavour::GoToSocial:
                return error(res, 400, "Bad Request: status too long, " + std::to_string(length)
                                           + " characters provided but limit is " + std::to_string(limit));
            case Flavour::Akkoma:
                return error(res, 422, "The status is over the character limit");
            case Flavour::Mastodon:
            case Flavour::Friendica:
                break;
            }
            return error(res, 422, "Validation failed: Text character limit of " + std::to_string(limit) + " exceeded");
        }
        std::int64_t inReplyTo = 0;
        const std::string replyId = params.value("in_reply_to_id");
        if (!replyId.empty()) {
            const auto parent = visibleStatus(who, replyId);
            if (!parent)
                return notFound(res);
            inReplyTo = parent->id;
        }
        // A post sent again with the same key within the hour is the first one.
        std::string key = req.get_header_value("Idempotency-Key");
        if (flavour() == Flavour::GoToSocial)
            key.clear();
        std::unique_lock lock(m_postMutex, std::defer_lock);
        if (!key.empty()) {
            lock.lock();
            const auto now = Clock::now();
            for (auto it = m_postedKeys.begin(); it != m_postedKeys.end();)
                it = now - it->second.second > kIdempotencyWindow ? m_postedKeys.erase(it) : std::next(it);
            const auto found = m_postedKeys.find({who.userId, key});
            if (found != m_postedKeys.end()) {
                if (const auto earlier = m_store.status(who.userId, found->second.first))
                    return json(res, jsonText(statusJson(*earlier, context(req))));
            }
        }
        const std::string source = who.appName.empty() ? "web" : who.appName;
        const StatusRecord stored = m_store.addStatus(who.userId, text, source, false, inReplyTo, spoiler);
        if (!key.empty())
            m_postedKeys[{who.userId, key}] = {stored.id, Clock::now()};
        json(res, jsonText(statusJson(stored, context(req))));
    }

    void favourite(const httplib::Request& req, httplib::Response& res, const Caller& who, const std::string& id, bool on)
    {
        const auto status = visibleStatus(who, id);
        if (!status)
            return notFound(res);
        const auto changed = on ? m_store.favourite(who.userId, status->id) : m_store.unfavourite(who.userId, status->id);
        if (!changed)
            return notFound(res);
        json(res, jsonText(statusJson(*changed, context(req))));
    }

    void reblog(const httplib::Request& req, httplib::Response& res, const Caller& who, const std::string& id)
    {
        const auto status = visibleStatus(who, id);
        if (!status)
            return notFound(res);
        const Store::Repeat repeat = m_store.repeat(who.userId, status->id, 0);
        std::optional<StatusRecord> wrapper = repeat.status;
        switch (repeat.outcome) {
        case Store::Repeat::Done: break;
        // Asking again answers the repeat made before.
        case Store::Repeat::AlreadyRepeated:
            wrapper = m_store.repeatOf(who.userId, status->retweetedStatus ? status->retweetedStatus->id : status->id);
            break;
        case Store::Repeat::NotFound: return notFound(res);
        case Store::Repeat::OwnStatus: return error(res, 422, "Validation failed: This service does not repeat your own statuses");
        case Store::Repeat::Protected: return error(res, 403, "This action is not allowed");
        }
        if (!wrapper)
            return notFound(res);
        json(res, jsonText(statusJson(*wrapper, context(req))));
    }

    // ---- the instance

    void instance(const httplib::Request& req, httplib::Response& res, int version)
    {
        const JsonContext c = context(req);
        const QString host = QString::fromStdString(c.origin.substr(c.origin.find("://") + 3));
        QString streaming = QString::fromStdString((m_options.tlsCertPath.empty() ? "ws://" : "wss://")) + host;
        if (m_socket && m_socket->port() > 0)
            streaming = "ws://127.0.0.1:" + QString::number(m_socket->port());
        const qint64 limit = statusLimit();
        QString versionText;
        switch (flavour()) {
        case Flavour::Mastodon: versionText = "4.3.0"; break;
        case Flavour::GoToSocial: versionText = "0.19.1 git-brimlark"; break;
        case Flavour::Akkoma: versionText = "2.7.2 (compatible; Akkoma 3.16.0)"; break;
        case Flavour::Friendica: versionText = "2.8.0 (compatible; Friendica 2024.09)"; break;
        }
        QJsonObject statuses{{"max_characters", limit}, {"max_media_attachments", 4}};
        if (const std::optional<int> link = linkLength(flavour()))
            statuses.insert("characters_reserved_per_url", *link);
        QJsonObject doc{{"title", "Brimlark local service"},
                        {"version", versionText},
                        {"description", "A local service for trying Brimlark_Simple."},
                        {"languages", QJsonArray{"ja"}}};
        if (version == 2) {
            if (flavour() == Flavour::Akkoma)
                return notFound(res);
            doc.insert("domain", host);
            doc.insert("source_url", "");
            doc.insert("usage", QJsonObject{{"users", QJsonObject{{"active_month", 0}}}});
            doc.insert("thumbnail", QJsonObject{{"url", QString::fromStdString(c.origin + "/thumbnail.png")}});
            doc.insert("configuration", QJsonObject{{"urls", QJsonObject{{"streaming", streaming}}}, {"statuses", statuses}});
            doc.insert("registrations", QJsonObject{{"enabled", false}, {"approval_required", false}, {"message", QJsonValue::Null}});
            doc.insert("contact", QJsonObject{{"email", ""}, {"account", QJsonValue::Null}});
            doc.insert("rules", QJsonArray());
            return json(res, jsonText(doc));
        }
        doc.insert("uri", host);
        doc.insert("short_description", "");
        doc.insert("email", "");
        doc.insert("urls", QJsonObject{{"streaming_api", streaming}});
        doc.insert("stats", QJsonObject{{"user_count", static_cast<qint64>(m_store.count("users"))},
                                        {"status_count", static_cast<qint64>(m_store.count("statuses"))},
                                        {"domain_count", 1}});
        doc.insert("thumbnail", QJsonValue::Null);
        doc.insert("registrations", false);
        doc.insert("approval_required", false);
        doc.insert("invites_enabled", false);
        doc.insert("contact_account", QJsonValue::Null);
        // Akkoma names its limit max_toot_chars and nothing else; GoToSocial gives both.
        if (flavour() == Flavour::Akkoma || flavour() == Flavour::GoToSocial)
            doc.insert("max_toot_chars", limit);
        if (flavour() != Flavour::Akkoma)
            doc.insert("configuration", QJsonObject{{"statuses", statuses}});
        json(res, jsonText(doc));
    }

    // ---- the event stream

    void publish(const Store::Change& change)
    {
        {
            std::lock_guard lock(m_streamMutex);
            for (const auto& listener : m_listeners)
                listener->pending.push_back(change);
        }
        m_streamCv.notify_all();
    }

    // The events one change makes for one account: name and JSON entity.
    std::vector<std::pair<std::string, std::string>> events(const Store::Change& change, std::int64_t userId,
                                                             const JsonContext& c)
    {
        std::vector<std::pair<std::string, std::string>> out;
        if (change.statusId != 0) {
            const auto status = m_store.status(userId, change.statusId);
            if (status && m_store.follows(userId, status->user.id))
                out.emplace_back("update", jsonText(statusJson(*status, c)));
        }
        for (const std::int64_t id : change.notificationIds) {
            if (const auto n = m_store.notification(userId, id))
                out.emplace_back("notification", jsonText(notificationJson(*n, c)));
        }
        return out;
    }

    // The token of a WebSocket upgrade: in the query, as a bearer, or as the protocol.
    std::optional<Caller> socketCaller(const WebSocketConnection& c, bool* asProtocol)
    {
        std::string token;
        const std::string& target = c.target();
        const std::size_t query = target.find('?');
        if (query != std::string::npos) {
            httplib::Params params;
            httplib::detail::parse_query_text(target.substr(query + 1), params);
            const auto it = params.find("access_token");
            if (it != params.end())
                token = it->second;
        }
        const std::string header = c.header("authorization");
        if (token.empty() && header.size() > 7 && strncasecmp(header.c_str(), "Bearer ", 7) == 0)
            token = header.substr(7);
        *asProtocol = false;
        if (token.empty()) {
            token = c.header("sec-websocket-protocol");
            *asProtocol = !token.empty();
        }
        const auto owner = token.empty() ? std::nullopt : m_store.tokenOwner(token);
        if (!owner || !covers(owner->scopes, "read:statuses"))
            return std::nullopt;
        return Caller{owner->userId, owner->scopes, owner->appName};
    }

    std::optional<std::string> socketProtocol(const WebSocketConnection& c)
    {
        bool asProtocol = false;
        if (!socketCaller(c, &asProtocol))
            return std::string();
        return asProtocol ? c.header("sec-websocket-protocol") : std::string("-");
    }

    // Subscriptions come in the query ("stream=user") or as {"type":"subscribe"} messages;
    // each event goes out as {"stream":["user"],"event":...,"payload":"<the entity>"}.
    void serveSocket(WebSocketConnection& connection)
    {
        bool asProtocol = false;
        const auto who = socketCaller(connection, &asProtocol);
        if (!who)
            return;
        bool subscribed = connection.target().find("stream=user") != std::string::npos;
        auto listener = std::make_shared<Listener>();
        listener->userId = who->userId;
        {
            std::lock_guard lock(m_streamMutex);
            m_listeners.push_back(listener);
        }
        JsonContext c;
        c.flavour = flavour();
        c.origin = "http://127.0.0.1";
        c.findUser = [this](const std::string& name) { return m_store.userByName(name); };
        auto lastBeat = Clock::now();
        while (connection.open()) {
            while (const auto message = connection.receive(0)) {
                const QJsonObject m = QJsonDocument::fromJson(QByteArray::fromStdString(*message)).object();
                if (m["stream"].toString().startsWith("user"))
                    subscribed = m["type"] == "subscribe" ? true : m["type"] == "unsubscribe" ? false : subscribed;
            }
            std::deque<Store::Change> changes;
            {
                std::unique_lock lock(m_streamMutex);
                m_streamCv.wait_for(lock, std::chrono::milliseconds(100),
                                    [&] { return m_stopping || !listener->pending.empty(); });
                if (m_stopping)
                    break;
                changes.swap(listener->pending);
            }
            for (const Store::Change& change : changes) {
                for (const auto& [event, payload] : subscribed ? events(change, who->userId, c)
                                                               : std::vector<std::pair<std::string, std::string>>()) {
                    connection.sendText(jsonText(QJsonObject{{"stream", QJsonArray{"user"}},
                                                             {"event", QString::fromStdString(event)},
                                                             {"payload", QString::fromStdString(payload)}}));
                }
            }
            if (Clock::now() - lastBeat > std::chrono::milliseconds(m_options.heartbeatMs)) {
                connection.sendPing();
                lastBeat = Clock::now();
            }
        }
        std::lock_guard lock(m_streamMutex);
        m_listeners.remove(listener);
    }

    void stream(const httplib::Request& req, httplib::Response& res, const Caller& who)
    {
        auto listener = std::make_shared<Listener>();
        listener->userId = who.userId;
        {
            std::lock_guard lock(m_streamMutex);
            if (m_stopping)
                return error(res, 503, "The service is shutting down.");
            m_listeners.push_back(listener);
        }
        const JsonContext c = context(req);
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Accel-Buffering", "no");
        auto greeted = std::make_shared<bool>(false);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, listener, greeted, c](std::size_t, httplib::DataSink& sink) {
                if (!*greeted) {
                    *greeted = true;
                    return sink.write(":)\n", 3);
                }
                std::unique_lock lock(m_streamMutex);
                const bool woken = m_streamCv.wait_for(lock, std::chrono::milliseconds(m_options.heartbeatMs),
                                                       [&] { return m_stopping || !listener->pending.empty(); });
                if (m_stopping)
                    return false;
                if (!woken) {
                    lock.unlock();
                    return sink.write(":thump\n", 7);
                }
                const Store::Change change = listener->pending.front();
                listener->pending.pop_front();
                lock.unlock();
                std::string text;
                for (const auto& [event, payload] : events(change, listener->userId, c))
                    text += "event: " + event + "\ndata: " + payload + "\n\n";
                return text.empty() || sink.write(text.data(), text.size());
            },
            [this, listener](bool) {
                std::lock_guard lock(m_streamMutex);
                m_listeners.remove(listener);
            });
    }

    void stop()
    {
        {
            std::lock_guard lock(m_streamMutex);
            m_stopping = true;
        }
        m_streamCv.notify_all();
        if (m_socket)
            m_socket->stop();
    }

    Store& m_store;
    const ServiceOptions m_options;

    std::mutex m_limitMutex;
    std::map<std::int64_t, std::deque<Clock::time_point>> m_requestTimes;

    std::mutex m_postMutex;
    std::map<std::pair<std::int64_t, std::string>, std::pair<std::int64_t, Clock::time_point>> m_postedKeys;

    std::mutex m_streamMutex;
    std::condition_variable m_streamCv;
    std::list<std::shared_ptr<Listener>> m_listeners;
    bool m_stopping = false;
    std::unique_ptr<StreamSocket> m_socket;  // last, so it stops before the rest goes
};

FediFace::FediFace(Store& store, const ServiceOptions& options) : m_impl(std::make_unique<Impl>(store, options)) {}

FediFace::~FediFace() = default;

bool FediFace::serves(std::string_view path)
{
    return path.rfind("/api/v1/", 0) == 0 || path.rfind("/api/v2/", 0) == 0 || path.rfind("/oauth/", 0) == 0;
}

void FediFace::handle(const httplib::Request& req, httplib::Response& res)
{
    m_impl->handle(req, res);
}

void FediFace::stop()
{
    m_impl->stop();
}

} // namespace localservice
