// Fades against the fake control: a fade-out only where something is heard.
#include "support/playerfixture.h"

TEST_F(PlayerTest, FadeOutsOfSilenceAreSkippedSoAFadedClickStartsAtOnce) {
    start(makeFolder("f", {"a.mp3", "b.mp3"}), 0);
    form->Fade->setChecked(true);
    // Nothing loaded: Lecture's stop has nothing to fade, the open comes first.
    form->FlatBar1_Click(0);
    EXPECT_TRUE(media->volumeWrites.isEmpty());
    ASSERT_EQ(media->log, QStringList({"open " + folder + "/a.mp3"}));
    media->completeOpen(10);

    // Paused, "Stop avec fade-out" writes nothing.
    form->FlatBar1_Click(1);
    ASSERT_EQ(media->CurrentState(), 1);
    media->volumeWrites.clear();
    form->Play_Click(3);
    EXPECT_TRUE(media->volumeWrites.isEmpty());
    EXPECT_TRUE(media->FileName().isEmpty());

    // A pick while a file runs still fades it out before the change.
    form->FlatBar1_Click(0);
    media->completeOpen(10);
    settle(); // the running report sets the volume
    media->volumeWrites.clear();
    pick(1);
    EXPECT_EQ(media->volumeWrites.size(), 201);
    EXPECT_EQ(media->volumeWrites.back(), -4000);
}
