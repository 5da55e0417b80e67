// The local service as the program and the tests meet it: the built binary on a real
// loopback port with a real database file, spoken to over HTTP.

#include "ServiceClient.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kSeededFriendStatuses = 320;

struct DbSnapshot {
    std::string integrity;
    long long users = -1;
    long long statuses = -1;
    long long favourites = -1;
    long long friendships = -1;
    bool operator==(const DbSnapshot&) const = default;
};

// Read-only look at the file while the service may still hold it open.
DbSnapshot snapshot(const QString& path)
{
    DbSnapshot s;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return s;
    }
    sqlite3_busy_timeout(db, 5000);
    const auto scalar = [db](const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        sqlite3_finalize(stmt);
        return out;
    };
    s.integrity = scalar("PRAGMA integrity_check");
    s.users = std::stoll("0" + scalar("SELECT COUNT(*) FROM users"));
    s.statuses = std::stoll("0" + scalar("SELECT COUNT(*) FROM statuses"));
    s.favourites = std::stoll("0" + scalar("SELECT COUNT(*) FROM favourites"));
    s.friendships = std::stoll("0" + scalar("SELECT COUNT(*) FROM friendships"));
    sqlite3_close(db);
    return s;
}

// Sends raw bytes and returns the service's reply: its head and Content-Length bytes of
// body, or whatever came before the service closed.
std::string rawExchange(quint16 port, const std::string& bytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        // No half-close: the server takes a peer that hung up as gone and answers nothing.
        (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            reply.append(buffer, static_cast<std::size_t>(n));
            const std::size_t headEnd = reply.find("\r\n\r\n");
            if (headEnd == std::string::npos)
                continue;
            const QByteArray head = QByteArray::fromStdString(reply.substr(0, headEnd)).toLower();
            const int at = head.indexOf("content-length:");
            const qsizetype length = at < 0 ? 0 : head.mid(at + 15).split('\r').front().trimmed().toLongLong();
            if (reply.size() >= headEnd + 4 + static_cast<std::size_t>(length))
                break;
        }
    }
    ::close(fd);
    return reply;
}

std::string errorOf(const std::string& body)
{
    XmlDoc doc = parseXml(body);
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    return root && nodeName(root) == "hash" ? childText(root, "error") : "<no error document>";
}

LocalService::Options seeded()
{
    LocalService::Options options;
    options.seed = true;
    return options;
}

class SeededService : public ::testing::Test {
protected:
    LocalService service{seeded()};
    void SetUp() override { ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString(); }
};

// ---- the timeline ---------------------------------------------------------------

TEST_F(SeededService, TimelineReplyFollowsTheSchemaInOrder)
{
    ServiceClient client(service);
    auto res = client.timeline();
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/xml; charset=utf-8");
    EXPECT_EQ(res->body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);

    XmlDoc doc = parseXml(res->body);
    ASSERT_TRUE(doc);
    xmlNode* root = xmlDocGetRootElement(doc.get());
    EXPECT_EQ(nodeName(root), "statuses");
    xmlChar* type = xmlGetProp(root, BAD_CAST "type");
    EXPECT_STREQ(reinterpret_cast<const char*>(type), "array");
    xmlFree(type);

    const auto statuses = childElements(root);
    ASSERT_EQ(statuses.size(), 20u);
    const std::vector<std::string> statusFields{"created_at", "id", "text", "source", "truncated",
                                                "in_reply_to_status_id", "in_reply_to_user_id", "favorited",
                                                "in_reply_to_screen_name", "user"};
    const std::vector<std::string> userFields{"id", "name", "screen_name", "location", "description",
                                              "profile_image_url", "url", "protected", "followers_count"};
    for (xmlNode* status : statuses) {
        EXPECT_EQ(nodeName(status), "status");
        std::vector<std::string> names;
        for (xmlNode* child : childElements(status))
            names.push_back(nodeName(child));
        EXPECT_EQ(names, statusFields);
        names.clear();
        for (xmlNode* child : childElements(childElement(status, "user")))
            names.push_back(nodeName(child));
        EXPECT_EQ(names, userFields);
        const std::string favorited = childText(status, "favorited");
        EXPECT_TRUE(favorited == "true" || favorited == "false") << favorited;
        // "Mon Dec 07 07:41:00 +0000 2026"
        const std::string date = childText(status, "created_at");
        EXPECT_EQ(date.size(), 30u) << date;
        EXPECT_EQ(date.substr(19, 6), " +0000") << date;
        EXPECT_NO_THROW((void)std::stoi(childText(childElement(status, "user"), "followers_count")));
    }
    // A HEAD has the head alone.
    auto head = client.http.Head("/statuses/friends_timeline.xml");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_TRUE(head->body.empty());
}

