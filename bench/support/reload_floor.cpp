// The floor of a reload: what the program's reload cannot do without, in one process,
// done by plain libraries. libcurl fetches the pages (a fresh connection each, as the
// window's one client per page), libxml2 parses each and the names and texts are read
// out, and the rows replace those of the floor window's list (support/FloorWindow.h),
// which is repainted.
//
//   reload_floor URL PAGES ROWS [--size WxH] [--trace FILE] [--reload-trace FILE]
//                [--fediverse TOKEN] [--rounds N]
//
// The window starts with the rows of ROWS and the trace lines of --trace; after its first
// frame one reload runs, which appends to the trace box the lines that --reload-trace has
// beyond those of --trace (what the program's reload added), and it prints
// "reload SECONDS ROWS" and quits. Under callgrind with --collect-atstart=no only
// the reload is counted.
// --fediverse: the pages are the home timeline of the fediverse face at URL, read with
// the token (Bearer), 40 statuses a page, each next page from the Link header's
// rel="next" as the program follows it; each page is parsed with QJsonDocument, the
// name is the display name (else the account name) and the text comes from the
// status's HTML through libxml2's HTML parser, as the program must; a repeat shows the
// status repeated.
// --rounds N: the memory benchmark's run instead. After the first frame it prints
// "startup RSS HWM" (KiB), runs N reloads, appending the trace lines a share each round
// as minimal_qt_program does, and prints "reload SECONDS ROWS RSS HWM": the mean seconds
// of one reload and the memory after the last.
#include "support/Callgrind.h"
#include "support/CurlGet.h"
#include "support/FloorWindow.h"
#include "support/FrameProbe.h"

#include <curl/curl.h>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

std::string Fetch(const std::string& url)
{
    std::string body;
    return CurlGet200(url, "demo:demo", &body) ? body : std::string();
}

// A page of the fediverse face with the token; *next: its Link header's rel="next" address.
std::string FetchWithToken(const std::string& url, const std::string& token, std::string* next)
{
    std::string body, headers;
    CURL* curl = NewCurlGet(url, nullptr, &body);
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BEARER);
    curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, token.c_str());
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, +[](char* data, size_t size, size_t count, void* target) {
        static_cast<std::string*>(target)->append(data, size * count);
        return size * count;
    });
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
    const CURLcode rc = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_cleanup(curl);
    next->clear();
    const size_t rel = headers.find("; rel=\"next\"");
    const size_t open = rel == std::string::npos ? rel : headers.rfind('<', rel);
    if (open != std::string::npos)
        *next = headers.substr(open + 1, headers.find('>', open) - open - 1);
    return rc == CURLE_OK && code == 200 ? body : std::string();
}

// A status's HTML as text, by libxml2's HTML parser.
QString HtmlText(const QByteArray& html)
{
    QString text;
    htmlDocPtr doc = htmlReadMemory(html.constData(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                    HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (xmlChar* content = doc ? xmlNodeGetContent(xmlDocGetRootElement(doc)) : nullptr) {
        text = QString::fromUtf8(reinterpret_cast<const char*>(content));
        xmlFree(content);
    }
    xmlFreeDoc(doc);
    return text;
}

// The name and text of each status of a JSON page, in order.
void AppendJsonRows(const std::string& body, QList<QStringList>* rows)
{
    const QJsonArray statuses = QJsonDocument::fromJson(QByteArray::fromRawData(body.data(), qsizetype(body.size()))).array();
    for (const QJsonValue& value : statuses) {
        QJsonObject status = value.toObject();
        if (status.value(QLatin1String("reblog")).isObject())
            status = status.value(QLatin1String("reblog")).toObject();
        const QJsonObject account = status.value(QLatin1String("account")).toObject();
        QString name = account.value(QLatin1String("display_name")).toString();
        if (name.isEmpty())
            name = account.value(QLatin1String("username")).toString();
        rows->append({name, HtmlText(status.value(QLatin1String("content")).toString().toUtf8())});
    }
}

const xmlNode* Child(const xmlNode* node, const char* name)
{
    for (const xmlNode* c = node ? node->children : nullptr; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(c->name), name) == 0)
            return c;
    }
    return nullptr;
}

