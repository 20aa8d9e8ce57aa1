#pragma once

#include <QObject>
#include <QStringList>

#include <map>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

// One player per user. A second start hands its files to the running player
// over a local socket in the user's runtime folder and exits. The client side
// runs before anything heavy (no Qt application, no media engine, no window),
// so a forwarded start costs little more than a process start.
namespace handover {

// Caps of one hand-over: requests per connection, bytes per request, bytes in
// all. Anything beyond them drops the connection.
inline constexpr unsigned kMaxRequests = 1024;
inline constexpr unsigned kMaxRequestBytes = 16384;
inline constexpr unsigned kMaxTotalBytes = 1u << 20;

// The folder that holds the socket and the start lock: $XDG_RUNTIME_DIR, or a
// private folder of ours in /tmp when it is unset. "" when none is usable.
std::string RuntimeFolder();
std::string SocketPath();

// A command-line argument as the running player receives it: a file:// URI
// becomes its local path, a relative path is resolved against `cwd`, and the
// result is wrapped in one character on each side ("[" and "]"). Bytes are
// kept as they are: file names need not be UTF-8. "" for a URI of another
// scheme or one that does not decode.
std::string WrapArgument(const std::string &argument, const std::string &cwd);

// The result of trying to reach a running player.
enum class Claim {
    Forwarded, // a player runs and took the requests: exit
    Primary,   // no player runs: become it (the start lock is held)
    NoChannel, // no usable runtime folder: run alone, no hand-overs
    Failed,    // a player runs but did not take the requests
};

// Hands `requests` (wrapped, see WrapArgument; none = show the window) to the
// running player, or claims the right to be it. On Primary, *lockFd is the
// held start lock: pass it to Server::listen, which releases it.
Claim ClaimOrForward(const std::vector<std::string> &requests, int *lockFd);

// Sends one batch over a connected socket and waits for its receipt.
bool SendBatch(int fd, const std::vector<std::string> &requests, int timeoutMs);

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
    struct Pending {
        QByteArray buffer;
        QStringList requests;
        unsigned expected = 0;
        bool headerRead = false;
        qsizetype total = 0;
    };
    std::map<QLocalSocket *, Pending> m_states;
    QLocalServer *m_server = nullptr;
    QString m_error;
};

} // namespace handover
