#include "ShareEngine.h"

#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/shares/ShareFormat.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

namespace TestSupport {

bool ShareEngine::start()
{
    if (!m_bucket.start())
        return false;
    DriveCore::Environment environment = m_bucket.environment();
    environment.insert(DriveCore::RcloneCommand::rcEnvironment(user, pass));
    return m_engine.start(
        ShareBucket::rclone(),
        [](int port) {
            return QStringList{QStringLiteral("rcd"), QStringLiteral("--rc-addr"),
                               QStringLiteral("127.0.0.1:%1").arg(port)};
        },
        environment, user, pass);
}

QString ShareEngine::output()
{
    return m_bucket.server().output() + m_engine.output();
}

QString ShareEngine::freshMetaFs()
{
    return QStringLiteral("drivecrypt:") + DriveCore::ShareFormat::newShareID() + QStringLiteral("/.corvane");
}

void ShareEngine::put(const QString &fs, const QString &path, const QByteArray &data)
{
    const DriveCore::RcloneResult result = await(DriveCore::ProcessRunner::run(
        ShareBucket::rclone(), {QStringLiteral("rcat"), fs + u'/' + path}, m_bucket.environment(), data));
    ASSERT_EQ(result.status, 0) << result.stderrText().toStdString();
}

void ShareEngineTest::SetUpTestSuite()
{
    temporary = std::make_unique<QTemporaryDir>();
    engine = std::make_unique<ShareEngine>();
    ASSERT_TRUE(engine->start()) << engine->output().toStdString();
}

void ShareEngineTest::TearDownTestSuite()
{
    engine.reset();
    temporary.reset();
}

void ShareEngineTest::SetUp()
{
    ASSERT_TRUE(engine) << "the engine did not start";
    scratch.set("TMPDIR", QFile::encodeName(temporary->path()));
}

void ShareEngineTest::TearDown()
{
    EXPECT_TRUE(QDir(temporary->path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        << "a scratch folder was left behind";
}

} // namespace TestSupport
