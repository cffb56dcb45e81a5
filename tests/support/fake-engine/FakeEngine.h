#pragma once

#include "support/fake-engine/RCServerProcess.h"

#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

// The fake engine (see main.cpp for its scenario file) and a running instance of it.
class FakeEngine {
public:
    // The fake engine program built with the tests.
    static QString program();
    // Writes `scenario` atomically, so that a running engine never reads half of it, with this
    // process as "testProcess" unless it names another: the engine ends when the test does.
    static void writeScenario(const QString &path, const QJsonObject &scenario);
    // Writes an executable script that runs the fake engine with the arguments it is given and
    // the scenario at `scenarioPath`: the engine program for code that starts the engine with
    // an environment of its own.
    static QString writeWrapper(const QString &scriptPath, const QString &scenarioPath);

    static constexpr const char *user = "corvane";
    static constexpr const char *pass = "fake:pass"; // a ":" must survive basic authentication

    // An engine in mount mode in a temporary folder of its own, with the folder "bucket" in it
    // as the bucket unless the scenario names one.
    explicit FakeEngine(QJsonObject scenario = {});

    bool start();
    // Rewrites the scenario; the running engine reads it on its next request.
    void setScenario(QJsonObject scenario);

    DriveCore::RCClient client() const { return m_server.client(); }
    RCServerProcess &server() { return m_server; }
    QString bucket() const { return m_folder.filePath(QStringLiteral("bucket")); }
    QString logFile() const { return m_folder.filePath(QStringLiteral("engine.log")); }
    QString folder() const { return m_folder.path(); }
    // Writes `contents` to the file at `relative` below the bucket folder, making its folders.
    bool writeFile(const QString &relative, const QByteArray &contents) const;

private:
    QTemporaryDir m_folder;
    QString m_scenarioPath;
    RCServerProcess m_server;
};

} // namespace TestSupport
