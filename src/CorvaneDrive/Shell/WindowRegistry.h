#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace CorvaneDrive {

// The application's windows by identifier ("setup", "home", ...), at most one of each: opening
// an open window brings it to the front. A window is made only when something opens it; none
// opens at launch by itself. A window that deletes itself on close is made afresh the next time;
// one that only hides comes back as it was. Main thread.
class WindowRegistry : public QObject {
    Q_OBJECT
public:
    using Factory = std::function<QWidget *()>;

    using QObject::QObject;
    ~WindowRegistry() override;

    // Registers how the window `identifier` is made; a later call replaces an unmade one.
    void add(const QString &identifier, Factory make);
    bool has(const QString &identifier) const { return m_factories.contains(identifier); }

    // Makes the window if needed, shows it and brings it to the front. None when no window of
    // that identifier is registered.
    QWidget *open(const QString &identifier);
    // The window while it exists.
    QWidget *window(const QString &identifier) const { return m_windows.value(identifier); }

signals:
    void opened(const QString &identifier);

private:
    QHash<QString, Factory> m_factories;
    QHash<QString, QPointer<QWidget>> m_windows;
};

} // namespace CorvaneDrive
