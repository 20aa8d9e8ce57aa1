// The commands of the menus: the sound editor, the desktop tools, the list
// colours through the chooser, the web page and mail, the about box.
#include "support/fakelauncher.h"
#include "support/playerfixture.h"

#include "platform/filename.h"
#include "platform/window.h"
#include "windows/couleure.h"
#include "windows/form3.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

const QString kAskEditor = "Indiquez l'emplacement de votre éditeur de sons";

class OptionsTest : public PlayerTest {
protected:
    // An executable file; `body` is its shell script.
    QString makeProgram(const QString &path, const QByteArray &body) {
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(writeFile(path, "#!/bin/sh\n" + body));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QColor back(QWidget *w) const { return w->palette().color(QPalette::Base); }
    QColor text(QWidget *w) const { return w->palette().color(QPalette::Text); }
    bool listsAre(const QColor &b, const QColor &t) const {
        for (QWidget *w : std::initializer_list<QWidget *>{form->Dir1, form->Drive1, form->File1})
            if ((b.isValid() && back(w) != b) || (t.isValid() && text(w) != t))
                return false;
        return true;
    }
};

// The real launcher: a script stands in for the editor and writes down the
// arguments it received, byte for byte.
TEST_F(OptionsTest, TheEditorGetsTheFileAsOneArgumentWithNoShell) {
    const QString out = tmp.path() + "/args";
    const QByteArray o = out.toUtf8();
    const QString editor =
        makeProgram(tmp.path() + "/mon éditeur/edit",
                    "printf '%s\\n' \"$#\" \"$@\" > '" + o + ".part' && mv '" + o + ".part' '" + o + "'\n");
    const QString hostile = "it's $(touch pwned) `touch pwned2`; \"q\" | x.mp3";
    const QString dir = makeFolder("sons", {hostile});
    const QByteArray odd = EncodeFileName(dir) + "/caf\xe9 $HOME.mp3"; // not UTF-8
    ::close(::open(odd.constData(), O_CREAT | O_WRONLY, 0600));
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(tmp.path());
    setting("Editeur", "Path", editor);
    start(dir);

    const auto run = [&](const QString &expected) {
        QFile::remove(out);
        form->Edit_Click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(out); }, 30000));
        EXPECT_EQ(fileBytes(out), "1\n" + EncodeFileName(expected) + "\n");
    };
    // Nothing loaded: the selected file.
    ASSERT_TRUE(form->File1->setListIndex(fileList().indexOf(hostile)));
    run(dir + "/" + hostile);
    // A loaded file goes first, whatever its bytes.
    media->setFileName(DecodeFileName(odd));
    run(DecodeFileName(odd));
    QDir::setCurrent(oldCwd);
    EXPECT_FALSE(QFile::exists(tmp.path() + "/pwned") || QFile::exists(tmp.path() + "/pwned2"));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(prompts.isEmpty());
}

TEST_F(OptionsTest, AMissingOrBrokenEditorAsksForOne) {
    FakeLauncher launcher;
    const QString good = makeProgram(tmp.path() + "/bin/editeur", "exit 0\n");
    ASSERT_TRUE(writeFile(tmp.path() + "/bin/texte", {}));
    const QString dir = makeFolder("sons", {"a.mp3"});
    start(dir);
    // Never set or blank: straight to the question, whose answer is kept. Not
    // there, not a program, a folder: a message naming it, then the question;
    // a cancelled question keeps the old value.
    for (const QString &value : {QString(), QString("   "), tmp.path() + "/bin/absent",
                                 tmp.path() + "/bin/texte", tmp.path() + "/bin", QString("absent-du-path")}) {
        SCOPED_TRACE(value.toStdString());
        const bool blank = value.trimmed().isEmpty();
        messages.clear();
        prompts.clear();
        setting("Editeur", "Path", value);
        inputAnswers = blank ? QStringList{good} : QStringList{};
        form->Edit_Click();
        EXPECT_EQ(prompts, QStringList{kAskEditor});
        ASSERT_EQ(messages.size(), blank ? 0 : 1);
        EXPECT_TRUE(blank || messages[0].contains(value));
        EXPECT_EQ(stored("Editeur", "Path"), blank ? good : value);
    }
    EXPECT_TRUE(launcher.started.isEmpty());
    // It fails to start: the same.
    messages.clear();
    prompts.clear();
    setting("Editeur", "Path", good);
    launcher.startFails = true;
    form->Edit_Click();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(prompts, QStringList{kAskEditor});

    // Nothing loaded, nothing selected: the folder, as one argument.
    launcher.startFails = false;
    form->File1->setListIndex(-1);
    form->Edit_Click();
    ASSERT_EQ(launcher.started.size(), 1);
    EXPECT_EQ(launcher.started[0].program, good);
    EXPECT_EQ(launcher.started[0].arguments, QStringList{dir + "/"});

    // Choisir l'éditeur: an empty answer changes nothing.
    inputAnswers = {""};
    form->Editr_Click();
    EXPECT_EQ(stored("Editeur", "Path"), good);
}

