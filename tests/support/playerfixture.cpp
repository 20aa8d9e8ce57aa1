#include "support/playerfixture.h"

#include "platform/settingsstore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPointer>
#include <QTimer>

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList listTexts(const QListWidget *list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

void duringModal(const std::function<void(QWidget *)> &inside) {
    QTimer::singleShot(0, qApp, [inside] {
        const QPointer<QWidget> modal = QApplication::activeModalWidget();
        EXPECT_NE(modal, nullptr) << "no modal window";
        QTimer::singleShot(60000, qApp, [modal] {
            if (modal && modal->isVisible()) {
                ADD_FAILURE() << "a modal window stayed open";
                modal->hide();
            }
        });
        inside(modal);
    });
}

void recordBoxes(Form1 &form, QStringList &messages) {
    form.MsgBox = [&messages](const QString &text, QMessageBox::Icon, const QString &,
                              QMessageBox::StandardButtons) {
        messages << text;
        return QMessageBox::Ok;
    };
}

void PlayerTest::SetUp() {
    ASSERT_TRUE(tmp.isValid());
    SetSettingsFolder(tmp.path() + "/config");
}

void PlayerTest::TearDown() {
    form.reset();
    SetSettingsFolder(QString());
}

Form1 *PlayerTest::load() {
    media = new FakeMediaControl;
    form = std::make_unique<Form1>(media);
    recordBoxes(*form, messages);
    form->InputBox = [this](const QString &prompt, const QString &, const QString &) {
        prompts << prompt;
        // A test that runs out of answers cancels, which gives "".
        return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
    };
    form->Form_Load();
    return form.get();
}

Form1 *PlayerTest::start(const QString &dir, int mode) {
    folder = dir;
    load();
    enter(dir);
    form->PlayMode = mode;
    return form.get();
}

QString PlayerTest::makeFolder(const QString &name, const QStringList &files) {
    const QString dir = tmp.path() + "/" + name;
    QDir().mkpath(dir);
    for (const QString &f : files)
        QFile(dir + "/" + f).open(QIODevice::WriteOnly);
    return dir;
}

QString PlayerTest::makeNumberedFolder(const QString &name, int count) {
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << QString("track%1.mp3").arg(i, 5, 10, QChar('0'));
    return makeFolder(name, files);
}

void PlayerTest::setting(const QString &section, const QString &key, const QString &value) {
    SaveSetting(kApp, section, key, value);
}

QString PlayerTest::stored(const QString &section, const QString &key) const {
    return GetSetting(kApp, section, key);
}

void PlayerTest::enter(const QString &dir) {
    ASSERT_TRUE(form->Dir1->setPath(dir));
}

void PlayerTest::pick(int i) {
    ASSERT_TRUE(form->File1->setListIndex(i));
    form->File1_KeyUp(0, 0);
}

void PlayerTest::finish(double length) {
    media->completeOpen(length);
    media->reachEnd();
}

int PlayerTest::lastIndex() const {
    if (media->opened.isEmpty())
        return -1;
    const QFileInfo fi(media->opened.last());
    return fi.path() == folder ? fi.completeBaseName().mid(5).toInt() : -1;
}

::testing::AssertionResult PlayerTest::transport(bool enabled) const {
    for (int i = 0; i <= 4; ++i)
        if (form->FlatBar1->isButtonEnabled(i) != enabled)
            return ::testing::AssertionFailure() << "button " << i;
    return ::testing::AssertionSuccess();
}

QStringList PlayerTest::fileList() const {
    QStringList out;
    for (int i = 0; i < form->File1->ListCount(); ++i)
        out << form->File1->List(i);
    return out;
}

void PlayerTest::settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}
