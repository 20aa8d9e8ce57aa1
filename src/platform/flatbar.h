#pragma once

#include <QButtonGroup>
#include <QIcon>
#include <QString>
#include <QToolButton>
#include <QVector>
#include <QWidget>

#include <functional>

class QHBoxLayout;

// One button as the bar's design stores it.
struct FlatButtonDef {
    QString tooltip;
    int image = -1; // index in the bar's image strip, -1 for none
    QString caption;
    bool checkGroup = false;
    int style = 0; // 2: a plain placeholder without picture
};

// A flat button bar. Click(Id) reports the index of a clicked button; a
// disabled button raises none, neither does PressButton.
class FlatBar : public QWidget {
    Q_OBJECT
public:
    explicit FlatBar(QWidget *parent = nullptr);

    // Design values.
    void setDesign(const QVector<FlatButtonDef> &buttons);
    void setImageStrip(const QVector<QIcon> &images);
    void setToolbarSize(int pixels);
    void setWithText(bool on);

    void RefreshBar();
    void EnableButton(int index);
    void DisableButton(int index);
    void PressButton(int index);
    void ClearButtons();
    void AddButton(int index, const QString &tooltip, int image, const QString &caption, int style,
                   bool checkGroup);
    // Hands an address to the desktop; `done` learns whether a program took it.
    void OpenDocument(const QString &address, std::function<void(bool opened)> done = {});

    int buttonCount() const { return int(m_buttons.size()); }
    QToolButton *button(int index) const;
    bool isButtonEnabled(int index) const;
    // The check-group button shown pressed, -1 when none.
    int pressedButton() const;

signals:
    void Click(int Id);

private:
    QToolButton *makeButton(int index, const FlatButtonDef &def);

    QVector<FlatButtonDef> m_design;
    QVector<QIcon> m_images;
    QVector<QToolButton *> m_buttons;
    QButtonGroup *m_group;
    QHBoxLayout *m_layout;
    int m_size = 16;
    bool m_withText = false;
};
