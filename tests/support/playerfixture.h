#pragma once

#include "player/form1.h"
#include "support/fakemedia.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

// A main window over the fake media control, with its own settings store
// and folders; message and input boxes are answered by the test.
class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the window and runs its load.
    Form1 *load();
    // A folder under the test's temporary folder holding empty files.
    QString makeFolder(const QString &name, const QStringList &files);
    // Names "track000.mp3", "track001.mp3"... in a new folder.
    QString makeNumberedFolder(const QString &name, int count, const QString &ext = "mp3");
    void setting(const QString &section, const QString &key, const QString &value);
    QString stored(const QString &section, const QString &key) const;
    // Sets the browser's folder as a user would.
    void enter(const QString &folder);
    // Selects entry i of the file list and plays it as a click does.
    void pick(int i);
    // Runs the queued events (the fake's open completions).
    static void settle();

    QTemporaryDir tmp;
    FakeMediaControl *media = nullptr;
    std::unique_ptr<Form1> form;
    QStringList messages;     // texts of the message boxes shown
    QStringList inputAnswers; // answers given to the input boxes, in order
    QStringList prompts;      // prompts of the input boxes shown
};
