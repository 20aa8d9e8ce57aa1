// The programme editor panel and the mute button beside it.
#include "player/form1.h"

#include "player/constants.h"
#include "storage/playlist.h"
#include "windows/form5.h"
#include "windows/secondary.h"

#include <QCoreApplication>

namespace {

QStringList entries(const QListWidget *list) {
    QStringList out;
    out.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

// The entry the user chose, -1 when none. Qt makes the first entry current,
// unselected, when the list gets the focus: that one was never chosen.
int chosenRow(const QListWidget *list) {
    const int row = ListIndex(list);
    return row >= 0 && list->item(row)->isSelected() ? row : -1;
}

} // namespace

void Form1::connectProgramme() {
    // Never shown, and as long as the programme: keep it cheap to fill.
    List4->setUniformItemSizes(true);
    connect(Prog, &QMenu::aboutToShow, this, &Form1::Prog_Click);
    connect(OpenProg, &QAction::triggered, this, &Form1::OpenProg_Click);
    connect(LireProg, &QAction::triggered, this, &Form1::LireProg_Click);
    connect(List2, &QListWidget::itemDoubleClicked, this, &Form1::List2_DblClick);
    connect(FlatBar2, &FlatBar::Click, this, &Form1::FlatBar2_Click);
    connect(FlatBar3, &FlatBar::Click, this, &Form1::FlatBar3_Click);
    connect(FlatBar4, &FlatBar::Click, this, &Form1::FlatBar4_Click);
    connect(FlatBar5, &FlatBar::Click, this, &Form1::FlatBar5_Click);
    connect(FlatBar7, &FlatBar::Click, this, &Form1::FlatBar7_Click);
    connect(FlatBar8, &FlatBar::Click, this, &Form1::FlatBar8_Click);
}

void Form1::EditProg_Click() {
    if (Height() == kEditorHeight) {
        setHeight(kPlainHeight);
        return;
    }
    FlatBar1->PressButton(kBarProgrammation);
    if (!List2->currentItem() || List2->currentItem()->text().isEmpty())
        for (FlatBar *bar : {FlatBar2, FlatBar3, FlatBar4, FlatBar5, FlatBar7, FlatBar8})
            bar->RefreshBar();
    List2->clear();
    QStringList names;
    for (int i = 0; i < File1->ListCount(); ++i)
        names.append(File1->List(i));
    List2->addItems(names);
    for (QListWidget *list : {List2, List3}) {
        QPalette p = list->palette();
        p.setColor(QPalette::Base, File1->BackColor());
        p.setColor(QPalette::Text, File1->ForeColor());
        list->setPalette(p);
    }
    QCoreApplication::processEvents();
    setHeight(kEditorHeight);
}

void Form1::FlatBar6_Click(int Id) {
    (void)Id;
    if (Muted) {
        Muted = false;
        FlatBar6->ClearButtons();
        FlatBar6->AddButton(0, "Couper le son", 1, QString(), 1, false);
        if (Fade->isChecked())
            FadeIn();
        // Also after a fade: one that starts above the slider's volume
        // never reaches it and would leave the sound cut.
        ActiveMovie1->setVolume(SliderVolume(VScroll1->value()));
        VScroll1->setEnabled(true);
    } else {
        Muted = true;
        FlatBar6->ClearButtons();
        FlatBar6->AddButton(0, "Rétablir le son", 0, QString(), 1, false);
        if (Fade->isChecked())
            FadeOut();
        // A fade stops at -4000, which is still heard.
        ActiveMovie1->setVolume(-7000);
        VScroll1->setEnabled(false);
    }
}

void Form1::Prog_Click() {
    LireProg->setEnabled(List3->count() > 0);
}

void Form1::LireProg_Click() {
    FlatBar1_Click(kBarStop);
    PlayMode = kModeProgramme;
    FlatBar1->PressButton(kBarProgrammation);
    FlatBar1_Click(kBarLecture);
}

void Form1::OpenProg_Click() {
    FlatBar8_Click(0);
}

void Form1::List2_DblClick() {
    FlatBar2_Click(0);
}

QString Form1::ProgrammePath(int index) const {
    const QString name = ListText(List3, index);
    if (name.isEmpty())
        return QString();
    // An entry without folder (a list written elsewhere) keeps its bare
    // name, and fails to open like any missing file.
    return ListText(List4, index) + name;
}

void Form1::FlatBar2_Click(int Id) {
    (void)Id;
    QStringList names;
    for (int i = 0; i < List2->count(); ++i)
        if (List2->item(i)->isSelected())
            names.append(List2->item(i)->text());
    if (names.isEmpty())
        return;
    List3->addItems(names);
    List4->addItems(QStringList(names.size(), CurrentFolder + "/"));
    OfferNextTrack();
}

void Form1::FlatBar3_Click(int Id) {
    (void)Id;
    List3->clear();
    List4->clear();
    OfferNextTrack();
}

void Form1::FlatBar4_Click(int Id) {
    (void)Id;
    const int i = chosenRow(List3);
    if (i < 0)
        return;
    RemoveListItem(List3, i);
    RemoveListItem(List4, i);
    OfferNextTrack();
}

void Form1::FlatBar5_Click(int Id) {
    (void)Id;
    // The count is the editor's list; the names are the folder's. A file
    // list that has since become shorter adds no empty entries.
    const int count = std::min(List2->count(), File1->ListCount());
    QStringList names;
    names.reserve(count);
    for (int i = 0; i < count; ++i)
        names.append(File1->List(i));
    if (names.isEmpty())
        return;
    List3->addItems(names);
    List4->addItems(QStringList(names.size(), CurrentFolder + "/"));
    OfferNextTrack();
}

void Form1::FlatBar7_Click(int Id) {
    (void)Id;
    if (List3->count() == 0) {
        MsgBox("Vous devez d'abord créer une liste !", QMessageBox::Warning, QString(), QMessageBox::Ok);
        return;
    }
    const QString name = InputBox("Donnez un nom à cette liste", "Enregistrement de la liste", QString());
    if (name.isEmpty())
        return;
    const QString bad = CheckPlaylistName(name);
    if (!bad.isEmpty()) {
        Message(bad, QMessageBox::Warning);
        return;
    }
    QString error;
    if (!MakePlaylistFolder(&error) ||
        !WritePlaylist(PlaylistPath(name), entries(List3), entries(List4), &error)) {
        Message(error, QMessageBox::Critical);
        return;
    }
    Form5::Load(this)->AddName(name);
}

void Form1::FlatBar8_Click(int Id) {
    (void)Id;
    Form5 *manager = Form5::Load(this);
    if (manager->isVisible()) { // already open for another caller
        ShowForward(manager);
        return;
    }
    QPalette p = manager->List1->palette();
    p.setColor(QPalette::Base, File1->BackColor());
    p.setColor(QPalette::Text, File1->ForeColor());
    manager->List1->setPalette(p);
    const QPointer<Form5> guard(manager);
    manager->exec();
    if (!guard)
        return;
    const QString name = manager->Text();
    if (name.isEmpty())
        return;
    bool separator = false;
    if (!LoadProgramme(PlaylistPath(name), &separator))
        return;
    TrackIndex = separator ? 1 : 0;
    for (int i = kBarLecture; i <= kBarAvancer; ++i)
        FlatBar1->EnableButton(i);
    OfferNextTrack();
}

bool Form1::LoadProgramme(const QString &path, bool *separator,
                          const std::function<void()> &beforeReplacing) {
    QStringList names, folders;
    QString error;
    bool met = false;
    // Read into these first: a list that cannot be read changes nothing.
    if (!ReadPlaylist(path, names, folders, &error, &met)) {
        Message(error, QMessageBox::Warning);
        return false;
    }
    if (beforeReplacing)
        beforeReplacing();
    List3->clear();
    List4->clear();
    List3->addItems(names);
    List4->addItems(folders);
    // The alarm window's choice replaces the programme while it plays.
    OfferNextTrack();
    if (separator)
        *separator = met;
    return true;
}
