#pragma once

#include "DriveCore/engine/RCClient.h"
#include "ShareBucket.h"
#include "support/fake-engine/RCServerProcess.h"
#include "support/ScopedEnvironment.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace TestSupport {

// The engine's remote control as Debian's rclone serves it ("rclone rcd"), over a share bucket
// with the drive's own remotes, so what the share code keeps in the metadata folder goes through
// the encrypting remote as it does in the drive. Stopped with its bucket when it goes away.
class ShareEngine {
public:
    static inline const QString user = QStringLiteral("corvane");
    static inline const QString pass = QStringLiteral("rc:secret");

    // Starts the bucket's S3 server, then the engine; false (see output()) when either fails.
    bool start();
    QString output();

    ShareBucket &bucket() { return m_bucket; }
    DriveCore::RCClient client() const { return m_engine.client(); }

    // A metadata folder of a test's own: "drivecrypt:<random>/.corvane".
    static QString freshMetaFs();
    // Writes an object at `path` below `fs` with the engine program, as another machine might.
    void put(const QString &fs, const QString &path, const QByteArray &data);

private:
    ShareBucket m_bucket;
    RCServerProcess m_engine;
};

// Tests over one ShareEngine for the suite. Each test gets a metadata folder of its own and a
// temporary folder of its own, which must be empty again afterwards: no scratch folder may stay.
class ShareEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    static inline std::unique_ptr<ShareEngine> engine;
    static inline std::unique_ptr<QTemporaryDir> temporary;

    const QString metaFs = ShareEngine::freshMetaFs();
    ScopedEnvironment scratch;
};

} // namespace TestSupport
