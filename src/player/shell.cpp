// Requests from the desktop (files handed over by another start, the file
// manager, the media keys' OpenUri) and the registration of the file types.
#include "player/form1.h"

#include "platform/desktop/handover.h"
#include "platform/desktop/mpris.h"
#include "platform/desktop/registration.h"
#include "platform/filename.h"
#include "platform/window.h"
#include "storage/playlist.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <sys/stat.h>

namespace {

// The path a request names: its wrapping dropped, "" when it is too short.
QString requestPath(const QString &request) {
    if (request.size() < 2)
        return {};
    return QDir::cleanPath(request.mid(1, request.size() - 2));
}

// A file of the file system, by the bytes of its name.
bool statPath(const QString &path, struct stat *st) {
    return !path.isEmpty() && path.startsWith('/') && ::stat(EncodeFileName(path).constData(), st) == 0;
}

QString folderOf(const QString &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QString("/") : path.left(slash);
}

} // namespace

void Form1::Form_LinkExecute(QString &CmdStr, int &Cancel) {
    (void)Cancel;
    const QString path = requestPath(CmdStr);
    struct stat st;
    if (!statPath(path, &st)) {
        Message("Demande ignorée : le fichier est introuvable.\n" +
                    DisplayFileName(path.isEmpty() ? CmdStr : path),
                QMessageBox::Warning);
        return;
    }

    if (path.endsWith("tnl")) {
        // The Open command's reading: a list that cannot be read changes
        // nothing, not even the track playing.
        bool separator = false;
        if (!LoadProgramme(path, &separator, [&] {
                FlatBar1_Click(kBarStop);
                Drive1->setDrive(path);
            }))
            return;
        LoopIndex = 0;
        TrackIndex = separator ? 1 : 0;
        FlatBar1_Click(kBarProgrammation);
        FlatBar1->PressButton(kBarProgrammation);
        FlatBar1_Click(kBarLecture);
        // The Stop cancelled any open that was to give the window back.
        if (ActiveMovie1->FileName().isEmpty())
            setWindowEnabled(true);
        return;
    }

    FlatBar1_Click(kBarStop);
    Drive1->setDrive(path);
    setWindowEnabled(false);
    // A folder handed over is shown itself; a file is looked for in its own.
    const bool isFolder = S_ISDIR(st.st_mode);
    const QString folder = isFolder ? path : folderOf(path);
    if (!Dir1->setPath(folder)) {
        setWindowEnabled(true);
        Message("Le répertoire ne peut pas être lu.\n" + DisplayFileName(folder), QMessageBox::Warning);
        return;
    }
    if (!isFolder) {
        // The exact name first: song.wav must not select song.mp3.
        const QString name = path.mid(path.lastIndexOf('/') + 1);
        int found = -1;
        const int count = File1->ListCount();
        for (int k = 0; k < count && found < 0; ++k)
            if (File1->List(k) == name)
                found = k;
        const QString wanted = Nom(path);
        for (int k = 0; k < count && found < 0; ++k)
            if (Nom("/" + File1->List(k)) == wanted)
                found = k;
        if (found >= 0) {
            File1->setListIndex(found);
            TrackIndex = found;
        }
    }
    FlatBar1_Click(kBarLecture);
    // Nothing opened (an empty programme, a folder without playable files):
    // no open will complete to give the window back.
    if (ActiveMovie1->FileName().isEmpty())
        setWindowEnabled(true);
}

void Form1::programmeFromFiles(const QStringList &requests) {
    QStringList names, folders, skipped, refused, beyond;
    // Each file or list starts on a row of its own: a list without its
    // folder block leaves those of its names empty.
    const auto align = [&] {
        while (folders.size() < names.size())
            folders.append(QString());
    };
    for (const QString &request : requests) {
        const QString path = requestPath(request);
        struct stat st;
        if (!statPath(path, &st) || S_ISDIR(st.st_mode)) {
            skipped << DisplayFileName(path.isEmpty() ? request : path);
            continue;
        }
        if (path.endsWith("tnl")) {
            QStringList n, f;
            QString error;
            if (!ReadPlaylist(path, n, f, &error)) {
                refused << error;
                continue;
            }
            if (names.size() + n.size() > kPlaylistMaxEntries) {
                beyond << DisplayFileName(path);
                continue;
            }
            align();
            names << n;
            folders << f.mid(0, n.size());
            continue;
        }
        if (names.size() >= kPlaylistMaxEntries) {
            beyond << DisplayFileName(path);
            continue;
        }
        align();
        const qsizetype slash = path.lastIndexOf('/');
        names << path.mid(slash + 1);
        folders << path.left(slash + 1);
    }
    // One box for everything left out.
    QStringList told;
    if (!skipped.isEmpty())
        told << "Fichiers ignorés :\n" + skipped.join('\n');
    told << refused;
    if (!beyond.isEmpty()) {
        const QLocale french(QLocale::French);
        QString shown = beyond.mid(0, 10).join('\n');
        if (beyond.size() > 10)
            shown += QStringLiteral("\n… et %1 autres").arg(french.toString(qint64(beyond.size() - 10)));
        told << QStringLiteral(
                    "Une programmation compte au plus %1 éléments ; ces fichiers et listes n'ont pas "
                    "été ajoutés :\n")
                        .arg(french.toString(qint64(kPlaylistMaxEntries))) +
                    shown;
    }
    if (!told.isEmpty())
        Message(told.join("\n\n"), QMessageBox::Warning);
    if (names.isEmpty())
        return;
    FlatBar1_Click(kBarStop);
    List3->clear();
    List4->clear();
    List3->addItems(names);
    List4->addItems(folders);
    LoopIndex = 0;
    TrackIndex = 0;
    FlatBar1_Click(kBarProgrammation);
    FlatBar1->PressButton(kBarProgrammation);
    FlatBar1_Click(kBarLecture);
    if (ActiveMovie1->FileName().isEmpty())
        setWindowEnabled(true);
}

