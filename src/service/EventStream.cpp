#include "service/EventStream.h"

bool TEventStreamParser::Feed(QByteArrayView bytes)
{
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while (p < end && !Failed()) {
        if (std::exchange(m_afterCR, false) && *p == '\n') {
            ++p;
            continue;
        }
        const char* stop = p;
        while (stop < end && *stop != '\n' && *stop != '\r')
            ++stop;
        if (m_line.size() + (stop - p) > m_limits.MaxLine) {
            m_error = QStringLiteral("event stream line longer than %1 bytes").arg(m_limits.MaxLine);
            break;
        }
        if (stop == end) {
            m_line.append(p, stop - p);
            break;
        }
        m_afterCR = *stop == '\r';
        if (m_line.isEmpty()) {
            line(QByteArrayView(p, stop - p));
        } else {
            m_line.append(p, stop - p);
            line(m_line);
            m_line.clear();
        }
        p = stop + 1;
    }
    return !Failed();
}

void TEventStreamParser::line(QByteArrayView text)
{
    if (text.isEmpty()) {
        if (m_hasData)
            m_events.append({m_type.isEmpty() ? QByteArray("message") : m_type, m_data});
        m_type.clear();
        m_data.clear();
        m_hasData = false;
        return;
    }
    if (text.front() == ':') {
        ++m_comments;
        return;
    }
    const qsizetype colon = text.indexOf(':');
    const QByteArrayView field = colon < 0 ? text : text.first(colon);
    QByteArrayView value = colon < 0 ? QByteArrayView() : text.sliced(colon + 1);
    if (value.startsWith(' '))
        value = value.sliced(1);
    if (field == "event") {
        m_type = value.toByteArray();
    } else if (field == "data") {
        if (m_data.size() + value.size() + 1 > m_limits.MaxEvent) {
            m_error = QStringLiteral("event stream event longer than %1 bytes").arg(m_limits.MaxEvent);
            return;
        }
        if (m_hasData)
            m_data += '\n';
        m_data += value;
        m_hasData = true;
    }
    // "id" and "retry" change nothing here: a lost stream is read again by polling.
}
