#pragma once

#include "platform/handoverclient.h"
#include "platform/handoverparser.h"

#include <QObject>
#include <QStringList>

#include <map>

class QLocalServer;
class QLocalSocket;

namespace handover {

// The running player's end: receives batches, in order, from clients of
// the same user.
class Server : public QObject {
    Q_OBJECT
public:
    explicit Server(QObject *parent = nullptr);
    ~Server() override;
    // Listens on SocketPath() (a stale socket is replaced), then releases the
    // start lock. False when the socket cannot be made.
    bool listen(int lockFd);
    QString errorString() const { return m_error; }

signals:
    // One client's requests, as wrapped strings; empty = show the window.
    void batch(const QStringList &requests);

private:
    void accept();
    void readFrom(QLocalSocket *socket);
    // One client's batch as it arrives.
    std::map<QLocalSocket *, RequestParser> m_states;
    QLocalServer *m_server = nullptr;
    QString m_error;
};

} // namespace handover
