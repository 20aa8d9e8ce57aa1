#pragma once

#include <QByteArray>
#include <QStringList>

namespace handover {

// Reads one connection's batch as its bytes arrive, whatever pieces they come
// in. Knows nothing of sockets, so it can be driven by any byte source.
class RequestParser {
public:
    enum class Status { NeedMore, Done, Bad };
    // Takes the next bytes of one connection; Done once the whole batch is in
    // (and nothing follows it), Bad for anything that breaks the wire format
    // or the caps (kMaxRequests, kMaxRequestBytes, kMaxTotalBytes, a NUL).
    // Done and Bad are final: any byte after Done is Bad.
    Status feed(const char *data, qsizetype size);
    Status status() const { return m_status; }
    const QStringList &requests() const { return m_requests; } // the batch, when Done

private:
    Status parse();
    QByteArray m_buffer;
    qsizetype m_pos = 0; // first byte of m_buffer not yet taken
    qsizetype m_total = 0;
    unsigned m_expected = 0;
    bool m_headerRead = false;
    QStringList m_requests;
    Status m_status = Status::NeedMore;
};

} // namespace handover
