#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace DriveCore;

// The engine reveals what we obscure: Debian's rclone reads our text back to the passphrase.
TEST(RcloneObscure, TheEngineRevealsThePassphrase)
{
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    ASSERT_FALSE(rclone.isEmpty()) << "rclone is installed by scripts/bootstrap";
    const QStringList passphrases{
        QStringLiteral("correct horse battery staple"),
        QStringLiteral("Grüße aus Köln, crème brûlée"),
        QString(16, u'k'),
        QString(17, u'k'),
        QString(200, u'\u00e9'),
    };
    for (const QString &passphrase : passphrases) {
        const RcloneResult result = TestSupport::await(
            ProcessRunner::run(rclone, {QStringLiteral("reveal"), RcloneCommand::obscure(passphrase)},
                               {{QStringLiteral("RCLONE_CONFIG"), QStringLiteral("/dev/null")},
                                {QStringLiteral("HOME"), QDir::tempPath()}}));
        ASSERT_EQ(result.status, 0) << result.stderrText().toStdString();
        EXPECT_EQ(QString::fromUtf8(result.stdoutBytes).chopped(1), passphrase);
    }
}
