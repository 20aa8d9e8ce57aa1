#include "platform/desktop/handoverparser.h"

#include "platform/desktop/handoverclient.h"
#include "platform/filename.h"

#include <cstring>

namespace handover {

namespace {

unsigned getU32(const char *p) {
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return (unsigned(u[0]) << 24) | (unsigned(u[1]) << 16) | (unsigned(u[2]) << 8) | unsigned(u[3]);
}

} // namespace

RequestParser::Status RequestParser::feed(const char *data, qsizetype size) {
    if (m_status != Status::NeedMore)
        return m_status = size > 0 ? Status::Bad : m_status;
    m_total += size;
    if (m_total > qsizetype(kMaxTotalBytes) + 8 + 4 * qsizetype(kMaxRequests))
        return m_status = Status::Bad;
    m_buffer.append(data, size);
    m_status = parse();
    if (m_status != Status::NeedMore)
        m_buffer.clear();
    else if (m_pos > 0 && m_pos * 2 >= m_buffer.size()) {
        // Taken bytes go once they are the larger part, so a long batch in
        // small pieces is not copied over and over.
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    return m_status;
}

RequestParser::Status RequestParser::parse() {
    const auto left = [this] { return m_buffer.size() - m_pos; };
    if (!m_headerRead) {
        if (left() < 8)
            return Status::NeedMore;
        if (std::memcmp(m_buffer.constData() + m_pos, kMagic, 4) != 0)
            return Status::Bad;
        m_expected = getU32(m_buffer.constData() + m_pos + 4);
        if (m_expected > kMaxRequests)
            return Status::Bad;
        m_pos += 8;
        m_headerRead = true;
    }
    while (unsigned(m_requests.size()) < m_expected && left() >= 4) {
        const unsigned len = getU32(m_buffer.constData() + m_pos);
        if (len > kMaxRequestBytes)
            return Status::Bad;
        if (left() < 4 + qsizetype(len))
            return Status::NeedMore;
        const QByteArray bytes(m_buffer.constData() + m_pos + 4, len);
        m_pos += 4 + len;
        // A NUL can be part of no path: the request is binary noise.
        if (bytes.contains('\0'))
            return Status::Bad;
        m_requests.append(DecodeFileName(bytes));
    }
    if (unsigned(m_requests.size()) < m_expected)
        return Status::NeedMore;
    return left() == 0 ? Status::Done : Status::Bad;
}

} // namespace handover
