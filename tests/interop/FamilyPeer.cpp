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
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
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

int PageOf(const QByteArray& query)
{
    int page = 1;
    for (const QByteArray& pair : query.split('&')) {
        if (pair.startsWith("page="))
            page = pair.mid(5).toInt();
    }
    return std::max(page, 1);
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

namespace {

// statuses/mentions.xml, newest first: by the others, below the timeline's ids.
struct Mention {
    int id;
    const char* text;
    int inReplyTo;
};
constexpr Mention kMentions[] = {
    {953, "@alice 明日の件、了解です", 0},
    {952, "@alice さん、これ見ました？ http://example.org/952", FamilyPeer::kAccountStatusId},
    {951, "おはよう @alice", 0},
};

QByteArray ScreenNameOf(int id, bool byAccount)
{
    return byAccount ? QByteArray(FamilyPeer::kUser) : "u" + QByteArray::number(id % 3);
}

int UserIdOf(int id, bool byAccount)
{
    return byAccount ? FamilyPeer::kUserId : id % 3 + 1;
}

} // namespace

QStringList FamilyPeer::MentionIds()
{
    QStringList ids;
    for (const Mention& m : kMentions)
        ids << QString::number(m.id);
    return ids;
}

QByteArray FamilyPeer::ExternalUrlOf(int id)
{
    return "https://friendica.example/display/0a1b2c3d-" + QByteArray::number(id);
}

FamilyPeer::FamilyPeer(Family family, Options options)
    : m_family(family), m_options(std::move(options))
{
    for (int id = kFirstId + m_options.statuses - 1; id >= kFirstId; --id)
        m_timeline.push_back({id, UserNameOf(id), QStringLiteral("つぶやき %1 http://example.org/%1").arg(id)});
    for (const Mention& m : kMentions)
        m_mentions.push_back({m.id, UserNameOf(m.id), QString::fromUtf8(m.text), false, m.inReplyTo});
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




int FamilyPeer::mention(const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int id = nextId();
    const Status status{id, UserNameOf(id), text};
    m_timeline.insert(m_timeline.begin(), status);
    m_mentions.insert(m_mentions.begin(), status);
    return id;
}

int FamilyPeer::nextId() const
{
    return (m_timeline.empty() ? kFirstId - 1 : m_timeline.front().id) + 1;
}

const FamilyPeer::Status* FamilyPeer::find(int id) const
{
    for (const auto* list : {&m_timeline, &m_mentions}) {
        const auto found = std::find_if(list->begin(), list->end(), [id](const Status& s) { return s.id == id; });
        if (found != list->end())
            return &*found;
    }
    return nullptr;
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
    const QByteArray retweetPath = "statuses/retweet/";
    const bool isRetweet = call.startsWith(retweetPath) && call.endsWith(".xml");
    // Both families let an account sign in with its e-mail address as well.
    const QByteArray authorization = request.header("Authorization");
    const auto signsIn = [&authorization](const QByteArray& user) {
        return authorization == "Basic " + (user + ':' + kPassword).toBase64();
    };
    if (!signsIn(kUser) && !signsIn(kEmail))
        return failure(401, "Could not authenticate you.", request);

    if (get && call == "statuses/friends_timeline.xml") {
        const int page = PageOf(request.query);
        if (m_family == GnuSocial) {
            reply.headers = {"ETag: \"" + QByteArray::number(m_timeline.front().id) + "-" + QByteArray::number(page) + "\"",
                             "Last-Modified: " + kLastModified};
        }
        reply.body = statusesXml(m_timeline, page);
        return reply;
    }
    if (get && call == "statuses/mentions.xml") {
        reply.body = statusesXml(m_mentions, PageOf(request.query));
        return reply;
    }
    if (get && call == "account/verify_credentials.xml") {
        reply.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     + userXml(kUserId, QString::fromLatin1(kUserName), kUser, namespaces());
        return reply;
    }
    if (post && isRetweet)
        return retweet(request, call.mid(retweetPath.size(), call.size() - retweetPath.size() - 4));
    if (post && call == "statuses/update.xml") {
        const QString text = FormField(request.body, "status");
        const QString inReplyTo = FormField(request.body, "in_reply_to_status_id");
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
        // A reply to a status the peer does not know answers nothing.
        const int parent = inReplyTo.toInt();
        const bool known = parent == kAccountStatusId || (parent > 0 && find(parent));
        const Status status{nextId(), QString::fromLatin1(kUserName), text, true, known ? parent : 0};
        m_timeline.insert(m_timeline.begin(), status);
        reply.body = statusDocument(status);
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
        reply.body = statusDocument(*found);
        return reply;
    }
    return failure(404, "API method not found.", request);
}

FamilyPeer::Reply FamilyPeer::retweet(const Request& request, const QByteArray& id)
{
    bool isNumber = false;
    const Status* target = find(id.toInt(&isNumber));
    if (!isNumber || !target)
        return failure(404, "No status found with that ID.", request);
    // A repeat of a repeat repeats its original.
    if (target->retweetOf > 0 && find(target->retweetOf))
        target = find(target->retweetOf);
    if (m_family == GnuSocial && target->byAccount)
        return failure(403, "You cannot repeat your own notice.", request);
    if (m_family == GnuSocial && m_repeated.count(target->id))
        return failure(403, "You already repeated that notice.", request);
    m_repeated.insert(target->id);
    const QString text = "RT @" + QString::fromLatin1(ScreenNameOf(target->id, target->byAccount)) + ": " + target->text;
    const Status repeat{nextId(), QString::fromLatin1(kUserName), text, true, 0, target->id};
    m_timeline.insert(m_timeline.begin(), repeat);  // target is not used past here
    Reply reply;
    reply.body = statusDocument(repeat);
    return reply;
}

QByteArray FamilyPeer::namespaces() const
{
    if (m_family != Friendica)
        return {};
    return " xmlns=\"http://api.twitter.com\" xmlns:statusnet=\"http://status.net/schema/api/1/\""
           " xmlns:friendica=\"http://friendi.ca/schema/api/1/\" xmlns:georss=\"http://www.georss.org/georss\"";
}

QByteArray FamilyPeer::userXml(int userId, const QString& name, const QByteArray& screenName,
                               const QByteArray& attributes) const
{
    return "<user" + attributes + ">\n    <id>" + QByteArray::number(userId) + "</id>\n    <name>" + Escape(name)
           + "</name>\n    <screen_name>" + screenName + "</screen_name>\n"
           + "    <protected>false</protected>\n    <followers_count>3</followers_count>\n  </user>\n";
}

QByteArray FamilyPeer::statusXml(const Status& status, const QByteArray& element) const
{
    const QByteArray id = QByteArray::number(status.id);
    QByteArray replyId, replyUser, replyName;
    if (status.inReplyTo > 0) {
        const Status* parent = find(status.inReplyTo);
        const bool byAccount = status.inReplyTo == kAccountStatusId || (parent && parent->byAccount);
        replyId = QByteArray::number(status.inReplyTo);
        replyUser = QByteArray::number(UserIdOf(status.inReplyTo, byAccount));
        replyName = ScreenNameOf(status.inReplyTo, byAccount);
    }
    QByteArray xml = "<" + element + ">\n  <text>" + Escape(status.text) + "</text>\n  <truncated>false</truncated>\n"
                     "  <created_at>Mon Dec 07 19:00:00 +0000 2026</created_at>\n"
                     "  <in_reply_to_status_id>" + replyId + "</in_reply_to_status_id>\n  <source>web</source>\n  <id>" + id
                     + "</id>\n  <in_reply_to_user_id>" + replyUser + "</in_reply_to_user_id>\n"
                       "  <in_reply_to_screen_name>" + replyName + "</in_reply_to_screen_name>\n  <geo></geo>\n  <favorited>"
                     + (m_favourites.count(QString::number(status.id)) ? "true" : "false") + "</favorited>\n";
    if (m_family == Friendica) {
        xml += "  <external_url>" + ExternalUrlOf(status.id) + "</external_url>\n";
        // Author and owner come before the user, each with a name that is not the row's.
        xml += "  <friendica:author>\n    <name>author of " + id + "</name>\n    <screen_name>a" + id
               + "</screen_name>\n  </friendica:author>\n  <friendica:owner>\n    <name>owner of " + id
               + "</name>\n    <screen_name>o" + id + "</screen_name>\n  </friendica:owner>\n";
    }
    xml += "  " + userXml(UserIdOf(status.id, status.byAccount), status.name, ScreenNameOf(status.id, status.byAccount));
    if (m_family == Friendica) {
        xml += "  <statusnet:html>" + Escape(status.text) + "</statusnet:html>\n  <statusnet:conversation_id>" + id
               + "</statusnet:conversation_id>\n  <georss:point>35.68 139.76</georss:point>\n";
    }
    if (status.retweetOf > 0) {
        if (const Status* original = find(status.retweetOf))
            xml += statusXml(*original, "retweeted_status");
    }
    return xml + "</" + element + ">\n";
}

// The reply to an update, a favourite or a repeat: one status, as the root.
QByteArray FamilyPeer::statusDocument(const Status& status) const
{
    QByteArray xml = statusXml(status);
    xml.insert(int(qstrlen("<status")), namespaces());
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + xml;
}

QByteArray FamilyPeer::statusesXml(const std::vector<Status>& statuses, int page) const
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<statuses type=\"array\"" + namespaces() + ">\n";
    const size_t first = size_t(page - 1) * kPageSize;
    for (size_t i = first; i < statuses.size() && i < first + kPageSize; ++i)
        xml += statusXml(statuses[i]);
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
