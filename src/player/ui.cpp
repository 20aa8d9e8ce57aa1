// Builds the main window: its controls, bars and menus, and wires them to
// their handlers.
#include "player/form1.h"

#include "platform/engine/mediafactory.h"
#include "platform/window.h"
#include "player/constants.h"

#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QStandardPaths>

namespace {

constexpr int kWidth = 540;
constexpr int kHeight = kPlainHeight / kTwipsPerPixel;

ImageBox *hiddenImage(QWidget *parent, const QPixmap &pm) {
    auto *img = new ImageBox(parent);
    img->setPicture(pm);
    img->hide();
    return img;
}

QAction *item(QMenu *menu, const QString &caption, bool checkable = false, bool checked = false) {
    QAction *a = menu->addAction(caption);
    a->setCheckable(checkable);
    a->setChecked(checked);
    return a;
}

// The handler decides the check state: undo the toggle Qt made on the click.
template <typename F> void onClick(QAction *a, F handler) {
    QObject::connect(a, &QAction::triggered, a, [a, handler] {
        if (a->isCheckable())
            a->setChecked(!a->isChecked());
        handler();
    });
}

// A box's frame: a title and a close button, never minimise or maximise.
constexpr Qt::WindowFlags kBoxFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// Room for the whole title: its text in the title bar's bold face, beside
// the frame's icon and close button.
int titleWidth(const QWidget &box) {
    QFont font = box.font();
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(box.windowTitle()) + 140;
}

QString startFolder() {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QDir(music).exists())
        return music;
    return QDir::homePath();
}

} // namespace

Form1::Form1(MediaControl *media, QWidget *parent) : QWidget(parent), Random(std::random_device{}()) {
    setWindowTitle(kApp);
    setObjectName("Form1");
    ActiveMovie1 = media ? media : CreateMediaControl(nullptr);
    buildControls();
    buildBars();
    buildMenus();
    connectHandlers();
    setupChrome();
    MsgBox = [this](const QString &text, QMessageBox::Icon icon, const QString &title,
                    QMessageBox::StandardButtons buttons) {
        QMessageBox box(icon, title.isEmpty() ? QString(kApp) : title, text, buttons, boxParent(), kBoxFlags);
        return QMessageBox::StandardButton(box.exec());
    };
    InputBox = [this](const QString &prompt, const QString &title, const QString &value) {
        QInputDialog box(boxParent(), kBoxFlags);
        box.setInputMode(QInputDialog::TextInput);
        box.setWindowTitle(title.isEmpty() ? QString(kApp) : title);
        box.setLabelText(prompt);
        box.setTextValue(value);
        // Its layout sets the minimum size: widen the box itself.
        box.adjustSize();
        box.resize(std::max(box.width(), titleWidth(box)), box.height());
        return box.exec() == QDialog::Accepted ? box.textValue() : QString();
    };
    // The browser starts in the user's music folder; a saved folder replaces
    // it at load.
    Dir1->setPath(startFolder());
}

Form1::~Form1() {
    if (App::form1 == this)
        App::form1 = nullptr;
}

