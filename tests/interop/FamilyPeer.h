#pragma once
// A loopback peer shaped after one of the two server families that still serve the XML
// interface, answering the calls the program makes the way that family does:
//
// GNU social 2.x under PHP's own server: replies framed by the close (HTTP/1.1,
// "Connection: close", no length, no chunks); the timeline carries ETag and Last-Modified;
// failures are <hash><error/><request/></hash> with 401 (realm "<site name> API"), 403 for
// a repeated favourite or the same status again, 413 for a status over the limit;
// statusnet/config.xml prints 0 as "false" and 1 as "true".
//
// Friendica: the calls under /api and /api/1.1; the timeline's root in the default
// namespace http://api.twitter.com with statusnet:, friendica: and georss: prefixes, each
// status with friendica:author and friendica:owner holding names of their own; no
// favorites/create/ID.xml, favorites/create.xml takes id=ID; textlimit 200000.
//
// Both take in_reply_to_status_id with an update, repeat with POST
// statuses/retweet/ID.xml ("RT @name: text", the original in <retweeted_status>), list a
// fixed few statuses naming @alice in statuses/mentions.xml and describe alice in
// account/verify_credentials.xml. GNU social refuses a second repeat of a status, or one
// of alice's own, with 403 and its <hash>; Friendica repeats whatever it is asked to.
// Friendica's statuses carry <external_url>, the status's page on its site; GNU social's
// do not (a client opens <site>/notice/ID). Friendica's single-status and user documents
// declare the namespaces their prefixes use, as its timeline does.
//
// What is not known of a family (Friendica's framing, its 401 and 404 bodies) is answered
// plainly: a length, a text body. One account, alice/secret. Connections are served one
// after the other on a thread of the peer's own.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

class FamilyPeer {
public:
    enum Family { GnuSocial, Friendica };
    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "secret";
    static constexpr const char* kEmail = "alice@example.org";  // signs in as alice too
    static constexpr const char* kUserName = "Alice";
    static constexpr int kUserId = 42;
    static constexpr int kPageSize = 20;
    // An older status of alice's, not in the timeline; one of the mentions answers it.
    static constexpr int kAccountStatusId = 900;

    struct Options {
        // What statusnet/config.xml prints, as printed; empty: the element is left out.
        QByteArray textLimit;
        QByteArray contentLimit;
        int statuses = 25;  // in the timeline at the start, newest (highest id) first
    };

    FamilyPeer(Family family, Options options);
    explicit FamilyPeer(Family family) : FamilyPeer(family, DefaultOptions(family)) {}
    ~FamilyPeer();
    FamilyPeer(const FamilyPeer&) = delete;
    FamilyPeer& operator=(const FamilyPeer&) = delete;

    static Options DefaultOptions(Family family);

    bool isListening() const { return m_listenFd >= 0; }
    // "http://127.0.0.1:PORT/api" (prefix "/api/1.1" is Friendica's other base).
    QByteArray base(const QByteArray& prefix = "/api") const;

    // Every request received, whole (head and body), in order; and their request lines.
    std::vector<QByteArray> requests() const;
    QStringList requestLines() const;
    // Status ids the account has made favourites; texts posted, oldest first.
    std::set<QString> favourites() const;
    QStringList posted() const;
    // One of the others posts text naming the account: the newest status of both the
    // timeline and the mentions. Its id.
    int mention(const QString& text);
    // The name each status's row shows: the user's (never the author's or owner's).
    static QString UserNameOf(int id);
    // The statuses of statuses/mentions.xml, newest first.
    static QStringList MentionIds();
    // A Friendica status's <external_url>.
    static QByteArray ExternalUrlOf(int id);

private:
    struct Request {
        QByteArray method, path, query, head, body;
        QByteArray header(const QByteArray& name) const;
    };
    struct Reply {
        int code = 200;
        QByteArray type = "application/xml; charset=utf-8";
        QByteArray body;
        std::vector<QByteArray> headers;
    };
    struct Status {
        int id;
        QString name, text;
        bool byAccount = false;  // alice's own; else by one of three others, chosen by id
        int inReplyTo = 0;       // 0: answers nothing
        int retweetOf = 0;       // 0: not a repeat
    };

    void serve();
    bool readRequest(int fd, Request* request);
    void writeReply(int fd, const Reply& reply) const;
    Reply answer(const Request& request);
    Reply failure(int code, const QByteArray& message, const Request& request) const;
    QByteArray statusXml(const Status& status, const QByteArray& element = "status") const;
    QByteArray statusDocument(const Status& status) const;
    QByteArray statusesXml(const std::vector<Status>& statuses, int page) const;
    QByteArray userXml(int userId, const QString& name, const QByteArray& screenName,
                       const QByteArray& attributes = {}) const;
    QByteArray namespaces() const;
    const Status* find(int id) const;
    int nextId() const;
    Reply retweet(const Request& request, const QByteArray& id);
    QByteArray configXml() const;

    const Family m_family;
    const Options m_options;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    bool m_stopping = false;
    std::vector<Status> m_timeline;  // newest first
    std::vector<Status> m_mentions;  // newest first
    std::set<QString> m_favourites;
    std::set<int> m_repeated;        // originals alice has repeated
    QStringList m_posted;
    std::vector<QByteArray> m_requests;
};
