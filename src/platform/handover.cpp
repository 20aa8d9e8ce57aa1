#include "platform/handover.h"

#include "platform/filename.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cstring>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace handover {

namespace {

constexpr int kReceiptWaitMs = 10000;

unsigned getU32(const char *p) {
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return (unsigned(u[0]) << 24) | (unsigned(u[1]) << 16) | (unsigned(u[2]) << 8) | unsigned(u[3]);
}

bool sameUser(QLocalSocket *socket) {
    ucred cred{};
    socklen_t len = sizeof cred;
    const int fd = int(socket->socketDescriptor());
    return fd >= 0 && getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
}

} // namespace

Server::Server(QObject *parent) : QObject(parent) {}

Server::~Server() {
    // Its connections go while the states they erase still exist.
    delete m_server;
}

bool Server::listen(int lockFd) {
    const std::string path = SocketPath();
    bool ok = false;
    if (path.empty()) {
        m_error = "aucun dossier d'exécution privé";
    } else {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        m_server->setMaxPendingConnections(64);
        // Under the lock, a socket nobody answers is a crashed player's.
        const QString name = QString::fromLocal8Bit(path.c_str());
        QLocalServer::removeServer(name);
        ok = m_server->listen(name);
        if (!ok)
            m_error = m_server->errorString();
        else
            connect(m_server, &QLocalServer::newConnection, this, &Server::accept);
    }
    if (lockFd >= 0) {
        flock(lockFd, LOCK_UN);
        close(lockFd);
    }
    return ok;
}

void Server::accept() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!sameUser(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_states[socket] = {};
        connect(socket, &QObject::destroyed, this, [this, socket] { m_states.erase(socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A client that never finishes its batch is dropped.
        QTimer::singleShot(kReceiptWaitMs, socket, [socket] { socket->abort(); });
        readFrom(socket);
    }
}

void Server::readFrom(QLocalSocket *socket) {
    auto it = m_states.find(socket);
    if (it == m_states.end())
        return;
    Pending *c = &it->second;
    c->total += socket->bytesAvailable();
    if (c->total > qsizetype(kMaxTotalBytes) + 8 + 4 * kMaxRequests) {
        socket->abort();
        return;
    }
    c->buffer += socket->readAll();
    auto drop = [&] {
        m_states.erase(socket);
        socket->abort();
    };
    if (!c->headerRead) {
        if (c->buffer.size() < 8)
            return;
        if (std::memcmp(c->buffer.constData(), kMagic, 4) != 0)
            return drop();
        c->expected = getU32(c->buffer.constData() + 4);
        if (c->expected > kMaxRequests)
            return drop();
        c->buffer.remove(0, 8);
        c->headerRead = true;
    }
    while (unsigned(c->requests.size()) < c->expected && c->buffer.size() >= 4) {
        const unsigned len = getU32(c->buffer.constData());
        if (len > kMaxRequestBytes)
            return drop();
        if (unsigned(c->buffer.size()) < 4 + len)
            return;
        const QByteArray bytes = c->buffer.mid(4, len);
        c->buffer.remove(0, 4 + len);
        // A NUL can be part of no path: the request is binary noise.
        if (bytes.contains('\0'))
            return drop();
        c->requests.append(DecodeFileName(bytes));
    }
    if (unsigned(c->requests.size()) < c->expected)
        return;
    if (!c->buffer.isEmpty())
        return drop();
    const QStringList requests = c->requests;
    m_states.erase(socket);
    socket->write(&kReceipt, 1);
    socket->flush();
    socket->disconnectFromServer();
    emit batch(requests);
}

} // namespace handover