TEST_F(OptionsTest, DesktopToolsStartTheFirstInstalledStandInOrSaySo) {
    FakeLauncher launcher;
    load();
    form->Vol_Click();
    form->AudioProp_Click();
    EXPECT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains("volume") && messages[1].contains("son"));
    EXPECT_TRUE(launcher.started.isEmpty());

    messages.clear();
    launcher.installed = {"kcmshell5", "pavucontrol-qt", "gnome-control-center"};
    form->Vol_Click();
    form->AudioProp_Click();
    EXPECT_TRUE(StartSystemTool(SystemTool::DateTime).isEmpty());
    EXPECT_TRUE(messages.isEmpty());
    ASSERT_EQ(launcher.started.size(), 3);
    EXPECT_EQ(launcher.started[0].program, "/usr/bin/pavucontrol-qt");
    EXPECT_TRUE(launcher.started[0].arguments.isEmpty());
    EXPECT_EQ(launcher.started[1].program, "/usr/bin/gnome-control-center");
    EXPECT_EQ(launcher.started[1].arguments, QStringList{"sound"});
    EXPECT_EQ(launcher.started[2].arguments, QStringList{"datetime"});

    launcher.installed = {"pavucontrol"};
    launcher.startFails = true;
    form->Vol_Click();
    EXPECT_EQ(messages.size(), 1);

    // The help menu's addresses go to the desktop; placeholders only.
    form->PageWeb_Click();
    form->WriteMe_Click();
    ASSERT_EQ(launcher.documents.size(), 2);
    EXPECT_EQ(launcher.documents[0].scheme(), "https");
    EXPECT_EQ(launcher.documents[1].scheme(), "mailto");
    EXPECT_TRUE(launcher.documents[0].host().endsWith(".example.org"));
    EXPECT_TRUE(launcher.documents[1].path().endsWith(".example.org"));
    // No browser, no mail program: said, with the address to use instead.
    messages.clear();
    launcher.openFails = true;
    form->PageWeb_Click();
    form->WriteMe_Click();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains("navigateur") && messages[0].contains(launcher.documents[0].toString()));
    EXPECT_TRUE(messages[1].contains("messagerie") && messages[1].contains(launcher.documents[1].path()));
}

TEST(OpenDocument, TheDesktopOpenerSaysWhetherAProgramTookTheAddress) {
    QTemporaryDir tmp;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", tmp.path().toUtf8());
    const QString opener = tmp.path() + "/xdg-open", marker = tmp.path() + "/given";
    // 3: xdg-open found no program for the address.
    for (int code : {0, 3}) {
        ASSERT_TRUE(writeFile(opener, "#!/bin/sh\necho \"$1\" > '" + marker.toUtf8() + "'\nexit " +
                                          QByteArray::number(code) + "\n"));
        ASSERT_TRUE(QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        std::optional<bool> opened;
        ProgramLauncher().OpenDocument(QUrl("mailto:auteur@tunabel.example.org"),
                                       [&opened](bool ok) { opened = ok; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return opened.has_value(); }, 30000));
        EXPECT_EQ(opened, code == 0);
        EXPECT_EQ(fileBytes(marker), "mailto:auteur@tunabel.example.org\n");
    }
    qputenv("PATH", path);
}

