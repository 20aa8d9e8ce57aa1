#pragma once

#include "platform/flatbar.h"
#include "platform/imagebox.h"
#include "platform/listcontrols.h"
#include "platform/mediacontrol.h"
#include "platform/tray.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <functional>
#include <optional>
#include <random>

class Form3;

// The main window. Its controls, state and handlers are public: the other
// windows work on them directly. Members are grouped by the source file
// that owns them.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // media: the control to play through; null builds the GStreamer one.
    explicit Form1(MediaControl *media = nullptr, QWidget *parent = nullptr);
    ~Form1() override;

    // ---- controls (ui.cpp)
    MediaControl *ActiveMovie1;
    ImageBox *Label2;
    QScrollBar *VScroll1;
    QTimer *Timer1, *Timer2, *Alarma;
    DriveListBox *Drive1;
    DirListBox *Dir1;
    FileListBox *File1;
    QListWidget *List2, *List3, *List4;
    FlatBar *FlatBar1, *FlatBar2, *FlatBar3, *FlatBar4, *FlatBar5, *FlatBar6, *FlatBar7, *FlatBar8, *FlatBar9;
    ImageBox *Image1, *Image2, *Image3, *Image4, *Image5, *Image6, *Image7, *Image8, *Image9;
    QWidget *Picture1;
    QWidget *EditorPanel;

    // Menus: principal and its sub-menus, with their items.
    QMenu *principal;
    QMenu *Fichier, *Son, *Prog, *Favoris, *Affich, *Chaje, *Help;
    QAction *Edit, *Vol, *AudioProp, *tiret0, *Réduire, *Quit, *tiret1, *OnTop;
    QVector<QAction *> Play; // 0 to 6 of the "&Son" menu
    QAction *Speed, *Strobe;
    QAction *Alarme, *tiret2, *Refresh, *EditProg, *OpenProg, *LireProg;
    QAction *Ajouter, *Organiser;
    QVector<QAction *> Menu; // 0 separator, 1 to 10 favourite slots
    QAction *BakColor, *TxtColors, *Durée, *Introdu, *Fade, *LectCont, *Randloo, *Editr, *tiret3, *Associate;
    QAction *PageWeb, *WriteMe, *Tiret5, *APropos;

    // ---- state
    bool DragOn = false;
    int DragX = 0, DragY = 0;
    // Indexes not yet played in random mode without repetition; empty means
    // a new cycle starts at the next pick.
    QVector<int> RandomPool;
    QString LastCaption;
    QString SavedCaption;
    int LoopIndex = 0;
    QString CurrentFolder;
    int PlayMode = 0;
    bool Muted = false;
    bool PauseFaded = false;
    int TrackIndex = 0;
    int VolumeLevel = 0;
    NotifyIconData TrayData;

    // The window takes no input while a chosen file opens. Input is held back
    // by a filter rather than by disabling every control, which would repaint
    // the whole window twice for each pick.
    bool isWindowEnabled() const { return m_windowEnabled; }
    void setWindowEnabled(bool on);

    // Height and width in twips.
    int Height() const;
    void setHeight(int twips);

    // Message, question and input boxes go through these, so tests can
    // answer them. MsgBox returns the button pressed; InputBox returns ""
    // when cancelled.
    using MsgBoxHook = std::function<QMessageBox::StandardButton(const QString &text, QMessageBox::Icon icon,
                                                                 const QString &title,
                                                                 QMessageBox::StandardButtons buttons)>;
    MsgBoxHook MsgBox;
    std::function<QString(const QString &prompt, const QString &title, const QString &value)> InputBox;
    // An OK box ("" as title shows the program's name).
    void Message(const QString &text, QMessageBox::Icon icon = QMessageBox::NoIcon,
                 const QString &title = QString()) {
        MsgBox(text, icon, title, QMessageBox::Ok);
    }
    std::mt19937 Random;
    double Rnd();

    // ---- lifecycle.cpp
    void Form_Load();
    void Form_Unload(int &Cancel);
    void ReduceToTray();
    void Quit_Click();
    void Réduire_Click();
    bool isUnloaded() const { return m_unloaded; }

    // ---- playback.cpp
    void FadeIn();
    void FadeOut();
    void Play_Click(int Index);
    void ActiveMovie1_OpenComplete();
    void ActiveMovie1_StateChange(int oldState, int newState);
    void ActiveMovie1_PositionChange(double oldPosition, double newPosition);
    void ActiveMovie1_Timer();
    void ActiveMovie1_Error(int SCode, const QString &Description, const QString &Source,
                            bool *CancelDisplay);
    void ActiveMovie1_MouseDown(int Button, int Shift, float X, float Y);
    void Timer1_Timer();
    void Timer2_Timer();
    static QString Pos(double Position);
    // " m'ss\"" for a length in seconds.
    static QString LengthText(double length);

    // ---- transport.cpp
    void FlatBar1_Click(int Id);
    void Continue();
    void NoRepet();
    static QString Nom(const QString &filename);
    void OpenTrack(const QString &filename);
    void Speed_Click();
    void Strobe_Click();
    // Shows the mode button of PlayMode pressed.
    void ShowModeButton();

    // ---- gapless.cpp
    // The file the stopped rule would open if the current one ended now, ""
    // when it would open none (introductions, a user's stop, no next file).
    // Random picks are drawn here once and kept for the rule itself.
    QString NextTrack();
    // Hands NextTrack to the media control, which may play into it gaplessly.
    void OfferNextTrack();
    // Where Continue goes: the index it moves to, the folder it takes and
    // the file it opens ("" for none).
    struct ContinueStep {
        int next = 0;
        QString folder;
        QString path;
    };
    ContinueStep ContinueTarget() const;
    // A random pick drawn ahead: in mode 7 the pool slot and the index it
    // held, in mode 77 the index; valid while the pool and folder are as
    // they were.
    struct RandomDraw {
        int mode = 0;
        int slot = -1;
        int pick = -1;
        qsizetype poolSize = 0;
        int count = 0;
    };
    std::optional<RandomDraw> PendingDraw;
    RandomDraw DrawFor(int mode);

    // ---- browser.cpp
    void Drive1_Change();
    void Dir1_Change();
    void File1_KeyUp(int KeyCode, int Shift);
    void File1_MouseDown(int Button, int Shift, float X, float Y);
    void Dir1_MouseDown(int Button, int Shift, float X, float Y);
    void FlatBar9_Click(int Id);
    void Refresh_Click();
    void Menu_Click(int Index);
    // CurrentFolder & "/" & name.
    QString TrackPath(const QString &name) const;

    // ---- programme.cpp
    void EditProg_Click();
    void FlatBar6_Click(int Id);

    // ---- options.cpp
    void Fade_Click();
    void LectCont_Click();
    void Randloo_Click();
    void OnTop_Click();
    void Durée_Click();
    void Introdu_Click();
    void VScroll1_Scroll();
    void VScroll1_Change();

    // ---- favourites.cpp
    void CreateFav();

    // ---- tray.cpp
    void Form_MouseMove(int Button, int Shift, float X, float Y);
    void SetTrayTip(const QString &text);
    void SetTrayPicture(const QPixmap &picture);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void buildBars();
    void connectHandlers();
    void stoppedRule();
    void randomPick();
    bool m_unloaded = false;
    bool m_windowEnabled = true;
};

// The windows of the program, as the other windows reach them.
namespace App {
inline Form1 *form1 = nullptr;
inline Form3 *form3 = nullptr;
} // namespace App

inline constexpr const char *kApp = "Tunabel";
