#include "platform/flatbar.h"

#include "platform/desktop/launcher.h"

#include <QHBoxLayout>
#include <QUrl>

FlatBar::FlatBar(QWidget *parent)
    : QWidget(parent), m_group(new QButtonGroup(this)), m_layout(new QHBoxLayout(this)) {
    m_group->setExclusive(true);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(1);
    m_layout->addStretch(1);
}

void FlatBar::setDesign(const QVector<FlatButtonDef> &buttons) {
    m_design = buttons;
}
void FlatBar::setImageStrip(const QVector<QIcon> &images) {
    m_images = images;
}
void FlatBar::setToolbarSize(int pixels) {
    m_size = pixels;
}
void FlatBar::setWithText(bool on) {
    m_withText = on;
}

QToolButton *FlatBar::makeButton(int index, const FlatButtonDef &def) {
    auto *b = new QToolButton(this);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(def.tooltip);
    b->setIconSize(QSize(m_size, m_size));
    const bool hasImage = def.style != 2 && def.image >= 0 && def.image < m_images.size();
    if (hasImage)
        b->setIcon(m_images[def.image]);
    if (m_withText || !hasImage)
        b->setText(def.caption);
    b->setToolButtonStyle(m_withText && hasImage && !def.caption.isEmpty() ? Qt::ToolButtonTextBesideIcon
                          : hasImage                                       ? Qt::ToolButtonIconOnly
                                                                           : Qt::ToolButtonTextOnly);
    if (def.style == 2)
        b->setFixedWidth(6);
    if (def.checkGroup) {
        b->setCheckable(true);
        m_group->addButton(b, index);
    }
    connect(b, &QToolButton::clicked, this, [this, index] { emit Click(index); });
    return b;
}

void FlatBar::RefreshBar() {
    // Rebuilding keeps the enabled and pressed states the bar already shows.
    QVector<bool> enabled;
    for (auto *b : m_buttons)
        enabled.append(b->isEnabled());
    const int pressed = pressedButton();
    ClearButtons();
    for (int i = 0; i < m_design.size(); ++i) {
        QToolButton *b = makeButton(i, m_design[i]);
        if (i < enabled.size())
            b->setEnabled(enabled[i]);
        m_layout->insertWidget(m_layout->count() - 1, b);
        m_buttons.append(b);
    }
    if (pressed >= 0)
        PressButton(pressed);
}

QToolButton *FlatBar::button(int index) const {
    return index >= 0 && index < m_buttons.size() ? m_buttons[index] : nullptr;
}

void FlatBar::EnableButton(int index) {
    if (auto *b = button(index))
        b->setEnabled(true);
}

void FlatBar::DisableButton(int index) {
    if (auto *b = button(index))
        b->setEnabled(false);
}

bool FlatBar::isButtonEnabled(int index) const {
    auto *b = button(index);
    return b && b->isEnabled();
}

void FlatBar::PressButton(int index) {
    auto *b = button(index);
    if (b && b->isCheckable())
        b->setChecked(true); // toggled, not clicked: no Click follows
}

int FlatBar::pressedButton() const {
    for (int i = 0; i < m_buttons.size(); ++i)
        if (m_buttons[i]->isCheckable() && m_buttons[i]->isChecked())
            return i;
    return -1;
}

void FlatBar::ClearButtons() {
    for (auto *b : m_buttons) {
        m_group->removeButton(b);
        delete b;
    }
    m_buttons.clear();
}

void FlatBar::AddButton(int index, const QString &tooltip, int image, const QString &caption, int style,
                        bool checkGroup) {
    FlatButtonDef def{tooltip, image, caption, checkGroup, style == 1 ? 0 : style};
    if (index < 0)
        return;
    if (m_design.size() <= index)
        m_design.resize(index + 1);
    m_design[index] = def;
    // Buttons are numbered by position: fill any gap before the new one.
    while (m_buttons.size() < index) {
        const int i = int(m_buttons.size());
        QToolButton *b = makeButton(i, m_design[i]);
        m_layout->insertWidget(m_layout->count() - 1, b);
        m_buttons.append(b);
    }
    QToolButton *b = makeButton(index, def);
    if (index < m_buttons.size()) {
        m_group->removeButton(m_buttons[index]);
        m_layout->replaceWidget(m_buttons[index], b);
        delete m_buttons[index];
        m_buttons[index] = b;
    } else {
        m_layout->insertWidget(m_layout->count() - 1, b);
        m_buttons.append(b);
    }
}

void FlatBar::OpenDocument(const QString &address, std::function<void(bool opened)> done) {
    Launcher().OpenDocument(QUrl(address), std::move(done));
}
