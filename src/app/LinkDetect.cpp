#include "app/LinkDetect.h"

namespace {

bool IsAsciiAlnum(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

// Characters an address may carry: printable ASCII without the ones that delimit it in
// running text.
bool IsAddressChar(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 0x20 || u >= 0x7F)
        return false;
    return u != '<' && u != '>' && u != '"' && u != '`';
}

// Length of the scheme or "www." prefix starting at i, or 0.
int PrefixAt(const QString& text, int i)
{
    for (const char* p : {"https://", "http://", "www."}) {
        const QLatin1StringView prefix(p);
        if (QStringView(text).mid(i).startsWith(prefix, Qt::CaseInsensitive))
            return int(prefix.size());
    }
    return 0;
}

// Drops trailing characters that belong to the sentence rather than the address.
int TrimEnd(const QString& text, int start, int end)
{
    for (;;) {
        if (end <= start)
            return end;
        const QChar last = text.at(end - 1);
        const QStringView body = QStringView(text).mid(start, end - start);
        auto unbalanced = [&](QChar open, QChar close) {
            return last == close && body.count(open) < body.count(close);
        };
        if (QStringLiteral(".,;:!?'").contains(last) || unbalanced(u'(', u')')
            || unbalanced(u'[', u']') || unbalanced(u'{', u'}')) {
            --end;
            continue;
        }
        return end;
    }
}

} // namespace

QList<TLinkRange> FindLinks(const QString& text)
{
    QList<TLinkRange> links;
    int i = 0;
    const int n = int(text.size());
    while (i < n) {
        const int prefix = PrefixAt(text, i);
        // A prefix glued to a preceding word ("xhttp://", "awww.") is not an address.
        const bool boundary = i == 0 || !(IsAsciiAlnum(text.at(i - 1)) || text.at(i - 1) == u'.');
        if (prefix == 0 || !boundary) {
            ++i;
            continue;
        }
        int end = i + prefix;
        while (end < n && IsAddressChar(text.at(end)))
            ++end;
        end = TrimEnd(text, i, end);
        // The prefix alone is no address; it needs a host after it.
        if (end > i + prefix && IsAsciiAlnum(text.at(i + prefix))) {
            links.append({i, end - i, text.mid(i, end - i)});
            i = end;
        } else {
            i += prefix;
        }
    }
    return links;
}

QUrl LinkTarget(const QString& linkText)
{
    QString address = linkText;
    if (address.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        address.prepend(QLatin1String("http://"));
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return url;
}
