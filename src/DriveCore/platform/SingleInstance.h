#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace DriveCore {

// One running application per user and profile: the first process owns a well-known name on
// the session bus ("com.corvane.drive" or "com.corvane.drive.<profile>"); a later one asks the
// owner to reopen and then leaves. Main thread.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.corvane.drive.Application")
public:
    static constexpr const char *objectPath = "/com/corvane/drive/Application";
    static constexpr const char *interface = "com.corvane.drive.Application";

    enum class Claim {
        first, // this process owns the name: run
        another, // another process owns it and was asked to reopen: leave
        noBus, // no session bus: run, without the guard
    };

    SingleInstance(QDBusConnection bus, QString name, QObject *parent = nullptr);

    // Takes the name, or asks its owner to reopen. Called once at start-up, before the event
    // loop runs; it waits for the bus (a few milliseconds).
    Claim claim();

    const QString &name() const { return m_name; }

public slots:
    // Called over the bus by a later start.
    Q_SCRIPTABLE void Reopen();

signals:
    void reopenRequested();

private:
    QDBusConnection m_bus;
    QString m_name;
};

} // namespace DriveCore
