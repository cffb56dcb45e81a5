#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QStringList>

namespace TestSupport {

// A file manager on a bus of the test's own: owns org.freedesktop.FileManager1 and notes each
// ShowItems call it gets.
class FileManagerStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    struct Call {
        QStringList uris;
        QString startupId;
    };

    // Connects to the bus at `address` under a connection of its own.
    explicit FileManagerStandIn(const QString &address);
    ~FileManagerStandIn() override;

    // Claims the name and serves the object; false when either fails.
    bool start();
    const QList<Call> &calls() const { return m_calls; }

public slots:
    void ShowItems(const QStringList &uris, const QString &startupId);

private:
    QString m_name;
    QDBusConnection m_bus;
    QList<Call> m_calls;
};

} // namespace TestSupport
