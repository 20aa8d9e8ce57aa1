// The play-list manager: lists the saved play-lists, hands the chosen name
// back to its caller, renames and deletes lists.
#include "windows/form5.h"

#include "platform/filename.h"
#include "player/form1.h"
#include "storage/playlist.h"
#include "windows/placement.h"
#include "windows/secondary.h"

#include <QEvent>
#include <QVBoxLayout>

namespace {
// Names that hold escaped bytes are shown readable; the item keeps the real
// name under this role.
constexpr int kNameRole = Qt::UserRole + 1;

// The entry the user chose, -1 when none. Qt makes the first entry current,
// unselected, when the list gets the focus: that one was never chosen.
int chosenRow(const QListWidget *list) {
    const int row = ListIndex(list);
    return row >= 0 && list->item(row)->isSelected() ? row : -1;
}
} // namespace

void PlaylistFileList::setPath(const QString &path) {
    m_path = path;
    m_names = ListPlaylists(path);
}

QString PlaylistFileList::List(int index) const {
    if (index < 0 || index >= m_names.size())
        return QString();
    return m_names[index] + QLatin1String(kPlaylistSuffix);
}

Form5 *Form5::Load(Form1 *main) {
    if (!App::form5) {
        auto *f = new Form5(main);
        App::form5 = f;
        if (main) {
            QObject::connect(main, &QObject::destroyed, f, [f] {
                if (App::form5 == f)
                    App::form5 = nullptr;
                if (f->isVisible()) { // still in its modal loop
                    f->hide();
                    f->deleteLater();
                } else {
                    delete f;
                }
            });
        }
    }
    if (!App::form5->m_loaded)
        App::form5->Form_Load();
    return App::form5;
}

Form5::Form5(Form1 *main) : QDialog(nullptr), m_main(main) {
    setObjectName("Form5");
    setWindowTitle("Sélectionnez une liste");
    // Kept above the others from the start: changing the flags of a shown
    // modal window would hide it and end its loop with no answer.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(260, 320);

    MenuBar = new QMenuBar(this);
    Liste = MenuBar->addMenu("&Edition");
    Ouvrir = Liste->addAction("&Ouvrir la liste");
    Renomme = Liste->addAction("&Renommer la liste");
    Effacer = Liste->addAction("&Effacer la liste");
    sep = Liste->addSeparator();
    Fermer = Liste->addAction("&Fermer");

    List1 = new QListWidget(this);
    List1->setToolTip("Double-cliquez sur la liste que vous désirez ouvrir");
    List1->setUniformItemSizes(true);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(MenuBar);
    layout->addWidget(List1);

    connect(Liste, &QMenu::aboutToShow, this, &Form5::Liste_Click);
    connect(Ouvrir, &QAction::triggered, this, &Form5::Ouvrir_Click);
    connect(Renomme, &QAction::triggered, this, &Form5::Renomme_Click);
    connect(Effacer, &QAction::triggered, this, &Form5::Effacer_Click);
    connect(Fermer, &QAction::triggered, this, &Form5::Fermer_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, &Form5::List1_DblClick);
}

Form5::~Form5() {
    if (App::form5 == this)
        App::form5 = nullptr;
}

void Form5::Form_Load() {
    File1.setPath(PlaylistFolder());
    List1->clear();
    const QStringList &names = File1.Names();
    bool escaped = false;
    for (const QString &name : names)
        escaped = escaped || HasEscapedBytes(name);
    if (!escaped) {
        List1->addItems(names);
    } else {
        for (const QString &name : names)
            insertName(List1->count(), name);
    }
    ClearListIndex(List1);
    m_loaded = true;
}

bool Form5::event(QEvent *event) {
    // An activation can be delivered after the window was hidden to
    // choose: placing it then would show it again.
    if (event->type() == QEvent::WindowActivate && isVisible())
        Form_Activate();
    return QDialog::event(event);
}

void Form5::Form_Activate() {
    AuxWindowActivated(this, m_main, m_main && m_main->OnTop->isChecked());
}

void Form5::Form_Unload(int &Cancel) {
    (void)Cancel;
    AuxWindowGone(m_main, m_main && m_main->OnTop->isChecked());
    // The caller reads an empty name: a cancel.
    ClearListIndex(List1);
    List1->clear();
    m_loaded = false;
}

void Form5::reject() {
    // Esc and the close box: the window is unloaded, nothing is chosen.
    int cancel = 0;
    Form_Unload(cancel);
    QDialog::reject();
}

void Form5::Unload() {
    if (!m_loaded && !isVisible())
        return; // already unloaded
    int cancel = 0;
    Form_Unload(cancel);
    hide();
}

QString Form5::Name(int index) const {
    const QListWidgetItem *item = index >= 0 && index < List1->count() ? List1->item(index) : nullptr;
    if (!item)
        return QString();
    const QVariant real = item->data(kNameRole);
    return real.isValid() ? real.toString() : item->text();
}

QString Form5::Text() const {
    return Name(chosenRow(List1));
}

void Form5::insertName(int index, const QString &name) {
    auto *item = new QListWidgetItem(DisplayFileName(name));
    if (HasEscapedBytes(name))
        item->setData(kNameRole, name);
    List1->insertItem(index, item);
}

void Form5::AddName(const QString &name) {
    for (int i = 0; i < List1->count(); ++i)
        if (Name(i) == name)
            return;
    insertName(List1->count(), name);
}

void Form5::List1_DblClick() {
    if (!Text().isEmpty())
        hide();
}

void Form5::Liste_Click() {
    const bool chosen = !Text().isEmpty();
    Effacer->setEnabled(chosen);
    Ouvrir->setEnabled(chosen);
    Renomme->setEnabled(chosen);
}

void Form5::Ouvrir_Click() {
    hide();
}

void Form5::Fermer_Click() {
    hide();
}

void Form5::Renomme_Click() {
    const int i = chosenRow(List1);
    const QString old = Name(i);
    if (old.isEmpty() || !m_main)
        return;
    const QString answer =
        m_main->InputBox("Renommer \"" + DisplayFileName(old) + "\" en :", QString(), QString());
    if (answer.isEmpty())
        return;
    QString error;
    if (!RenamePlaylist(old, answer, &error)) {
        m_main->Message(error, QMessageBox::Warning);
        return;
    }
    // The entry keeps its place until the next load sorts it.
    RemoveListItem(List1, i);
    insertName(i, answer);
}

void Form5::Effacer_Click() {
    const int i = chosenRow(List1);
    const QString name = Name(i);
    if (name.isEmpty())
        return;
    QString error;
    if (!DeletePlaylist(name, &error)) {
        if (m_main)
            m_main->Message(error, QMessageBox::Warning);
        return;
    }
    RemoveListItem(List1, i);
}