TEST_F(SeededService, PagesWalkTheFriendsTimelineNewestFirstWithoutOutsiders)
{
    ServiceClient client(service);
    std::vector<ReadStatus> all;
    long long previousId = std::numeric_limits<long long>::max();
    int favourites = 0;
    for (int page = 1;; ++page) {
        // The first page has no query; later ones carry the program's extra parameter.
        auto res = client.timeline(page == 1 ? std::string() : "?page=" + std::to_string(page) + "&twtr=true");
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        bool ok = false;
        const auto statuses = readTimeline(res->body, &ok);
        ASSERT_TRUE(ok) << res->body;
        if (statuses.empty())
            break;
        EXPECT_LE(statuses.size(), 20u);
        for (const ReadStatus& s : statuses) {
            const long long id = std::stoll(s.id);
            EXPECT_LT(id, previousId);
            previousId = id;
            EXPECT_NE(s.screenName, "outsider");
            favourites += s.favorited == "true";
        }
        all.insert(all.end(), statuses.begin(), statuses.end());
        ASSERT_LT(page, 100);
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kSeededFriendStatuses));
    EXPECT_GT(favourites, 10);
    EXPECT_LT(favourites, kSeededFriendStatuses / 2);
    EXPECT_GT(std::stoll(all.front().id), 4294967295LL) << "ids beyond 32 bits";

    // Japanese text and every kind of web address the program links.
    int japanese = 0, http = 0, https = 0, www = 0;
    for (const ReadStatus& s : all) {
        japanese += s.text.find("\xE3\x81") != std::string::npos;
        http += s.text.find("http://") != std::string::npos;
        https += s.text.find("https://") != std::string::npos;
        www += s.text.find("www.") != std::string::npos;
    }
    EXPECT_GT(japanese, 100);
    EXPECT_GT(http, 5);
    EXPECT_GT(https, 5);
    EXPECT_GT(www, 5);

    // A page far beyond the end is an empty array, not an error.
    auto res = client.timeline("?page=2147483647");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    bool ok = false;
    EXPECT_TRUE(readTimeline(res->body, &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_NE(res->body.find("<statuses type=\"array\">"), std::string::npos);
}

TEST_F(SeededService, NonNumericPagesAreRefusedWithAClearMessage)
{
    ServiceClient client(service);
    for (const char* query : {"?page=abc", "?page=", "?page=0", "?page=-1", "?page=1.5", "?page=2x",
                              "?page=%201", "?page=99999999999999999999", "?page=2147483648"}) {
        auto res = client.timeline(query);
        ASSERT_TRUE(res) << query;
        EXPECT_EQ(res->status, 400) << query;
        EXPECT_NE(errorOf(res->body).find("page"), std::string::npos) << query << ": " << res->body;
    }
}

// ---- authentication ---------------------------------------------------------------

TEST_F(SeededService, EveryCallWantsValidBasicCredentials)
{
    const auto expect401 = [&](httplib::Result res, const std::string& what) {
        ASSERT_TRUE(res) << what;
        EXPECT_EQ(res->status, 401) << what;
        EXPECT_EQ(res->get_header_value("WWW-Authenticate"), "Basic realm=\"Brimlark local service\"") << what;
        EXPECT_EQ(errorOf(res->body), "Could not authenticate you.") << what;
    };
    for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"demo", "wrong"}, {"demo", ""}, {"nobody", "demo"}, {"DEMO", "demo"}, {"demo", "demo "}}) {
        ServiceClient client(service, user, password);
        const std::string who = "'" + user + "':'" + password + "'";
        expect401(client.timeline(), "timeline " + who);
        expect401(client.update("status=x"), "update " + who);
        expect401(client.favourite("5000000001"), "favourite " + who);
        expect401(client.retweet("5000000001"), "retweet " + who);
        expect401(client.mentions(), "mentions " + who);
        expect401(client.verifyCredentials(), "verify_credentials " + who);
    }
    ServiceClient raw(service, "", "");
    for (const char* header : {"Basic", "Basic !!!!", "Basic ZGVtbw==" /* no colon */, "Bearer ZGVtbzpkZW1v",
                               "Basic ZGVtbzpkZW1v=ZZ", "Digest username=\"demo\""}) {
        expect401(raw.http.Get("/statuses/friends_timeline.xml", {{"Authorization", header}}), header);
    }
    // The scheme name is not case-sensitive.
    auto res = raw.http.Get("/statuses/friends_timeline.xml", {{"Authorization", "basic ZGVtbzpkZW1v"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

TEST(LocalServiceAccounts, UsersFromTheCommandLineFollowEachOtherAndCanChangePasswords)
{
    QTemporaryDir dir;
    LocalService::Options options;
    options.dbPath = dir.filePath("accounts.sqlite");
    options.users = {{"alice", "wonder:land"}, {"bob", "builder"}};
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();

    ServiceClient alice(service, "alice", "wonder:land");  // a colon in the password is fine
    ServiceClient bob(service, "bob", "builder");
    ASSERT_EQ(alice.update("status=from+alice")->status, 200);
    ASSERT_EQ(bob.update("status=from+bob")->status, 200);
    bool ok = false;
    const auto seen = readTimeline(alice.timeline()->body, &ok);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "from bob");
    EXPECT_EQ(seen[1].text, "from alice");

    // Naming an account again sets its password.
    options.users = {{"alice", "new"}};
    service.stop();
    LocalService again(options);
    ASSERT_TRUE(again.isRunning());
    EXPECT_EQ(ServiceClient(again, "alice", "wonder:land").timeline()->status, 401);
    EXPECT_EQ(ServiceClient(again, "alice", "new").timeline()->status, 200);
    EXPECT_EQ(ServiceClient(again, "bob", "builder").timeline()->status, 200);
}

// ---- posting ----------------------------------------------------------------------

TEST_F(SeededService, PostedStatusesAreDecodedStoredAndShownFirst)
{
    ServiceClient client(service);
    struct Case {
        std::string body;
        std::string stored;
    };
    const std::vector<Case> cases{
        {"status=a+b%26c%3Dd&source=brimlark", "a b&c=d"},
        {"status=%E3%81%82&source=brimlark", "\xE3\x81\x82"},
        {"status=line1line2%0D%0Aline3&source=brimlark", "line1line2\r\nline3"},
        {"status=%7E(ok)!&source=brimlark", "~(ok)!"},
        {"source=brimlark&status=%3Cb%3E%22q%22+%27s%27+%5D%5D%3E", "<b>\"q\" 's' ]]>"},
        {"status=%F0%9F%8C%B8+plus%2Bsign", "\xF0\x9F\x8C\xB8 plus+sign"},
    };
    for (const Case& c : cases) {
        auto res = client.update(c.body);
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << c.body << ": " << res->body;
        XmlDoc doc = parseXml(res->body);
        ASSERT_TRUE(doc) << res->body;
        xmlNode* status = xmlDocGetRootElement(doc.get());
        ASSERT_EQ(nodeName(status), "status");
        const ReadStatus reply = readStatus(status);
        EXPECT_EQ(reply.text, c.stored) << c.body;
        EXPECT_EQ(reply.screenName, "demo");
        EXPECT_EQ(reply.favorited, "false");
        EXPECT_EQ(reply.truncated, "false");

        bool ok = false;
        const auto timeline = readTimeline(client.timeline()->body, &ok);
        ASSERT_FALSE(timeline.empty());
        EXPECT_EQ(timeline.front().id, reply.id);
        EXPECT_EQ(timeline.front().text, c.stored);
    }
    // The source travels with the status; without one it is "web".
    auto res = client.update("status=hello&source=brimlark");
    EXPECT_EQ(childText(xmlDocGetRootElement(parseXml(res->body).get()), "source"), "brimlark");
    res = client.update("status=hello");
    EXPECT_EQ(childText(xmlDocGetRootElement(parseXml(res->body).get()), "source"), "web");
}

TEST_F(SeededService, BadFormBodiesAreRefusedAndStoreNothing)
{
    ServiceClient client(service);
    const DbSnapshot before = snapshot(service.dbPath());
    ASSERT_EQ(before.integrity, "ok");
    struct Case {
        std::string body;
        std::string inMessage;
    };
    const std::vector<Case> cases{
        {"status=%G1", "hexadecimal"},
        {"status=abc%4", "hexadecimal"},
        {"status=abc%", "hexadecimal"},
        {"status=%FF%FE", "UTF-8"},
        {"status=%C0%AF", "UTF-8"},          // overlong "/"
        {"status=%ED%A0%80", "UTF-8"},       // a lone surrogate
        {"status=%E3%81", "UTF-8"},          // cut short
        {"status=%F4%90%80%80", "UTF-8"},    // beyond U+10FFFF
        {"stat%ZZus=x", "hexadecimal"},
        {"source=brimlark", "no status"},
        {"", "no status"},
        {"status=", "empty"},
        {"status=+%0D%0A+", "empty"},
    };
    for (const Case& c : cases) {
        auto res = client.update(c.body);
        ASSERT_TRUE(res) << c.body;
        EXPECT_EQ(res->status, 400) << c.body;
        EXPECT_NE(errorOf(res->body).find(c.inMessage), std::string::npos) << c.body << ": " << res->body;
    }
    // Raw bytes that are not UTF-8 at all, sent unencoded.
    auto res = client.update(std::string("status=\x82\xA0", 9));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_EQ(snapshot(service.dbPath()), before);
}

// ---- favourites -------------------------------------------------------------------

TEST_F(SeededService, FavouritesAreMarkedForTheSignedInUserAndSurviveARestart)
{
    ServiceClient demo(service);
    bool ok = false;
    const auto first = readTimeline(demo.timeline()->body, &ok);
    ASSERT_TRUE(ok);
    auto target = std::find_if(first.begin(), first.end(), [](const ReadStatus& s) { return s.favorited == "false"; });
    ASSERT_NE(target, first.end());
    const std::string id = target->id;

    // Exactly what the program sends: text/html, "id=" and the id.
    auto res = demo.favourite(id);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const ReadStatus reply = readStatus(xmlDocGetRootElement(parseXml(res->body).get()));
    EXPECT_EQ(reply.id, id);
    EXPECT_EQ(reply.favorited, "true");
    // Marking it again is no error.
    EXPECT_EQ(demo.favourite(id)->status, 200);
    // Any body and content type will do.
    EXPECT_EQ(demo.http.Post("/favorites/create/" + id + ".xml", "", "application/octet-stream")->status, 200);

    // Another account does not see demo's favourite.
    ServiceClient sakura(service, "sakura", "sakura");
    for (const ReadStatus& s : readTimeline(sakura.timeline()->body, &ok)) {
        if (s.id == id) {
            EXPECT_EQ(s.favorited, "false");
        }
    }

    ASSERT_TRUE(service.stop()) << "clean exit on SIGTERM";
    ASSERT_TRUE(service.restart()) << service.errorString().toStdString();
    ServiceClient again(service);
    const auto after = readTimeline(again.timeline()->body, &ok);
    const auto found = std::find_if(after.begin(), after.end(), [&](const ReadStatus& s) { return s.id == id; });
    ASSERT_NE(found, after.end());
    EXPECT_EQ(found->favorited, "true");
    // The restart with --seed did not seed a second time.
    EXPECT_EQ(snapshot(service.dbPath()).statuses, kSeededFriendStatuses + 12);
}

TEST_F(SeededService, UnknownOrMalformedFavouriteIdsAreNotFound)
{
    ServiceClient client(service);
    const DbSnapshot before = snapshot(service.dbPath());
    for (const char* id : {"1", "99999999999", "9223372036854775807", "99999999999999999999", "abc", "12a", "-5", "0"}) {
        auto res = client.favourite(id);
        ASSERT_TRUE(res) << id;
        EXPECT_EQ(res->status, 404) << id;
        EXPECT_EQ(errorOf(res->body), "No status found with that ID.") << id;
    }
    EXPECT_EQ(snapshot(service.dbPath()), before);
}

// ---- replies, repeats, mentions, the account ---------------------------------------------

constexpr const char* kOutsiderStatus = "5000000027";  // the seed's first status of its protected account
constexpr std::size_t kSeededMentionsOfDemo = 5;

ReadStatus markedAs(const char* id)
{
    ReadStatus s;
    s.id = id;
    return s;
}

// The reply to a call that answers one status.
ReadStatus statusOf(const httplib::Result& res)
{
    XmlDoc doc = parseXml(res ? res->body : std::string());
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    return root && nodeName(root) == "status" ? readStatus(root) : markedAs("<not a status>");
}

std::vector<ReadStatus> mentionsPage(ServiceClient& client, const std::string& query = {})
{
    auto res = client.mentions(query);
    bool ok = false;
    auto statuses = res && res->status == 200 ? readTimeline(res->body, &ok) : std::vector<ReadStatus>();
    EXPECT_TRUE(ok) << (res ? res->body : httplib::to_string(res.error()));
    return statuses;
}

// The newest status on demo's first page by another account.
ReadStatus someoneElses(ServiceClient& demo, const std::string& screenName)
{
    bool ok = false;
    for (const ReadStatus& s : readTimeline(demo.timeline()->body, &ok)) {
        if (s.screenName == screenName && s.retweetedId == "<missing>")
            return s;
    }
    return markedAs("<none>");
}

TEST_F(SeededService, RepliesNameTheStatusTheyAnswerAndUnknownIdsAnswerNothing)
{
    ServiceClient demo(service);
    const ReadStatus parent = someoneElses(demo, "sakura");
    ASSERT_NE(parent.id, "<none>");

    auto res = demo.update("status=%40sakura+%E3%81%AF%E3%81%84&in_reply_to_status_id=" + parent.id);
    ASSERT_EQ(res->status, 200) << res->body;
    const ReadStatus reply = statusOf(res);
    EXPECT_EQ(reply.text, "@sakura はい");
    EXPECT_EQ(reply.inReplyToStatusId, parent.id);
    EXPECT_EQ(reply.inReplyToUserId, "2");
    EXPECT_EQ(reply.inReplyToScreenName, "sakura");
    bool ok = false;
    const ReadStatus shown = readTimeline(demo.timeline()->body, &ok).front();
    EXPECT_EQ(shown.id, reply.id);
    EXPECT_EQ(shown.inReplyToStatusId, parent.id);
    EXPECT_EQ(shown.inReplyToScreenName, "sakura");

    // An id with no status, or none at all: a status that answers nothing, with the
    // elements there and empty.
    for (const std::string field : {"&in_reply_to_status_id=1", "&in_reply_to_status_id=99999999999999",
                                     "&in_reply_to_status_id=", ""}) {
        const ReadStatus plain = statusOf(demo.update("status=plain" + field));
        EXPECT_NE(plain.id, "<not a status>") << field;
        EXPECT_EQ(plain.inReplyToStatusId, "") << field;
        EXPECT_EQ(plain.inReplyToUserId, "") << field;
        EXPECT_EQ(plain.inReplyToScreenName, "") << field;
    }

    // What is not an id at all is the client's mistake, and nothing is stored.
    const DbSnapshot before = snapshot(service.dbPath());
    for (const char* id : {"abc", "-5", "0", "12x", "99999999999999999999"}) {
        res = demo.update(std::string("status=x&in_reply_to_status_id=") + id);
        ASSERT_TRUE(res) << id;
        EXPECT_EQ(res->status, 400) << id;
        EXPECT_NE(errorOf(res->body).find("in_reply_to_status_id"), std::string::npos) << id << ": " << res->body;
    }
    EXPECT_EQ(snapshot(service.dbPath()), before);
}

TEST_F(SeededService, ARepeatHoldsTheOriginalAndIsMadeOnceAndNeverOfYourOwn)
{
    ServiceClient demo(service);
    const ReadStatus original = someoneElses(demo, "kenji");
    ASSERT_NE(original.id, "<none>");

    auto res = demo.retweet(original.id);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const ReadStatus repeat = statusOf(res);
    EXPECT_EQ(repeat.text, "RT @kenji: " + original.text);
    EXPECT_EQ(repeat.screenName, "demo");
    EXPECT_EQ(repeat.retweetedId, original.id);
    XmlDoc doc = parseXml(res->body);
    const ReadStatus inner = readStatus(childElement(xmlDocGetRootElement(doc.get()), "retweeted_status"));
    EXPECT_EQ(inner.text, original.text);
    EXPECT_EQ(inner.screenName, "kenji");
    EXPECT_EQ(inner.favorited, original.favorited);
    bool ok = false;
    const ReadStatus shown = readTimeline(demo.timeline()->body, &ok).front();
    EXPECT_EQ(shown.id, repeat.id);
    EXPECT_EQ(shown.retweetedId, original.id);

    const DbSnapshot before = snapshot(service.dbPath());
    const auto refused = [&](const std::string& id, int status, const std::string& error) {
        auto r = demo.retweet(id);
        ASSERT_TRUE(r) << id;
        EXPECT_EQ(r->status, status) << id;
        EXPECT_EQ(errorOf(r->body), error) << id;
    };
    refused(original.id, 403, "You already repeated that status.");
    // The repeat itself stands for its original.
    refused(repeat.id, 403, "You already repeated that status.");
    const std::string own = statusOf(demo.update("status=mine")).id;
    refused(own, 403, "You cannot repeat your own status.");
    refused(kOutsiderStatus, 403, "The statuses of a protected account cannot be repeated.");
    for (const char* id : {"1", "99999999999999999999", "abc", "0"})
        refused(id, 404, "No status found with that ID.");
    EXPECT_EQ(snapshot(service.dbPath()).statuses, before.statuses + 1) << "only the status \"mine\"";

    // Another account repeats the same status on its own; a repeat is cut to the limit
    // like any status, its original is not.
    ServiceClient sakura(service, "sakura", "sakura");
    EXPECT_EQ(sakura.retweet(original.id)->status, 200);
    const std::string longest(140, 'x');
    const std::string longId = statusOf(sakura.update("status=" + longest)).id;
    res = demo.retweet(longId);
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(statusOf(res).text, ("RT @sakura: " + longest).substr(0, 140));
    EXPECT_EQ(statusOf(res).truncated, "true");
    doc = parseXml(res->body);
    EXPECT_EQ(readStatus(childElement(xmlDocGetRootElement(doc.get()), "retweeted_status")).text, longest);
}

TEST_F(SeededService, MentionsNameTheAccountAsAWordOrAnswerItsStatuses)
{
    ServiceClient demo(service);
    const auto seeded = mentionsPage(demo);
    ASSERT_EQ(seeded.size(), kSeededMentionsOfDemo);
    EXPECT_EQ(std::count_if(seeded.begin(), seeded.end(), [](const ReadStatus& s) { return s.inReplyToScreenName == "demo"; }), 1);

    const std::string mine = statusOf(demo.update("status=%40demo+to+myself")).id;
    ServiceClient sakura(service, "sakura", "sakura");
    std::vector<std::string> expected;  // oldest first
    for (const std::string text : {"%40demo%2C+comma", "end+%40demo", "%40DEMO+shouts", "(%40demo)",
                                    "%40demo%E3%81%95%E3%82%93", "%40demonstration", "mail%40demo", "%40demo_x",
                                    "%40%40demox", "nobody"}) {
        const ReadStatus posted = statusOf(sakura.update("status=" + text));
        const bool names = text.find("demonstration") == std::string::npos && text.find("mail") == std::string::npos
                           && text.find("demo_x") == std::string::npos && text.find("demox") == std::string::npos
                           && text != "nobody";
        if (names)
            expected.push_back(posted.text);
    }
    // A reply to demo's status names nobody and is still a mention; a protected account
    // demo does not follow is not heard.
    expected.push_back(statusOf(sakura.update("status=%E3%81%9D%E3%81%86%E3%81%A7%E3%81%99%E3%81%AD&in_reply_to_status_id=" + mine)).text);
    ServiceClient outsider(service, "outsider", "outsider");
    ASSERT_EQ(outsider.update("status=%40demo+from+the+outside")->status, 200);

    std::vector<std::string> got;
    for (const ReadStatus& s : mentionsPage(demo))
        got.push_back(s.text);
    ASSERT_GE(got.size(), expected.size());
    got.resize(expected.size());
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(expected.back(), "@demo, comma");
    EXPECT_EQ(expected.front(), "そうですね");

    // Pages of twenty, newest first, none twice; a bad page is refused as on the timeline.
    ServiceClient kenji(service, "kenji", "kenji");
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(kenji.update("status=%40demo+" + std::to_string(i))->status, 200);
    const std::size_t total = kSeededMentionsOfDemo + expected.size() + 20;
    std::vector<ReadStatus> all = mentionsPage(demo);
    EXPECT_EQ(all.size(), 20u);
    EXPECT_EQ(all.front().text, "@demo 19");
    for (const ReadStatus& s : mentionsPage(demo, "?page=2&twtr=true"))
        all.push_back(s);
    EXPECT_EQ(all.size(), total);
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_LT(std::stoll(all[i].id), std::stoll(all[i - 1].id)) << i;
    EXPECT_TRUE(mentionsPage(demo, "?page=3").empty());
    auto res = demo.mentions("?page=0");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);

    // Each account hears its own name: sakura is named in none of these.
    for (const ReadStatus& s : mentionsPage(sakura))
        EXPECT_NE(s.screenName, "sakura");
}

TEST_F(SeededService, VerifyCredentialsDescribesTheSignedInAccount)
{
    for (const auto& [name, displayName] : {std::pair<std::string, std::string>{"demo", "デモ ユーザー"},
                                            {"yuki", "雪村ゆき"}}) {
        ServiceClient client(service, name, name);
        auto res = client.verifyCredentials();
        ASSERT_TRUE(res) << name;
        ASSERT_EQ(res->status, 200) << name;
        EXPECT_EQ(res->get_header_value("Content-Type"), "application/xml; charset=utf-8");
        XmlDoc doc = parseXml(res->body);
        xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
        ASSERT_TRUE(root && nodeName(root) == "user") << res->body;
        // The same user as in a status of the timeline, field for field.
        XmlDoc timeline = parseXml(client.timeline()->body);
        xmlNode* sameUser = nullptr;
        for (xmlNode* status : childElements(xmlDocGetRootElement(timeline.get()))) {
            if (childText(childElement(status, "user"), "screen_name") == name)
                sameUser = childElement(status, "user");
        }
        ASSERT_NE(sameUser, nullptr) << name;
        std::vector<std::pair<std::string, std::string>> expected, actual;
        for (xmlNode* child : childElements(sameUser))
            expected.emplace_back(nodeName(child), nodeText(child));
        for (xmlNode* child : childElements(root))
            actual.emplace_back(nodeName(child), nodeText(child));
        EXPECT_EQ(actual, expected) << name;
        EXPECT_EQ(childText(root, "name"), displayName);
    }
}

// Many clients at once: every post and favourite lands, a status repeated by all of
// demo's clients is repeated once, and the file stays sound.
TEST_F(SeededService, ConcurrentCallsAllLandRepeatOnceAndKeepTheFileSound)
{
    constexpr int kThreads = 6;
    constexpr int kEach = 10;
    ServiceClient demo(service);
    const ReadStatus original = someoneElses(demo, "yuki");
    ASSERT_NE(original.id, "<none>");
    const DbSnapshot before = snapshot(service.dbPath());
    const std::vector<std::string> users{"demo", "sakura", "kenji", "yuki"};
    std::atomic<int> succeeded{0}, repeated{0}, refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ServiceClient again(service);
            auto repeat = again.retweet(original.id);
            repeated += repeat && repeat->status == 200;
            refused += repeat && repeat->status == 403;
            const std::string& user = users[t % users.size()];
            ServiceClient client(service, user, user);
            for (int i = 0; i < kEach; ++i) {
                auto posted = client.update("status=" + user + "+" + std::to_string(t) + "-" + std::to_string(i));
                succeeded += posted && posted->status == 200;
                auto marked = client.favourite(std::to_string(5000000001LL + t * kEach + i));
                succeeded += marked && marked->status == 200;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(succeeded, kThreads * kEach * 2);
    EXPECT_EQ(repeated, 1);
    EXPECT_EQ(refused, kThreads - 1);
    const DbSnapshot after = snapshot(service.dbPath());
    EXPECT_EQ(after.integrity, "ok");
    EXPECT_EQ(after.statuses, before.statuses + kThreads * kEach + 1);
    EXPECT_GT(after.favourites, before.favourites);
}

// A file from before replies and repeats: the old tables, rows in them, and no new columns.
TEST(LocalServiceSchema, AnOlderFileOpensWithItsStatusesAndGainsRepliesAndRepeats)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("older.sqlite");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    const char* older = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE users(id INTEGER PRIMARY KEY, screen_name TEXT NOT NULL UNIQUE, name TEXT NOT NULL,
  password_salt BLOB NOT NULL, password_hash BLOB NOT NULL, location TEXT NOT NULL DEFAULT '',
  description TEXT NOT NULL DEFAULT '', profile_image_url TEXT NOT NULL DEFAULT '', url TEXT NOT NULL DEFAULT '',
  protected INTEGER NOT NULL DEFAULT 0);
CREATE TABLE friendships(follower_id INTEGER NOT NULL REFERENCES users(id),
  followed_id INTEGER NOT NULL REFERENCES users(id), PRIMARY KEY(follower_id, followed_id));
CREATE TABLE statuses(id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id),
  created_at INTEGER NOT NULL, text TEXT NOT NULL, source TEXT NOT NULL, truncated INTEGER NOT NULL DEFAULT 0);
CREATE INDEX statuses_by_user ON statuses(user_id, id);
CREATE TABLE favourites(user_id INTEGER NOT NULL REFERENCES users(id),
  status_id INTEGER NOT NULL REFERENCES statuses(id), PRIMARY KEY(user_id, status_id));
INSERT INTO meta VALUES('schema', '1'), ('seeded', '1');
INSERT INTO users(id, screen_name, name, password_salt, password_hash) VALUES
  (1, 'ann', 'Ann', x'00', x'00'), (2, 'bob', 'Bob', x'00', x'00');
INSERT INTO friendships VALUES(1, 2), (2, 1);
INSERT INTO statuses VALUES(10, 2, 1796600000, 'older one @ann', 'web', 0), (11, 1, 1796600060, 'older two', 'web', 0),
  (12, 2, 1796600120, 'older three', 'web', 0);
INSERT INTO favourites VALUES(1, 12);
)sql";
    ASSERT_EQ(sqlite3_exec(db, older, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    const DbSnapshot before = snapshot(path);

    // --seed finds the file seeded and leaves it be; --user sets the passwords.
    LocalService::Options options = seeded();
    options.dbPath = path;
    options.users = {{"ann", "ann"}, {"bob", "bob"}};
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    EXPECT_EQ(snapshot(path), before);

    ServiceClient ann(service, "ann", "ann");
    bool ok = false;
    const auto statuses = readTimeline(ann.timeline()->body, &ok);
    ASSERT_TRUE(ok);
    std::vector<std::string> texts;
    for (const ReadStatus& s : statuses) {
        texts.push_back(s.text);
        EXPECT_EQ(s.inReplyToStatusId, "");
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"older three", "older two", "older one @ann"}));
    EXPECT_EQ(statuses.front().favorited, "true");

    // The new columns work on the old rows.
    EXPECT_EQ(statusOf(ann.update("status=yes&in_reply_to_status_id=10")).inReplyToScreenName, "bob");
    EXPECT_EQ(statusOf(ann.retweet("12")).retweetedId, "12");
    EXPECT_EQ(ann.retweet("12")->status, 403);
    ServiceClient bob(service, "bob", "bob");
    // The reply, and the repeat, whose text names @bob.
    EXPECT_EQ(mentionsPage(bob).size(), 2u);
    EXPECT_EQ(mentionsPage(ann).size(), 1u);

    // A second open finds them there. A file that has a status repeat itself is read
    // one level deep, not round and round.
    ASSERT_TRUE(service.stop());
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE statuses SET retweeted_status_id = 11 WHERE id = 11", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ASSERT_TRUE(service.restart()) << service.errorString().toStdString();
    ServiceClient again(service, "ann", "ann");
    auto res = again.timeline();
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    const auto reread = readTimeline(res->body, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(reread.size(), 5u);
    EXPECT_EQ(reread[3].retweetedId, "11");
    EXPECT_EQ(snapshot(path).statuses, before.statuses + 2);
    EXPECT_EQ(snapshot(path).integrity, "ok");
}

