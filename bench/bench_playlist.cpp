// Play-lists: opening a 100,000-entry list into the programme, saving one,
// the manager listing 10,000 lists, and "Ajouter tout" over 100,000 files,
// each beside a floor measured in the same run. Then the entry cap: the
// largest list accepted and the first refused, and a 10-million-line list,
// each opened in a process of its own so that its peak memory is its own.
#include "benchutil.h"

#include "platform/engine/mediacontrol.h"
#include "player/form1.h"
#include "storage/playlist.h"
#include "windows/form5.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <strings.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Plays nothing: the window only needs something to drive.
class NullMedia : public MediaControl {
public:
    QString FileName() const override { return m_file; }
    void setFileName(const QString &path) override { m_file = path; }
    double Duration() const override { return 0; }
    double CurrentPosition() const override { return 0; }
    void setCurrentPosition(double) override {}
    double SelectionEnd() const override { return 0; }
    void setSelectionEnd(double) override {}
    int PlayCount() const override { return 1; }
    void setPlayCount(int) override {}
    int CurrentState() const override { return 0; }
    double Rate() const override { return 1; }
    void setRate(double) override {}
    int Volume() const override { return 0; }
    void setVolume(int) override {}
    void Run() override {}
    void Pause() override {}
    void Stop() override {}

private:
    QString m_file;
};

constexpr int kEntries = 100000;

QString entryName(int i) {
    return QString("%1 - Artiste %2 - Titre numéro %3.mp3").arg(i % 997).arg(i % 131).arg(i);
}

void touch(const fs::path &path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd >= 0)
        ::close(fd);
}

// The floor of a save: the same bytes written, flushed and renamed into place.
void floorSave(const QByteArray &bytes, const std::string &dir, const std::string &target) {
    const std::string temp = dir + "/floor.tmp";
    const int fd = ::open(temp.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n <= 0)
            break;
        p += n;
        left -= n;
    }
    ::fsync(fd);
    ::close(fd);
    ::rename(temp.c_str(), target.c_str());
}

