#include "platform/imagebox.h"

#include "platform/listcontrols.h"

#include <QFile>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

static void initResources() {
    Q_INIT_RESOURCE(resources);
}

QPixmap LoadPicture(const QString &name, int size) {
    static bool ready = (initResources(), true);
    (void)ready;
    const QString path = name.endsWith(".svg") ? ":/" + name : ":/icons/" + name + ".svg";
    QSvgRenderer svg(path);
    const QSize s = name.endsWith(".svg") ? svg.defaultSize() : QSize(size, size);
    QPixmap pm(s);
    pm.fill(Qt::transparent);
    QPainter painter(&pm);
    svg.render(&painter);
    return pm;
}

QIcon LoadIcon(const QString &name, int size) {
    return QIcon(LoadPicture(name, size));
}

void ImageBox::mousePressEvent(QMouseEvent *e) {
    emit MouseDown(ButtonCode(e->button()), ShiftCode(e->modifiers()), float(e->position().x() * 15),
                   float(e->position().y() * 15));
}

void ImageBox::mouseMoveEvent(QMouseEvent *e) {
    // A move reports every button held, as one mask.
    const Qt::MouseButtons held = e->buttons();
    const int buttons = (held & Qt::LeftButton ? 1 : 0) | (held & Qt::RightButton ? 2 : 0) |
                        (held & Qt::MiddleButton ? 4 : 0);
    emit MouseMove(buttons, ShiftCode(e->modifiers()), float(e->position().x() * 15),
                   float(e->position().y() * 15));
}

void ImageBox::mouseReleaseEvent(QMouseEvent *e) {
    emit MouseUp(ButtonCode(e->button()), ShiftCode(e->modifiers()), float(e->position().x() * 15),
                 float(e->position().y() * 15));
    if (rect().contains(e->position().toPoint()))
        emit Click();
}