// ---- paths, methods, sizes ------------------------------------------------------------

TEST_F(SeededService, WrongMethodsAndUnknownPathsGetClearErrors)
{
    ServiceClient client(service);
    struct Case {
        std::string method;
        std::string path;
        int status;
        std::string allow;
    };
    const std::vector<Case> cases{
        {"POST", "/statuses/friends_timeline.xml", 405, "GET, HEAD"},
        {"DELETE", "/statuses/friends_timeline.xml", 405, "GET, HEAD"},
        {"GET", "/statuses/update.xml", 405, "POST"},
        {"PUT", "/statuses/update.xml", 405, "POST"},
        {"GET", "/favorites/create/5000000001.xml", 405, "POST"},
        {"GET", "/statuses/retweet/5000000001.xml", 405, "POST"},
        {"POST", "/statuses/mentions.xml", 405, "GET, HEAD"},
        {"POST", "/account/verify_credentials.xml", 405, "GET, HEAD"},
        {"POST", "/statuses/retweet/.xml", 404, ""},
        {"POST", "/statuses/retweet/1/2.xml", 404, ""},
        {"GET", "/statuses/public_timeline.xml", 404, ""},
        {"GET", "/", 404, ""},
        {"POST", "/favorites/create/.xml", 404, ""},
        {"POST", "/favorites/create/1/2.xml", 404, ""},
        {"GET", "/api/statuses/friends_timeline.xml", 404, ""},
        {"GET", "/statusnet/config.xml", 404, ""},  // only with --textlimit
    };
    for (const Case& c : cases) {
        httplib::Request req;
        req.method = c.method;
        req.path = c.path;
        if (c.method == "POST" || c.method == "PUT")
            req.body = "x=1";
        auto res = client.http.send(req);
        ASSERT_TRUE(res) << c.method << ' ' << c.path;
        EXPECT_EQ(res->status, c.status) << c.method << ' ' << c.path;
        EXPECT_EQ(res->get_header_value("Allow"), c.allow) << c.method << ' ' << c.path;
        EXPECT_NE(errorOf(res->body), "<no error document>") << c.method << ' ' << c.path;
    }
}

