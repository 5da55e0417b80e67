#include "Store.h"

#include "FormCodec.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

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
  retweeted_status_id INTEGER REFERENCES statuses(id));
CREATE INDEX IF NOT EXISTS statuses_by_user ON statuses(user_id, id);
CREATE TABLE IF NOT EXISTS favourites(
  user_id INTEGER NOT NULL REFERENCES users(id),
  status_id INTEGER NOT NULL REFERENCES statuses(id),
  PRIMARY KEY(user_id, status_id));
)sql";

// Files made before replies and repeats lack these columns; they are added on open, the
// rows kept. Indexes that name them come after.
constexpr std::pair<const char*, const char*> kAddedStatusColumns[] = {
    {"in_reply_to_status_id", "ALTER TABLE statuses ADD COLUMN in_reply_to_status_id INTEGER REFERENCES statuses(id)"},
    {"retweeted_status_id", "ALTER TABLE statuses ADD COLUMN retweeted_status_id INTEGER REFERENCES statuses(id)"},
};
constexpr const char* kLaterIndexes = R"sql(
CREATE UNIQUE INDEX IF NOT EXISTS statuses_one_repeat_each ON statuses(user_id, retweeted_status_id)
  WHERE retweeted_status_id IS NOT NULL;
CREATE INDEX IF NOT EXISTS statuses_by_parent ON statuses(in_reply_to_status_id)
  WHERE in_reply_to_status_id IS NOT NULL;
)sql";
constexpr const char* kSchemaVersion = "2";

// Columns 0-17 of every status read, in StatusRecord order, and 18 the id of the status it
// repeats; ?1 is the viewer. p is the status answered, pu its author.
constexpr const char* kStatusColumns = R"sql(
SELECT s.id, s.created_at, s.text, s.source, s.truncated,
       EXISTS(SELECT 1 FROM favourites f WHERE f.user_id = ?1 AND f.status_id = s.id),
       u.id, u.name, u.screen_name, u.location, u.description, u.profile_image_url, u.url,
       u.protected, (SELECT COUNT(*) FROM friendships fr WHERE fr.followed_id = u.id),
       p.id, p.user_id, pu.screen_name, s.retweeted_status_id
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
        setMetaLocked("schema", kSchemaVersion);
        transaction.commit();
        if (sqlite3_create_function_v2(m_db, "mentions", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                       mentionsFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail("register mentions()");
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
                              std::int64_t inReplyToStatusId)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    // An id with no status behind it is dropped in the same statement, so the check
    // cannot race a concurrent change.
    Statement insert(*this, "INSERT INTO statuses(user_id, created_at, text, source, truncated, in_reply_to_status_id)"
                            " VALUES(?1, ?2, ?3, ?4, ?5, (SELECT id FROM statuses WHERE id = ?6))");
    insert.bind(1, userId).bind(2, static_cast<std::int64_t>(std::time(nullptr)))
        .bindText(3, text).bindText(4, source).bind(5, truncated ? 1 : 0).bind(6, inReplyToStatusId);
    insert.step();
    const std::int64_t id = sqlite3_last_insert_rowid(m_db);
    auto stored = statusLocked(userId, id);
    if (!stored)
        throw StoreError("a new status vanished");
    transaction.commit();
    return *stored;
}

Store::Repeat Store::repeat(std::int64_t viewerId, std::int64_t statusId, std::size_t textLimit)
{
    std::lock_guard lock(m_mutex);
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
    auto stored = statusLocked(viewerId, sqlite3_last_insert_rowid(m_db));
    if (!stored)
        throw StoreError("a new repeat vanished");
    transaction.commit();
    return {Repeat::Done, std::move(*stored)};
}

std::optional<StatusRecord> Store::favourite(std::int64_t viewerId, std::int64_t statusId)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(*this);
    Statement insert(*this, "INSERT OR IGNORE INTO favourites(user_id, status_id) SELECT ?1, id FROM statuses WHERE id = ?2");
    insert.bind(1, viewerId).bind(2, statusId);
    insert.step();
    auto stored = statusLocked(viewerId, statusId);
    if (stored)
        transaction.commit();
    return stored;
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
