#include "Server.h"

#include "FediFace.h"
#include "FormCodec.h"
#include "StatusXml.h"
#include "Store.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace localservice {

namespace {

constexpr const char* kXmlType = "application/xml; charset=utf-8";

enum class Route { None, Timeline, Mentions, Update, Favourite, Retweet, Credentials, Config };

struct Match {
    Route route = Route::None;
    std::int64_t statusId = 0;  // Favourite and Retweet only; 0 when the id is not a number
};

bool allDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<std::int64_t> positiveNumber(std::string_view text, std::int64_t max)
{
    if (!allDigits(text))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < 1 || value > max)
        return std::nullopt;
    return value;
}

// "<start>ID.xml": the id's text, or nullopt when the path is not of that shape.
std::optional<std::string_view> idInPath(std::string_view path, std::string_view start)
{
    constexpr std::string_view suffix = ".xml";
    if (path.size() <= start.size() + suffix.size() || path.substr(0, start.size()) != start
        || path.substr(path.size() - suffix.size()) != suffix)
        return std::nullopt;
    const std::string_view id = path.substr(start.size(), path.size() - start.size() - suffix.size());
    if (id.find('/') != std::string_view::npos)
        return std::nullopt;
    return id;
}

Match matchPath(std::string_view path)
{
    if (path == "/statuses/friends_timeline.xml")
        return {Route::Timeline};
    if (path == "/statuses/mentions.xml")
        return {Route::Mentions};
    if (path == "/statuses/update.xml")
        return {Route::Update};
    if (path == "/account/verify_credentials.xml")
        return {Route::Credentials};
    if (path == "/statusnet/config.xml")
        return {Route::Config};
    for (const auto& [start, route] : {std::pair{std::string_view("/favorites/create/"), Route::Favourite},
                                       std::pair{std::string_view("/statuses/retweet/"), Route::Retweet}}) {
        if (const auto id = idInPath(path, start))
            return {route, positiveNumber(*id, INT64_MAX).value_or(0)};
    }
    return {};
}

std::optional<std::string> decodeBase64(std::string_view text)
{
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z') value = c - 'A';
        else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
        else if (c >= '0' && c <= '9') value = c - '0' + 52;
        else if (c == '+') value = 62;
        else if (c == '/') value = 63;
        else if (c == '=') { ++padding; continue; }
        else return std::nullopt;
        if (padding > 0)
            return std::nullopt;  // data after padding
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    if (padding > 2)
        return std::nullopt;
    return out;
}

std::string reasonFor(int status, std::size_t maxBody)
{
    switch (status) {
    case 400: return "The request is malformed.";
    case 404: return "Not found.";
    case 405: return "Method not allowed.";
    case 413: return "The request is too large: the service takes bodies of at most " + std::to_string(maxBody) + " bytes.";
    case 414: return "The request address is too long.";
    case 416: return "Range not satisfiable.";
    default: return "The request failed with status " + std::to_string(status) + ".";
    }
}

// For the log: a request line may hold anything.
std::string printable(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return text;
}

std::unique_ptr<httplib::Server> makeServer(const ServiceOptions& options)
{
    if (options.tlsCertPath.empty())
        return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(options.tlsCertPath.c_str(), options.tlsKeyPath.c_str());
}

} // namespace

