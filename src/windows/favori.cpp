// The favourites organiser.
#include "windows/favori.h"

#include "platform/filename.h"
#include "platform/window.h"
#include "player/form1.h"
#include "storage/favourites.h"
#include "windows/placement.h"
#include "windows/secondary.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {
// The folder as stored; the item shows it readable.
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr int kMinPixels = Favori::kMinTwips / kTwipsPerPixel;

QString folderAt(const QListWidget *list, int index) {
    const QListWidgetItem *item = index >= 0 && index < list->count() ? list->item(index) : nullptr;
    return item ? item->data(kFolderRole).toString() : QString();
}

void insertFolder(QListWidget *list, int index, const QString &folder) {
    auto *item = new QListWidgetItem(DisplayFileName(folder));
    item->setData(kFolderRole, folder);
    list->insertItem(index, item);
}
} // namespace

Favori *Favori::Open(Form1 *main) {
    if (!App::favori) {
        auto *f = new Favori(main);
        App::favori = f;
        f->Form_Load();
    }
    ShowForward(App::favori);
    return App::favori;
}

Favori::Favori(Form1 *main) : QWidget(main, Qt::Window), m_main(main) {
    setObjectName("Favori");
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle("Favoris");
    // Above the others from the start: changing the flags of a shown window
    // would hide it and show it again.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setMinimumSize(kMinPixels, kMinPixels);
    resize(300, 220);

    MenuBar = new QMenuBar(this);
    Edition = MenuBar->addMenu("&Edition");
    Remonter = Edition->addAction("Re&monter");
    Descendre = Edition->addAction("&Descendre");
    Supprimer = Edition->addAction("&Supprimer");
    Sep = Edition->addSeparator();
    Fermer = Edition->addAction("&Fermer");

    Line2 = new QFrame(this);
    Line3 = new QFrame(this);
    for (QFrame *line : {Line2, Line3}) {
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(line == Line2 ? QFrame::Sunken : QFrame::Plain);
    }

    List1 = new QListWidget(this);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setUniformItemSizes(true);
    List1->setContextMenuPolicy(Qt::NoContextMenu);
    List1->installEventFilter(this);
    List1->viewport()->installEventFilter(this);

    connect(Edition, &QMenu::aboutToShow, this, &Favori::Edition_Click);
    connect(Remonter, &QAction::triggered, this, &Favori::Remonter_Click);
    connect(Descendre, &QAction::triggered, this, &Favori::Descendre_Click);
    connect(Supprimer, &QAction::triggered, this, &Favori::Supprimer_Click);
    connect(Fermer, &QAction::triggered, this, &Favori::Fermer_Click);
    Form_Resize();
}

Favori::~Favori() {
    // Gone with the main window: nothing may be lost.
    if (!m_unloaded) {
        m_unloaded = true;
        writeBack();
    }
}

void Favori::Form_Load() {
    // The stored keys stay until the organiser closes: a crash loses nothing.
    List1->clear();
    for (const QString &folder : ReadFavourites())
        insertFolder(List1, List1->count(), folder);
    ClearListIndex(List1);
}

void Favori::Form_Activate() {
    if (m_main)
        AuxWindowActivated(this, m_main, m_main->OnTop->isChecked());
}

void Favori::Form_Resize() {
    if (height() < kMinPixels)
        resize(width(), kMinPixels);
    if (width() < kMinPixels)
        resize(kMinPixels, height());
    const int menu = MenuBar->sizeHint().height();
    MenuBar->setGeometry(0, 0, width(), menu);
    // The two lines run past the right edge (100 twips).
    const int past = 100 / kTwipsPerPixel;
    Line2->setGeometry(0, menu, width() + past, 2);
    Line3->setGeometry(0, menu + 2, width() + past, 1);
    // 360 twips narrower than the window, centred; the rest of the height.
    const int margin = 360 / kTwipsPerPixel / 2;
    const int top = menu + 3 + margin / 2;
    List1->setGeometry(margin, top, width() - 2 * margin, std::max(0, height() - top - margin));
}

void Favori::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

int Favori::Chosen() const {
    // Qt makes the first entry current, unselected, on focus: never chosen.
    const int row = ListIndex(List1);
    return row >= 0 && List1->item(row)->isSelected() ? row : -1;
}

void Favori::Edition_Click() {
    const int i = Chosen();
    if (i < 0) {
        Remonter->setEnabled(false);
        Supprimer->setEnabled(false);
        Descendre->setEnabled(false);
    } else {
        Remonter->setEnabled(i >= 1);
        Descendre->setEnabled(i != List1->count() - 1);
        Supprimer->setEnabled(true);
    }
    Fermer->setEnabled(true);
}

// After a move no entry is current, as after a deletion: a second key press
// must not act on an entry the user did not choose.
void Favori::Remonter_Click() {
    const int i = Chosen();
    if (i < 1)
        return;
    insertFolder(List1, i - 1, folderAt(List1, i));
    RemoveListItem(List1, i + 1);
}

void Favori::Descendre_Click() {
    const int i = Chosen();
    if (i < 0 || i >= List1->count() - 1)
        return;
    insertFolder(List1, i + 2, folderAt(List1, i));
    RemoveListItem(List1, i);
}

void Favori::Supprimer_Click() {
    RemoveListItem(List1, Chosen());
}

void Favori::Fermer_Click() {
    Unload();
}

void Favori::List1_KeyDown(int KeyCode, int Shift) {
    (void)Shift;
    if (KeyCode == 46 && Chosen() >= 0)
        Supprimer_Click();
}

void Favori::List1_MouseDown(int Button, int Shift, float X, float Y) {
    (void)Shift;
    (void)X;
    (void)Y;
    if (Button == 2)
        Edition->popup(QCursor::pos());
}

void Favori::AddFolder(const QString &folder) {
    insertFolder(List1, List1->count(), folder);
}

void Favori::Form_Unload(int &Cancel) {
    (void)Cancel;
    if (m_unloaded)
        return;
    m_unloaded = true;
    const bool closing = !m_main || m_main->isUnloaded();
    if (!closing)
        AuxWindowGone(m_main, m_main->OnTop->isChecked());
    writeBack();
    if (!closing) {
        QCoreApplication::processEvents();
        if (m_main)
            m_main->CreateFav();
    }
}

void Favori::writeBack() {
    QStringList folders;
    for (int i = 0; i < List1->count(); ++i)
        folders << folderAt(List1, i);
    SaveFavourites(folders);
}

void Favori::Unload() {
    int cancel = 0;
    Form_Unload(cancel);
    if (App::favori == this)
        App::favori = nullptr;
    hide();
    deleteLater();
}

void Favori::closeEvent(QCloseEvent *event) {
    event->accept();
    Unload();
}

bool Favori::event(QEvent *event) {
    if (event->type() == QEvent::WindowActivate && isVisible())
        Form_Activate();
    return QWidget::event(event);
}

bool Favori::eventFilter(QObject *watched, QEvent *event) {
    if (watched == List1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Delete) {
            List1_KeyDown(46, 0);
            return true;
        }
    } else if (watched == List1->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            List1_MouseDown(2, 0, float(mouse->position().x()), float(mouse->position().y()));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
