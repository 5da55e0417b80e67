#pragma once

#include "service/ServiceAccount.h"
#include "service/TimelineRead.h"

#include <QString>

#include <exception>

class TBlockingHttpClient;
class TXMLDocument;

// What the service layer's blocking reads share.
namespace ServiceRead {

// The read's bounds and the account's network on the client, for one request.
void Bind(TBlockingHttpClient& client, const TServiceAccount& account, const TReadBounds& bounds);
// Sets the client up for the account within bounds, fetches address and parses the
// reply into document. Raises whatever the client and the parser raise; a compressed
// reply raises EHttpClientError.
void LoadDocument(TBlockingHttpClient& client, const TServiceAccount& account, const TReadBounds& bounds,
                  const QString& address, TXMLDocument& document);
// The error's own text.
QString MessageOf(const std::exception& e);
// One line of an error text for a status line or a log line.
QString OneLine(const QString& message);
// "HTTP/1.1 502 Bad Gateway" -> "Bad Gateway".
QByteArray ReasonOf(const QByteArray& statusLine);
// Called from a handler of EHttpClientError: what a failure below the reply's status
// (the proxy, TLS, the connection or the transfer) means for page.
void TakeTransportFailure(const TBlockingHttpClient& client, TTimelinePage& page);

} // namespace ServiceRead
