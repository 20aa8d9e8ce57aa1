#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QComboBox>
#include <QListView>
#include <QListWidget>
#include <QSet>
#include <QStringList>
#include <QStyledItemDelegate>

#include "storage/listing.h" // ListMatchingFiles, the file list's reading

// The playable types of the file list, matched without regard to case.
inline constexpr const char *kFilePattern = "*.mp3;*.wav;*.au;*.aiff;*.mp2;*.aif;*.aifc;*.mid;*.mpg;*.mpeg;*.flac;*.ogg;*.oga;*.opus;*.m4a";

// The mounted volumes, root first.
class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget *parent = nullptr);
    // The mount point of the current drive.
    QString Drive() const;
    // Selects the volume that holds `path`; false when none does.
    bool setDrive(const QString &path);
    // Reads the machine's volumes again.
    void Refresh();
    // Shows these volumes (mount points); "/" is always there.
    void setVolumes(const QStringList &roots);
    // An invalid colour leaves that colour as it was.
    void setColors(const QColor &back, const QColor &text);
    QColor BackColor() const { return m_back; }
    QColor ForeColor() const { return m_text; }

signals:
    // The user picked a drive other than the one shown.
    void Change();

private:
    QStringList m_roots;
    QString m_reported; // the drive shown when last set or picked
    QColor m_back, m_text;
};

// The current folder with its ancestors above it and its subfolders below.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirListBox(QWidget *parent = nullptr);
    QString Path() const { return m_path; }
    // False (and nothing changes) when the folder does not exist or cannot
    // be entered. Otherwise Change follows, whoever set it, unless the
    // folder is the one already shown.
    bool setPath(const QString &path);
    void Refresh();
    void setColors(const QColor &back, const QColor &text);

signals:
    void Change();
    void MouseDown(int Button, int Shift, float X, float Y);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void fill();
    QString m_path;
    QIcon m_folderIcon, m_openIcon;
};

class FileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex &parent = {}) const override {
        return parent.isValid() ? 0 : int(m_names.size());
    }
    QVariant data(const QModelIndex &index, int role) const override;
    void setNames(QStringList names);
    const QStringList &names() const { return m_names; }

private:
    QStringList m_names;
};

// The playable files of one folder; a current entry (-1 and "" when none).
class FileListBox : public QListView {
    Q_OBJECT
public:
    explicit FileListBox(QWidget *parent = nullptr);
    QString Path() const { return m_path; }
    void setPath(const QString &path);
    QString Pattern() const { return QString::fromLatin1(kFilePattern); }
    void Refresh();

    int ListCount() const { return int(m_model->names().size()); }
    // Entry i, "" when there is none. Names are carried as DecodeFileName
    // gives them (platform/filename.h) and shown readably.
    QString List(int index) const;
    int ListIndex() const;
    // False when the index is past the list; -1 clears the current entry.
    bool setListIndex(int index);
    // The current entry's name, "" when none.
    QString FileName() const;
    void setColors(const QColor &back, const QColor &text);
    QColor BackColor() const;
    QColor ForeColor() const;

signals:
    // A key released whose press went to this list.
    void KeyUp(int KeyCode, int Shift);
    void MouseDown(int Button, int Shift, float X, float Y);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    FileListModel *m_model;
    QString m_path;
    QSet<int> m_pressed; // keys pressed here and not yet released
};

// Shows list entries that hold file names readably; the entries keep the
// names as carried (platform/filename.h).
class FileNameDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant &value, const QLocale &locale) const override;
};

// Mouse button and modifier codes of the handlers: 1 left, 2 right, 4 middle;
// shift 1, ctrl 2, alt 4. Positions are in twips (15 to the pixel).
int ButtonCode(Qt::MouseButton button);
int ShiftCode(Qt::KeyboardModifiers modifiers);
