#include "support/playerfixture.h"

#include "platform/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

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
    form->MsgBox = [this](const QString &text, QMessageBox::Icon, const QString &) { messages << text; };
    form->InputBox = [this](const QString &prompt, const QString &, const QString &) {
        prompts << prompt;
        // A test that runs out of answers cancels, which gives "".
        return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
    };
    form->Form_Load();
    return form.get();
}

QString PlayerTest::makeFolder(const QString &name, const QStringList &files) {
    const QString folder = tmp.path() + "/" + name;
    QDir().mkpath(folder);
    for (const QString &f : files) {
        QFile file(folder + "/" + f);
        file.open(QIODevice::WriteOnly);
    }
    return folder;
}

QString PlayerTest::makeNumberedFolder(const QString &name, int count, const QString &ext) {
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << QString("track%1.%2").arg(i, 5, 10, QChar('0')).arg(ext);
    return makeFolder(name, files);
}

void PlayerTest::setting(const QString &section, const QString &key, const QString &value) {
    SaveSetting(kApp, section, key, value);
}

QString PlayerTest::stored(const QString &section, const QString &key) const {
    return GetSetting(kApp, section, key);
}

void PlayerTest::enter(const QString &folder) {
    ASSERT_TRUE(form->Dir1->setPath(folder));
}

void PlayerTest::pick(int i) {
    ASSERT_TRUE(form->File1->setListIndex(i));
    form->File1_KeyUp(0, 0);
}

void PlayerTest::settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}
