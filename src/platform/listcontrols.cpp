#include "platform/listcontrols.h"

#include "platform/imagebox.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStorageInfo>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace {

void applyColors(QWidget *w, const QColor &back, const QColor &text) {
    QPalette p = w->palette();
    if (back.isValid())
        p.setColor(QPalette::Base, back);
    if (text.isValid())
        p.setColor(QPalette::Text, text);
    w->setPalette(p);
}

QStringList suffixesOf(const QString &pattern) {
    QStringList out;
    for (const QString &part : pattern.split(';', Qt::SkipEmptyParts)) {
        const QString p = part.trimmed();
        if (p.startsWith("*."))
            out.append(p.mid(1).toCaseFolded()); // ".mp3"
    }
    return out;
}

} // namespace

int ButtonCode(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int ShiftCode(Qt::KeyboardModifiers m) {
    return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
           (m & Qt::AltModifier ? 4 : 0);
}

QStringList ListMatchingFiles(const QString &folder, const QString &pattern) {
    QStringList names;
    const QByteArray dirPath = QFile::encodeName(folder.isEmpty() ? QStringLiteral("/") : folder);
    DIR *dir = opendir(dirPath.constData());
    if (!dir)
        return names;
    const QStringList suffixes = suffixesOf(pattern);
    int dirFd = dirfd(dir);
    while (const dirent *e = readdir(dir)) {
        const char *name = e->d_name;
        const char *dot = strrchr(name, '.');
        if (!dot || dot == name)
            continue;
        // Cheap test on the raw bytes before any conversion.
        const size_t extLen = strlen(dot);
        if (extLen > 5)
            continue;
        char ext[6];
        for (size_t i = 0; i <= extLen; ++i)
            ext[i] = char(tolower(static_cast<unsigned char>(dot[i])));
        if (!suffixes.contains(QLatin1String(ext)))
            continue;
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            regular = fstatat(dirFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.append(QFile::decodeName(name));
    }
    closedir(dir);

    // Sort on case-folded keys computed once.
    std::vector<std::pair<QString, int>> keys;
    keys.reserve(names.size());
    for (int i = 0; i < names.size(); ++i)
        keys.emplace_back(names[i].toCaseFolded(), i);
    std::sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) {
        if (a.first != b.first)
            return a.first < b.first;
        return names[a.second] < names[b.second];
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const auto &k : keys)
        sorted.append(names[k.second]);
    return sorted;
}

// ---- drives

DriveListBox::DriveListBox(QWidget *parent) : QComboBox(parent) {
    Refresh();
    // Only a pick by the user is a change: code that sets the drive follows
    // a folder that is already shown.
    connect(this, &QComboBox::activated, this, [this] { emit Change(); });
}

void DriveListBox::Refresh() {
    const QString current = Drive();
    clear();
    m_roots.clear();
    for (const QStorageInfo &s : QStorageInfo::mountedVolumes()) {
        if (!s.isValid() || !s.isReady())
            continue;
        const QByteArray fs = s.fileSystemType();
        if (s.rootPath() != "/" && (fs == "tmpfs" || fs == "devtmpfs" || fs == "proc" || fs == "sysfs" ||
                                    fs == "overlay" || s.rootPath().startsWith("/sys") ||
                                    s.rootPath().startsWith("/proc") || s.rootPath().startsWith("/dev") ||
                                    s.rootPath().startsWith("/run") || s.rootPath().startsWith("/snap")))
            continue;
        if (m_roots.contains(s.rootPath()))
            continue;
        m_roots.append(s.rootPath());
    }
    if (!m_roots.contains("/"))
        m_roots.append("/");
    std::sort(m_roots.begin(), m_roots.end());
    for (const QString &r : m_roots) {
        QString label = r;
        if (r != "/") {
            const QString name = QStorageInfo(r).displayName();
            if (!name.isEmpty() && name != r)
                label = r + "  [" + name + "]";
        }
        addItem(label);
    }
    const int i = int(m_roots.indexOf(current));
    setCurrentIndex(i >= 0 ? i : 0);
}

QString DriveListBox::Drive() const {
    const int i = currentIndex();
    return i >= 0 && i < m_roots.size() ? m_roots[i] : QString();
}

bool DriveListBox::setDrive(const QString &path) {
    const QString abs = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    int best = -1;
    for (int i = 0; i < m_roots.size(); ++i) {
        const QString &r = m_roots[i];
        const bool holds = r == "/" || abs == r || abs.startsWith(r + '/');
        if (holds && (best < 0 || r.size() > m_roots[best].size()))
            best = i;
    }
    if (best < 0)
        return false;
    if (best != currentIndex())
        setCurrentIndex(best);
    return true;
}

void DriveListBox::setColors(const QColor &back, const QColor &text) {
    applyColors(this, back, text);
}

// ---- folders

// Our own pictures: the desktop theme's take a theme lookup that costs more
// than the whole window at start-up.
DirListBox::DirListBox(QWidget *parent)
    : QListWidget(parent), m_folderIcon(LoadIcon("folder")), m_openIcon(LoadIcon("folder-open")) {
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        const QString target = item->data(Qt::UserRole).toString();
        if (!target.isEmpty() && target != m_path)
            setPath(target);
    });
}

