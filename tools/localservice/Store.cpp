#include "Store.h"

#include "FormCodec.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <string_view>
#include <utility>

namespace localservice {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(
  key TEXT PRIMARY KEY,
  value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS users(
  id INTEGER PRIMARY KEY,
  screen_name TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL,
  password_salt BLOB NOT NULL,
  password_hash BLOB NOT NULL,
  location TEXT NOT NULL DEFAULT '',
  description TEXT NOT NULL DEFAULT '',
  profile_image_url TEXT NOT NULL DEFAULT '',
  url TEXT NOT NULL DEFAULT '',
  protected INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS friendships(
  follower_id INTEGER NOT NULL REFERENCES users(id),
  followed_id INTEGER NOT NULL REFERENCES users(id),
  PRIMARY KEY(follower_id, followed_id));
CREATE TABLE IF NOT EXISTS statuses(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  created_at INTEGER NOT NULL,
  text TEXT NOT NULL,
  source TEXT NOT NULL,
  truncated INTEGER NOT NULL DEFAULT 0,
  in_reply_to_status_id INTEGER REFERENCES statuses(id),
  retweeted_status_id INTEGER REFERENCES statuses(id),
  spoiler_text TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS statuses_by_user ON statuses(user_id, id);
CREATE TABLE IF NOT EXISTS favourites(
  user_id INTEGER NOT NULL REFERENCES users(id),
  status_id INTEGER NOT NULL REFERENCES statuses(id),
  PRIMARY KEY(user_id, status_id));
CREATE TABLE IF NOT EXISTS apps(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  website TEXT NOT NULL,
  redirect_uris TEXT NOT NULL,
  scopes TEXT NOT NULL,
  client_id TEXT NOT NULL UNIQUE,
  client_secret TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS grants(
  code_hash BLOB PRIMARY KEY,
  app_id INTEGER NOT NULL REFERENCES apps(id),
  user_id INTEGER NOT NULL REFERENCES users(id),
  redirect_uri TEXT NOT NULL,
  scopes TEXT NOT NULL,
  challenge TEXT NOT NULL,
  created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tokens(
  token_hash BLOB PRIMARY KEY,
  app_id INTEGER REFERENCES apps(id),
  user_id INTEGER NOT NULL REFERENCES users(id),
  scopes TEXT NOT NULL,
  created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS notifications(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  type TEXT NOT NULL,
  account_id INTEGER NOT NULL REFERENCES users(id),
  status_id INTEGER NOT NULL REFERENCES statuses(id),
  created_at INTEGER NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS notifications_once ON notifications(user_id, type, account_id, status_id);
)sql";

// Files made before replies, repeats and content warnings lack these columns; they are added on open, the
// rows kept. Indexes that name them come after.
constexpr std::pair<const char*, const char*> kAddedStatusColumns[] = {
    {"in_reply_to_status_id", "ALTER TABLE statuses ADD COLUMN in_reply_to_status_id INTEGER REFERENCES statuses(id)"},
    {"retweeted_status_id", "ALTER TABLE statuses ADD COLUMN retweeted_status_id INTEGER REFERENCES statuses(id)"},
    {"spoiler_text", "ALTER TABLE statuses ADD COLUMN spoiler_text TEXT NOT NULL DEFAULT ''"},
};
constexpr const char* kLaterIndexes = R"sql(
CREATE UNIQUE INDEX IF NOT EXISTS statuses_one_repeat_each ON statuses(user_id, retweeted_status_id)
  WHERE retweeted_status_id IS NOT NULL;
CREATE INDEX IF NOT EXISTS statuses_by_parent ON statuses(in_reply_to_status_id)
  WHERE in_reply_to_status_id IS NOT NULL;
)sql";
constexpr const char* kSchemaVersion = "3";

// Columns 0-17 of every status read, in StatusRecord order, 18 the id of the status it
// repeats and 19-24 what the other face shows; ?1 is the viewer. p is the status
// answered, pu its author.
constexpr const char* kStatusColumns = R"sql(
SELECT s.id, s.created_at, s.text, s.source, s.truncated,
       EXISTS(SELECT 1 FROM favourites f WHERE f.user_id = ?1 AND f.status_id = s.id),
       u.id, u.name, u.screen_name, u.location, u.description, u.profile_image_url, u.url,
       u.protected, (SELECT COUNT(*) FROM friendships fr WHERE fr.followed_id = u.id),
       p.id, p.user_id, pu.screen_name, s.retweeted_status_id,
       EXISTS(SELECT 1 FROM statuses r WHERE r.user_id = ?1 AND r.retweeted_status_id = s.id),
       (SELECT COUNT(*) FROM favourites f WHERE f.status_id = s.id),
       (SELECT COUNT(*) FROM statuses r WHERE r.retweeted_status_id = s.id),
       (SELECT COUNT(*) FROM statuses r WHERE r.in_reply_to_status_id = s.id), p.created_at, s.spoiler_text
FROM statuses s JOIN users u ON u.id = s.user_id
  LEFT JOIN statuses p ON p.id = s.in_reply_to_status_id
  LEFT JOIN users pu ON pu.id = p.user_id
)sql";

bool isNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool sameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// "@name" as a whole word, letters in any case: not "@names", not "mail@name".
bool mentions(std::string_view text, std::string_view screenName)
{
    if (screenName.empty())
        return false;
    for (std::size_t at = text.find('@'); at != std::string_view::npos; at = text.find('@', at + 1)) {
        const std::size_t end = at + 1 + screenName.size();
        if (end > text.size())
            break;
        if ((at == 0 || !isNameCharacter(text[at - 1])) && sameLetters(text.substr(at + 1, screenName.size()), screenName)
            && (end == text.size() || !isNameCharacter(text[end])))
            return true;
    }
    return false;
}

// Every notification a status gives (?1 = 0: every status): mentions and answers of
// others, repeats and favourites of others, in the order they happened.
constexpr const char* kNoteStatus = R"sql(
INSERT OR IGNORE INTO notifications(user_id, type, account_id, status_id, created_at)
SELECT user_id, type, account_id, status_id, created_at FROM (
  SELECT u.id AS user_id, 'mention' AS type, s.user_id AS account_id, s.id AS status_id, s.created_at, s.id AS seq
  FROM statuses s JOIN users u ON u.id <> s.user_id LEFT JOIN statuses p ON p.id = s.in_reply_to_status_id
  WHERE (?1 = 0 OR s.id = ?1) AND s.retweeted_status_id IS NULL
    AND (mentions(s.text, u.screen_name) OR p.user_id = u.id)
  UNION ALL
  SELECT o.user_id, 'reblog', r.user_id, o.id, r.created_at, r.id
  FROM statuses r JOIN statuses o ON o.id = r.retweeted_status_id
  WHERE (?1 = 0 OR r.id = ?1) AND o.user_id <> r.user_id
  UNION ALL
  SELECT s.user_id, 'favourite', f.user_id, s.id, s.created_at, s.id
  FROM favourites f JOIN statuses s ON s.id = f.status_id
  WHERE ?1 = 0 AND f.user_id <> s.user_id)
ORDER BY created_at, seq
)sql";

std::string sha256(const std::string& input)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw StoreError("cannot hash");
    return std::string(reinterpret_cast<const char*>(digest), length);
}

std::int64_t now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

// SQL: mentions(text, screen_name) is 1 or 0.
void mentionsFunction(sqlite3_context* context, int, sqlite3_value** values)
{
    const auto text = [](sqlite3_value* v) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
        return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string_view();
    };
    sqlite3_result_int(context, mentions(text(values[0]), text(values[1])) ? 1 : 0);
}

std::string passwordHash(const std::string& salt, const std::string& password)
{
    const std::string input = salt + password;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw StoreError("cannot hash a password");
    return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string newSalt()
{
    unsigned char salt[16];
    if (RAND_bytes(salt, sizeof salt) != 1)
        throw StoreError("no random bytes for a password salt");
    return std::string(reinterpret_cast<const char*>(salt), sizeof salt);
}

} // namespace

class Store::Statement {
public:
    Statement(Store& store, const std::string& sql) : m_store(store)
    {
        if (sqlite3_prepare_v2(store.m_db, sql.c_str(), -1, &m_stmt, nullptr) != SQLITE_OK)
            store.fail("prepare");
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, std::int64_t value)
    {
        check(sqlite3_bind_int64(m_stmt, i, value));
        return *this;
    }
    Statement& bindText(int i, const std::string& value)
    {
        check(sqlite3_bind_text(m_stmt, i, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bindBlob(int i, const std::string& value)
    {
        check(sqlite3_bind_blob(m_stmt, i, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
        return *this;
    }
    // True while there is a row.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            m_store.fail("step");
        return false;
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string text(int column) const
    {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }
    StatusRecord statusRecord() const
    {
        StatusRecord s;
        s.id = integer(0);
        s.createdAt = integer(1);
        s.text = text(2);
        s.source = text(3);
        s.truncated = integer(4) != 0;
        s.favorited = integer(5) != 0;
        s.user.id = integer(6);
        s.user.name = text(7);
        s.user.screenName = text(8);
        s.user.location = text(9);
        s.user.description = text(10);
        s.user.profileImageUrl = text(11);
        s.user.url = text(12);
        s.user.isProtected = integer(13) != 0;
        s.user.followersCount = static_cast<std::int32_t>(integer(14));
        s.inReplyToStatusId = integer(15);
        s.inReplyToUserId = integer(16);
        s.inReplyToScreenName = text(17);
        s.reblogged = integer(19) != 0;
        s.favouritesCount = integer(20);
        s.reblogsCount = integer(21);
        s.repliesCount = integer(22);
        s.inReplyToCreatedAt = integer(23);
        s.spoilerText = text(24);
        return s;
    }

private:
    void check(int rc)
    {
        if (rc != SQLITE_OK)
            m_store.fail("bind");
    }
    Store& m_store;
    sqlite3_stmt* m_stmt = nullptr;
};

// Rolls back unless committed, so an exception half-way leaves the file as it was.
class Store::Transaction {
public:
    explicit Transaction(Store& store) : m_store(store) { m_store.exec("BEGIN IMMEDIATE"); }
    ~Transaction()
    {
        if (!m_done)
            sqlite3_exec(m_store.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        m_store.exec("COMMIT");
        m_done = true;
    }

private:
    Store& m_store;
    bool m_done = false;
};

Store::Store(const std::string& path)
{
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw StoreError("cannot open database " + path + ": " + message);
    }
    try {
        sqlite3_busy_timeout(m_db, 5000);
        exec("PRAGMA foreign_keys = ON");
        exec("PRAGMA journal_mode = WAL");
        exec("PRAGMA synchronous = NORMAL");
        Transaction transaction(*this);
        exec(kSchema);
        addMissingColumns();
        exec(kLaterIndexes);
        if (sqlite3_create_function_v2(m_db, "mentions", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                       mentionsFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail("register mentions()");
        // A file from before notifications were kept gets those its statuses gave.
        if (meta("schema") != kSchemaVersion)
            noteLocked(0);
        setMetaLocked("schema", kSchemaVersion);
        transaction.commit();
    } catch (const StoreError& e) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw StoreError("cannot use database " + path + ": " + e.what());
    }
}

Store::~Store()
{
    sqlite3_close(m_db);
}

void Store::addMissingColumns()
{
    for (const auto& [column, alter] : kAddedStatusColumns) {
        Statement find(*this, "SELECT 1 FROM pragma_table_info('statuses') WHERE name = ?1");
        find.bindText(1, column);
        if (!find.step())
            exec(alter);
    }
}

void Store::fail(const std::string& what) const
{
    throw StoreError(what + ": " + sqlite3_errmsg(m_db));
}

void Store::exec(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        throw StoreError(message);
    }
}

std::int64_t Store::insertUserLocked(const NewUser& user)
{
    const std::string salt = newSalt();
    Statement insert(*this, "INSERT INTO users(screen_name, name, password_salt, password_hash, location, description,"
                            " profile_image_url, url, protected) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    insert.bindText(1, user.screenName).bindText(2, user.name).bindBlob(3, salt)
        .bindBlob(4, passwordHash(salt, user.password)).bindText(5, user.location)
        .bindText(6, user.description).bindText(7, user.profileImageUrl).bindText(8, user.url)
        .bind(9, user.isProtected ? 1 : 0);
    insert.step();
    return sqlite3_last_insert_rowid(m_db);
}

std::int64_t Store::upsertUser(const std::string& screenName, const std::string& password)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    Statement find(*this, "SELECT id FROM users WHERE screen_name = ?1");
    find.bindText(1, screenName);
    std::int64_t id;
    if (find.step()) {
        id = find.integer(0);
        const std::string salt = newSalt();
        Statement update(*this, "UPDATE users SET password_salt = ?1, password_hash = ?2 WHERE id = ?3");
        update.bindBlob(1, salt).bindBlob(2, passwordHash(salt, password)).bind(3, id);
        update.step();
    } else {
        NewUser user;
        user.screenName = screenName;
        user.name = screenName;
        user.password = password;
        id = insertUserLocked(user);
        Statement follow(*this, "INSERT OR IGNORE INTO friendships(follower_id, followed_id)"
                                " SELECT ?1, id FROM users WHERE id <> ?1 AND protected = 0"
                                " UNION ALL SELECT id, ?1 FROM users WHERE id <> ?1 AND protected = 0");
        follow.bind(1, id);
        follow.step();
    }
    transaction.commit();
    return id;
}

std::optional<std::int64_t> Store::authenticate(const std::string& screenName, const std::string& password)
{
    std::lock_guard lock(m_mutex);
    Statement find(*this, "SELECT id, password_salt, password_hash FROM users WHERE screen_name = ?1");
    find.bindText(1, screenName);
    if (!find.step())
        return std::nullopt;
    const std::string expected = find.text(2);
    const std::string actual = passwordHash(find.text(1), password);
    if (expected.size() != actual.size() || CRYPTO_memcmp(expected.data(), actual.data(), actual.size()) != 0)
        return std::nullopt;
    return find.integer(0);
}

std::vector<StatusRecord> Store::friendsTimeline(std::int64_t viewerId, std::int64_t offset, int limit)
{
    std::lock_guard lock(m_mutex);
    Statement query(*this, std::string(kStatusColumns)
                               + "WHERE s.user_id = ?1 OR s.user_id IN (SELECT followed_id FROM friendships WHERE follower_id = ?1)"
                                 " ORDER BY s.id DESC LIMIT ?2 OFFSET ?3");
    query.bind(1, viewerId).bind(2, limit).bind(3, offset);
    return readStatusesLocked(query, viewerId);
}

std::vector<StatusRecord> Store::mentionsTimeline(std::int64_t viewerId, std::int64_t offset, int limit)
{
    std::lock_guard lock(m_mutex);
    // Others' statuses only, and a protected account's only when the viewer follows it.
    Statement query(*this, std::string(kStatusColumns)
                               + "WHERE s.user_id <> ?1"
                                 " AND (mentions(s.text, (SELECT screen_name FROM users WHERE id = ?1)) OR p.user_id = ?1)"
                                 " AND (u.protected = 0 OR s.user_id IN (SELECT followed_id FROM friendships WHERE follower_id = ?1))"
                                 " ORDER BY s.id DESC LIMIT ?2 OFFSET ?3");
    query.bind(1, viewerId).bind(2, limit).bind(3, offset);
    return readStatusesLocked(query, viewerId);
}

std::vector<StatusRecord> Store::readStatusesLocked(Statement& query, std::int64_t viewerId, bool withRepeated)
{
    std::vector<StatusRecord> statuses;
    std::vector<std::int64_t> repeated;
    while (query.step()) {
        statuses.push_back(query.statusRecord());
        repeated.push_back(query.integer(18));
    }
    // One level only: a repeat always holds an original, and a file that says otherwise
    // (a repeat of itself) must not send this round for ever.
    for (std::size_t i = 0; withRepeated && i < statuses.size(); ++i) {
        if (repeated[i] > 0) {
            if (auto original = statusLocked(viewerId, repeated[i], false))
                statuses[i].retweetedStatus = std::make_shared<const StatusRecord>(std::move(*original));
        }
    }
    return statuses;
}

std::optional<UserRecord> Store::user(std::int64_t userId)
{
    std::lock_guard lock(m_mutex);
    Statement query(*this, "SELECT id, name, screen_name, location, description, profile_image_url, url, protected,"
                           " (SELECT COUNT(*) FROM friendships fr WHERE fr.followed_id = users.id) FROM users WHERE id = ?1");
    query.bind(1, userId);
    if (!query.step())
        return std::nullopt;
    UserRecord u;
    u.id = query.integer(0);
    u.name = query.text(1);
    u.screenName = query.text(2);
    u.location = query.text(3);
    u.description = query.text(4);
    u.profileImageUrl = query.text(5);
    u.url = query.text(6);
    u.isProtected = query.integer(7) != 0;
    u.followersCount = static_cast<std::int32_t>(query.integer(8));
    return u;
}

std::optional<StatusRecord> Store::statusLocked(std::int64_t viewerId, std::int64_t statusId, bool withRepeated)
{
    Statement query(*this, std::string(kStatusColumns) + "WHERE s.id = ?2");
    query.bind(1, viewerId).bind(2, statusId);
    auto found = readStatusesLocked(query, viewerId, withRepeated);
    if (found.empty())
        return std::nullopt;
    return std::move(found.front());
}

std::optional<StatusRecord> Store::status(std::int64_t viewerId, std::int64_t statusId)
{
    std::lock_guard lock(m_mutex);
    return statusLocked(viewerId, statusId);
}

StatusRecord Store::addStatus(std::int64_t userId, const std::string& text, const std::string& source, bool truncated,
                              std::int64_t inReplyToStatusId, const std::string& spoilerText)
{
    std::unique_lock lock(m_mutex);
    Transaction transaction(*this);
    // An id with no status behind it is dropped in the same statement, so the check
    // cannot race a concurrent change.
    Statement insert(*this, "INSERT INTO statuses(user_id, created_at, text, source, truncated, in_reply_to_status_id,"
                            " spoiler_text) VALUES(?1, ?2, ?3, ?4, ?5, (SELECT id FROM statuses WHERE id = ?6), ?7)");
    insert.bind(1, userId).bind(2, static_cast<std::int64_t>(std::time(nullptr)))
        .bindText(3, text).bindText(4, source).bind(5, truncated ? 1 : 0).bind(6, inReplyToStatusId)
        .bindText(7, spoilerText);
    insert.step();
    const std::int64_t id = sqlite3_last_insert_rowid(m_db);
    auto stored = statusLocked(userId, id);
    if (!stored)
        throw StoreError("a new status vanished");
    Change change{id, noteLocked(id)};
    transaction.commit();
    lock.unlock();
    tell(change);
    return *stored;
}

Store::Repeat Store::repeat(std::int64_t viewerId, std::int64_t statusId, std::size_t textLimit)
{
    std::unique_lock lock(m_mutex);
    Transaction transaction(*this);
    auto original = statusLocked(viewerId, statusId);
    if (!original)
        return {Repeat::NotFound, {}};
    // A repeat of a repeat repeats the status it holds.
    if (original->retweetedStatus) {
        const auto inner = original->retweetedStatus;
        original = *inner;
    }
    if (original->user.id == viewerId)
        return {Repeat::OwnStatus, {}};
    if (original->user.isProtected)
        return {Repeat::Protected, {}};
    Statement already(*this, "SELECT 1 FROM statuses WHERE user_id = ?1 AND retweeted_status_id = ?2");
    already.bind(1, viewerId).bind(2, original->id);
    if (already.step())
        return {Repeat::AlreadyRepeated, {}};
    std::string text = "RT @" + original->user.screenName + ": " + original->text;
    const bool truncated = textLimit > 0 && cutToUtf16Units(text, textLimit);
    Statement insert(*this, "INSERT INTO statuses(user_id, created_at, text, source, truncated, retweeted_status_id)"
                            " VALUES(?1, ?2, ?3, 'web', ?4, ?5)");
    insert.bind(1, viewerId).bind(2, static_cast<std::int64_t>(std::time(nullptr))).bindText(3, text)
        .bind(4, truncated ? 1 : 0).bind(5, original->id);
    insert.step();
    const std::int64_t id = sqlite3_last_insert_rowid(m_db);
    auto stored = statusLocked(viewerId, id);
    if (!stored)
        throw StoreError("a new repeat vanished");
    Change change{id, noteLocked(id)};
    transaction.commit();
    lock.unlock();
    tell(change);
    return {Repeat::Done, std::move(*stored)};
}

std::optional<StatusRecord> Store::favourite(std::int64_t viewerId, std::int64_t statusId)
{
    std::unique_lock lock(m_mutex);
    Transaction transaction(*this);
    Statement insert(*this, "INSERT OR IGNORE INTO favourites(user_id, status_id) SELECT ?1, id FROM statuses WHERE id = ?2");
    insert.bind(1, viewerId).bind(2, statusId);
    insert.step();
    auto stored = statusLocked(viewerId, statusId);
    if (!stored)
        return stored;
    Change change;
    Statement note(*this, "INSERT OR IGNORE INTO notifications(user_id, type, account_id, status_id, created_at)"
                          " SELECT user_id, 'favourite', ?1, id, ?3 FROM statuses WHERE id = ?2 AND user_id <> ?1");
    note.bind(1, viewerId).bind(2, statusId).bind(3, now());
    note.step();
    if (sqlite3_changes(m_db) > 0)
        change.notificationIds.push_back(sqlite3_last_insert_rowid(m_db));
    transaction.commit();
    lock.unlock();
    tell(change);
    return stored;
}

std::optional<StatusRecord> Store::unfavourite(std::int64_t viewerId, std::int64_t statusId)
{
    std::lock_guard lock(m_mutex);
    Statement remove(*this, "DELETE FROM favourites WHERE user_id = ?1 AND status_id = ?2");
    remove.bind(1, viewerId).bind(2, statusId);
    remove.step();
    return statusLocked(viewerId, statusId);
}

std::optional<StatusRecord> Store::repeatOf(std::int64_t viewerId, std::int64_t statusId)
{
    std::lock_guard lock(m_mutex);
    Statement query(*this, std::string(kStatusColumns) + "WHERE s.user_id = ?1 AND s.retweeted_status_id = ?2");
    query.bind(1, viewerId).bind(2, statusId);
    auto found = readStatusesLocked(query, viewerId);
    if (found.empty())
        return std::nullopt;
    return std::move(found.front());
}

std::optional<UserRecord> Store::userByName(const std::string& screenName)
{
    std::int64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        Statement find(*this, "SELECT id FROM users WHERE screen_name = ?1 COLLATE NOCASE");
        find.bindText(1, screenName);
        if (!find.step())
            return std::nullopt;
        id = find.integer(0);
    }
    return user(id);
}

bool Store::follows(std::int64_t viewerId, std::int64_t accountId)
{
    if (viewerId == accountId)
        return true;
    std::lock_guard lock(m_mutex);
    Statement find(*this, "SELECT 1 FROM friendships WHERE follower_id = ?1 AND followed_id = ?2");
    find.bind(1, viewerId).bind(2, accountId);
    return find.step();
}

// "AND column < max AND column > since AND column > min ORDER BY ... LIMIT" for ?3-?6.
static std::string windowSql(const char* column, const Store::Window& window)
{
    const std::string c = column;
    return " AND (?3 = 0 OR " + c + " < ?3) AND (?4 = 0 OR " + c + " > ?4) AND (?5 = 0 OR " + c + " > ?5)"
           + " ORDER BY " + c + (window.minId > 0 ? " ASC" : " DESC") + " LIMIT ?6";
}

template <class T>
static void newestFirst(std::vector<T>& items, const Store::Window& window)
{
    if (window.minId > 0)
        std::reverse(items.begin(), items.end());
}

std::vector<StatusRecord> Store::homeTimeline(std::int64_t viewerId, const Window& window)
{
    std::lock_guard lock(m_mutex);
    Statement query(*this, std::string(kStatusColumns)
                               + "WHERE (s.user_id = ?1 OR s.user_id IN (SELECT followed_id FROM friendships WHERE follower_id = ?1))"
                               + windowSql("s.id", window));
    query.bind(1, viewerId).bind(3, window.maxId).bind(4, window.sinceId).bind(5, window.minId).bind(6, window.limit);
    auto statuses = readStatusesLocked(query, viewerId);
    newestFirst(statuses, window);
    return statuses;
}

static std::string joined(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& name : names)
        out += "," + name;
    return out.empty() ? out : out + ",";
}

std::vector<Store::Notification> Store::notifications(std::int64_t viewerId, const Window& window,
                                                      const std::vector<std::string>& types,
                                                      const std::vector<std::string>& excluded)
{
    std::vector<std::int64_t> ids;
    {
        std::lock_guard lock(m_mutex);
        // A protected account's doings only when the viewer follows it, as with mentions.
        Statement query(*this, "SELECT n.id FROM notifications n JOIN users a ON a.id = n.account_id"
                               " WHERE n.user_id = ?1"
                               " AND (a.protected = 0 OR a.id IN (SELECT followed_id FROM friendships WHERE follower_id = ?1))"
                               " AND (?2 = '' OR instr(?2, ',' || n.type || ',') > 0)"
                               " AND instr(?7, ',' || n.type || ',') = 0"
                               + windowSql("n.id", window));
        query.bind(1, viewerId).bindText(2, joined(types)).bind(3, window.maxId).bind(4, window.sinceId)
            .bind(5, window.minId).bind(6, window.limit).bindText(7, joined(excluded) + ",");
        while (query.step())
            ids.push_back(query.integer(0));
    }
    newestFirst(ids, window);
    std::vector<Notification> out;
    for (const std::int64_t id : ids) {
        if (auto n = notification(viewerId, id))
            out.push_back(std::move(*n));
    }
    return out;
}

std::optional<Store::Notification> Store::notification(std::int64_t viewerId, std::int64_t notificationId)
{
    Notification n;
    std::int64_t accountId = 0;
    std::int64_t statusId = 0;
    {
        std::lock_guard lock(m_mutex);
        Statement query(*this, "SELECT id, type, created_at, account_id, status_id FROM notifications"
                               " WHERE id = ?1 AND user_id = ?2");
        query.bind(1, notificationId).bind(2, viewerId);
        if (!query.step())
            return std::nullopt;
        n.id = query.integer(0);
        n.type = query.text(1);
        n.createdAt = query.integer(2);
        accountId = query.integer(3);
        statusId = query.integer(4);
        n.status = statusLocked(viewerId, statusId);
    }
    auto account = user(accountId);
    if (!account)
        return std::nullopt;
    n.account = std::move(*account);
    return n;
}

void Store::setObserver(std::function<void(const Change&)> observer)
{
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

void Store::tell(const Change& change)
{
    std::function<void(const Change&)> observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_observer;
    }
    if (observer && (change.statusId != 0 || !change.notificationIds.empty()))
        observer(change);
}

std::vector<std::int64_t> Store::noteLocked(std::int64_t statusId)
{
    Statement last(*this, "SELECT COALESCE(MAX(id), 0) FROM notifications");
    last.step();
    const std::int64_t before = last.integer(0);
    Statement note(*this, kNoteStatus);
    note.bind(1, statusId);
    note.step();
    std::vector<std::int64_t> ids;
    Statement made(*this, "SELECT id FROM notifications WHERE id > ?1 ORDER BY id");
    made.bind(1, before);
    while (made.step())
        ids.push_back(made.integer(0));
    return ids;
}

std::string Store::randomText()
{
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        throw StoreError("no random bytes");
    return base64Url(bytes, sizeof bytes);
}

Store::App Store::createApp(const std::string& name, const std::string& website, const std::string& redirectUris,
                            const std::string& scopes)
{
    App app{0, name, website, redirectUris, scopes, randomText(), randomText()};
    std::lock_guard lock(m_mutex);
    Statement insert(*this, "INSERT INTO apps(name, website, redirect_uris, scopes, client_id, client_secret)"
                            " VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bindText(1, name).bindText(2, website).bindText(3, redirectUris).bindText(4, scopes)
        .bindText(5, app.clientId).bindText(6, app.clientSecret);
    insert.step();
    app.id = sqlite3_last_insert_rowid(m_db);
    return app;
}

std::optional<Store::App> Store::appByClientId(const std::string& clientId)
{
    std::lock_guard lock(m_mutex);
    Statement find(*this, "SELECT id, name, website, redirect_uris, scopes, client_id, client_secret FROM apps"
                          " WHERE client_id = ?1");
    find.bindText(1, clientId);
    if (!find.step())
        return std::nullopt;
    return App{find.integer(0), find.text(1), find.text(2), find.text(3), find.text(4), find.text(5), find.text(6)};
}

std::string Store::createGrant(const Grant& grant)
{
    const std::string code = randomText();
    std::lock_guard lock(m_mutex);
    Statement insert(*this, "INSERT INTO grants(code_hash, app_id, user_id, redirect_uri, scopes, challenge, created_at)"
                            " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.bindBlob(1, sha256(code)).bind(2, grant.appId).bind(3, grant.userId).bindText(4, grant.redirectUri)
        .bindText(5, grant.scopes).bindText(6, grant.challenge).bind(7, now());
    insert.step();
    return code;
}

std::optional<Store::Grant> Store::takeGrant(const std::string& code)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    Statement find(*this, "SELECT app_id, user_id, redirect_uri, scopes, challenge, created_at FROM grants WHERE code_hash = ?1");
    find.bindBlob(1, sha256(code));
    if (!find.step())
        return std::nullopt;
    Grant grant{find.integer(0), find.integer(1), find.text(2), find.text(3), find.text(4), find.integer(5)};
    Statement remove(*this, "DELETE FROM grants WHERE code_hash = ?1");
    remove.bindBlob(1, sha256(code));
    remove.step();
    transaction.commit();
    return grant;
}

std::string Store::createToken(std::int64_t appId, std::int64_t userId, const std::string& scopes, const std::string& token)
{
    const std::string value = token.empty() ? randomText() : token;
    std::lock_guard lock(m_mutex);
    Statement insert(*this, "INSERT OR REPLACE INTO tokens(token_hash, app_id, user_id, scopes, created_at)"
                            " VALUES(?1, ?2, ?3, ?4, ?5)");
    insert.bindBlob(1, sha256(value)).bind(3, userId).bindText(4, scopes).bind(5, now());
    if (appId > 0)
        insert.bind(2, appId);
    insert.step();
    return value;
}

std::optional<Store::TokenOwner> Store::tokenOwner(const std::string& token)
{
    std::lock_guard lock(m_mutex);
    Statement find(*this, "SELECT t.user_id, t.scopes, COALESCE(a.name, '') FROM tokens t"
                          " LEFT JOIN apps a ON a.id = t.app_id WHERE t.token_hash = ?1");
    find.bindBlob(1, sha256(token));
    if (!find.step())
        return std::nullopt;
    return TokenOwner{find.integer(0), find.text(1), find.text(2)};
}

void Store::runBatch(const std::function<void(Batch&)>& body)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    Batch batch;
    batch.createUser = [this](const NewUser& user) { return insertUserLocked(user); };
    batch.follow = [this](std::int64_t follower, std::int64_t followed) {
        Statement insert(*this, "INSERT OR IGNORE INTO friendships(follower_id, followed_id) VALUES(?1, ?2)");
        insert.bind(1, follower).bind(2, followed);
        insert.step();
    };
    batch.insertStatus = [this](std::int64_t id, std::int64_t userId, std::int64_t createdAt,
                                const std::string& text, const std::string& source, std::int64_t inReplyTo) {
        Statement insert(*this, "INSERT INTO statuses(id, user_id, created_at, text, source, in_reply_to_status_id)"
                                " VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        if (id > 0)
            insert.bind(1, id);
        if (inReplyTo > 0)
            insert.bind(6, inReplyTo);
        insert.bind(2, userId).bind(3, createdAt).bindText(4, text).bindText(5, source);
        insert.step();
        return static_cast<std::int64_t>(sqlite3_last_insert_rowid(m_db));
    };
    batch.markFavourite = [this](std::int64_t userId, std::int64_t statusId) {
        Statement insert(*this, "INSERT OR IGNORE INTO favourites(user_id, status_id) VALUES(?1, ?2)");
        insert.bind(1, userId).bind(2, statusId);
        insert.step();
    };
    batch.setMeta = [this](const std::string& key, const std::string& value) { setMetaLocked(key, value); };
    body(batch);
    noteLocked(0);
    transaction.commit();
}

std::string Store::meta(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    Statement query(*this, "SELECT value FROM meta WHERE key = ?1");
    query.bindText(1, key);
    return query.step() ? query.text(0) : std::string();
}

void Store::setMeta(const std::string& key, const std::string& value)
{
    std::lock_guard lock(m_mutex);
    setMetaLocked(key, value);
}

void Store::setMetaLocked(const std::string& key, const std::string& value)
{
    Statement upsert(*this, "INSERT INTO meta(key, value) VALUES(?1, ?2) ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    upsert.bindText(1, key).bindText(2, value);
    upsert.step();
}

std::int64_t Store::count(const std::string& table)
{
    std::lock_guard lock(m_mutex);
    for (const char* known : {"users", "friendships", "statuses", "favourites"}) {
        if (table == known) {
            Statement query(*this, "SELECT COUNT(*) FROM " + table);
            query.step();
            return query.integer(0);
        }
    }
    throw StoreError("no table " + table);
}

bool Store::integrityOk()
{
    std::lock_guard lock(m_mutex);
    Statement check(*this, "PRAGMA integrity_check");
    return check.step() && check.text(0) == "ok";
}

} // namespace localservice
