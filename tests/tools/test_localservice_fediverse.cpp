// The local service's JSON face as a client of each server family meets it: signed in
// through its OAuth pages, read, written to, and refused, flavour by flavour.

#include "ServiceClient.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrlQuery>

void PrintTo(const QString& s, std::ostream* os)
{
    *os << s.toStdString();
}

namespace {

constexpr const char* kOob = "urn:ietf:wg:oauth:2.0:oob";
constexpr const char* kJson = "application/json";

QJsonDocument parsed(const httplib::Result& r)
{
    return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)) : QJsonDocument();
}

std::string form(std::initializer_list<std::pair<const char*, std::string>> fields)
{
    QUrlQuery query;
    for (const auto& [name, value] : fields)
        query.addQueryItem(name, QString::fromStdString(value));
    return query.toString(QUrl::FullyEncoded).replace("+", "%2B").toStdString();
}

std::string s256(const std::string& verifier)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
        .toStdString();
}

struct App {
    std::string clientId;
    std::string clientSecret;
};

App registerApp(httplib::Client& http)
{
    const auto r = http.Post("/api/v1/apps", form({{"client_name", "Brimlark"}, {"redirect_uris", kOob}, {"scopes", "read write"}}),
                             "application/x-www-form-urlencoded");
    EXPECT_TRUE(r && r->status == 200) << (r ? r->body : "no answer");
    const QJsonObject app = parsed(r).object();
    return {app["client_id"].toString().toStdString(), app["client_secret"].toString().toStdString()};
}

// Approves the app as demo on the authorisation page; the code the page after shows.
std::string approve(httplib::Client& http, const App& app, const std::string& challenge = {},
                    std::string* codePath = nullptr)
{
    std::string fields = form({{"client_id", app.clientId}, {"redirect_uri", kOob}, {"response_type", "code"},
                               {"scope", "read write"}, {"username", "demo"}, {"password", "demo"}});
    if (!challenge.empty())
        fields += "&" + form({{"code_challenge", challenge}, {"code_challenge_method", "S256"}});
    const auto r = http.Post("/oauth/authorize", fields, "application/x-www-form-urlencoded");
    if (!r || r->status != 302)
        return {};
    const std::string location = r->get_header_value("Location");
    if (codePath)
        *codePath = location.substr(0, location.find('?'));
    const auto page = http.Get(location);
    const QRegularExpressionMatch m = QRegularExpression("<code id=\"code\">([^<]+)</code>")
                                          .match(QString::fromStdString(page ? page->body : ""));
    return m.captured(1).toStdString();
}

httplib::Result exchange(httplib::Client& http, const App& app, const std::string& code, const std::string& verifier = {})
{
    return http.Post("/oauth/token",
                     form({{"grant_type", "authorization_code"}, {"code", code}, {"client_id", app.clientId},
                           {"client_secret", app.clientSecret}, {"redirect_uri", kOob}, {"code_verifier", verifier}}),
                     "application/x-www-form-urlencoded");
}

httplib::Headers bearer(const std::string& token)
{
    return {{"Authorization", "Bearer " + token}};
}

// How each server differs where a client can tell.
struct Quirks {
    const char* flavour;
    const char* idPattern;       // a status id
    const char* codePath;        // where the approved page shows the code
    bool basicClientWorks;       // client credentials as Basic at /oauth/token
    int badTokenStatus;
    const char* badTokenBody;    // a piece of the refusal's body
    bool passwordAsBasic;        // the account's name and password on the JSON calls
    const char* limitField;      // in /api/v1/instance
    int limit;
    bool v2Instance;
    int tooLongStatus;
    bool dedupesPosts;           // Idempotency-Key
    bool typesHonoured;          // types[] on notifications
    bool rateHeaders;
    int streamStatus;
};

const Quirks kServers[] = {
    {"mastodon", "^[1-9][0-9]*$", "/oauth/authorize/native", true, 401, "The access token is invalid", false,
     "configuration", 500, true, 422, true, true, true, 200},
    {"gotosocial", "^[0-9A-HJKMNP-TV-Z]{26}$", "/oauth/oob", false, 401, "Unauthorized", false, "max_toot_chars", 5000,
     true, 400, false, true, true, 404},
    {"akkoma", "^[0-9A-Za-z]{16,22}$", "/oauth/authorize/native", true, 403, "Invalid credentials.", false,
     "max_toot_chars", 5000, false, 422, true, false, false, 404},
    {"friendica", "^[1-9][0-9]*$", "/oauth/authorize/native", true, 401, "<html", true, "configuration", 200000, true,
     422, true, false, true, 501},
};