void Form1::BringBack() {
    if (isMinimized())
        showNormal();
    // Keep-on-top changes re-create the native window: only when it changes.
    if (OnTop->isChecked() != IsTopMost(this))
        SetTopMost(this, OnTop->isChecked());
    show();
    raise();
}

void Form1::HandOver(const QStringList &requests) {
    if (m_unloaded)
        return;
    m_handOvers.append(requests);
    BringBack();
    activateWindow();
    // The user must see the box the hand-over waits for.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
    runHandOvers();
}

void Form1::runHandOvers() {
    if (m_handingOver || m_unloaded)
        return;
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        if (!m_handOverWait) {
            m_handOverWait = new QTimer(this);
            m_handOverWait->setSingleShot(true);
            m_handOverWait->setInterval(100);
            connect(m_handOverWait, &QTimer::timeout, this, &Form1::runHandOvers);
        }
        m_handOverWait->start();
        return;
    }
    m_handingOver = true;
    while (!m_handOvers.isEmpty() && !m_unloaded) {
        const QStringList batch = m_handOvers.takeFirst();
        if (batch.size() == 1) {
            QString request = batch.first();
            int cancel = 0;
            Form_LinkExecute(request, cancel);
        } else if (batch.size() > 1) {
            programmeFromFiles(batch);
        }
    }
    m_handingOver = false;
}

void Form1::Associate_Click() {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const QString folder = QCoreApplication::applicationDirPath();
    const QString error = RegisterFileTypes(CommandToRegister(QCoreApplication::applicationFilePath()),
                                            DesktopTemplate(folder));
    QApplication::restoreOverrideCursor();
    if (!error.isEmpty())
        Message("Les fichiers n'ont pas pu être associés : " + error, QMessageBox::Warning);
}

bool Form1::StartMpris(const QDBusConnection &bus) {
    MprisPlayer p;
    // The transport's own buttons, as a click on them would pass.
    p.play = [this] {
        if (ActiveMovie1->CurrentState() != kMediaRunning)
            FlatBar1_Click(kBarLecture);
    };
    p.pause = [this] {
        if (ActiveMovie1->CurrentState() == kMediaRunning)
            FlatBar1_Click(kBarPause);
    };
    p.playPause = [this] {
        FlatBar1_Click(ActiveMovie1->CurrentState() == kMediaRunning ? kBarPause : kBarLecture);
    };
    p.stop = [this] { FlatBar1_Click(kBarStop); };
    p.next = [this] { FlatBar1_Click(kBarAvancer); };
    p.previous = [this] { FlatBar1_Click(kBarDebut); };
    p.raise = [this] {
        BringBack();
        activateWindow();
    };
    p.open = [this](const QString &path) { HandOver({"[" + path + "]"}); };
    p.state = [this] { return ActiveMovie1->CurrentState(); };
    p.file = [this] { return ActiveMovie1->FileName(); };
    p.title = [this] { return DisplayFileName(Nom(ActiveMovie1->FileName())); };
    p.length = [this] { return ActiveMovie1->Duration(); };
    p.position = [this] { return ActiveMovie1->CurrentPosition(); };
    p.setPosition = [this](double seconds) { ActiveMovie1->setCurrentPosition(seconds); };
    p.volume = [this] { return (100 - VScroll1->value()) / 100.0; };
    p.setVolume = [this](double v) { VScroll1->setValue(qRound(100 - v * 100)); };
    delete Mpris;
    Mpris = new MprisService(std::move(p), this);
    connect(ActiveMovie1, &MediaControl::StateChange, Mpris, &MprisService::update);
    connect(ActiveMovie1, &MediaControl::OpenComplete, Mpris, &MprisService::update);
    connect(VScroll1, &QScrollBar::valueChanged, Mpris, &MprisService::update);
    connect(ActiveMovie1, &MediaControl::PositionChange, Mpris,
            [service = Mpris](double, double position) { service->seeked(position); });
    return Mpris->publish(bus);
}