TEST_F(SeededService, OversizedAndBrokenRequestsAreRefusedAndTheServiceGoesOn)
{
    ServiceClient client(service);
    const DbSnapshot before = snapshot(service.dbPath());

    auto res = client.update("status=" + std::string(200 * 1024, 'a'));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);
    // Form bodies have a lower cap, and the message names it.
    res = client.update("status=" + std::string(9000, 'a'));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);
    EXPECT_NE(errorOf(res->body).find("8192 bytes"), std::string::npos) << res->body;
    res = client.http.Post("/favorites/create/5000000001.xml", std::string(100 * 1024, 'x'), "text/html");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);
    EXPECT_NE(errorOf(res->body).find("too large"), std::string::npos) << res->body;

    // A head that claims a huge body and sends none: refused once the read times out
    // (5 s). Bytes after the head would stay unread, and the refusing close could then
    // reset the reply away.
    const std::string claim = rawExchange(service.port(),
        "POST /statuses/update.xml HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Basic ZGVtbzpkZW1v\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 99999999999\r\n\r\n");
    EXPECT_EQ(claim.rfind("HTTP/1.1 413", 0), 0u) << claim;
    // Garbage instead of a request line, an endless header.
    EXPECT_EQ(rawExchange(service.port(), "\x01\x02 nonsense\r\n\r\n").rfind("HTTP/1.1 400", 0), 0u);
    const std::string longHeader = rawExchange(service.port(),
        "GET /statuses/friends_timeline.xml HTTP/1.1\r\nX-Long: " + std::string(100000, 'h') + "\r\n\r\n");
    EXPECT_TRUE(longHeader.empty() || longHeader.rfind("HTTP/1.1 4", 0) == 0) << longHeader.substr(0, 100);
    // None of it stored anything or hurt the file, and the service still answers.
    EXPECT_EQ(snapshot(service.dbPath()), before);
    res = client.timeline();
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