void Form1::buildControls() {
    setFixedSize(kWidth, kHeight);

    Image1 = hiddenImage(this, LoadPicture("note", 16));
    Image2 = hiddenImage(this, LoadPicture("note-pause", 16));
    Image5 = hiddenImage(this, LoadPicture("close-down", 16));
    Image6 = hiddenImage(this, LoadPicture("close", 16));
    Image7 = hiddenImage(this, LoadPicture("reduce", 16));
    Image8 = hiddenImage(this, LoadPicture("reduce-down", 16));

    Image9 = new ImageBox(this);
    Image9->setGeometry(4, 5, 18, 18);
    Image9->setToolTip("Menu");
    Image3 = new ImageBox(this);
    Image3->setGeometry(kWidth - 44, 5, 18, 18);
    Image3->setToolTip("Réduire");
    Image4 = new ImageBox(this);
    Image4->setGeometry(kWidth - 22, 5, 18, 18);
    Image4->setToolTip("Fermer");

    Label2 = new ImageBox(kStopCaption, this);
    Label2->setGeometry(26, 4, kWidth - 74, 20);
    Label2->setFrameShape(QFrame::Panel);
    Label2->setFrameShadow(QFrame::Sunken);
    Label2->setAutoFillBackground(true);
    {
        QPalette p = Label2->palette();
        p.setColor(QPalette::Window, QColor(16, 24, 40));
        p.setColor(QPalette::WindowText, QColor(120, 230, 140));
        Label2->setPalette(p);
    }
    Label2->setIndent(4);

    Picture1 = new QWidget(this);
    Picture1->setGeometry(0, 28, kWidth, 28);
    Picture1->lower();

    ActiveMovie1->setParent(this);
    ActiveMovie1->setGeometry(420, 30, 110, 24);
    ActiveMovie1->setVisible(false);

    Dir1 = new DirListBox(this);
    Dir1->setGeometry(4, 60, 210, 156);
    Dir1->setToolTip("cliquez ici pour change de répertoire");
    Drive1 = new DriveListBox(this);
    Drive1->setGeometry(4, 220, 210, 26);
    Drive1->setToolTip("Cliquez ici pour change de lecteur");
    File1 = new FileListBox(this);
    File1->setGeometry(218, 60, 292, 186);
    File1->setToolTip("Cliquez ici pour lire ce clip");
    VScroll1 = new QScrollBar(Qt::Vertical, this);
    VScroll1->setGeometry(514, 60, 20, 186);
    VScroll1->setRange(0, 100);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(10);
    VScroll1->setValue(0);
    VScroll1->setToolTip("Volume");

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    Timer2 = new QTimer(this);
    Timer2->setInterval(500);
    Alarma = new QTimer(this);
    Alarma->setInterval(10000);

    EditorPanel = new QWidget(this);
    EditorPanel->setGeometry(0, kHeight, kWidth, kEditorHeight / kTwipsPerPixel - kHeight);
    List2 = new QListWidget(EditorPanel);
    List2->setGeometry(4, 4, 250, 140);
    List2->setSelectionMode(QAbstractItemView::MultiSelection);
    List2->setUniformItemSizes(true);
    List3 = new QListWidget(EditorPanel);
    List3->setGeometry(260, 4, 274, 140);
    List3->setUniformItemSizes(true);
    List4 = new QListWidget(EditorPanel);
    List4->hide();
    // The programme's lists hold file names as carried; they show them readably.
    for (QListWidget *list : {List2, List3})
        list->setItemDelegate(new FileNameDelegate(list));
}

void Form1::buildBars() {
    FlatBar1 = new FlatBar(this);
    FlatBar1->setGeometry(4, 30, 310, 24);
    FlatBar1->setImageStrip({LoadIcon("repeat"), LoadIcon("next"), LoadIcon("start"), LoadIcon("pause"),
                             LoadIcon("play"), LoadIcon("stop"), LoadIcon("programme"),
                             LoadIcon("continuous"), LoadIcon("strobe"), LoadIcon("random"),
                             LoadIcon("intro")});
    FlatBar1->setDesign({
        {"Lecture", 4, {}, false, 0},
        {"Pause", 3, {}, false, 0},
        {"Stop", 5, {}, false, 0},
        {"Début de la piste", 2, {}, false, 0},
        {"Avancer d'une piste", 1, {}, false, 0},
        {"Stroboscope", 8, {}, false, 0},
        {"Réduire dans la barre des tâches", -1, {}, false, 2},
        {"Lecture continue", 7, {}, true, 0},
        {"Lecture aléatoire", 9, {}, true, 0},
        {"Lecture des introductions", 10, {}, true, 0},
        {"Programmation", 6, {}, true, 0},
        {"Répétition", 0, {}, true, 0},
    });

    FlatBar6 = new FlatBar(this);
    FlatBar6->setGeometry(318, 30, 26, 24);
    FlatBar6->setImageStrip({LoadIcon("mute"), LoadIcon("sound")});
    FlatBar6->setDesign({{"Couper le son", 1, {}, false, 0}});

    FlatBar9 = new FlatBar(this);
    FlatBar9->setGeometry(346, 30, 26, 24);
    FlatBar9->setImageStrip({LoadIcon("refresh")});
    FlatBar9->setDesign({{"Actualise le répertoire", 0, {}, false, 0}});

    struct EditorBar {
        FlatBar **bar;
        const char *caption;
        const char *tooltip;
    };
    const EditorBar editorBars[] = {
        {&FlatBar2, "Ajouter", "Ajouter les éléments sélectioonés"},
        {&FlatBar3, "Effacer tout", "Effacer toute la programmation"},
        {&FlatBar4, "Effacer", "Effacer l'élément"},
        {&FlatBar5, "Ajouter tout", "Ajouter tout"},
        {&FlatBar7, "Enregistrer", "Enregistrer la liste"},
        {&FlatBar8, "Ouvrir", "Ouvrir une liste"},
    };
    int x = 4;
    for (const EditorBar &e : editorBars) {
        auto *bar = new FlatBar(EditorPanel);
        bar->setWithText(true);
        bar->setDesign({{QString::fromUtf8(e.tooltip), -1, QString::fromUtf8(e.caption), false, 0}});
        bar->setGeometry(x, 150, 86, 26);
        x += 88;
        *e.bar = bar;
    }
}

