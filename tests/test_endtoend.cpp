// The main window playing real files through the GStreamer control, on a
// silent sink.
#include "platform/settingsstore.h"
#include "player/form1.h"
#include "support/mediafiles.h"
#include "support/playerfixture.h"
#include "support/sinktap.h"

#include <QTemporaryDir>

namespace {

using namespace testmedia;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        SetSettingsFolder(tmp.path() + "/config");
        StartMediaEngine();
    }
    void TearDown() override {
        form.reset();
        SetSettingsFolder(QString());
    }

    // Loads the window over `dir` in `mode`.
    Form1 *load(const char *mode) {
        SaveSetting(kApp, "Session", "Path", dir);
        SaveSetting(kApp, "Session", "Mode", mode);
        control = new GstMediaControl(nullptr, silentSinks());
        form = std::make_unique<Form1>(control);
        recordBoxes(*form, messages);
        form->Form_Load();
        return form.get();
    }
    void pick(int i) {
        ASSERT_TRUE(form->File1->setListIndex(i));
        form->File1_KeyUp(0, 0);
    }

    QTemporaryDir tmp;
    const QString dir = tmp.path();
    GstMediaControl *control = nullptr;
    std::unique_ptr<Form1> form;
    QStringList messages;
};

} // namespace

TEST_F(EndToEnd, HostileFilesEachGiveOneMessageAndTheGoodOnesAfterThemPlay) {
    QStringList bad = MakeHostileCorpus(dir);
    ASSERT_GE(bad.size(), 30);
    // Good files among them, by name: first, middle and last in the folder.
    const QStringList good = {MakeWav(dir, "a-bon.wav", {0.3}), MakeMp3(dir, "m-bon.mp3", {0.3}),
                              MakeAu(dir, "z-bon.au", {0.3})};
    for (const QString &g : good)
        ASSERT_FALSE(g.isEmpty());
    load("0");
    QStringList files;
    for (int i = 0; i < form->File1->ListCount(); ++i)
        files << form->File1->List(i);
    ASSERT_EQ(files.size(), bad.size() + good.size());

    // Each file's outcome, in order: played (its name) or refused ("!" and its name).
    QStringList outcomes;
    // Runs after the window's handler, whose pending events may already have
    // closed the file: that open is then seen by its error alone.
    QObject::connect(control, &MediaControl::OpenComplete, control, [&] {
        if (!control->FileName().isEmpty())
            outcomes << QFileInfo(control->FileName()).fileName();
    });
    form->MsgBox = [&](const QString &text, QMessageBox::Icon, const QString &,
                       QMessageBox::StandardButtons) {
        messages << text;
        const int open = int(text.indexOf("« ")), close = int(text.indexOf(" »"));
        outcomes << "!" + text.mid(open + 2, close - open - 2);
        return QMessageBox::Ok;
    };
    const auto reached = [&](const QString &name) {
        return outcomes.contains(name) || outcomes.contains("!" + name);
    };
    // An error stops continuous play: the user picks the file after it. The
    // error acted on last is remembered, as outcomes can arrive inside a pick.
    QString handled;
    pick(0);
    while (!reached(files.last())) {
        ASSERT_TRUE(waitFor([&] {
            return reached(files.last()) || (!outcomes.isEmpty() && outcomes.last().startsWith("!") &&
                                             outcomes.last() != handled && control->FileName().isEmpty());
        })) << outcomes.join(" ").toStdString();
        if (reached(files.last()))
            break;
        handled = outcomes.last();
        const int failed = int(files.indexOf(handled.mid(1)));
        ASSERT_GE(failed, 0) << handled.toStdString();
        pick(failed + 1);
    }
    form->FlatBar1_Click(2);
    // Every file in the folder's order, each with at most one message (a
    // file may open, then fail while it decodes).
    QStringList names;
    for (const QString &o : outcomes) {
        const QString name = o.startsWith("!") ? o.mid(1) : o;
        if (names.isEmpty() || names.last() != name)
            names << name;
    }
    names = names.mid(0, names.indexOf(files.last()) + 1);
    EXPECT_EQ(names, files) << outcomes.join(" ").toStdString();
    for (const QString &f : files)
        EXPECT_LE(outcomes.count("!" + f), 1) << f.toStdString();
    for (const QString &g : good)
        EXPECT_TRUE(outcomes.contains(QFileInfo(g).fileName())) << g.toStdString();
    // Nothing empty, noisy or textual passes for sound.
    for (const QString &f : files) {
        if (f.startsWith("vide") || f.startsWith("bruit") || f.startsWith("texte")) {
            EXPECT_EQ(outcomes.count("!" + f), 1) << f.toStdString();
        }
    }
    EXPECT_TRUE(form->isWindowEnabled());
}
