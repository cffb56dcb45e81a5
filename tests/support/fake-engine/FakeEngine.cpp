#include "support/fake-engine/FakeEngine.h"

#include "DriveCore/engine/RcloneCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <unistd.h>

namespace TestSupport {

QString FakeEngine::program()
{
    return QStringLiteral(FAKE_ENGINE_PROGRAM);
}

void FakeEngine::writeScenario(const QString &path, const QJsonObject &scenario)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QJsonObject owned = scenario;
    if (!owned.contains(QStringLiteral("testProcess")))
        owned.insert(QStringLiteral("testProcess"), qint64(::getpid()));
    file.write(QJsonDocument(owned).toJson());
    file.commit();
}

static QString shellQuoted(QString text)
{
    return u'\'' + text.replace(u'\'', QLatin1String("'\\''")) + u'\'';
}

QString FakeEngine::writeWrapper(const QString &scriptPath, const QString &scenarioPath)
{
    QFile file(scriptPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(scriptPath));
    file.write(QStringLiteral("#!/bin/sh\nexec %1 \"$@\" --scenario %2\n")
                   .arg(shellQuoted(program()), shellQuoted(scenarioPath))
                   .toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return scriptPath;
}

FakeEngine::FakeEngine(QJsonObject scenario) : m_scenarioPath(m_folder.filePath(QStringLiteral("scenario.json")))
{
    QDir(m_folder.path()).mkdir(QStringLiteral("bucket"));
    setScenario(std::move(scenario));
}

void FakeEngine::setScenario(QJsonObject scenario)
{
    if (!scenario.contains(QStringLiteral("bucket")))
        scenario.insert(QStringLiteral("bucket"), bucket());
    writeScenario(m_scenarioPath, scenario);
}

bool FakeEngine::writeFile(const QString &relative, const QByteArray &contents) const
{
    const QString path = bucket() + u'/' + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

bool FakeEngine::start()
{
    const QString wrapper = writeWrapper(m_folder.filePath(QStringLiteral("engine")), m_scenarioPath);
    const QString mountPoint = m_folder.filePath(QStringLiteral("mount"));
    const QString log = logFile();
    return m_server.start(
        wrapper,
        [&](int port) {
            return QStringList{QStringLiteral("nfsmount"),
                               QString::fromLatin1(DriveCore::RCClient::mountFs),
                               mountPoint,
                               QStringLiteral("--rc"),
                               QStringLiteral("--rc-addr"),
                               QStringLiteral("127.0.0.1:%1").arg(port),
                               QStringLiteral("--log-file"),
                               log};
        },
        DriveCore::RcloneCommand::rcEnvironment(QString::fromLatin1(user), QString::fromLatin1(pass)),
        QString::fromLatin1(user), QString::fromLatin1(pass));
}

} // namespace TestSupport
