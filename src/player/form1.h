#pragma once

#include "platform/desktop/tray.h"
#include "platform/engine/mediacontrol.h"
#include "platform/flatbar.h"
#include "platform/imagebox.h"
#include "platform/listcontrols.h"
#include "player/constants.h"

#include <QAction>
#include <QDateTime>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <functional>
#include <optional>
#include <random>

class Couleure;
class Form2;
class Form3;
class MprisService;
class QDBusConnection;
class Form4;

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
    MediaControl *ActiveMovie1; // plays the current file; shown while running (films)
    ImageBox *Label2;           // the display line: status, title, times; drags the window
    QScrollBar *VScroll1;       // volume, 0 (top) full to 100; see SliderVolume
    QTimer *Timer1;             // 1 s after a volume move: the settled caption comes back
    QTimer *Timer2;             // 500 ms while paused: the " < Pause >" blink
    QTimer *Alarma;             // 10 s: the alarm's check
    DriveListBox *Drive1;       // the mounted volumes
    DirListBox *Dir1;           // the folder shown, its ancestors and subfolders
    FileListBox *File1;         // the playable files of Dir1's folder: the tracks
    QListWidget *List2;         // the programme editor's copy of File1
    QListWidget *List3;         // the programme: file names, in playing order
    QListWidget *List4;         // hidden: the folder of each List3 entry, ending with "/"
    FlatBar *FlatBar1;          // transport 0 to 6, modes 7 to 11 (one shown pressed)
    FlatBar *FlatBar2, *FlatBar3, *FlatBar4, *FlatBar5; // programme: add, clear all, clear, add all
    FlatBar *FlatBar6;                                  // mute
    FlatBar *FlatBar7, *FlatBar8;                       // programme: save, open a play-list
    FlatBar *FlatBar9;                                  // re-read the folder
    ImageBox *Image1, *Image2; // hidden: the normal and the paused picture (tray, Image9)
    ImageBox *Image3, *Image4; // buttons: reduce to the tray, close
    ImageBox *Image5, *Image6; // hidden: Image4 pressed and released
    ImageBox *Image7, *Image8; // hidden: Image3 released and pressed
    ImageBox *Image9;          // status picture and the main menu's button
    QWidget *Picture1;         // the bar's background
    QWidget *EditorPanel;      // holds the programme editor below the browser

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
    bool DragOn = false; // Label2 is being dragged to move the window
    int DragX = 0;       // where in Label2 the drag began, twips
    int DragY = 0;
    // Indexes not yet played in random mode without repetition; empty means
    // a new cycle starts at the next pick.
    QVector<int> RandomPool;
    QString LastCaption;   // the display's settled text; the tray tip shows it
    QString SavedCaption;  // the text to put back after the volume message; "" = none
    int LoopIndex = 0;     // the loop counter the fades and list walks share
    QString CurrentFolder; // the tracks' folder, no trailing "/" ("" for the root)
    // Sequencing, a PlayModeValue; kModeStopping only inside Stop and a pick.
    // An int: it is saved and restored as its number.
    int PlayMode = kModeContinuous;
    bool Muted = false;      // the mute button cut the sound
    bool PauseFaded = false; // Pause faded out; the next Lecture fades in
    int TrackIndex = 0;      // current track in File1 (or the programme); -1 before the first
    int VolumeLevel = 0;     // the playing volume the slider gives, hundredths of dB
    NotifyIconData TrayData; // the tray icon's record

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
    // The transport bar's click, also called by the program with the index
    // a click would give; dispatches to the actions below.
    void FlatBar1_Click(int Id);
    void Lecture();                 // 0: resume, or open the first track of the mode
    void Pause();                   // 1: pause, or resume when paused
    void Stop();                    // 2: a user's stop: closes the file
    void DebutDeLaPiste();          // 3: restart the track, or select the previous file
    void AvancerDUnePiste();        // 4: end the track, or select the next file
    void LectureContinue();         // 7: mode 0
    void LectureAleatoire();        // 8: mode 7 or 77
    void LectureDesIntroductions(); // 9: mode 12
    void Programmation();           // 10: mode 9, editor shown
    void Repetition();              // 11: the loaded file plays 10000 times
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
    // they were. A mode 7 pick past the folder's end starts a new cycle,
    // whose first pick is drawn with it (fresh).
    struct RandomDraw {
        int mode = 0;
        int slot = -1;
        int pick = -1;
        qsizetype poolSize = 0;
        int count = 0;
        int fresh = -1;
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

    // ---- programme.cpp: the programme editor and play-lists
    void Prog_Click();
    void LireProg_Click();
    void OpenProg_Click();
    void List2_DblClick();
    void FlatBar2_Click(int Id); // add the selected files
    void FlatBar3_Click(int Id); // clear the programme
    void FlatBar4_Click(int Id); // remove the current entry
    void FlatBar5_Click(int Id); // add every file of the folder
    void FlatBar7_Click(int Id); // save as a play-list
    void FlatBar8_Click(int Id); // open a play-list
    // Programme entry i as a full path (its folder then its name); "" when
    // there is no entry i.
    QString ProgrammePath(int index) const;
    // Replaces the programme by the play-list at `path`, by the one reading
    // rule: every name, then the folders when a separator line was met
    // (*separator). A list that cannot be read is reported and nothing
    // changes; `beforeReplacing` runs once the list is read.
    bool LoadProgramme(const QString &path, bool *separator = nullptr,
                       const std::function<void()> &beforeReplacing = {});
    void connectProgramme();
    // The window message and input boxes belong to (ui.cpp).
    QWidget *boxParent();

    // ---- options.cpp
    void Fade_Click();
    void LectCont_Click();
    void Randloo_Click();
    void OnTop_Click();
    void Durée_Click();
    void Introdu_Click();
    // An introduction length as typed ("7,5" or "7.5"); false when it is not
    // a positive number of seconds.
    static bool IntroSeconds(const QString &text, double &seconds);
    void VScroll1_Scroll();
    void VScroll1_Change();

    // ---- options.cpp: commands, list colours, about box, secondary windows
    void Edit_Click();
    void Editr_Click();
    void Vol_Click();
    void AudioProp_Click();
    void BakColor_Click();
    void TxtColors_Click();
    void PageWeb_Click();
    void WriteMe_Click();
    void APropos_Click();
    // Colours of the drive, folder and file lists; an invalid colour leaves
    // that one as it is.
    void ApplyListColors(const QColor &back, const QColor &text);
    // A stored colour: false when it is not a colour number.
    static bool StoredListColor(const QString &text, QColor &out);

    // ---- favourites.cpp (the organiser is windows/favori.*)
    void CreateFav();
    void Ajouter_Click();
    void Organiser_Click();
    void connectFavourites();

    // ---- alarm.cpp (the window is windows/form6.*)
    void Alarme_Click();
    void Alarma_Timer();
    void connectAlarm();
    // Starts the 10 s check and aims the shot at the set time.
    void ArmAlarm();
    // Stops the check, the shot and a ring waiting for a modal step.
    void DisarmAlarm();
    // While armed: the due time again from now and the set hour and minute.
    void AimAlarm();
    // The first time at `hour`:`minute` from the minute of `from` on (that
    // minute counts).
    static QDateTime AlarmDueFrom(const QDateTime &from, int hour, int minute);
    bool isAlarmArmed() const { return Alarma->isActive(); }
    QDateTime AlarmDue;          // when the armed alarm rings
    QTimer *AlarmShot = nullptr; // aimed at AlarmDue, beside the 10 s check
    QTimer *AlarmWait = nullptr; // a due alarm waits for the modal step to end
    bool AlarmFiring = false;

    // ---- tray.cpp
    void Form_MouseMove(int Button, int Shift, float X, float Y);
    void SetTrayTip(const QString &text);
    void SetTrayPicture(const QPixmap &picture);

    // ---- shell.cpp (requests from the desktop, file-type registration)
    // A request names one file wrapped in one character on each side: a
    // play-list (".tnl") becomes the programme, any other file is selected
    // in its folder and played.
    void Form_LinkExecute(QString &CmdStr, int &Cancel);
    void Associate_Click();
    // One batch of requests from another start or the desktop, acted on when
    // no modal box is open; an empty batch only brings the window back.
    // Several files become the programme, in the order given.
    void HandOver(const QStringList &requests);
    int PendingHandOvers() const { return int(m_handOvers.size()); }
    // Shows the window in front, on top only with "&Toujours Visible".
    void BringBack();
    // The desktop's media control interface on `bus`; false without a bus.
    bool StartMpris(const QDBusConnection &bus);
    MprisService *Mpris = nullptr;

    // ---- chrome.cpp (the frameless window, its drag and keys; tray.cpp)
    void Label2_MouseDown(int Button, int Shift, float X, float Y);
    void Label2_MouseMove(int Button, int Shift, float X, float Y);
    void Label2_MouseUp(int Button, int Shift, float X, float Y);
    void Form_MouseDown(int Button, int Shift, float X, float Y);
    void Form_KeyPress(int &KeyAscii);
    // A click on the tray icon, by its mouse message.
    void TrayIcon_MouseDown(int Message);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectOptionCommands();
    void chooseListColor(bool text);
    void buildControls();
    void buildMenus();
    void buildBars();
    void connectHandlers();
    void stoppedRule();
    void randomPick();
    void openFirstTrack();
    void openProgramme();
    bool m_unloaded = false;
    bool m_windowEnabled = true;

    // shell.cpp, chrome.cpp
    void setupChrome();
    void runHandOvers();
    void programmeFromFiles(const QStringList &paths);
    QList<QStringList> m_handOvers;
    bool m_handingOver = false;
    QTimer *m_handOverWait = nullptr;
};

// The windows of the program, as the other windows reach them.
namespace App {
inline Form1 *form1 = nullptr;
inline Form3 *form3 = nullptr;
} // namespace App

// The option windows: one of each, created on first use. The chooser stays
// loaded between uses; the others go when closed.
namespace App {
inline QPointer<Couleure> couleure;
inline QPointer<Form2> form2;
inline QPointer<Form4> form4;
} // namespace App

inline constexpr const char *kApp = "Tunabel";
