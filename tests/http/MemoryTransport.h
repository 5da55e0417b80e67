#pragma once

#include "http/BlockingConnection.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

// A peer played from memory: each receive hands over the next scripted piece (a block
// of bytes or a socket error); after the last piece the peer has closed.
class MemoryTransport : public TByteTransport {
public:
    struct Piece {
        QByteArray bytes;
        int error = 0;  // raise ESocketError with this number instead of handing bytes over
    };

    explicit MemoryTransport(std::deque<Piece> pieces, QByteArray* written = nullptr)
        : m_pieces(std::move(pieces)), m_written(written) {}

    void Write(const char* data, qint64 size) override
    {
        if (m_written)
            m_written->append(data, size);
    }

    qint64 Receive(char* buffer, qint64 size, int) override
    {
        if (m_pieces.empty())
            return 0;
        Piece& piece = m_pieces.front();
        if (piece.error) {
            const int error = piece.error;
            m_pieces.pop_front();
            throw ESocketError(error);
        }
        const qint64 n = std::min<qint64>(size, piece.bytes.size());
        std::memcpy(buffer, piece.bytes.constData(), static_cast<size_t>(n));
        piece.bytes.remove(0, n);
        if (piece.bytes.isEmpty())
            m_pieces.pop_front();
        return n;
    }

    // A factory for the client that plays these pieces on every connection.
    static TTransportFactory Factory(std::deque<Piece> pieces, QByteArray* written = nullptr)
    {
        return [pieces, written](const QByteArray&, quint16) {
            return std::make_unique<MemoryTransport>(pieces, written);
        };
    }

private:
    std::deque<Piece> m_pieces;
    QByteArray* m_written;
};
