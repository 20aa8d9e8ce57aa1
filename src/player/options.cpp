// The options and commands of the menus, the volume slider, and the
// windows they open.
#include "player/form1.h"

#include "platform/desktop/launcher.h"
#include "platform/filename.h"
#include "platform/window.h"
#include "player/constants.h"
#include "storage/settingskeys.h"
#include "windows/couleure.h"
#include "windows/form2.h"
#include "windows/form3.h"
#include "windows/form4.h"
#include "windows/secondary.h"

#include <QEvent>
#include <QEventLoop>

#include <cmath>

namespace {
// The plain options: check and store "Oui", or uncheck and store "Non".
bool toggle(QAction *item, const SettingKey &key) {
    const bool on = !item->isChecked();
    item->setChecked(on);
    Save(key, on ? kOui : kNon);
    return on;
}

// Placeholder addresses under a reserved domain, until the program has a
// site of its own.
constexpr const char *kAuthorDomain = "tunabel.example.org";

// Ends a local loop when the watched window hides or goes.
class HideWatch : public QObject {
public:
    HideWatch(QWidget *window, QEventLoop *loop) : m_loop(loop) {
        window->installEventFilter(this);
        connect(window, &QObject::destroyed, loop, &QEventLoop::quit);
    }
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Hide)
            m_loop->quit();
        return false;
    }

private:
    QEventLoop *m_loop;
};

// Shows a plain window modal and returns once it is hidden or gone.
void showModal(QWidget *window) {
    QPointer<QWidget> guard(window);
    window->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    HideWatch watch(window, &loop);
    ShowForward(window);
    if (window->isVisible())
        loop.exec();
    if (guard) {
        guard->removeEventFilter(&watch);
        if (guard->isHidden())
            guard->setWindowModality(Qt::NonModal);
    }
}
} // namespace

void Form1::Fade_Click() {
    toggle(Fade, Keys::Fade);
}

void Form1::LectCont_Click() {
    toggle(LectCont, Keys::Continue);
    OfferNextTrack();
}

void Form1::OnTop_Click() {
    SetTopMost(this, toggle(OnTop, Keys::Dessus));
}

void Form1::Randloo_Click() {
    PlayMode = toggle(Randloo, Keys::Repetition) ? kModeRandomRepeat : kModeRandom;
    FlatBar1->PressButton(kBarAleatoire);
    OfferNextTrack();
}

void Form1::Durée_Click() {
    const double d = std::round(ActiveMovie1->Duration());
    const bool on = !Durée->isChecked();
    Durée->setChecked(on);
    const QString file = ActiveMovie1->FileName();
    if (on) {
        if (!file.isEmpty())
            Label2->setText("Tunabel - " + DisplayFileName(Nom(file)) + " " + MinutesSeconds(d, false) +
                            "\"");
        Save(Keys::Infos, kOui);
    } else {
        if (!file.isEmpty())
            Label2->setText("Tunabel - " + DisplayFileName(Nom(file)));
        Save(Keys::Infos, kNon);
    }
    LastCaption = Label2->text();
}

bool Form1::IntroSeconds(const QString &text, double &seconds) {
    // A French keyboard types a decimal comma.
    QString t = text.trimmed();
    if (t.count(',') == 1 && !t.contains('.'))
        t.replace(',', '.');
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !(value > 0) || !std::isfinite(value))
        return false;
    seconds = value;
    return true;
}

void Form1::Introdu_Click() {
    // Asks until a positive number of seconds is typed.
    for (;;) {
        const QString current = Setting(Keys::IntroDuree);
        const QString answer =
            InputBox("Entrez la durée de l'introduction en secondes", kApp, current).trimmed();
        double seconds = 0;
        if (IntroSeconds(answer, seconds)) {
            Save(Keys::IntroDuree, answer);
            return;
        }
    }
}

void Form1::VScroll1_Scroll() {
    Timer1->stop();
    if (SavedCaption.isEmpty())
        SavedCaption = LastCaption;
    ActiveMovie1->setVolume(SliderVolume(VScroll1->value()));
    VolumeLevel = SliderVolume(VScroll1->value());
    Label2->setText("Tunabel - Volume à " + QString::number(100 - VScroll1->value()) + "%");
    LastCaption = Label2->text();
    Timer1->start();
}

void Form1::VScroll1_Change() {
    if (!LastCaption.isEmpty())
        VScroll1_Scroll();
}

// ---- commands

void Form1::connectOptionCommands() {
    connect(Edit, &QAction::triggered, this, &Form1::Edit_Click);
    connect(Editr, &QAction::triggered, this, &Form1::Editr_Click);
    connect(Vol, &QAction::triggered, this, &Form1::Vol_Click);
    connect(AudioProp, &QAction::triggered, this, &Form1::AudioProp_Click);
    connect(BakColor, &QAction::triggered, this, &Form1::BakColor_Click);
    connect(TxtColors, &QAction::triggered, this, &Form1::TxtColors_Click);
    connect(PageWeb, &QAction::triggered, this, &Form1::PageWeb_Click);
    connect(WriteMe, &QAction::triggered, this, &Form1::WriteMe_Click);
    connect(APropos, &QAction::triggered, this, &Form1::APropos_Click);
}

