// Folder listing: a FileListBox taking a folder of 1,000 / 10,000 / 100,000
// files (setPath, model reset included) against readdir + extension filter +
// case-insensitive sort in plain C++ on the same folder.
#include "benchutil.h"

#include "platform/listcontrols.h"

#include <QApplication>

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <strings.h>
#include <unistd.h>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

const char *const kPlayable[] = {".mp3", ".wav", ".MP3", ".Wav",  ".aiff", ".mid",  ".mpg",
                                 ".au",  ".mp2", ".aif", ".flac", ".ogg",  ".Opus", ".m4a"};
const char *const kOther[] = {".txt", ".jpg", ".m3u", ".wma", ".nfo"};

// Names in no particular order, mixed case, about one in seven not playable.
void makeFolder(const fs::path &dir, int count) {
    fs::create_directories(dir);
    unsigned x = 2463534242u + unsigned(count);
    for (int i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        char name[96];
        const char *ext = (x % 7 == 0) ? kOther[(x >> 8) % 5] : kPlayable[(x >> 8) % 14];
        std::snprintf(name, sizeof name, "%s%05u - Artist %u - Track %d%s", (x & 1) ? "a" : "B", x % 100000,
                      (x >> 4) % 500, i, ext);
        const int fd = open((dir / name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd >= 0)
            close(fd);
    }
    fs::create_directories(dir / "Sub Folder.mp3"); // a folder with a playable name is not listed
}

std::vector<std::string> floorList(const std::string &dir) {
    static const std::unordered_set<std::string> suffixes = {".mp3",  ".wav",  ".au",  ".aiff", ".mp2",
                                                             ".aif",  ".aifc", ".mid", ".mpg",  ".mpeg",
                                                             ".flac", ".ogg",  ".oga", ".opus", ".m4a"};
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent *e = readdir(d)) {
        if (e->d_type != DT_REG)
            continue;
        const char *dot = std::strrchr(e->d_name, '.');
        if (!dot || dot == e->d_name)
            continue;
        std::string ext(dot);
        for (auto &c : ext)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (suffixes.count(ext))
            names.emplace_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const fs::path root = argc >= 2 ? fs::path(argv[1]) : fs::temp_directory_path() / "tunabel-bench-listing";
    const int runs = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 10;
    const fs::path empty = root / "empty";
    fs::create_directories(empty);

    FileListBox box;
    box.resize(200, 300);
    box.show();
    QCoreApplication::processEvents();
    bool broken = false;

    for (int count : {1000, 10000, 100000}) {
        const fs::path dir = root / ("files" + std::to_string(count));
        if (!fs::exists(dir))
            makeFolder(dir, count);
        const QString qdir = QString::fromStdString(dir.string());
        std::vector<double> ours, floor;
        size_t expected = 0;
        for (int i = 0; i <= runs; ++i) {
            double t0 = bench::nowMs();
            const auto names = floorList(dir.string());
            const double f = bench::nowMs() - t0;
            expected = names.size();

            box.setPath(QString::fromStdString(empty.string()));
            QCoreApplication::processEvents();
            t0 = bench::nowMs();
            box.setPath(qdir);
            const double o = bench::nowMs() - t0;
            QCoreApplication::processEvents();
            if (size_t(box.ListCount()) != expected)
                broken = true;
            if (i == 0)
                continue; // warm-up
            ours.push_back(o);
            floor.push_back(f);
        }
        bench::report("listing_" + std::to_string(count), bench::median(ours), bench::median(floor), 2.0,
                      "ms", 2, "files=" + std::to_string(expected));
    }
    if (broken)
        std::fprintf(stderr, "listing: the file list and the floor disagree on the count\n");
    return broken ? 2 : 0;
}