// ---- https ---------------------------------------------------------------------------

TEST(LocalServiceTls, ServesTheTimelineToClientsThatTrustItsAuthorityOnly)
{
    TestCertificates certs;
    ASSERT_TRUE(certs.isValid()) << certs.errorString().toStdString();
    LocalService::Options options = seeded();
    options.tlsCert = certs.serverCert();
    options.tlsKey = certs.serverKey();
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ASSERT_TRUE(service.baseUrl().startsWith("https://127.0.0.1:")) << service.baseUrl().toStdString();

    ServiceClient trusting(service);
    trusting.http.set_ca_cert_path(certs.caFile().toStdString());
    auto res = trusting.timeline();
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    bool ok = false;
    EXPECT_EQ(readTimeline(res->body, &ok).size(), 20u);
    EXPECT_TRUE(ok);

    auto untrusted = ServiceClient(service).timeline();
    EXPECT_EQ(untrusted.error(), httplib::Error::SSLServerVerification);

    const std::string plain = rawExchange(service.port(), "GET /statuses/friends_timeline.xml HTTP/1.1\r\n"
                                                          "Host: 127.0.0.1\r\nAuthorization: Basic ZGVtbzpkZW1v\r\n\r\n");
    EXPECT_EQ(plain.find("HTTP/"), std::string::npos) << "plain http on the https port: " << plain;
    EXPECT_EQ(trusting.timeline()->status, 200) << "still serving after the plain request";
    EXPECT_TRUE(service.stop());
}