void Form1::buildMenus() {
    principal = new QMenu("principal", this);

    Fichier = principal->addMenu("&Fichier");
    Edit = item(Fichier, "&Editer");
    Vol = item(Fichier, "Contrôle du &volume");
    AudioProp = item(Fichier, "&Propriétés Audio");
    tiret0 = Fichier->addSeparator();
    Réduire = item(Fichier, "Barre des &tâches           T");
    Quit = item(Fichier, "&Quitter                           Alt+F4");
    tiret1 = Fichier->addSeparator();
    OnTop = item(Fichier, "&Toujours Visible", true);

    Son = principal->addMenu("&Son");
    const char *play[] = {"&Lecture",           "&Pause",         "&Stop", "Stop avec &fade-out", nullptr,
                          "&Début de la piste", "Piste S&uivante"};
    for (const char *caption : play)
        Play.append(caption ? item(Son, QString::fromUtf8(caption)) : Son->addSeparator());
    Speed = item(Son, "&Modifier la vitesse");
    Strobe = item(Son, "Stro&boscope");

    Prog = principal->addMenu("&Programme");
    Alarme = item(Prog, "A&larme");
    tiret2 = Prog->addSeparator();
    Refresh = item(Prog, "&Actualiser le répertoire");
    EditProg = item(Prog, "Afficher/&Masquer l'éditeur");
    OpenProg = item(Prog, "&Ouvrir");
    LireProg = item(Prog, "&Lire");

    Favoris = principal->addMenu("Fa&voris");
    Ajouter = item(Favoris, "Ajouter au&x favoris");
    Organiser = item(Favoris, "Organiser le&s favoris...");
    Menu.append(Favoris->addSeparator());
    for (int i = 1; i <= 10; ++i) {
        QAction *slot = item(Favoris, QString());
        slot->setVisible(false);
        Menu.append(slot);
    }

    Affich = principal->addMenu("&Options");
    Chaje = Affich->addMenu("&Affichage");
    BakColor = item(Chaje, "Couleur du &fond");
    TxtColors = item(Chaje, "Couleur du &texte");
    Durée = item(Chaje, "&Durée du morceau", true, true);
    Introdu = item(Affich, "Durée de l'&introduction");
    Fade = item(Affich, "&Fade In/Out", true, false);
    LectCont = item(Affich, "&Lecture continue", true, true);
    Randloo = item(Affich, "&Random avec répétition", true, false);
    Editr = item(Affich, "&Choisir l'éditeur");
    tiret3 = Affich->addSeparator();
    Associate = item(Affich, "A&ssocier les fichiers supportés");

    Help = principal->addMenu("&Aide");
    PageWeb = item(Help, "Site &Web Tunabel");
    WriteMe = item(Help, "Ecrire à l'&auteur");
    Tiret5 = Help->addSeparator();
    APropos = item(Help, "A p&ropos d'Tunabel 97");
}

