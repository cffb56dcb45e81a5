#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>

namespace TestSupport {

// A refused call, answered in the engine's error form.
struct MethodFailure {
    int status;
    QString error;
};

// The remote-control methods of the fake engine over a local folder that stands for the
// bucket: "drivecrypt:X" is the folder X in it, and a plain path is a local folder, as the
// engine's local remote. Replies use the engine's keys.
class EngineMethods {
public:
    explicit EngineMethods(QString mountFs);

    // The scenario's parts that change replies: the bucket folder, and "diskCache",
    // "pendingUploads" and "trash" figures for "vfs/stats".
    void setScenario(const QJsonObject &scenario) { m_scenario = scenario; }

    bool has(const QString &method) const { return m_methods.contains(method); }
    // Throws MethodFailure.
    QJsonObject call(const QString &method, const QJsonObject &params);

    // The local folder that stands for the file system `fs`. Throws MethodFailure.
    QString root(const QString &fs) const;

private:
    using Method = std::function<QJsonObject(const QJsonObject &)>;

    QString path(const QJsonObject &params, const QString &fsKey, const QString &remoteKey) const;
    void checkVfs(const QJsonObject &params) const;

    QJsonObject list(const QJsonObject &params) const;
    QJsonObject stat(const QJsonObject &params) const;
    QJsonObject transfer(const QJsonObject &params, bool move) const;
    QJsonObject deleteFile(const QJsonObject &params) const;
    QJsonObject purge(const QJsonObject &params) const;
    QJsonObject size(const QJsonObject &params) const;
    QJsonObject syncMove(const QJsonObject &params) const;
    QJsonObject vfsStats(const QJsonObject &params);
    QJsonObject forget(const QJsonObject &params) const;
    QJsonObject pins(const QJsonObject &params) const;
    QJsonObject pin(const QJsonObject &params);
    QJsonObject unpin(const QJsonObject &params);

    QString m_mountFs;
    QJsonObject m_scenario;
    QStringList m_pins;
    qsizetype m_vfsStatsCalls = 0;
    std::map<QString, Method> m_methods;
};

} // namespace TestSupport
