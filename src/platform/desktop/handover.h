#pragma once

#include "platform/desktop/handoverclient.h"
#include "platform/desktop/handoverparser.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <list>
#include <sys/types.h>

class QSocketNotifier;

namespace handover {

// The running player's end: receives batches, in order, from clients of
// the same user. It keeps a bounded number of connections (the oldest goes
// first), so that clients that never finish cannot take every descriptor,
// and listens again when its socket goes away.
class Server : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 64;

    explicit Server(QObject *parent = nullptr);
    ~Server() override;
    // Listens on the first free of SocketPaths(RuntimeFolder()) (a stale
    // socket is replaced), then releases the start lock. False when no
    // socket can be made.
    bool listen(int lockFd);
    QString errorString() const { return m_error; }
    // For the user, once: why the usual place could not be used; "" when it could.
    QString notice() const { return m_notice; }
    std::string path() const { return m_path; }
    int connections() const { return int(m_connections.size()); }

signals:
    // One client's requests, as wrapped strings; empty = show the window.
    void batch(const QStringList &requests);

private:
    struct Connection {
        int fd = -1;
        long long deadline = 0;
        QSocketNotifier *notifier = nullptr;
        RequestParser parser;
    };
    using Connections = std::list<Connection>;

    bool bindFirstFree();
    void closeListener();
    void acceptAll();
    void readFrom(Connections::iterator c);
    void drop(Connections::iterator c);
    // Drops connections past their time; listens again when the socket file
    // is gone or the listener failed.
    void watch();
    bool relisten();

    Connections m_connections;
    int m_listenFd = -1;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    QSocketNotifier *m_listenNotifier = nullptr;
    QTimer m_watch;
    std::string m_folder;
    std::string m_path;
    QString m_error;
    QString m_notice;
};

} // namespace handover
