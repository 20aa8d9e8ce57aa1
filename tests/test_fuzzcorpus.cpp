// Every input kept in the fuzz corpus (the seeds and whatever the fuzzers
// once broke on) still passes its target.
#include "fuzz/targets.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

TEST(FuzzCorpusTest, EveryKeptInputPassesItsTarget) {
    fuzz::Init();
    for (const fuzz::Target &target : fuzz::kTargets) {
        const QDir folder(QString(FUZZ_CORPUS) + '/' + target.name);
        const QStringList files = folder.entryList(QDir::Files, QDir::Name);
        EXPECT_FALSE(files.isEmpty()) << target.name << ": no corpus";
        for (const QString &name : files) {
            QFile file(folder.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
            const QByteArray bytes = file.readAll();
            EXPECT_TRUE(
                target.run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())))
                << target.name << '/' << name.toStdString();
        }
    }
}
