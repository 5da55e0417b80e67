// The floor of a 50-page reload for the instruction-count guard: what the program's
// reload cannot do without, in one process, done by plain libraries. libcurl fetches the
// pages (a fresh connection each, as the window's one client per page), libxml2 parses
// each and the names and texts are read out, and the rows replace those of the floor
// window's list (support/FloorWindow.h), which is repainted.
//
//   reload_floor URL PAGES ROWS [--size WxH] [--trace FILE] [--reload-trace FILE]
//
// The window starts with the rows of ROWS and the trace lines of --trace; after its first
// frame one reload runs, which appends to the trace box the lines that --reload-trace has
// beyond those of --trace (what the program's reload added), and it prints
// "reload SECONDS ROWS" and quits. Under callgrind with --collect-atstart=no only
// the reload is counted.
#include "support/Callgrind.h"
#include "support/CurlGet.h"
#include "support/FloorWindow.h"
#include "support/FrameProbe.h"

#include <curl/curl.h>
#include <libxml/parser.h>

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Fetch(const std::string& url)
{
    std::string body;
    return CurlGet200(url, "demo:demo", &body) ? body : std::string();
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
        std::fprintf(stderr, "usage: reload_floor URL PAGES ROWS [--size WxH] [--trace FILE] [--reload-trace FILE]\n");
        return 2;
    }
    const auto valueOf = [&args](const char* option) {
        const qsizetype at = args.indexOf(QLatin1String(option));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
    };
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string address = args.at(1).toStdString() + "/statuses/friends_timeline.xml";
    const int pages = args.at(2).toInt();

    const QStringList before = ReadLines(valueOf("--trace"));
    QStringList traceLines = ReadLines(valueOf("--reload-trace"));
    if (traceLines.mid(0, before.size()) == before)
        traceLines = traceLines.mid(before.size());
    TFloorWindow window;
    window.Insert(ReadRows(args.at(3)));
    window.AppendTrace(before);
    const QString wh = valueOf("--size");
    window.resize(wh.isEmpty() ? QSize(629, 400)
                               : QSize(wh.section(QLatin1Char('x'), 0, 0).toInt(), wh.section(QLatin1Char('x'), 1, 1).toInt()));
    window.show();
    int result = 1;
    const FirstFrame firstFrame(&window, [&] {
        QElapsedTimer timer;
        timer.start();
        CountInstructions(true);
        QList<QStringList> rows;
        bool fetched = true;
        for (int page = 1; page <= pages && fetched; ++page) {
            const std::string body = Fetch(page <= 1 ? address : address + "?page=" + std::to_string(page) + "&twtr=true");
            fetched = !body.empty();
            AppendRows(body, &rows);
        }
        window.List->clear();
        window.Insert(rows);
        window.AppendTrace(traceLines);
        window.repaint();
        CountInstructions(false);
        std::printf("reload %.6f %d\n", static_cast<double>(timer.nsecsElapsed()) / 1e9, window.List->topLevelItemCount());
        std::fflush(stdout);
        result = fetched ? 0 : 1;
        QApplication::exit(result);
    });
    app.exec();
    curl_global_cleanup();
    return result;
}
