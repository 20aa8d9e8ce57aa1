#pragma once

#include <string>
#include <vector>

// One player per user. A second start hands its files to the running player
// over a local socket in the user's runtime folder and exits. The client side
// needs no Qt at all: the command users run is a small program of its own
// that forwards, or hands over to the player when none runs.
namespace handover {

// The wire: "TNB1", the number of requests, then each request as its length
// and its bytes (lengths big-endian, 32 bits); the player answers 'K'.
inline constexpr char kMagic[4] = {'T', 'N', 'B', '1'};
inline constexpr char kReceipt = 'K';

// Caps of one hand-over: requests per connection, bytes per request, bytes in
// all. Anything beyond them drops the connection.
inline constexpr unsigned kMaxRequests = 1024;
inline constexpr unsigned kMaxRequestBytes = 16384;
inline constexpr unsigned kMaxTotalBytes = 1u << 20;

// The folder that holds the socket and the start lock: $XDG_RUNTIME_DIR, or a
// private folder of ours in /tmp when it is unset, or one in the user's home
// when someone else took that name in /tmp. "" when none is usable. When the
// usual places could not be used, *notice says why (French, UTF-8).
std::string RuntimeFolder(std::string *notice = nullptr);

// Where the player may listen in `folder`, in order: the usual name first,
// then others for when something that is no socket sits on it. Clients try
// each; the player listens on the first one that is free.
std::vector<std::string> SocketPaths(const std::string &folder);
// The first of SocketPaths(RuntimeFolder()) that is free or a socket; "" when none.
std::string SocketPath();

// A connection to a player of this user on `path`: never through a symbolic
// link, and only to a listener of the same user. -1 otherwise, with errno
// (EAGAIN: its queue is full; EPERM: a link or someone else's listener).
int ConnectToPlayer(const std::string &path);

// The start lock of `folder`, waiting up to waitMs for another start that
// holds it. -1 when it cannot be had (errno EWOULDBLOCK when busy).
int TakeStartLock(const std::string &folder, int waitMs);

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

// The folder relative arguments are read against: the shell's $PWD when it
// is this folder (it keeps the user's symbolic links), else getcwd.
std::string CurrentFolder();

// The command passes the start lock it holds to the player it starts, in
// this variable. Returns the lock (and clears the variable), or -1.
inline constexpr const char *kLockVariable = "TUNABEL_START_LOCK";
int InheritedLock();

// Sends one batch over a connected socket and waits for its receipt. The
// player sends its receipt only once it has taken the whole batch, and takes
// a batch only when its receipt went out: Reset (the connection ended before
// the receipt) means the batch was not taken and may be sent again; TimedOut
// means nothing either way.
enum class Delivery { Taken, Reset, TimedOut };
Delivery SendBatch(int fd, const std::vector<std::string> &requests, int timeoutMs);

} // namespace handover