// The floor of the manager: readdir, the suffix, a case-insensitive sort.
std::vector<std::string> floorListing(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent *e = ::readdir(d)) {
        if (e->d_type != DT_REG)
            continue;
        const size_t len = strlen(e->d_name);
        if (len > 4 && strcmp(e->d_name + len - 4, ".tnl") == 0)
            names.emplace_back(e->d_name, len - 4);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

QListWidget *uniformList() {
    auto *list = new QListWidget;
    list->setUniformItemSizes(true);
    return list;
}

// Peak resident memory of this process so far, in KiB.
long peakKiB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The child: opens `file` once, as the programme ("ours") or as its floor
// ("floor": the bytes read, split and shown in two lists when they are a
// list that fits, only read otherwise), and prints the time, the peak
// before and after, and the entries shown.
int capChild(const QString &file, const QString &kind, bool fits) {
    auto *media = new NullMedia;
    Form1 form(media);
    QString told;
    form.MsgBox = [&](const QString &text, QMessageBox::Icon, const QString &, QMessageBox::StandardButtons) {
        told = text;
        return QMessageBox::Ok;
    };
    QListWidget *a = uniformList(), *b = uniformList();
    const long before = peakKiB();
    const double t0 = bench::nowMs();
    qsizetype shown = 0;
    if (kind == "ours") {
        form.LoadProgramme(file);
        shown = form.List3->count();
    } else {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        const QByteArray bytes = f.readAll();
        if (fits) {
            const QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
            const qsizetype sep = lines.indexOf(QString());
            a->addItems(lines.mid(0, sep));
            b->addItems(lines.mid(sep + 1, sep));
        }
        shown = a->count();
    }
    const double ms = bench::nowMs() - t0;
    std::printf("cap %.3f %ld %ld %lld %d\n", ms, before, peakKiB(), (long long)shown,
                told.isEmpty() ? 0 : 1);
    delete a;
    delete b;
    return 0;
}

struct CapRun {
    double ms = 0;
    long addedKiB = 0, peakKiB = 0;
    qsizetype shown = 0;
    bool refused = false;
};

bool runCapChild(const char *self, const QString &file, const char *kind, bool fits, CapRun &out) {
    QProcess p;
    p.start(self, {"capchild", file, kind, fits ? "fits" : "over"});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return false;
    const QByteArray output = p.readAllStandardOutput();
    const QList<QByteArray> f = output.mid(output.indexOf("cap ")).trimmed().split(' ');
    if (f.size() < 6)
        return false;
    out.ms = f[1].toDouble();
    out.peakKiB = f[3].toLong();
    out.addedKiB = f[3].toLong() - f[2].toLong();
    out.shown = f[4].toLongLong();
    out.refused = f[5] == "1";
    return true;
}

// One list of the cap figures: ours and its floor, each in fresh processes.
bool capFigure(const char *self, const std::string &name, const QString &file, qsizetype entries, int runs,
               const std::string &what) {
    const bool fits = entries <= kPlaylistMaxEntries;
    std::vector<double> ours, floor, added, peak;
    for (int i = 0; i <= runs; ++i) {
        CapRun o, fl;
        if (!runCapChild(self, file, "ours", fits, o) || !runCapChild(self, file, "floor", fits, fl))
            return false;
        // Accepted whole, or refused with a message and nothing shown.
        if (fits ? (o.shown != entries || o.refused) : (o.shown != 0 || !o.refused))
            return false;
        if (i == 0)
            continue;
        ours.push_back(o.ms);
        floor.push_back(fl.ms);
        added.push_back(double(o.addedKiB) / 1024);
        peak.push_back(double(o.peakKiB) / 1024);
    }
    const double med = bench::median(ours);
    char extra[256];
    std::snprintf(extra, sizeof extra,
                  "%s vmhwm=%.0fMiB vmhwm_added=%.0fMiB floor_vmhwm_process=%s under1s=%s", what.c_str(),
                  bench::median(peak), bench::median(added), fits ? "read+split+lists" : "read",
                  med < 1000 ? "yes" : "no");
    bench::report(name, med, bench::median(floor), fits ? 1.5 : 3.0, "ms", 1, extra);
    return true;
}

// A list file of `entries` pairs, names then folders.
bool writeCapList(const fs::path &path, qsizetype entries, bool oneLetter) {
    if (fs::exists(path))
        return true;
    QByteArray bytes;
    for (int block = 0; block < 2; ++block) {
        for (qsizetype i = 0; i < entries; ++i) {
            if (oneLetter)
                bytes += "a\r\n";
            else if (block == 0)
                bytes += entryName(int(i)).toUtf8() + "\r\n";
            else
                bytes += QString("/home/moi/Musique/Dossier %1/\r\n").arg(i % 50).toUtf8();
        }
        bytes += "\r\n";
    }
    QFile f(QString::fromStdString(path.string()));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc >= 5 && std::string(argv[1]) == "capchild")
        return capChild(QString::fromLocal8Bit(argv[2]), argv[3], std::string(argv[4]) == "fits");
    QApplication::setApplicationName("Tunabel");
    const fs::path root =
        argc >= 2 ? fs::path(argv[1]) : fs::temp_directory_path() / "tunabel-bench-playlist";
    const int runs = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 10;
    fs::create_directories(root);
    const fs::path lists = root / "lists";
    fs::create_directories(lists);
    SetPlaylistFolder(QString::fromStdString(lists.string()));
    bool broken = false;

    auto *media = new NullMedia;
    Form1 form(media);
    form.MsgBox = [&](const QString &text, QMessageBox::Icon, const QString &, QMessageBox::StandardButtons) {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
        broken = true;
        return QMessageBox::Ok;
    };
    form.InputBox = [](const QString &, const QString &, const QString &) { return QString("grande liste"); };

    // A programme of 100,000 entries, saved once as the list to open.
    QStringList names, folders;
    for (int i = 0; i < kEntries; ++i) {
        names << entryName(i);
        folders << QString("/home/moi/Musique/Dossier %1/").arg(i % 50);
    }
    const QString big = PlaylistPath("grande liste");
    if (!WritePlaylist(big, names, folders, nullptr))
        return 2;

    // ---- open
    {
        QListWidget *a = uniformList(), *b = uniformList();
        std::vector<double> ours, floor;
        for (int i = 0; i <= runs; ++i) {
            a->clear();
            b->clear();
            double t0 = bench::nowMs();
            QFile f(big);
            f.open(QIODevice::ReadOnly);
            const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
            const qsizetype sep = lines.indexOf(QString());
            a->addItems(lines.mid(0, sep));
            b->addItems(lines.mid(sep + 1, sep));
            const double fl = bench::nowMs() - t0;

            form.List3->clear();
            form.List4->clear();
            t0 = bench::nowMs();
            form.LoadProgramme(big);
            const double o = bench::nowMs() - t0;
            if (form.List3->count() != kEntries || form.List4->count() != kEntries || a->count() != kEntries)
                broken = true;
            if (i == 0)
                continue;
            ours.push_back(o);
            floor.push_back(fl);
        }
        const double med = bench::median(ours);
        bench::report("playlist_open", med, bench::median(floor), 1.5, "ms", 1,
                      std::string("entries=100000 under150ms=") + (med < 150 ? "yes" : "no"));
        delete a;
        delete b;
    }

    // ---- save (the programme just opened)
    {
        QByteArray bytes;
        PlaylistBytes(names, folders, bytes, nullptr);
        const std::string floorTarget = (lists / "floor.bin").string();
        std::vector<double> ours, floor;
        for (int i = 0; i <= runs; ++i) {
            double t0 = bench::nowMs();
            floorSave(bytes, lists.string(), floorTarget);
            const double fl = bench::nowMs() - t0;
            t0 = bench::nowMs();
            form.FlatBar7_Click(0);
            const double o = bench::nowMs() - t0;
            if (QFileInfo(big).size() != bytes.size())
                broken = true;
            if (i == 0)
                continue;
            ours.push_back(o);
            floor.push_back(fl);
        }
        bench::report("playlist_save", bench::median(ours), bench::median(floor), 1.2, "ms", 1,
                      "entries=100000 bytes=" + std::to_string(bytes.size()));
        fs::remove(floorTarget);
    }

    // ---- the manager listing 10,000 lists
    {
        const fs::path many = root / "many";
        if (!fs::exists(many)) {
            fs::create_directories(many);
            for (int i = 0; i < 10000; ++i)
                touch(many / (entryName(i * 7919 % 10000).toStdString() + ".tnl"));
        }
        SetPlaylistFolder(QString::fromStdString(many.string()));
        Form5 *manager = Form5::Load(&form);
        std::vector<double> ours, floor;
        for (int i = 0; i <= runs; ++i) {
            double t0 = bench::nowMs();
            const auto expected = floorListing(many.string());
            const double fl = bench::nowMs() - t0;
            manager->Unload();
            t0 = bench::nowMs();
            Form5::Load(&form);
            const double o = bench::nowMs() - t0;
            if (size_t(manager->List1->count()) != expected.size())
                broken = true;
            if (i == 0)
                continue;
            ours.push_back(o);
            floor.push_back(fl);
        }
        bench::report("playlist_manager", bench::median(ours), bench::median(floor), 2.0, "ms", 2,
                      "lists=10000");
    }

    // ---- "Ajouter tout" over a folder of 100,000 files
    {
        const fs::path folder = root / "files100000";
        if (!fs::exists(folder)) {
            fs::create_directories(folder);
            for (int i = 0; i < kEntries; ++i)
                touch(folder / entryName(i).toStdString());
        }
        form.Dir1->setPath(QString::fromStdString(folder.string()));
        form.EditProg_Click();
        QStringList shown;
        for (int i = 0; i < form.File1->ListCount(); ++i)
            shown << form.File1->List(i);
        QListWidget *floorList = uniformList();
        std::vector<double> ours, floor;
        for (int i = 0; i <= runs; ++i) {
            floorList->clear();
            double t0 = bench::nowMs();
            floorList->addItems(shown);
            const double fl = bench::nowMs() - t0;
            form.List3->clear();
            form.List4->clear();
            t0 = bench::nowMs();
            form.FlatBar5_Click(0);
            const double o = bench::nowMs() - t0;
            if (form.List3->count() != kEntries || form.List4->count() != kEntries)
                broken = true;
            if (i == 0)
                continue;
            ours.push_back(o);
            floor.push_back(fl);
        }
        bench::report("playlist_add_all", bench::median(ours), bench::median(floor), 2.0, "ms", 1,
                      "files=100000");
        delete floorList;
    }
    // ---- the entry cap, each list in processes of its own
    {
        const fs::path cap = root / "cap";
        fs::create_directories(cap);
        const int capRuns = std::min(runs, 5);
        const struct {
            const char *name, *file;
            qsizetype entries;
            bool oneLetter;
            const char *what;
        } lists[] = {
            {"playlist_cap_largest", "largest.tnl", kPlaylistMaxEntries, false, "entries=200000 accepted"},
            {"playlist_cap_first_refused", "first-refused.tnl", kPlaylistMaxEntries + 1, false,
             "entries=200001 refused"},
            {"playlist_cap_10M_refused", "ten-million.tnl", 10000000, true,
             "entries=10000000 one-letter pairs, 60MB, refused"},
        };
        for (const auto &l : lists) {
            const fs::path file = cap / l.file;
            if (!writeCapList(file, l.entries, l.oneLetter) ||
                !capFigure(argv[0], l.name, QString::fromStdString(file.string()), l.entries, capRuns,
                           l.what))
                broken = true;
        }
    }
    if (broken)
        std::fprintf(stderr, "playlist: a figure did not produce the expected lists\n");
    return broken ? 2 : 0;
}
