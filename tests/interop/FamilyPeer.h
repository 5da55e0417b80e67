#pragma once
// A loopback peer shaped after one of the two server families that still serve the XML
// interface, answering the calls the program makes the way that family does:
//
// GNU social 2.x under PHP's own server: replies framed by the close (HTTP/1.1,
// "Connection: close", no length, no chunks); the timeline carries ETag and Last-Modified
// and answers 304 to a matching If-None-Match; failures are <hash><error/><request/></hash>
// with 401 (realm "<site name> API"), 403 for a repeated favourite or the same status
// again, 413 for a status over the limit; a GET of statuses/update.xml is 405 with an HTML
// page; statusnet/config.xml prints 0 as "false" and 1 as "true".
//
// Friendica: the calls under /api and /api/1.1; the timeline's root in the default
// namespace http://api.twitter.com with statusnet:, friendica: and georss: prefixes, each
// status with friendica:author and friendica:owner holding names of their own; no
// favorites/create/ID.xml, favorites/create.xml takes id=ID; textlimit 200000.
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
    static constexpr int kPageSize = 20;

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
    // The name each status's row shows: the user's (never the author's or owner's).
    static QString UserNameOf(int id);

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
    };

    void serve();
    bool readRequest(int fd, Request* request);
    void writeReply(int fd, const Reply& reply) const;
    Reply answer(const Request& request);
    Reply failure(int code, const QByteArray& message, const Request& request) const;
    QByteArray statusXml(const Status& status) const;
    QByteArray timelineXml(int page) const;
    QByteArray configXml() const;

    const Family m_family;
    const Options m_options;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    bool m_stopping = false;
    std::vector<Status> m_timeline;  // newest first
    std::set<QString> m_favourites;
    QStringList m_posted;
    std::vector<QByteArray> m_requests;
};