QString Text(const xmlNode* node)
{
    QString s;
    if (xmlChar* content = node ? xmlNodeGetContent(node) : nullptr) {
        s = QString::fromUtf8(reinterpret_cast<const char*>(content));
        xmlFree(content);
    }
    return s;
}

// The name and text of each status of a page, in order.
void AppendRows(const std::string& body, QList<QStringList>* rows)
{
    xmlDocPtr doc = xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOBLANKS);
    for (const xmlNode* s = doc ? xmlDocGetRootElement(doc)->children : nullptr; s; s = s->next) {
        if (s->type == XML_ELEMENT_NODE)
            rows->append({Text(Child(Child(s, "user"), "name")), Text(Child(s, "text"))});
    }
    xmlFreeDoc(doc);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: reload_floor URL PAGES ROWS [--size WxH] [--trace FILE] [--reload-trace FILE] "
                             "[--fediverse TOKEN] [--rounds N]\n");
        return 2;
    }
    const auto valueOf = [&args](const char* option) {
        const qsizetype at = args.indexOf(QLatin1String(option));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
    };
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string token = valueOf("--fediverse").toStdString();
    const std::string address = args.at(1).toStdString()
                              + (token.empty() ? "/statuses/friends_timeline.xml" : "/api/v1/timelines/home?limit=40");
    const int pages = args.at(2).toInt();
    const int rounds = valueOf("--rounds").toInt();

    const QStringList before = ReadLines(valueOf("--trace"));
    QStringList traceLines = ReadLines(valueOf("--reload-trace"));
    if (rounds == 0 && traceLines.mid(0, before.size()) == before)
        traceLines = traceLines.mid(before.size());
    TFloorWindow window;
    window.Insert(ReadRows(args.at(3)));
    window.AppendTrace(before);
    const QString wh = valueOf("--size");
    window.resize(wh.isEmpty() ? QSize(629, 400)
                               : QSize(wh.section(QLatin1Char('x'), 0, 0).toInt(), wh.section(QLatin1Char('x'), 1, 1).toInt()));
    window.show();
    // One reload: every page fetched and read out, then the list's rows replaced.
    const auto reload = [&] {
        QList<QStringList> rows;
        std::string url = address;
        for (int page = 1; page <= pages && !url.empty(); ++page) {
            std::string next;
            const std::string body = token.empty()
                ? Fetch(page <= 1 ? address : address + "?page=" + std::to_string(page) + "&twtr=true")
                : FetchWithToken(url, token, &next);
            if (body.empty())
                return false;
            if (token.empty())
                AppendRows(body, &rows);
            else
                AppendJsonRows(body, &rows);
            url = token.empty() ? address : next;
        }
        window.List->clear();
        window.Insert(rows);
        return true;
    };
    int result = 1;
    const FirstFrame firstFrame(&window, [&] {
        if (rounds > 0) {
            const auto startup = ResidentKb();
            std::printf("startup %ld %ld\n", startup.first, startup.second);
        }
        QElapsedTimer timer;
        timer.start();
        CountInstructions(true);
        bool fetched = true;
        for (int i = 0; i < std::max(rounds, 1) && fetched; ++i) {
            fetched = reload();
            if (rounds > 0)
                window.AppendTrace(traceLines, traceLines.size() * i / rounds, traceLines.size() * (i + 1) / rounds);
            else
                window.AppendTrace(traceLines);
            window.repaint();
        }
        CountInstructions(false);
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9 / std::max(rounds, 1);
        if (rounds > 0) {
            const auto after = ResidentKb();
            std::printf("reload %.6f %d %ld %ld\n", seconds, window.List->topLevelItemCount(), after.first, after.second);
        } else {
            std::printf("reload %.6f %d\n", seconds, window.List->topLevelItemCount());
        }
        std::fflush(stdout);
        result = fetched ? 0 : 1;
        QApplication::exit(result);
    });
    app.exec();
    curl_global_cleanup();
    return result;
}
