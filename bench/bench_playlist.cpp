// Play-lists: opening a 100,000-entry list into the programme, saving one,
// the manager listing 10,000 lists, and "Ajouter tout" over 100,000 files,
// each beside a floor measured in the same run.
#include "benchutil.h"

#include "platform/mediacontrol.h"
#include "player/form1.h"
#include "storage/playlist.h"
#include "windows/form5.h"

#include <QApplication>
#include <QDir>
#include <QFile>

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

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
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
    if (broken)
        std::fprintf(stderr, "playlist: a figure did not produce the expected lists\n");
    return broken ? 2 : 0;
}
