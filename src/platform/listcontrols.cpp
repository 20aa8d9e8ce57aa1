#include "platform/listcontrols.h"

#include "platform/filename.h"
#include "platform/imagebox.h"
#include "storage/listing.h"

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStorageInfo>

#include <algorithm>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void applyColors(QWidget *w, const QColor &back, const QColor &text) {
    QPalette p = w->palette();
    if (back.isValid())
        p.setColor(QPalette::Base, back);
    if (text.isValid())
        p.setColor(QPalette::Text, text);
    w->setPalette(p);
}

// Names are carried as DecodeFileName gives them (see filename.h); every
// file-system call goes through their bytes, since QDir and QFileInfo would
// decode a name that is not UTF-8 with losses.
QByteArray bytesOf(const QString &path) {
    return EncodeFileName(path.isEmpty() ? QStringLiteral("/") : path);
}

// An absolute, clean path; a relative one is taken from the working folder.
QString absolutePath(const QString &path) {
    if (path.startsWith('/'))
        return QDir::cleanPath(path);
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return QDir::cleanPath("/" + path);
    return QDir::cleanPath(DecodeFileName(QByteArray(cwd)) + '/' + path);
}

bool isEnterableFolder(const QString &path) {
    const QByteArray b = bytesOf(path);
    struct stat st;
    return ::stat(b.constData(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(b.constData(), X_OK) == 0;
}

// The last component of a clean absolute path ("/" for the root).
QString lastComponent(const QString &path) {
    if (path == "/")
        return path;
    return path.mid(path.lastIndexOf('/') + 1);
}

QString childPath(const QString &folder, const QString &name) {
    return folder == "/" ? "/" + name : folder + '/' + name;
}

// The visible subfolders of a folder (links to folders included).
QStringList subfoldersOf(const QString &folder) {
    QStringList names;
    DIR *dir = opendir(bytesOf(folder).constData());
    if (!dir)
        return names;
    const int dirFd = dirfd(dir);
    while (const dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            isDir = fstatat(dirFd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir)
            names.append(DecodeFileName(QByteArrayView(e->d_name)));
    }
    closedir(dir);
    return SortedCaseFolded(names);
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

// ---- drives

DriveListBox::DriveListBox(QWidget *parent) : QComboBox(parent) {
    Refresh();
    // Only a pick by the user of another drive is a change: code that sets
    // the drive follows a folder that is already shown.
    connect(this, &QComboBox::activated, this, [this] {
        if (Drive() == m_reported)
            return;
        m_reported = Drive();
        emit Change();
    });
}

void DriveListBox::Refresh() {
    QStringList roots;
    for (const QStorageInfo &s : QStorageInfo::mountedVolumes()) {
        if (!s.isValid() || !s.isReady())
            continue;
        const QByteArray fs = s.fileSystemType();
        if (s.rootPath() != "/" && (fs == "tmpfs" || fs == "devtmpfs" || fs == "proc" || fs == "sysfs" ||
                                    fs == "overlay" || s.rootPath().startsWith("/sys") ||
                                    s.rootPath().startsWith("/proc") || s.rootPath().startsWith("/dev") ||
                                    s.rootPath().startsWith("/run") || s.rootPath().startsWith("/snap")))
            continue;
        if (!roots.contains(s.rootPath()))
            roots.append(s.rootPath());
    }
    setVolumes(roots);
}

void DriveListBox::setVolumes(const QStringList &roots) {
    const QString current = Drive();
    clear();
    m_roots.clear();
    for (const QString &r : roots)
        if (!m_roots.contains(r))
            m_roots.append(r);
    if (!m_roots.contains("/"))
        m_roots.append("/");
    std::sort(m_roots.begin(), m_roots.end());
    for (const QString &r : m_roots) {
        QString label = DisplayFileName(r);
        if (r != "/") {
            const QString name = QStorageInfo(r).displayName();
            if (!name.isEmpty() && name != label)
                label += "  [" + name + "]";
        }
        addItem(label);
    }
    const int i = int(m_roots.indexOf(current));
    setCurrentIndex(i >= 0 ? i : 0);
    m_reported = Drive();
}

QString DriveListBox::Drive() const {
    const int i = currentIndex();
    return i >= 0 && i < m_roots.size() ? m_roots[i] : QString();
}

bool DriveListBox::setDrive(const QString &path) {
    const QString abs = absolutePath(path);
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
    m_reported = Drive();
    return true;
}

void DriveListBox::setColors(const QColor &back, const QColor &text) {
    if (back.isValid())
        m_back = back;
    if (text.isValid())
        m_text = text;
    applyColors(this, back, text);
    // A combo box paints its face with the style's button gradient, not the
    // list colours: a style sheet with a plain border paints it in exactly
    // those colours, popup included.
    QString rules = "border: 1px solid palette(mid); padding: 1px 4px;";
    if (m_back.isValid())
        rules += "background-color: " + m_back.name() + ";";
    if (m_text.isValid())
        rules += "color: " + m_text.name() + ";";
    setStyleSheet("QComboBox, QComboBox QAbstractItemView {" + rules + "}");
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
    const QString clean = absolutePath(path);
    if (!isEnterableFolder(clean))
        return false;
    if (clean == m_path)
        return true; // the folder shown: nothing changes
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
    QStringList chain{"/"};
    for (qsizetype slash = m_path.indexOf('/', 1); m_path != "/"; slash = m_path.indexOf('/', slash + 1)) {
        chain.append(slash < 0 ? m_path : m_path.left(slash));
        if (slash < 0)
            break;
    }
    int depth = 0;
    for (const QString &p : chain) {
        const QString label = DisplayFileName(lastComponent(p));
        auto *item = new QListWidgetItem(m_openIcon, QString(depth * 2, ' ') + label, this);
        item->setData(Qt::UserRole, p);
        ++depth;
    }
    if (QListWidgetItem *cur = item(count() - 1))
        setCurrentItem(cur);
    for (const QString &s : subfoldersOf(m_path)) {
        auto *item = new QListWidgetItem(m_folderIcon, QString(depth * 2, ' ') + DisplayFileName(s), this);
        item->setData(Qt::UserRole, childPath(m_path, s));
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

QString FileNameDelegate::displayText(const QVariant &value, const QLocale &locale) const {
    if (value.userType() == QMetaType::QString)
        return DisplayFileName(value.toString());
    return QStyledItemDelegate::displayText(value, locale);
}

QVariant FileListModel::data(const QModelIndex &index, int role) const {
    if (role == Qt::DisplayRole && index.isValid() && index.row() < m_names.size())
        return DisplayFileName(m_names[index.row()]);
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

void FileListBox::keyPressEvent(QKeyEvent *event) {
    if (!event->isAutoRepeat())
        m_pressed.insert(event->key());
    QListView::keyPressEvent(event);
}

void FileListBox::keyReleaseEvent(QKeyEvent *event) {
    QListView::keyReleaseEvent(event);
    if (event->isAutoRepeat())
        return;
    // A release whose press went elsewhere (the Return that closed a message
    // box, the Escape that closed a menu) is not a key of this list. The key
    // is forgotten before the handler runs: it may open a box of its own.
    if (m_pressed.remove(event->key()))
        emit KeyUp(event->key(), ShiftCode(event->modifiers()));
}

void FileListBox::focusOutEvent(QFocusEvent *event) {
    m_pressed.clear();
    QListView::focusOutEvent(event);
}

void FileListBox::mousePressEvent(QMouseEvent *event) {
    // The entry under the pointer becomes current before the handler runs.
    QListView::mousePressEvent(event);
    const QPointF p = event->position();
    emit MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()), float(p.x() * 15),
                   float(p.y() * 15));
}
