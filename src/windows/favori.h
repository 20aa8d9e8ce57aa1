#pragma once

#include <QAction>
#include <QFrame>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

class Form1;

// The favourites organiser: the stored favourites in a list, moved up and
// down and deleted, written back when it closes. One window; showing it
// again brings it forward.
class Favori : public QWidget {
    Q_OBJECT
public:
    // Shows the one organiser, loading it first when it is not open.
    static Favori *Open(Form1 *main);
    ~Favori() override;

    QListWidget *List1;
    QMenuBar *MenuBar;
    QMenu *Edition;
    QAction *Remonter, *Descendre, *Supprimer, *Sep, *Fermer;
    QFrame *Line2, *Line3;

    void Form_Load();
    void Form_Activate();
    void Form_Resize();
    void Form_Unload(int &Cancel);
    void Edition_Click();
    void Remonter_Click();
    void Descendre_Click();
    void Supprimer_Click();
    void Fermer_Click();
    void List1_KeyDown(int KeyCode, int Shift);
    void List1_MouseDown(int Button, int Shift, float X, float Y);

    // The entry acted on: current and selected, -1 when none.
    int Chosen() const;
    // Appends a folder added from the main window while the organiser is open.
    void AddFolder(const QString &folder);
    // Closes through the unload, writing the list back.
    void Unload();

    // Smallest size, twips.
    static constexpr int kMinTwips = 1500;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    explicit Favori(Form1 *main);
    // The list as keys "0" to count - 1; the other keys go.
    void writeBack();
    QPointer<Form1> m_main;
    bool m_unloaded = false;
};

namespace App {
inline QPointer<Favori> favori;
} // namespace App
