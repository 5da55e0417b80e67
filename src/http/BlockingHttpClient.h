#pragma once
// CONTRACT SKETCH (to be completed by the blocking client): names other layers rely on.

#include "HttpErrors.h"

#include <QByteArray>

// The request record; the system sets only these three.
struct TBlockingHttpRequest {
    QByteArray Username;            // 8-bit: the caller passes UTF-8
    QByteArray Password;
    bool BasicAuthentication = false;
};

// Fetches one URL with GET and returns the reply body, blocking the calling thread.
class TBlockingHttpClient {
public:
    TBlockingHttpClient();
    ~TBlockingHttpClient();
    TBlockingHttpRequest& Request();
    int ReadTimeout = 30000;        // ms; connect and read; 0 waits without limit
    QByteArray FetchText(const QByteArray& url);
};
