#include "FamilyPeer.h"

#include "LoopbackListener.h"

#include <QDateTime>

#include <poll.h>

#include <algorithm>

namespace {

constexpr int kFirstId = 1001;
constexpr qsizetype kMaxHead = 64 * 1024;
constexpr qsizetype kMaxBody = 1024 * 1024;
constexpr int kReadTimeoutMs = 10000;  // a client that stops sending loses its connection
const QByteArray kSiteName = "Loopback Social";
const QByteArray kLastModified = "Mon, 07 Dec 2026 19:00:00 GMT";

QByteArray Escape(const QString& s)
{
    return s.toHtmlEscaped().toUtf8();
}

QByteArray Reason(int code)
{
    switch (code) {
    case 200: return "OK";
    case 304: return "Not Modified";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Request Entity Too Large";
    default: return "Bad Request";
    }
}

// One field of a form body, decoded.
QString FormField(const QByteArray& body, const QByteArray& name)
{
    for (const QByteArray& pair : body.split('&')) {
        if (pair.startsWith(name + '='))
            return QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(name.size() + 1).replace('+', ' ')));
    }
    return {};
}

bool IsCount(const QByteArray& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The limit a status is held to: a numeric contentlimit, else textlimit ("false" is 0,
// "true" 1). 0: none.
int NoticeLimit(const QByteArray& textLimit, const QByteArray& contentLimit)
{
    if (IsCount(contentLimit))
        return contentLimit.toInt();
    if (textLimit == "true")
        return 1;
    return IsCount(textLimit) ? textLimit.toInt() : 0;
}

} // namespace

FamilyPeer::Options FamilyPeer::DefaultOptions(Family family)
{
    Options options;
    options.textLimit = family == GnuSocial ? "1000" : "200000";
    return options;
}

QString FamilyPeer::UserNameOf(int id)
{
    static const char* const names[] = {"さくら", "Kenji", "ゆき"};
    return QString::fromUtf8(names[id % 3]);
}

FamilyPeer::FamilyPeer(Family family, Options options)
    : m_family(family), m_options(std::move(options))
{
    for (int id = kFirstId + m_options.statuses - 1; id >= kFirstId; --id)
        m_timeline.push_back({id, UserNameOf(id), QStringLiteral("つぶやき %1 http://example.org/%1").arg(id)});
    m_listenFd = ListenOnLoopback(&m_port);
    if (m_listenFd >= 0)
        m_thread = std::thread([this] { serve(); });
}

FamilyPeer::~FamilyPeer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

QByteArray FamilyPeer::base(const QByteArray& prefix) const
{
    return "http://127.0.0.1:" + QByteArray::number(m_port) + prefix;
}

std::vector<QByteArray> FamilyPeer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

QStringList FamilyPeer::requestLines() const
{
    QStringList lines;
    for (const QByteArray& r : requests())
        lines << QString::fromUtf8(r.left(r.indexOf("\r\n")));
    return lines;
}

std::set<QString> FamilyPeer::favourites() const
{
    std::lock_guard lock(m_mutex);
    return m_favourites;
}

QStringList FamilyPeer::posted() const
{
    std::lock_guard lock(m_mutex);
    return m_posted;
}

void FamilyPeer::serve()
{
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
        }
        pollfd listening{m_listenFd, POLLIN, 0};
        if (::poll(&listening, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Request request;
        if (readRequest(fd, &request)) {
            Reply reply;
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request.head + request.body);
                reply = answer(request);
            }
            writeReply(fd, reply);
        }
        ::close(fd);
    }
}

bool FamilyPeer::readRequest(int fd, Request* request)
{
    QByteArray data;
    qsizetype headEnd = -1;
    qsizetype wanted = -1;
    char buffer[8192];
    while (wanted < 0 || data.size() < wanted) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, kReadTimeoutMs) <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        data.append(buffer, n);
        if (headEnd < 0) {
            headEnd = data.indexOf("\r\n\r\n");
            if (headEnd < 0) {
                if (data.size() > kMaxHead)
                    return false;
                continue;
            }
            request->head = data.left(headEnd + 4);
            const qsizetype length = request->header("Content-Length").toLongLong();
            if (length < 0 || length > kMaxBody)
                return false;
            wanted = headEnd + 4 + length;
        }
    }
    request->body = data.mid(headEnd + 4, wanted - headEnd - 4);
    const QList<QByteArray> line = request->head.left(request->head.indexOf("\r\n")).split(' ');
    if (line.size() != 3)
        return false;
    request->method = line[0];
    const qsizetype question = line[1].indexOf('?');
    request->path = question < 0 ? line[1] : line[1].left(question);
    request->query = question < 0 ? QByteArray() : line[1].mid(question + 1);
    return true;
}