// ---- command-line behaviour ------------------------------------------------------------

// The prefix carries every call. GNU social publishes its configuration to anyone: no
// credentials, wrong ones, a HEAD.
TEST(LocalServicePrefix, ThePrefixCarriesEveryCallAndTheLimitIsPublishedWithoutSignIn)
{
    LocalService::Options options = seeded();
    options.prefix = "/api";
    options.textLimit = 280;
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    EXPECT_TRUE(service.baseUrl().endsWith(":" + QByteArray::number(service.port()) + "/api"));
    ServiceClient client(service);
    EXPECT_EQ(client.timeline()->status, 200);
    EXPECT_EQ(client.update("status=under+a+prefix")->status, 200);
    EXPECT_EQ(client.favourite("5000000001")->status, 200);
    EXPECT_EQ(client.http.Get("/statuses/friends_timeline.xml")->status, 404);
    EXPECT_EQ(client.http.Get("/apistatuses/friends_timeline.xml")->status, 404);
    for (const std::string& password : {std::string(), std::string("wrong")}) {
        ServiceClient anyone(service, password.empty() ? "" : "demo", password);
        auto res = anyone.http.Get("/api/statusnet/config.xml");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), "application/xml; charset=utf-8");
        EXPECT_EQ(res->body, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><site><name>localservice</name>"
                             "<textlimit>280</textlimit></site></config>");
        EXPECT_EQ(anyone.http.Head("/api/statusnet/config.xml")->status, 200);
        EXPECT_EQ(anyone.http.Post("/api/statusnet/config.xml", "x=1", "text/plain")->status, 405);
    }
}