void PrintTo(const Quirks& q, std::ostream* os)
{
    *os << q.flavour;
}

LocalService::Options withFlavour(const char* flavour)
{
    LocalService::Options options;
    options.seed = true;
    // Friendica's limit needs a body past the usual cap.
    options.extraArgs = {"--flavour", flavour, "--max-body", "1000000"};
    return options;
}

class FediverseFlavours : public ::testing::TestWithParam<Quirks> {};

TEST_P(FediverseFlavours, SignInReadWriteAndRefusalsAsTheServerDoes)
{
    const Quirks& q = GetParam();
    LocalService service(withFlavour(q.flavour));
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    httplib::Client http(ServiceClient::originOf(service.baseUrl()));
    http.set_read_timeout(10);

    // The instance documents need no sign-in and publish the limit where the server does.
    const QJsonObject v1 = parsed(http.Get("/api/v1/instance")).object();
    const QJsonValue limit = QString(q.limitField) == "configuration"
                                 ? v1["configuration"]["statuses"]["max_characters"] : v1[q.limitField];
    EXPECT_EQ(limit.toInt(), q.limit);
    EXPECT_EQ(http.Get("/api/v2/instance")->status, q.v2Instance ? 200 : 404);

    // Sign-in: the code page, then the token for the client's credentials.
    const App app = registerApp(http);
    std::string codePath;
    const std::string code = approve(http, app, {}, &codePath);
    ASSERT_FALSE(code.empty());
    EXPECT_EQ(codePath, q.codePath);
    {
        httplib::Client basic(ServiceClient::originOf(service.baseUrl()));
        basic.set_basic_auth(app.clientId, app.clientSecret);
        const auto r = basic.Post("/oauth/token", form({{"grant_type", "authorization_code"}, {"code", code}, {"redirect_uri", kOob}}),
                                  "application/x-www-form-urlencoded");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, q.basicClientWorks ? 200 : 401) << r->body;
    }
    std::string token;
    if (q.basicClientWorks) {
        EXPECT_EQ(exchange(http, app, code)->status, 400) << "a code works once";
        token = exchange(http, app, approve(http, app)).value().body;
    } else {
        token = exchange(http, app, code).value().body;
    }
    token = QJsonDocument::fromJson(QByteArray::fromStdString(token))["access_token"].toString().toStdString();
    ASSERT_FALSE(token.empty());

    // Refusals: a wrong token, and the account's own password.
    const auto refused = http.Get("/api/v1/timelines/home", bearer("not-a-token"));
    EXPECT_EQ(refused->status, q.badTokenStatus);
    EXPECT_NE(refused->body.find(q.badTokenBody), std::string::npos) << refused->body;
    {
        httplib::Client basic(ServiceClient::originOf(service.baseUrl()));
        basic.set_basic_auth("demo", "demo");
        EXPECT_EQ(basic.Get("/api/v1/accounts/verify_credentials")->status, q.passwordAsBasic ? 200 : q.badTokenStatus);
    }

    // Two pages of the home timeline through the Link header, ids of the server's form.
    const auto first = http.Get("/api/v1/timelines/home?limit=3", bearer(token));
    ASSERT_EQ(first->status, 200);
    EXPECT_EQ(first->has_header("X-RateLimit-Remaining"), q.rateHeaders);
    const QRegularExpressionMatch next = QRegularExpression("<https?://[^/]+([^>]+)>; rel=\"next\"")
                                             .match(QString::fromStdString(first->get_header_value("Link")));
    ASSERT_TRUE(next.hasMatch()) << first->get_header_value("Link");
    const auto second = http.Get(next.captured(1).toStdString(), bearer(token));
    QStringList ids;
    for (const httplib::Result* page : {&first, &second}) {
        for (const QJsonValue& status : parsed(*page).array())
            ids << status["id"].toString();
    }
    ASSERT_EQ(ids.size(), 6);
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), 6);
    for (const QString& id : ids)
        EXPECT_TRUE(QRegularExpression(q.idPattern).match(id).hasMatch()) << id.toStdString();

    // Posting: too long, then a reply with a warning twice with one key; the post shows on
    // the XML face too.
    const auto tooLong = http.Post("/api/v1/statuses", bearer(token),
                                   QJsonDocument(QJsonObject{{"status", QString(q.limit + 1, 'a')}}).toJson().toStdString(), kJson);
    EXPECT_EQ(tooLong->status, q.tooLongStatus) << tooLong->body;
    httplib::Headers keyed = bearer(token);
    keyed.emplace("Idempotency-Key", "once");
    QStringList posted;
    for (int i = 0; i < 2; ++i) {
        const auto r = http.Post("/api/v1/statuses", keyed,
                                 form({{"status", "同じ投稿"}, {"in_reply_to_id", ids[0].toStdString()}, {"spoiler_text", "注意"}}),
                                 "application/x-www-form-urlencoded");
        ASSERT_EQ(r->status, 200) << r->body;
        EXPECT_EQ(parsed(r)["in_reply_to_id"].toString(), ids[0]);
        EXPECT_EQ(parsed(r)["spoiler_text"].toString(), "注意");
        posted << parsed(r)["id"].toString();
    }
    EXPECT_EQ(posted[0] == posted[1], q.dedupesPosts);
    ServiceClient xml(service);
    bool ok = false;
    const auto xmlTimeline = readTimeline(xml.timeline()->body, &ok);
    ASSERT_TRUE(ok && !xmlTimeline.empty());
    EXPECT_EQ(xmlTimeline.front().text, "同じ投稿");

    // Notifications: types[] as the server treats it; exclude_types[] everywhere.
    for (const char* query : {"types[]=mention", "exclude_types[]=favourite&exclude_types[]=reblog"}) {
        const QJsonArray list = parsed(http.Get(std::string("/api/v1/notifications?limit=80&") + query, bearer(token))).array();
        ASSERT_FALSE(list.isEmpty()) << query;
        bool onlyMentions = true;
        for (const QJsonValue& n : list)
            onlyMentions = onlyMentions && n["type"] == "mention";
        EXPECT_EQ(onlyMentions, q.typesHonoured || QString(query).startsWith("exclude")) << query;
    }

    // The event stream: greeted at once where there is one, else refused.
    int streamStatus = 0;
    std::string greeting;
    http.Get(
        "/api/v1/streaming/user", bearer(token),
        [&](const httplib::Response& r) {
            streamStatus = r.status;
            return true;
        },
        [&](const char* data, size_t size) {
            greeting.append(data, size);
            return false;
        });
    EXPECT_EQ(streamStatus, q.streamStatus);
    if (q.streamStatus == 200) {
        EXPECT_EQ(greeting.substr(0, 3), ":)\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, FediverseFlavours, ::testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.flavour); });

TEST(FediverseSignIn, PkceAndTheClientsSecretAreChecked)
{
    LocalService service(withFlavour("mastodon"));
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    httplib::Client http(ServiceClient::originOf(service.baseUrl()));
    const App app = registerApp(http);
    const std::string verifier(64, 'v');
    const std::string code = approve(http, app, s256(verifier));
    ASSERT_FALSE(code.empty());

    const auto wrongSecret = exchange(http, App{app.clientId, "wrong"}, code, verifier);
    EXPECT_EQ(wrongSecret->status, 401);
    EXPECT_EQ(parsed(wrongSecret)["error"].toString(), "invalid_client");
    const auto wrongVerifier = exchange(http, app, code, std::string(64, 'w'));
    EXPECT_EQ(wrongVerifier->status, 400);
    EXPECT_EQ(parsed(wrongVerifier)["error"].toString(), "invalid_grant");

    const auto granted = exchange(http, app, approve(http, app, s256(verifier)), verifier);
    ASSERT_EQ(granted->status, 200) << granted->body;
    const std::string token = parsed(granted)["access_token"].toString().toStdString();
    EXPECT_EQ(parsed(http.Get("/api/v1/accounts/verify_credentials", bearer(token)))["username"].toString(), "demo");

    // Without a flavour the service is the XML family alone.
    LocalService xmlOnly;
    httplib::Client plain(ServiceClient::originOf(xmlOnly.baseUrl()));
    EXPECT_EQ(plain.Get("/api/v1/instance")->status, 404);
}

} // namespace