bool DirListBox::setPath(const QString &path) {
    if (path.isEmpty())
        return false;
    QFileInfo fi(path);
    if (!fi.isDir() || !fi.isExecutable())
        return false;
    QString clean = QDir::cleanPath(fi.absoluteFilePath());
    m_path = clean;
    fill();
    emit Change();
    return true;
}

void DirListBox::Refresh() {
    fill();
}

void DirListBox::fill() {
    clear();
    QStringList chain;
    for (QDir d(m_path);;) {
        chain.prepend(d.absolutePath());
        if (d.isRoot() || !d.cdUp())
            break;
    }
    int depth = 0;
    for (const QString &p : chain) {
        const QString label = p == "/" ? QStringLiteral("/") : QFileInfo(p).fileName();
        auto *item = new QListWidgetItem(m_openIcon, QString(depth * 2, ' ') + label, this);
        item->setData(Qt::UserRole, p);
        ++depth;
    }
    if (QListWidgetItem *cur = item(count() - 1))
        setCurrentItem(cur);
    const QStringList subs =
        QDir(m_path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString &s : subs) {
        auto *item = new QListWidgetItem(m_folderIcon, QString(depth * 2, ' ') + s, this);
        item->setData(Qt::UserRole, m_path == "/" ? "/" + s : m_path + '/' + s);
    }
}

void DirListBox::mousePressEvent(QMouseEvent *event) {
    QListWidget::mousePressEvent(event);
    const QPointF p = event->position();
    emit MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()), float(p.x() * 15),
                   float(p.y() * 15));
}

void DirListBox::setColors(const QColor &back, const QColor &text) {
    applyColors(this, back, text);
}

// ---- files

QVariant FileListModel::data(const QModelIndex &index, int role) const {
    if (role == Qt::DisplayRole && index.isValid() && index.row() < m_names.size())
        return m_names[index.row()];
    return {};
}

void FileListModel::setNames(QStringList names) {
    beginResetModel();
    m_names = std::move(names);
    endResetModel();
}

FileListBox::FileListBox(QWidget *parent) : QListView(parent), m_model(new FileListModel(this)) {
    setModel(m_model);
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
    setBatchSize(2000);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void FileListBox::setPath(const QString &path) {
    m_path = path;
    Refresh();
}

void FileListBox::Refresh() {
    m_model->setNames(ListMatchingFiles(m_path, Pattern()));
}

QString FileListBox::List(int index) const {
    const QStringList &n = m_model->names();
    return index >= 0 && index < n.size() ? n[index] : QString();
}

int FileListBox::ListIndex() const {
    const QModelIndex i = currentIndex();
    return i.isValid() && selectionModel()->isSelected(i) ? i.row() : -1;
}

bool FileListBox::setListIndex(int index) {
    if (index == -1) {
        selectionModel()->clear();
        return true;
    }
    if (index < 0 || index >= ListCount())
        return false;
    const QModelIndex i = m_model->index(index);
    selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    return true;
}

QString FileListBox::FileName() const {
    return List(ListIndex());
}

void FileListBox::setColors(const QColor &back, const QColor &text) {
    applyColors(this, back, text);
}
QColor FileListBox::BackColor() const {
    return palette().color(QPalette::Base);
}
QColor FileListBox::ForeColor() const {
    return palette().color(QPalette::Text);
}

void FileListBox::keyReleaseEvent(QKeyEvent *event) {
    QListView::keyReleaseEvent(event);
    if (!event->isAutoRepeat())
        emit KeyUp(event->key(), ShiftCode(event->modifiers()));
}

void FileListBox::mousePressEvent(QMouseEvent *event) {
    // The entry under the pointer becomes current before the handler runs.
    QListView::mousePressEvent(event);
    const QPointF p = event->position();
    emit MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()), float(p.x() * 15),
                   float(p.y() * 15));
}