void Form1::Edit_Click() {
    const QString editor = Setting(Keys::EditeurPath).trimmed();
    if (editor.isEmpty()) {
        Editr_Click();
        return;
    }
    // The file goes as one argument of its own, never through a shell. A
    // full path starts with "/", so no name can pass for an option.
    const QString loaded = ActiveMovie1->FileName();
    const QString file = !loaded.isEmpty() ? loaded : TrackPath(File1->FileName());
    const QString program = Launcher().FindProgram(editor);
    if (program.isEmpty()) {
        Message("L'éditeur de sons « " + editor + " » est introuvable ou n'est pas un programme.",
                QMessageBox::Warning);
        Editr_Click();
        return;
    }
    if (!Launcher().StartDetached(program, {file})) {
        Message("L'éditeur de sons « " + editor + " » n'a pas pu être lancé.", QMessageBox::Warning);
        Editr_Click();
    }
}

void Form1::Editr_Click() {
    const QString answer =
        InputBox("Indiquez l'emplacement de votre éditeur de sons", kApp, Setting(Keys::EditeurPath));
    if (!answer.isEmpty())
        Save(Keys::EditeurPath, answer);
}

void Form1::Vol_Click() {
    const QString error = StartSystemTool(SystemTool::Mixer);
    if (!error.isEmpty())
        Message(error, QMessageBox::Information);
}

void Form1::AudioProp_Click() {
    const QString error = StartSystemTool(SystemTool::SoundSettings);
    if (!error.isEmpty())
        Message(error, QMessageBox::Information);
}

namespace {

// What the help menu says when no program took its address: the address
// itself, so that the user can still use it.
std::function<void(bool)> sayWhenNotOpened(Form1 *form, const QString &text) {
    return [form = QPointer<Form1>(form), text](bool opened) {
        if (!opened && form && !form->isUnloaded())
            form->Message(text, QMessageBox::Warning);
    };
}

} // namespace

void Form1::PageWeb_Click() {
    const QString page = QString("https://") + kAuthorDomain + "/";
    FlatBar1->OpenDocument(page,
                           sayWhenNotOpened(this, "Aucun navigateur Web n'a pu ouvrir la page :\n" + page));
}

void Form1::WriteMe_Click() {
    const QString mail = QString("auteur@") + kAuthorDomain;
    FlatBar1->OpenDocument(
        "mailto:" + mail, sayWhenNotOpened(this, "Aucun programme de messagerie n'a pu écrire à :\n" + mail));
}

void Form1::APropos_Click() {
    if (!App::form3)
        App::form3 = new Form3;
    Form3 *about = App::form3;
    about->Label1->setText(
        Form3::VersionLine(TUNABEL_VERSION_MAJOR, TUNABEL_VERSION_MINOR, TUNABEL_VERSION_PATCH));
    // The whole line, inside the window's top right corner.
    about->Label1->adjustSize();
    about->Label1->move(std::max(0, about->width() - about->Label1->width() - 6), 4);
    about->Label1->setVisible(true);
    // The about box must not end up behind a main window kept on top.
    const bool release = OnTop->isChecked() && isVisible();
    if (release)
        SetTopMost(this, false);
    QPointer<Form1> self = this;
    showModal(about);
    if (release && self && !isUnloaded())
        SetTopMost(this, true);
}

// ---- list colours

bool Form1::StoredListColor(const QString &text, QColor &out) {
    qint64 value = 0;
    if (!ParseStoredNumber(text, value) || value < 0 || value > 0xFFFFFF)
        return false;
    out = ColorFromStored(value);
    return true;
}

void Form1::ApplyListColors(const QColor &back, const QColor &text) {
    Dir1->setColors(back, text);
    Drive1->setColors(back, text);
    File1->setColors(back, text);
}

void Form1::chooseListColor(bool text) {
    if (!App::couleure)
        App::couleure = new Couleure(this);
    QPointer<Couleure> chooser = App::couleure;
    chooser->Shape1->setFillColor(File1->BackColor());
    chooser->Shape2->setFillColor(File1->BackColor());
    chooser->Shape3->setFillColor(File1->ForeColor());
    chooser->setLabel5Color(File1->ForeColor());
    chooser->Label5->setVisible(true);
    chooser->setWindowTitle(text ? "Choisisez une couleur pour le texte"
                                 : "Choisisez une couleur pour le fond");
    QPointer<Form1> self = this;
    // A cancel changes nothing: no colour applied, none stored.
    if (!chooser->ShowModal() || !self || !chooser || isUnloaded())
        return;
    const QColor colour = text ? chooser->Label5Color() : chooser->Shape1->FillColor();
    Save(text ? Keys::Texte : Keys::Fond, QString::number(StoredColor(colour)));
    if (text)
        ApplyListColors({}, colour);
    else
        ApplyListColors(colour, {});
}

void Form1::BakColor_Click() {
    chooseListColor(false);
}

void Form1::TxtColors_Click() {
    chooseListColor(true);
}

// ---- flash and speed windows: one of each

void Form1::Strobe_Click() {
    if (!App::form2) {
        App::form2 = new Form2(this);
        // Not a child, yet it goes with the main window.
        Form2 *flash = App::form2;
        connect(this, &QObject::destroyed, flash, [flash] { delete flash; });
        App::form2->Form_Load();
    }
    ShowForward(App::form2);
}

void Form1::Speed_Click() {
    if (!App::form4) {
        App::form4 = new Form4(this);
        App::form4->Form_Load();
    }
    ShowForward(App::form4);
}