TEST_F(OptionsTest, ListColoursApplyToTheThreeListsAndComeBackAtTheNextStart) {
    load();
    const QColor designBack = back(form->File1), designText = text(form->File1);
    // Closed or left with Esc: neither applied nor stored.
    for (bool esc : {false, true}) {
        duringModal([esc](QWidget *) {
            App::couleure->VScroll1->setValue(40);
            esc ? QTest::keyClick(App::couleure, Qt::Key_Escape) : void(App::couleure->close());
        });
        esc ? form->TxtColors_Click() : form->BakColor_Click();
    }
    EXPECT_TRUE(listsAre(designBack, designText));
    EXPECT_EQ(stored("Aspect", "Fond"), "");
    EXPECT_EQ(stored("Aspect", "Texte"), "");

    duringModal([designBack, designText](QWidget *) {
        Couleure *c = App::couleure;
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->windowTitle(), "Choisisez une couleur pour le fond");
        EXPECT_EQ(c->Shape1->FillColor(), designBack);
        EXPECT_EQ(c->Label5Color(), designText);
        c->VScroll1->setValue(255);
        c->VScroll2->setValue(0);
        c->VScroll3->setValue(0);
        c->Couleur_Click();
    });
    form->BakColor_Click();
    EXPECT_TRUE(listsAre(Qt::red, designText));
    EXPECT_EQ(stored("Aspect", "Fond"), "255");

    duringModal([](QWidget *) {
        Couleure *c = App::couleure;
        EXPECT_EQ(c->windowTitle(), "Choisisez une couleur pour le texte");
        EXPECT_EQ(c->Shape1->FillColor(), QColor(Qt::red)); // the lists' current background
        EXPECT_FALSE(c->Label5->isHidden());
        c->VScroll1->setValue(0);
        c->VScroll3->setValue(255);
        c->Label5_Click();
    });
    form->TxtColors_Click();
    EXPECT_TRUE(listsAre(Qt::red, Qt::blue));
    EXPECT_EQ(stored("Aspect", "Texte"), "16711680");
    load();
    EXPECT_TRUE(listsAre(Qt::red, Qt::blue));

    // Stored values out of range keep the design colours.
    for (const char *value : {"16777216", "-1", "-16777215", "4294967295"}) {
        SCOPED_TRACE(value);
        setting("Aspect", "Fond", value);
        setting("Aspect", "Texte", value);
        load();
        EXPECT_TRUE(listsAre(designBack, designText));
    }
    setting("Aspect", "Fond", "16777215");
    load();
    EXPECT_TRUE(listsAre(Qt::white, {}));
}

TEST_F(OptionsTest, TheAboutBoxShowsTheVersionAndLiftsKeepOnTopWhileOpen) {
    for (bool onTop : {true, false}) {
        SCOPED_TRACE(onTop);
        setting("Options", "Dessus", "Non");
        load();
        if (onTop)
            form->OnTop_Click();
        ASSERT_EQ(IsTopMost(form.get()), onTop);
        bool shown = false;
        duringModal([this, onTop, &shown](QWidget *modal) {
            Form3 *about = App::form3;
            ASSERT_TRUE(about && modal == about);
            shown = true;
            EXPECT_TRUE(about->Label1->isVisible());
            EXPECT_EQ(about->Label1->text(), "Version 3.00");
            EXPECT_FALSE(IsTopMost(form.get()));
            // A click closes it; so does its close box.
            if (onTop)
                QTest::mouseClick(about, Qt::LeftButton);
            else
                about->close();
        });
        form->APropos_Click();
        EXPECT_TRUE(shown);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(IsTopMost(form.get()), onTop);
    }
}

} // namespace
