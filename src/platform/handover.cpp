#include "platform/handover.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace handover {

namespace {

constexpr int kReceiptWaitMs = 10000;

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
    const QByteArray bytes = socket->readAll();
    const RequestParser::Status status = it->second.feed(bytes.constData(), bytes.size());
    if (status == RequestParser::Status::NeedMore)
        return;
    const QStringList requests = it->second.requests();
    m_states.erase(it);
    if (status == RequestParser::Status::Bad) {
        socket->abort();
        return;
    }
    socket->write(&kReceipt, 1);
    socket->flush();
    socket->disconnectFromServer();
    emit batch(requests);
}

} // namespace handover
