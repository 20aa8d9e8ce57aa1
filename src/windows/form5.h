#pragma once

#include <QAction>
#include <QDialog>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStringList>

class Form1;

// The hidden file list of the manager: the play-list files of one folder.
class PlaylistFileList {
public:
    QString Path() const { return m_path; }
    void setPath(const QString &path);
    QString Pattern() const { return QStringLiteral("*.tnl"); }
    int ListCount() const { return int(m_names.size()); }
    // Entry i (a file name), "" when there is none.
    QString List(int index) const;
    // The list names: the file names less their suffix.
    const QStringList &Names() const { return m_names; }

private:
    QString m_path;
    QStringList m_names;
};

// The play-list manager: a modal chooser. Hiding it chooses the current
// entry; the close box and Esc cancel. One object, created on first use; an
// unload empties it, and the next use loads it afresh.
class Form5 : public QDialog {
    Q_OBJECT
public:
    // The one manager, loaded (listing the play-list folder) if it is not.
    static Form5 *Load(Form1 *main);
    ~Form5() override;

    PlaylistFileList File1;
    QListWidget *List1;
    QMenuBar *MenuBar;
    QMenu *Liste;
    QAction *Ouvrir, *Renomme, *Effacer, *sep, *Fermer;

    void Form_Load();
    void Form_Activate();
    void Form_Unload(int &Cancel);
    void List1_DblClick();
    void Liste_Click();
    void Ouvrir_Click();
    void Renomme_Click();
    void Effacer_Click();
    void Fermer_Click();

    bool isLoaded() const { return m_loaded; }
    // The name of the current list, "" when none: what the caller reads.
    QString Text() const;
    // The name of entry i, "" when there is none.
    QString Name(int index) const;
    // Appends a list name, unless it is already there.
    void AddName(const QString &name);
    // Unloads as the close box does, without a choice.
    void Unload();

public slots:
    void reject() override;

protected:
    bool event(QEvent *event) override;

private:
    explicit Form5(Form1 *main);
    void insertName(int index, const QString &name);
    QPointer<Form1> m_main;
    bool m_loaded = false;
};

namespace App {
inline Form5 *form5 = nullptr;
} // namespace App