QByteArray FamilyPeer::Request::header(const QByteArray& name) const
{
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

void FamilyPeer::writeReply(int fd, const Reply& reply) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.code) + ' ' + Reason(reply.code) + "\r\n";
    out += "Connection: close\r\n";
    if (reply.code != 304)
        out += "Content-Type: " + reply.type + "\r\n";
    for (const QByteArray& h : reply.headers)
        out += h + "\r\n";
    // PHP's own server, as GNU social runs under it, ends the body by closing.
    if (m_family == Friendica)
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += "\r\n" + reply.body;
    for (qsizetype sent = 0; sent < out.size();) {
        const ssize_t n = ::send(fd, out.constData() + sent, size_t(out.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

FamilyPeer::Reply FamilyPeer::failure(int code, const QByteArray& message, const Request& request) const
{
    Reply reply;
    reply.code = code;
    if (m_family == GnuSocial) {
        reply.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hash>\n <error>" + message + "</error>\n <request>"
                     + request.path + "</request>\n</hash>\n";
    } else {
        reply.type = "text/plain; charset=utf-8";
        reply.body = message + '\n';
    }
    if (code == 401) {
        reply.headers.push_back("WWW-Authenticate: Basic realm=\""
                                + (m_family == GnuSocial ? kSiteName + " API" : QByteArray("Friendica")) + '"');
    }
    return reply;
}

FamilyPeer::Reply FamilyPeer::answer(const Request& request)
{
    QByteArray call = request.path;
    // Friendica serves the calls under /api/1.1 as well.
    if (m_family == Friendica && call.startsWith("/api/1.1/"))
        call = call.mid(9);
    else if (call.startsWith("/api/"))
        call = call.mid(5);
    const bool get = request.method == "GET", post = request.method == "POST";
    Reply reply;

    if (get && call == "statusnet/config.xml") {
        reply.body = configXml();
        return reply;
    }
    if (get && call == "statuses/update.xml" && m_family == GnuSocial) {
        reply.code = 405;
        reply.type = "text/html; charset=utf-8";
        reply.body = "<!DOCTYPE html>\n<html><head><title>Error</title></head><body><p>This method requires a POST.</p>"
                     "</body></html>\n";
        return reply;
    }
    const QByteArray credentials = QByteArray(kUser) + ':' + kPassword;
    if (request.header("Authorization") != "Basic " + credentials.toBase64())
        return failure(401, "Could not authenticate you.", request);

    if (get && call == "statuses/friends_timeline.xml") {
        int page = 1;
        for (const QByteArray& pair : request.query.split('&')) {
            if (pair.startsWith("page="))
                page = pair.mid(5).toInt();
        }
        if (page < 1)
            page = 1;
        if (m_family == GnuSocial) {
            const QByteArray etag = "\"" + QByteArray::number(m_timeline.front().id) + "-" + QByteArray::number(page)
                                    + "-" + QByteArray::number(qsizetype(m_favourites.size())) + "\"";
            if (request.header("If-None-Match") == etag) {
                reply.code = 304;
                return reply;
            }
            reply.headers = {"ETag: " + etag, "Last-Modified: " + kLastModified};
        }
        reply.body = timelineXml(page);
        return reply;
    }
    if (post && call == "statuses/update.xml") {
        const QString text = FormField(request.body, "status");
        const int limit = NoticeLimit(m_options.textLimit, m_options.contentLimit);
        // Counted in characters, not UTF-16 units.
        if (m_family == GnuSocial && limit > 0 && text.toUcs4().size() > limit)
            return failure(413, "That's too long. Maximum notice size is " + QByteArray::number(limit) + " characters.",
                           request);
        // Within the minute, the same text again is a duplicate; tests run well inside one.
        if (m_family == GnuSocial && m_posted.contains(text))
            return failure(403, "Too many duplicate messages too quickly; take a breather and post again in a few minutes.",
                           request);
        m_posted << text;
        const Status status{m_timeline.front().id + 1, QStringLiteral("Alice"), text};
        m_timeline.insert(m_timeline.begin(), status);
        reply.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + statusXml(status);
        return reply;
    }
    const QByteArray byPath = "favorites/create/";
    QByteArray favourite;
    if (post && m_family == GnuSocial && call.startsWith(byPath) && call.endsWith(".xml"))
        favourite = call.mid(byPath.size(), call.size() - byPath.size() - 4);
    else if (post && m_family == Friendica && call == "favorites/create.xml")
        favourite = FormField(request.body, "id").toUtf8();
    if (!favourite.isEmpty()) {
        const auto found = std::find_if(m_timeline.begin(), m_timeline.end(),
                                        [&](const Status& s) { return QByteArray::number(s.id) == favourite; });
        if (found == m_timeline.end())
            return failure(404, "No status found with that ID.", request);
        if (m_family == GnuSocial && m_favourites.count(QString::fromUtf8(favourite)))
            return failure(403, "This status is already a favorite.", request);
        m_favourites.insert(QString::fromUtf8(favourite));
        reply.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + statusXml(*found);
        return reply;
    }
    return failure(404, "API method not found.", request);
}

QByteArray FamilyPeer::statusXml(const Status& status) const
{
    const QByteArray id = QByteArray::number(status.id);
    QByteArray xml = "<status>\n  <text>" + Escape(status.text) + "</text>\n  <truncated>false</truncated>\n"
                     "  <created_at>Mon Dec 07 19:00:00 +0000 2026</created_at>\n"
                     "  <in_reply_to_status_id></in_reply_to_status_id>\n  <source>web</source>\n  <id>" + id
                     + "</id>\n  <in_reply_to_user_id></in_reply_to_user_id>\n"
                       "  <in_reply_to_screen_name></in_reply_to_screen_name>\n  <geo></geo>\n  <favorited>"
                     + (m_favourites.count(QString::number(status.id)) ? "true" : "false") + "</favorited>\n";
    if (m_family == Friendica) {
        // Author and owner come before the user, each with a name that is not the row's.
        xml += "  <friendica:author>\n    <name>author of " + id + "</name>\n    <screen_name>a" + id
               + "</screen_name>\n  </friendica:author>\n  <friendica:owner>\n    <name>owner of " + id
               + "</name>\n    <screen_name>o" + id + "</screen_name>\n  </friendica:owner>\n";
    }
    xml += "  <user>\n    <id>" + QByteArray::number(status.id % 3 + 1) + "</id>\n    <name>" + Escape(status.name)
           + "</name>\n    <screen_name>u" + QByteArray::number(status.id % 3) + "</screen_name>\n"
           + "    <protected>false</protected>\n    <followers_count>3</followers_count>\n  </user>\n";
    if (m_family == Friendica) {
        xml += "  <statusnet:html>" + Escape(status.text) + "</statusnet:html>\n  <statusnet:conversation_id>" + id
               + "</statusnet:conversation_id>\n  <georss:point>35.68 139.76</georss:point>\n";
    }
    return xml + "</status>\n";
}

QByteArray FamilyPeer::timelineXml(int page) const
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<statuses type=\"array\"";
    if (m_family == Friendica) {
        xml += " xmlns=\"http://api.twitter.com\" xmlns:statusnet=\"http://status.net/schema/api/1/\""
               " xmlns:friendica=\"http://friendi.ca/schema/api/1/\" xmlns:georss=\"http://www.georss.org/georss\"";
    }
    xml += ">\n";
    const size_t first = size_t(page - 1) * kPageSize;
    for (size_t i = first; i < m_timeline.size() && i < first + kPageSize; ++i)
        xml += statusXml(m_timeline[i]);
    return xml + "</statuses>\n";
}

QByteArray FamilyPeer::configXml() const
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n <site>\n  <name>" + kSiteName
                     + "</name>\n  <server>127.0.0.1</server>\n  <closed>false</closed>\n";
    if (!m_options.textLimit.isEmpty())
        xml += "  <textlimit>" + m_options.textLimit + "</textlimit>\n";
    xml += " </site>\n";
    if (!m_options.contentLimit.isEmpty())
        xml += " <notice>\n  <contentlimit>" + m_options.contentLimit + "</contentlimit>\n </notice>\n";
    return xml + "</config>\n";
}
