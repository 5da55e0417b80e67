#pragma once

#include "StatusXml.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace localservice {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The service's data in one SQLite file: users, who follows whom, statuses (replies and
// repeats among them) and favourites. The schema is created on first open; a file from
// an older version gains the newer columns then. Every call is serialised by one
// mutex and each change runs in its own transaction, so a failed request leaves
// nothing half-written. Failures throw StoreError.
class Store {
public:
    explicit Store(const std::string& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    struct NewUser {
        std::string screenName;
        std::string name;
        std::string password;
        std::string location;
        std::string description;
        std::string profileImageUrl;
        std::string url;
        bool isProtected = false;
    };

    // Creates the account, or sets the password of an existing one. A new account and
    // every account that is not protected follow each other.
    std::int64_t upsertUser(const std::string& screenName, const std::string& password);
    // The account's id when the password matches.
    std::optional<std::int64_t> authenticate(const std::string& screenName, const std::string& password);

    // Newest first: the viewer's statuses and those of the accounts the viewer follows.
    std::vector<StatusRecord> friendsTimeline(std::int64_t viewerId, std::int64_t offset, int limit);
    // Newest first: others' statuses that name "@<viewer's screen name>" as a word, in any
    // case, or answer one of the viewer's; a protected account's only when followed.
    std::vector<StatusRecord> mentionsTimeline(std::int64_t viewerId, std::int64_t offset, int limit);
    // Stores a status with the current time; returns it as the viewer sees it. A reply to
    // an id with no status is stored as answering nothing.
    StatusRecord addStatus(std::int64_t userId, const std::string& text, const std::string& source, bool truncated,
                           std::int64_t inReplyToStatusId = 0, const std::string& spoilerText = {});
    // A repeat by the viewer: "RT @name: text", cut to textLimit UTF-16 units (0: no cut),
    // holding the original. Once per status; never the viewer's own nor a protected one.
    struct Repeat {
        enum Outcome { Done, NotFound, OwnStatus, Protected, AlreadyRepeated } outcome;
        std::optional<StatusRecord> status;  // Done only
    };
    Repeat repeat(std::int64_t viewerId, std::int64_t statusId, std::size_t textLimit);
    std::optional<UserRecord> user(std::int64_t userId);
    // Marks the status as a favourite of the viewer (again is fine); nullopt when there is
    // no status with that id.
    std::optional<StatusRecord> favourite(std::int64_t viewerId, std::int64_t statusId);
    std::optional<StatusRecord> status(std::int64_t viewerId, std::int64_t statusId);
    // Takes the viewer's favourite back; nullopt when there is no such status.
    std::optional<StatusRecord> unfavourite(std::int64_t viewerId, std::int64_t statusId);
    // The viewer's repeat of the status, if there is one.
    std::optional<StatusRecord> repeatOf(std::int64_t viewerId, std::int64_t statusId);
    std::optional<UserRecord> userByName(const std::string& screenName);
    // Whether the viewer sees what the account writes: its own, or one it follows.
    bool follows(std::int64_t viewerId, std::int64_t accountId);

    // Id-bounded pages, newest first. 0 leaves a bound out; with minId the page is the
    // one just after it rather than the newest. limit >= 1.
    struct Window {
        std::int64_t maxId = 0;
        std::int64_t sinceId = 0;
        std::int64_t minId = 0;
        int limit = 20;
    };
    std::vector<StatusRecord> homeTimeline(std::int64_t viewerId, const Window& window);

    // What happened to an account's statuses or around them: others mentioning or
    // answering it, repeating or favouriting its statuses. Kept as they happen, on
    // either face, so ids grow with time.
    struct Notification {
        std::int64_t id = 0;
        std::string type;  // "mention", "reblog", "favourite"
        std::int64_t createdAt = 0;
        UserRecord account;
        std::optional<StatusRecord> status;
    };
    // types: only these (empty: all); excluded: never these.
    std::vector<Notification> notifications(std::int64_t viewerId, const Window& window,
                                            const std::vector<std::string>& types,
                                            const std::vector<std::string>& excluded);
    std::optional<Notification> notification(std::int64_t viewerId, std::int64_t notificationId);

    // After each change that others may be told of, outside the store's lock.
    struct Change {
        std::int64_t statusId = 0;                  // a new status (a repeat too), or 0
        std::vector<std::int64_t> notificationIds;  // the notifications it made
    };
    void setObserver(std::function<void(const Change&)> observer);

    // Client applications and their grants.
    struct App {
        std::int64_t id = 0;
        std::string name;
        std::string website;
        std::string redirectUris;  // one per line
        std::string scopes;
        std::string clientId;
        std::string clientSecret;
    };
    App createApp(const std::string& name, const std::string& website, const std::string& redirectUris,
                  const std::string& scopes);
    std::optional<App> appByClientId(const std::string& clientId);
    struct Grant {
        std::int64_t appId = 0;
        std::int64_t userId = 0;
        std::string redirectUri;
        std::string scopes;
        std::string challenge;  // PKCE S256 challenge, or empty
        std::int64_t createdAt = 0;
    };
    // Returns the code; only its hash is kept.
    std::string createGrant(const Grant& grant);
    // The grant behind the code, removed so it works once.
    std::optional<Grant> takeGrant(const std::string& code);
    // A new random token (appId 0: a personal one), or the given one when not empty.
    std::string createToken(std::int64_t appId, std::int64_t userId, const std::string& scopes,
                            const std::string& token = {});
    struct TokenOwner {
        std::int64_t userId = 0;
        std::string scopes;
        std::string appName;  // empty for a personal token
    };
    std::optional<TokenOwner> tokenOwner(const std::string& token);

    // Bulk loading for the seed: all of it in one transaction, all or nothing.
    struct Batch {
        std::function<std::int64_t(const NewUser&)> createUser;
        std::function<void(std::int64_t follower, std::int64_t followed)> follow;
        // id 0 lets the database choose; inReplyTo 0 answers nothing.
        std::function<std::int64_t(std::int64_t id, std::int64_t userId, std::int64_t createdAt,
                                   const std::string& text, const std::string& source, std::int64_t inReplyTo)>
            insertStatus;
        std::function<void(std::int64_t userId, std::int64_t statusId)> markFavourite;
        std::function<void(const std::string& key, const std::string& value)> setMeta;
    };
    void runBatch(const std::function<void(Batch&)>& body);

    std::string meta(const std::string& key);
    void setMeta(const std::string& key, const std::string& value);

    std::int64_t count(const std::string& table);

    // PRAGMA integrity_check says "ok".
    bool integrityOk();

    // Unguessable text for codes, secrets and tokens: base64url of 32 random bytes.
    static std::string randomText();

private:
    class Statement;
    class Transaction;
    friend class Statement;
    friend class Transaction;

    void exec(const char* sql);
    void addMissingColumns();
    std::vector<StatusRecord> readStatusesLocked(Statement& query, std::int64_t viewerId, bool withRepeated = true);
    void setMetaLocked(const std::string& key, const std::string& value);
    std::int64_t insertUserLocked(const NewUser& user);
    std::optional<StatusRecord> statusLocked(std::int64_t viewerId, std::int64_t statusId, bool withRepeated = true);
    [[noreturn]] void fail(const std::string& what) const;
    // Records the notifications a status (0: every status) gives; returns the new ids.
    std::vector<std::int64_t> noteLocked(std::int64_t statusId);
    void tell(const Change& change);

    std::function<void(const Change&)> m_observer;

    sqlite3* m_db = nullptr;
    std::mutex m_mutex;
};

} // namespace localservice