// Statuses are cut to the limit in UTF-16 units, a surrogate pair going whole: 140 by
// default, or the one the service publishes (0: none).
TEST(LocalServiceLimits, StatusesAreKeptUpToTheLimitInUtf16Units)
{
    const std::string flower = "\xF0\x9F\x8C\xB8";  // a surrogate pair, two units
    const std::string x139(139, 'x');
    struct Case {
        int published;
        std::string kept;
    };
    for (const Case& c : {Case{-1, x139}, Case{280, x139 + flower + x139}, Case{0, x139 + flower + x139 + "yy"}}) {
        LocalService::Options options = seeded();
        options.textLimit = c.published;
        LocalService service(options);
        ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
        ServiceClient client(service);
        auto res = client.update("status=" + x139 + "%F0%9F%8C%B8" + x139 + "yy");
        ASSERT_TRUE(res);
        const ReadStatus s = readStatus(xmlDocGetRootElement(parseXml(res->body).get()));
        EXPECT_EQ(s.text, c.kept) << c.published;
        EXPECT_EQ(s.truncated, c.published == 0 ? "false" : "true") << c.published;
        bool ok = false;
        EXPECT_EQ(readTimeline(client.timeline()->body, &ok).front().text, c.kept) << c.published;
    }
}

TEST(LocalServiceLimits, TheRequestLimitAnswers400PerAccount)
{
    LocalService::Options options = seeded();
    options.rateLimit = "3/3600";
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ServiceClient demo(service);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(demo.timeline()->status, 200) << i;
    auto res = demo.update("status=over+the+limit");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_NE(errorOf(res->body).find("Rate limit"), std::string::npos) << res->body;
    EXPECT_EQ(demo.timeline()->status, 400);
    // Another account has its own allowance; wrong credentials are not counted against it.
    EXPECT_EQ(ServiceClient(service, "kenji", "wrong").timeline()->status, 401);
    EXPECT_EQ(ServiceClient(service, "kenji", "kenji").timeline()->status, 200);
}