class Server::Impl {
public:
    Impl(Store& store, const ServiceOptions& options, std::ostream& log)
        : m_store(store), m_options(options), m_log(log), m_http(makeServer(options))
    {
        m_http->set_payload_max_length(m_options.maxBodyBytes);
        if (m_options.fediverse)
            m_fedi = std::make_unique<FediFace>(store, options);
        // Each open event stream holds a worker for as long as it lasts.
        m_http->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
        const auto handler = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
        m_http->Get(".*", handler);  // HEAD too
        m_http->Post(".*", handler);
        m_http->Put(".*", handler);
        m_http->Patch(".*", handler);
        m_http->Delete(".*", handler);
        m_http->Options(".*", handler);
        // Errors the server library answers on its own (bad request line, too large)
        // get the same XML body as ours.
        m_http->set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            std::size_t limit = m_options.maxBodyBytes;
            // The server library caps form bodies on its own, below our limit.
            if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0)
                limit = std::min<std::size_t>(limit, CPPHTTPLIB_FORM_URL_ENCODED_PAYLOAD_MAX_LENGTH);
            fail(req, res, res.status, reasonFor(res.status, limit));
            return httplib::Server::HandlerResponse::Handled;
        }));
        m_http->set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
            fail(req, res, 500, "The service failed on this request.");
        });
        if (m_options.verbose) {
            m_http->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
                std::lock_guard lock(m_logMutex);
                m_log << "localservice: " << printable(req.method) << ' ' << printable(req.target) << " -> " << res.status
                      << " (" << res.body.size() << " bytes)" << std::endl;
            });
        }
    }

    void handle(const httplib::Request& req, httplib::Response& res)
    {
        if (!pause())
            return fail(req, res, 503, "The service is shutting down.");
        try {
            route(req, res);
        } catch (const StoreError& e) {
            fail(req, res, 500, std::string("The service's database failed: ") + e.what());
        }
    }

    void route(const httplib::Request& req, httplib::Response& res)
    {
        if (m_fedi && FediFace::serves(req.path))
            return m_fedi->handle(req, res);
        std::string_view path = req.path;
        const std::string& prefix = m_options.prefix;
        if (!prefix.empty()) {
            if (path.substr(0, prefix.size()) != prefix)
                return fail(req, res, 404, "Not found.");
            path.remove_prefix(prefix.size());
        }
        const Match match = matchPath(path);
        if (match.route == Route::None || (match.route == Route::Config && m_options.textLimit < 0))
            return fail(req, res, 404, "Not found.");
        const bool read = match.route == Route::Timeline || match.route == Route::Mentions
                          || match.route == Route::Credentials || match.route == Route::Config;
        const char* allowed = read ? "GET, HEAD" : "POST";
        const bool methodOk = read ? (req.method == "GET" || req.method == "HEAD") : req.method == "POST";
        if (!methodOk) {
            res.set_header("Allow", allowed);
            return fail(req, res, 405, std::string("This method is not allowed here; use ") + allowed + ".");
        }
        // Served to anyone, whatever credentials come along, as GNU social does.
        if (match.route == Route::Config)
            return res.set_content(configDocument(m_options.textLimit), kXmlType);
        const auto user = authenticate(req);
        if (!user) {
            res.set_header("WWW-Authenticate", std::string("Basic realm=\"") + kRealm + "\"");
            return fail(req, res, 401, "Could not authenticate you.");
        }
        if (overLimit(*user)) {
            return fail(req, res, 400, "Rate limit exceeded: at most " + std::to_string(m_options.rateLimitCount)
                                           + " requests per " + std::to_string(m_options.rateLimitWindowSeconds)
                                           + " seconds.");
        }
        switch (match.route) {
        case Route::Timeline: return timeline(req, res, *user, &Store::friendsTimeline);
        case Route::Mentions: return timeline(req, res, *user, &Store::mentionsTimeline);
        case Route::Update: return update(req, res, *user);
        case Route::Favourite: return favourite(req, res, *user, match.statusId);
        case Route::Retweet: return retweet(req, res, *user, match.statusId);
        case Route::Credentials: return credentials(req, res, *user);
        case Route::None:
        case Route::Config: break;
        }
    }

    using TimelineQuery = std::vector<StatusRecord> (Store::*)(std::int64_t, std::int64_t, int);

    void timeline(const httplib::Request& req, httplib::Response& res, std::int64_t user, TimelineQuery query)
    {
        std::int64_t page = 1;
        if (req.has_param("page")) {
            const std::string text = req.get_param_value("page");
            const auto number = positiveNumber(text, INT32_MAX);
            if (!number)
                return fail(req, res, 400, "The page must be a whole number from 1 to 2147483647, not \"" + text + "\".");
            page = *number;
        }
        const auto statuses = (m_store.*query)(user, (page - 1) * kPageSize, kPageSize);
        res.set_content(statusesDocument(statuses), kXmlType);
    }

    // The length statuses are kept to; 0: no limit.
    std::size_t statusLimit() const
    {
        return m_options.textLimit >= 0 ? std::size_t(m_options.textLimit) : kStatusLimit;
    }

    void update(const httplib::Request& req, httplib::Response& res, std::int64_t user)
    {
        const FormResult form = decodeForm(req.body);
        if (!form.ok)
            return fail(req, res, 400, form.error);
        const std::string* status = form.find("status");
        if (!status)
            return fail(req, res, 400, "The form body has no status field.");
        if (status->find_first_not_of(" \t\r\n") == std::string::npos)
            return fail(req, res, 400, "The status is empty.");
        // Empty is no reply; a number with no status behind it is stored as no reply, as
        // the status it answered may be gone; anything else is the client's mistake.
        std::int64_t inReplyTo = 0;
        const std::string* replyField = form.find("in_reply_to_status_id");
        if (replyField && !replyField->empty()) {
            const auto number = positiveNumber(*replyField, INT64_MAX);
            if (!number)
                return fail(req, res, 400, "in_reply_to_status_id must be a status id, not \"" + *replyField + "\".");
            inReplyTo = *number;
        }
        std::string text = *status;
        // The limit the service publishes is the one it keeps; 0 publishes none.
        const std::size_t limit = statusLimit();
        const bool truncated = limit > 0 && cutToUtf16Units(text, limit);
        const std::string* sourceField = form.find("source");
        std::string source = sourceField && !sourceField->empty() ? *sourceField : "web";
        cutToUtf16Units(source, 64);
        const StatusRecord stored = m_store.addStatus(user, text, source, truncated, inReplyTo);
        res.set_content(statusDocument(stored), kXmlType);
    }

    // The body, if any, is not read: the id is in the path.
    void retweet(const httplib::Request& req, httplib::Response& res, std::int64_t user, std::int64_t statusId)
    {
        if (statusId <= 0)
            return fail(req, res, 404, "No status found with that ID.");
        const Store::Repeat repeat = m_store.repeat(user, statusId, statusLimit());
        switch (repeat.outcome) {
        case Store::Repeat::Done: return res.set_content(statusDocument(*repeat.status), kXmlType);
        case Store::Repeat::NotFound: return fail(req, res, 404, "No status found with that ID.");
        case Store::Repeat::OwnStatus: return fail(req, res, 403, "You cannot repeat your own status.");
        case Store::Repeat::Protected: return fail(req, res, 403, "The statuses of a protected account cannot be repeated.");
        case Store::Repeat::AlreadyRepeated: return fail(req, res, 403, "You already repeated that status.");
        }
    }

    void credentials(const httplib::Request&, httplib::Response& res, std::int64_t user)
    {
        const auto record = m_store.user(user);
        if (!record)
            throw StoreError("the signed-in account vanished");
        res.set_content(userDocument(*record), kXmlType);
    }

    void favourite(const httplib::Request& req, httplib::Response& res, std::int64_t user, std::int64_t statusId)
    {
        const auto stored = statusId > 0 ? m_store.favourite(user, statusId) : std::nullopt;
        if (!stored)
            return fail(req, res, 404, "No status found with that ID.");
        res.set_content(statusDocument(*stored), kXmlType);
    }

    std::optional<std::int64_t> authenticate(const httplib::Request& req)
    {
        const std::string header = req.get_header_value("Authorization");
        constexpr std::string_view scheme = "basic ";
        if (header.size() <= scheme.size())
            return std::nullopt;
        for (std::size_t i = 0; i < scheme.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(header[i])) != scheme[i])
                return std::nullopt;
        }
        std::string_view encoded = std::string_view(header).substr(scheme.size());
        while (!encoded.empty() && encoded.front() == ' ')
            encoded.remove_prefix(1);
        const auto decoded = decodeBase64(encoded);
        if (!decoded)
            return std::nullopt;
        const std::size_t colon = decoded->find(':');
        if (colon == std::string::npos || colon == 0)
            return std::nullopt;
        return m_store.authenticate(decoded->substr(0, colon), decoded->substr(colon + 1));
    }

    // A sliding window per account.
    bool overLimit(std::int64_t user)
    {
        if (m_options.rateLimitCount <= 0)
            return false;
        const auto now = std::chrono::steady_clock::now();
        const auto window = std::chrono::seconds(m_options.rateLimitWindowSeconds);
        std::lock_guard lock(m_limitMutex);
        auto& times = m_requestTimes[user];
        while (!times.empty() && now - times.front() >= window)
            times.pop_front();
        if (times.size() >= static_cast<std::size_t>(m_options.rateLimitCount))
            return true;
        times.push_back(now);
        return false;
    }

    // The configured delay; false when stop() cut it short.
    bool pause()
    {
        std::unique_lock lock(m_stopMutex);
        if (m_options.delayMs > 0)
            m_stopCv.wait_for(lock, std::chrono::milliseconds(m_options.delayMs), [this] { return m_stopping; });
        return !m_stopping;
    }

    void fail(const httplib::Request& req, httplib::Response& res, int status, const std::string& message)
    {
        res.status = status;
        // The JSON face's callers read its own error form.
        if (m_fedi && FediFace::serves(req.path))
            return res.set_content(QJsonDocument(QJsonObject{{"error", QString::fromStdString(message)}})
                                       .toJson(QJsonDocument::Compact).toStdString(),
                                   "application/json; charset=utf-8");
        res.set_content(errorDocument(req.path, message), kXmlType);
    }

    void stop()
    {
        {
            std::lock_guard lock(m_stopMutex);
            m_stopping = true;
        }
        m_stopCv.notify_all();
        if (m_fedi)
            m_fedi->stop();
        m_http->stop();
    }

    static constexpr std::size_t kWorkers = 32;

    Store& m_store;
    ServiceOptions m_options;
    std::ostream& m_log;
    std::mutex m_logMutex;
    std::unique_ptr<httplib::Server> m_http;
    std::unique_ptr<FediFace> m_fedi;
    std::mutex m_limitMutex;
    std::map<std::int64_t, std::deque<std::chrono::steady_clock::time_point>> m_requestTimes;
    std::mutex m_stopMutex;
    std::condition_variable m_stopCv;
    bool m_stopping = false;
    bool m_listenEnded = false;
};

