#pragma once

#include "player/form1.h"
#include "support/fakemedia.h"
#include "support/mediawatch.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

class QListWidget;

// The bytes of a file; empty when it cannot be read.
QByteArray fileBytes(const QString &path);
// Writes `bytes` as the whole file; false when it cannot.
bool writeFile(const QString &path, const QByteArray &bytes);
// The texts of a list's entries, in order.
QStringList listTexts(const QListWidget *list);
// Runs `inside` once the next modal loop is up. A modal window still open a
// minute later is a failure, and is hidden so the test goes on.
void duringModal(const std::function<void(QWidget *modal)> &inside);
// Message boxes of `form` answer Ok and add their texts to `messages`.
void recordBoxes(Form1 &form, QStringList &messages);

// A main window over the fake media control, with its own settings store
// and folders; message and input boxes are answered by the test.
class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the window and runs its load.
    Form1 *load();
    // Loads, shows `dir` in the browser and sets the mode.
    Form1 *start(const QString &dir, int mode = 0);
    // A folder under the test's temporary folder holding empty files.
    QString makeFolder(const QString &name, const QStringList &files);
    // Names "track00000.mp3", "track00001.mp3"... in a new folder.
    QString makeNumberedFolder(const QString &name, int count);
    void setting(const QString &section, const QString &key, const QString &value);
    QString stored(const QString &section, const QString &key) const;
    // Sets the browser's folder as a user would.
    void enter(const QString &dir);
    // Selects entry i of the file list and plays it as a click does.
    void pick(int i);
    // Completes the pending open, then plays the file to its end.
    void finish(double length = 180);
    // Index of the numbered file opened last; -1 when none, or not in `folder`.
    int lastIndex() const;
    // Whether the transport buttons 0 to 4 all have this enabled state.
    ::testing::AssertionResult transport(bool enabled) const;
    QStringList fileList() const;
    // Runs the queued events (the fake's open completions).
    static void settle();

    QTemporaryDir tmp;
    QString folder; // the folder of start()
    FakeMediaControl *media = nullptr;
    std::unique_ptr<Form1> form;
    QStringList messages;     // texts of the message boxes shown
    QStringList inputAnswers; // answers given to the input boxes, in order
    QStringList prompts;      // prompts of the input boxes shown
};