TEST(LocalServiceLimits, TheDelaySlowsEveryReplyAndDoesNotHoldUpShutdown)
{
    LocalService::Options options = seeded();
    options.delayMs = 400;
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ServiceClient client(service);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(client.timeline()->status, 200);
    EXPECT_GE(timer.elapsed(), 390);
    timer.restart();
    EXPECT_EQ(client.http.Get("/nowhere")->status, 404);
    EXPECT_GE(timer.elapsed(), 390);
    EXPECT_TRUE(service.stop());
}

// A stop right after the port line (which comes before the service listens) must not be
// lost; SIGINT ends it as cleanly as SIGTERM.
TEST(LocalServiceProcess, EndsCleanlyOnAnEarlyStopAndOnSigint)
{
    for (int i = 0; i < 5; ++i) {
        LocalService service;
        ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
        EXPECT_TRUE(service.stop()) << i;
    }
    LocalService service(seeded());
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ASSERT_EQ(ServiceClient(service).timeline()->status, 200);
    ASSERT_EQ(::kill(static_cast<pid_t>(service.processId()), SIGINT), 0);
    // stop() finds it already ending; its verdict is the exit code.
    EXPECT_TRUE(service.stop());
    EXPECT_EQ(snapshot(service.dbPath()).integrity, "ok");
}

TEST(LocalServiceProcess, BadCommandLinesAndUnusableDatabasesFailWithAMessage)
{
    const QString program = qEnvironmentVariable("BRIMLARK_LOCALSERVICE");
    ASSERT_FALSE(program.isEmpty());
    QTemporaryDir dir;
    TestCertificates certs;
    ASSERT_TRUE(certs.isValid()) << certs.errorString().toStdString();
    QFile junk(dir.filePath("junk.sqlite"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'j'));
    junk.close();
    struct Case {
        QStringList args;
        int exitCode;
        QByteArray inMessage;
    };
    const std::vector<Case> cases{
        {{"--port", "http"}, 2, "--port"},
        {{"--port", "70000"}, 2, "--port"},
        {{"--user", "nopassword"}, 2, "--user"},
        {{"--rate-limit", "70"}, 2, "--rate-limit"},
        {{"--textlimit", "-1"}, 2, "--textlimit"},
        {{"--textlimit", "lots"}, 2, "--textlimit"},
        {{"--frobnicate"}, 2, "unknown option"},
        {{"--db"}, 2, "needs a value"},
        {{"--db", junk.fileName(), "--port", "0"}, 1, "not a database"},
        {{"--db", dir.filePath("no/such/folder/x.sqlite"), "--port", "0"}, 1, "cannot open database"},
        {{"--db", dir.filePath("tls.sqlite"), "--tls-cert", dir.filePath("none.pem"), "--tls-key", junk.fileName()},
         2, "none.pem"},
        {{"--db", dir.filePath("tls.sqlite"), "--tls-cert", junk.fileName(), "--tls-key", junk.fileName()},
         2, "junk.sqlite"},
        {{"--db", dir.filePath("tls.sqlite"), "--tls-cert", certs.serverCert(), "--tls-key", certs.wrongHostKey()},
         2, "does not belong"},
    };
    for (const Case& c : cases) {
        QProcess process;
        process.start(program, c.args);
        ASSERT_TRUE(process.waitForFinished(10000)) << c.args.join(' ').toStdString();
        EXPECT_EQ(process.exitCode(), c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(process.readAllStandardError().contains(c.inMessage)) << c.args.join(' ').toStdString();
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("tls.sqlite"))) << "a missing certificate is found before the database is made";
}

} // namespace