Server::Server(Store& store, const ServiceOptions& options, std::ostream& log)
    : m_impl(std::make_unique<Impl>(store, options, log))
{
}

Server::~Server() = default;

bool Server::isValid() const
{
    return m_impl->m_http->is_valid();
}

int Server::bind()
{
    if (m_impl->m_options.port == 0)
        return m_impl->m_http->bind_to_any_port("127.0.0.1");
    return m_impl->m_http->bind_to_port("127.0.0.1", m_impl->m_options.port) ? m_impl->m_options.port : -1;
}

bool Server::run()
{
    Impl& d = *m_impl;
    // The server library ignores a stop that comes before it is listening, so a stop
    // from another thread is repeated until the listening has really ended.
    std::thread stopper([&d] {
        std::unique_lock lock(d.m_stopMutex);
        d.m_stopCv.wait(lock, [&d] { return d.m_stopping || d.m_listenEnded; });
        while (!d.m_listenEnded) {
            lock.unlock();
            d.m_http->stop();
            lock.lock();
            d.m_stopCv.wait_for(lock, std::chrono::milliseconds(10), [&d] { return d.m_listenEnded; });
        }
    });
    bool stoppedEarly;
    {
        std::lock_guard lock(d.m_stopMutex);
        stoppedEarly = d.m_stopping;
    }
    const bool ok = stoppedEarly || d.m_http->listen_after_bind();
    {
        std::lock_guard lock(d.m_stopMutex);
        d.m_listenEnded = true;
    }
    d.m_stopCv.notify_all();
    stopper.join();
    return ok;
}

void Server::stop()
{
    m_impl->stop();
}

} // namespace localservice
