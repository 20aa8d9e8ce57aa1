// The command users run. It hands its files to the running player and exits,
// or, when none runs, becomes the player. It links no Qt, so a hand-over
// costs little more than starting a process.
#include "platform/desktop/handoverclient.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv) {
    const std::string cwd = handover::CurrentFolder();
    std::vector<std::string> requests;
    for (int i = 1; i < argc; ++i) {
        const std::string r = handover::WrapArgument(argv[i], cwd);
        if (r.empty())
            std::fprintf(stderr, "tunabel : argument ignoré : %s\n", argv[i]);
        else
            requests.push_back(r);
    }
    int lock = -1;
    const handover::Claim claim = handover::ClaimOrForward(requests, &lock);
    if (claim == handover::Claim::Forwarded)
        return 0;
    if (claim == handover::Claim::Failed) {
        std::fprintf(stderr, "tunabel : le lecteur déjà ouvert ne répond pas.\n");
        return 1;
    }

    // The player lies beside this program; it keeps the lock until it
    // listens, so that starts meanwhile hand over to it.
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        std::fprintf(stderr, "tunabel : %s\n", std::strerror(errno));
        return 127;
    }
    self[n] = '\0';
    std::string player(self);
    player = player.substr(0, player.rfind('/') + 1) + "tunabel-player";
    if (lock >= 0) {
        fcntl(lock, F_SETFD, 0);
        setenv(handover::kLockVariable, std::to_string(lock).c_str(), 1);
    }
    std::vector<char *> args(argv, argv + argc + 1);
    args[0] = player.data();
    execv(player.c_str(), args.data());
    std::fprintf(stderr, "tunabel : impossible de lancer %s : %s\n", player.c_str(), std::strerror(errno));
    return 127;
}
