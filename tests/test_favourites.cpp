// Favourite folders: the menu, additions, and the organiser.
#include "platform/settingsstore.h"
#include "support/playerfixture.h"
#include "windows/favori.h"

#include <QTest>

namespace {

class FavouritesTest : public PlayerTest {
protected:
    void TearDown() override {
        if (App::favori)
            delete App::favori.data();
        PlayerTest::TearDown();
    }
    // The folders the menu shows, in order.
    QStringList menu() const {
        QStringList out;
        for (int i = 1; i <= 10; ++i)
            if (form->Menu[i]->isVisible())
                out << form->Menu[i]->data().toString();
        return out;
    }
    // The section as stored, "key=value" in key order.
    QStringList section() const {
        QStringList out;
        for (const auto &pair : GetAllSettings(kApp, "Favoris"))
            out << pair.first + "=" + pair.second;
        return out;
    }
    QStringList organiserList() const { return listTexts(App::favori->List1); }
    // Four stored favourites a to d, the organiser open over them.
    Favori *openWithFour() {
        for (int i = 0; i < 4; ++i)
            setting("Favoris", QString::number(i), QString("/f/") + QChar('a' + i));
        load();
        form->Organiser_Click();
        return App::favori;
    }
    void choose(int row) { App::favori->List1->setCurrentRow(row, QItemSelectionModel::ClearAndSelect); }
};

TEST_F(FavouritesTest, AddingKeepsTenAtMostAndRefusesTheEleventh) {
    load();
    for (int i = 0; i < 10; ++i) {
        // One with an ampersand, which a menu would take for a shortcut.
        enter(makeFolder(i == 2 ? "d2 & co" : QString("d%1").arg(i), {"x.mp3", "y.mp3"}));
        form->Ajouter_Click();
    }
    ASSERT_EQ(menu().size(), 10);
    EXPECT_TRUE(menu()[9].endsWith("/d9"));
    EXPECT_TRUE(messages.isEmpty());
    const QStringList before = section();

    enter(makeFolder("onze", {}));
    form->Ajouter_Click();
    EXPECT_EQ(messages, QStringList{"Pas plus de 10 favoris !"});
    EXPECT_EQ(section(), before);

    // A slot opens its folder; one that has vanished says so, and the
    // browser, the current folder and the selection stay.
    form->Menu_Click(3);
    const QString d2 = tmp.path() + "/d2 & co";
    EXPECT_EQ(form->Dir1->Path(), d2);
    EXPECT_EQ(form->CurrentFolder, d2);
    form->File1->setListIndex(1);
    QDir(tmp.path() + "/d4").removeRecursively();
    form->Menu_Click(5);
    EXPECT_EQ(messages.last(), "Ce répertoire n'existe plus.");
    EXPECT_EQ(form->Dir1->Path(), d2);
    EXPECT_EQ(form->CurrentFolder, d2);
    EXPECT_EQ(form->File1->ListCount(), 2);
    EXPECT_EQ(form->File1->ListIndex(), 1);
    EXPECT_EQ(menu().size(), 10);
}

TEST_F(FavouritesTest, HandEditedSectionShowsItsFirstTenInNumericOrderAndLosesNoneToAnAddition) {
    setting("Favoris", "1", "/un");
    setting("Favoris", "2", "/deux");
    setting("Favoris", "10", "/dix");
    setting("Favoris", "x", "/autre");
    setting("Favoris", "4", "");
    load();
    // "10" after "2"; a key that is no number last; an empty value left out.
    EXPECT_EQ(menu(), QStringList({"/un", "/deux", "/dix", "/autre"}));

    enter(makeFolder("neuf", {}));
    form->Ajouter_Click();
    form->Ajouter_Click(); // the same folder twice is allowed
    // Free keys are taken: none of the others is overwritten.
    const QString neuf = tmp.path() + "/neuf";
    EXPECT_EQ(menu(), QStringList({neuf, "/un", "/deux", neuf, "/dix", "/autre"}));

    // More than ten entries: the first ten, and no eleventh.
    for (int k = 11; k < 20; ++k)
        setting("Favoris", QString::number(k), QString("/k%1").arg(k));
    form->CreateFav();
    ASSERT_EQ(menu().size(), 10);
    EXPECT_EQ(menu().last(), "/k15");
}

TEST_F(FavouritesTest, OrganiserKeepsTheStoreUntilItClosesThenRewritesIt) {
    Favori *f = openWithFour();
    ASSERT_TRUE(f);
    EXPECT_EQ(organiserList(), QStringList({"/f/a", "/f/b", "/f/c", "/f/d"}));
    // Open: every key is still stored, so a crash now loses nothing.
    EXPECT_EQ(section().size(), 4);
    form->Organiser_Click();
    EXPECT_EQ(App::favori, f) << "one organiser";

    choose(1);
    f->Supprimer_Click();
    EXPECT_EQ(organiserList(), QStringList({"/f/a", "/f/c", "/f/d"}));
    EXPECT_EQ(section().size(), 4);
    EXPECT_EQ(menu().size(), 4);

    // An addition meanwhile is stored at once and survives the closing.
    enter(makeFolder("nouveau", {}));
    form->Ajouter_Click();
    const QString added = tmp.path() + "/nouveau";
    EXPECT_EQ(organiserList(), QStringList({"/f/a", "/f/c", "/f/d", added}));
    EXPECT_EQ(stored("Favoris", "4"), added);
    EXPECT_EQ(menu().size(), 5);

    f->Fermer_Click();
    const QStringList written({"0=/f/a", "1=/f/c", "2=/f/d", "3=" + added});
    EXPECT_EQ(section(), written);
    EXPECT_EQ(menu(), QStringList({"/f/a", "/f/c", "/f/d", added}));
    QCoreApplication::processEvents();
    EXPECT_FALSE(App::favori);

    // Opened again: the list as written, and closing with no change keeps it.
    form->Organiser_Click();
    EXPECT_EQ(organiserList(), QStringList({"/f/a", "/f/c", "/f/d", added}));
    App::favori->close();
    EXPECT_EQ(section(), written);
}

TEST_F(FavouritesTest, MovesAndDeletionLeaveNoEntryCurrentAndTheMenuFollowsTheChoice) {
    Favori *f = openWithFour();
    auto enabled = [f] {
        f->Edition_Click();
        return QString("%1%2%3")
            .arg(f->Remonter->isEnabled())
            .arg(f->Descendre->isEnabled())
            .arg(f->Supprimer->isEnabled());
    };
    EXPECT_EQ(enabled(), "000");
    EXPECT_TRUE(f->Fermer->isEnabled());
    choose(2);
    EXPECT_EQ(enabled(), "111");
    f->Remonter_Click();
    EXPECT_EQ(organiserList(), QStringList({"/f/a", "/f/c", "/f/b", "/f/d"}));
    EXPECT_EQ(f->Chosen(), -1);
    f->Remonter_Click(); // nothing chosen: nothing moves
    f->Descendre_Click();
    choose(1);
    f->Descendre_Click();
    EXPECT_EQ(organiserList(), QStringList({"/f/a", "/f/b", "/f/c", "/f/d"}));
    EXPECT_EQ(f->Chosen(), -1);

    // The ends cannot move past themselves.
    choose(0);
    EXPECT_EQ(enabled(), "011");
    f->Remonter_Click();
    choose(3);
    EXPECT_EQ(enabled(), "101");
    f->Descendre_Click();
    EXPECT_EQ(organiserList(), QStringList({"/f/a", "/f/b", "/f/c", "/f/d"}));
    // Qt makes an entry current without selecting it: not a choice.
    f->List1->setCurrentRow(2, QItemSelectionModel::NoUpdate);
    f->List1->clearSelection();
    EXPECT_EQ(enabled(), "000");

    // The delete key pressed twice removes one entry.
    choose(1);
    QTest::keyClick(f->List1, Qt::Key_Delete);
    QTest::keyClick(f->List1, Qt::Key_Delete);
    EXPECT_EQ(organiserList(), QStringList({"/f/a", "/f/c", "/f/d"}));
}

TEST_F(FavouritesTest, QuittingWithTheOrganiserOpenKeepsEveryFavourite) {
    Favori *f = openWithFour();
    choose(3);
    f->Remonter_Click();
    form->close();
    EXPECT_EQ(section(), QStringList({"0=/f/a", "1=/f/b", "2=/f/d", "3=/f/c"}));

    // A main window that goes without its unload still leaves them stored.
    form.reset();
    QCoreApplication::processEvents();
    openWithFour();
    choose(0);
    App::favori->Descendre_Click();
    form.reset();
    EXPECT_FALSE(App::favori);
    EXPECT_EQ(section(), QStringList({"0=/f/b", "1=/f/a", "2=/f/c", "3=/f/d"}));
}

} // namespace