void Form1::connectHandlers() {
    connect(ActiveMovie1, &MediaControl::OpenComplete, this, &Form1::ActiveMovie1_OpenComplete);
    connect(ActiveMovie1, &MediaControl::StateChange, this, &Form1::ActiveMovie1_StateChange);
    connect(ActiveMovie1, &MediaControl::PositionChange, this, &Form1::ActiveMovie1_PositionChange);
    connect(ActiveMovie1, &MediaControl::Timer, this, &Form1::ActiveMovie1_Timer);
    connect(ActiveMovie1, &MediaControl::Error, this, &Form1::ActiveMovie1_Error);
    connect(ActiveMovie1, &MediaControl::MouseDown, this, &Form1::ActiveMovie1_MouseDown);
    connect(ActiveMovie1, &MediaControl::NextFileWanted, this, &Form1::OfferNextTrack);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);

    connect(Drive1, &DriveListBox::Change, this, &Form1::Drive1_Change);
    connect(Dir1, &DirListBox::Change, this, &Form1::Dir1_Change);
    connect(Dir1, &DirListBox::MouseDown, this, &Form1::Dir1_MouseDown);
    connect(File1, &FileListBox::KeyUp, this, &Form1::File1_KeyUp);
    connect(File1, &FileListBox::MouseDown, this, &Form1::File1_MouseDown);
    connect(VScroll1, &QScrollBar::valueChanged, this, &Form1::VScroll1_Change);

    connect(FlatBar1, &FlatBar::Click, this, &Form1::FlatBar1_Click);
    connect(FlatBar6, &FlatBar::Click, this, &Form1::FlatBar6_Click);
    connect(FlatBar9, &FlatBar::Click, this, &Form1::FlatBar9_Click);

    for (int i = 0; i < Play.size(); ++i)
        if (i != 4)
            onClick(Play[i], [this, i] { Play_Click(i); });
    onClick(Speed, [this] { Speed_Click(); });
    onClick(Strobe, [this] { Strobe_Click(); });
    onClick(Refresh, [this] { Refresh_Click(); });
    onClick(EditProg, [this] { EditProg_Click(); });
    connectProgramme();
    for (int i = 1; i < Menu.size(); ++i)
        onClick(Menu[i], [this, i] { Menu_Click(i); });
    onClick(Réduire, [this] { Réduire_Click(); });
    onClick(Quit, [this] { Quit_Click(); });
    onClick(OnTop, [this] { OnTop_Click(); });
    onClick(Durée, [this] { Durée_Click(); });
    onClick(Introdu, [this] { Introdu_Click(); });
    onClick(Fade, [this] { Fade_Click(); });
    onClick(LectCont, [this] { LectCont_Click(); });
    onClick(Randloo, [this] { Randloo_Click(); });
    connectOptionCommands();
    connectFavourites();
    connectAlarm();

    // Window chrome: the menu button, reduce and close pictures.
    connect(Image9, &ImageBox::MouseDown, this, [this](int, int, float, float) {
        Image9->setPicture(Image2->Picture());
        principal->exec(Image9->mapToGlobal(QPoint(0, Image9->height())));
        Image9->setPicture(Image1->Picture());
    });
    connect(Image3, &ImageBox::MouseDown, this, [this] { Image3->setPicture(Image8->Picture()); });
    connect(Image3, &ImageBox::MouseUp, this, [this] { Image3->setPicture(Image7->Picture()); });
    connect(Image3, &ImageBox::Click, this, &Form1::ReduceToTray);
    connect(Image4, &ImageBox::MouseDown, this, [this] { Image4->setPicture(Image5->Picture()); });
    connect(Image4, &ImageBox::MouseUp, this, [this] { Image4->setPicture(Image6->Picture()); });
    connect(Image4, &ImageBox::Click, this, [this] { close(); });
}

void Form1::setWindowEnabled(bool on) {
    if (on == m_windowEnabled)
        return;
    m_windowEnabled = on;
    if (on)
        qApp->removeEventFilter(this);
    else
        qApp->installEventFilter(this);
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (m_windowEnabled || !watched->isWidgetType())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride: {
        auto *w = static_cast<QWidget *>(watched);
        return w == this || isAncestorOf(w);
    }
    default:
        return false;
    }
}

QWidget *Form1::boxParent() {
    // Above a modal window that asks (it may be kept on top), else above this one.
    QWidget *modal = QApplication::activeModalWidget();
    return modal ? modal : this;
}

int Form1::Height() const {
    return height() * kTwipsPerPixel;
}

void Form1::setHeight(int twips) {
    setFixedHeight(twips / kTwipsPerPixel);
}

double Form1::Rnd() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(Random);
}
