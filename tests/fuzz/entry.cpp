// libFuzzer's entry for one target, chosen when it is built.
#include "fuzz/targets.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication app(*argc, *argv);
    fuzz::Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const fuzz::Target *target = [] {
        for (const fuzz::Target &t : fuzz::kTargets)
            if (std::strcmp(t.name, FUZZ_TARGET) == 0)
                return &t;
        std::abort();
    }();
    if (!target->run(data, size)) {
        std::fprintf(stderr, "fuzz %s: a property broke on this input\n", target->name);
        std::abort();
    }
    return 0;
}
