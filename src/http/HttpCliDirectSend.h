#pragma once

#include <QtGlobal>

// Hands bytes straight to a connected socket without waiting: the number taken (possibly
// fewer than size), or 0 when the kernel takes none now or the send failed. The caller
// passes whatever is left to the socket object, which queues it and reports errors.
// With `more` the kernel may hold the bytes back to fill larger segments with what follows.
qint64 HttpCliDirectSend(qintptr socketDescriptor, const char* data, qint64 size, bool more);
// Sends whatever `more` held back.
void HttpCliPush(qintptr socketDescriptor);
// Whether a connected socket that should be idle can no longer carry a request: the
// peer has closed or reset it, or sent bytes nobody asked for. Looks without reading.
bool HttpCliIdleConnectionUnusable(qintptr socketDescriptor);
