#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace TestSupport {

// One object of an application's accessibility tree as a screen reader reads it over AT-SPI:
// its role ("push button", "label", "text", "check box", "radio button", "frame" ...), its name
// (a button's or label's text, a field's label) and its states; below it, the children that
// show on the screen.
struct Accessible {
    // AtspiStateType: the bit numbers of GetState's two words taken as one.
    enum State : int { active = 1, checked = 4, enabled = 8, focused = 12, sensitive = 24, showing = 25 };

    QString service;
    QString path;
    QString role;
    QString name;
    quint64 states = 0;
    std::vector<Accessible> children;

    bool has(State state) const { return (states >> state) & 1; }
    // Whether it takes input: shown, enabled and not greyed out.
    bool usable() const { return has(enabled) && has(sensitive); }
    // The first object at or below this one, depth first, for which `match` holds.
    const Accessible *find(const std::function<bool(const Accessible &)> &match) const;
    const Accessible *find(const QString &role, const QString &name) const;
    // Every name at or below this one, depth first, for failure messages.
    QStringList names() const;
};

// The desktop's accessibility bus for one X display, as a desktop session has it: Debian's
// at-spi-bus-launcher (at-spi2-core) with accessibility switched on, its own bus and the
// registry at-spi2-registryd on it. Qt applications on the display that start afterwards
// publish their windows there. The launcher, its bus and the registry are stopped when this
// goes away.
class AccessibilityBus {
public:
    explicit AccessibilityBus(QString display);
    AccessibilityBus(const AccessibilityBus &) = delete;
    AccessibilityBus &operator=(const AccessibilityBus &) = delete;
    ~AccessibilityBus();

    // Starts the launcher on the session bus and connects to the accessibility bus; false (see
    // output()) when that does not happen within 10 s.
    bool start();
    QString output();

    // The top-level window named `name` of the application with process id `pid`, with
    // everything that shows in it; none while there is no such window.
    std::optional<Accessible> window(qint64 pid, const QString &name);
    // Where `object` lies on the screen; empty when it cannot be asked.
    QRect extents(const Accessible &object);
    // The text an editable field holds (masked fields give their mask).
    QString text(const Accessible &object);

private:
    std::optional<QDBusMessage> call(const QString &service, const QString &path, const QString &interface,
                                     const QString &method, const QVariantList &arguments = {});
    std::optional<Accessible> read(const QString &service, const QString &path, int depth);
    std::vector<std::pair<QString, QString>> children(const QString &service, const QString &path);

    QString m_display;
    QProcess m_launcher;
    QString m_address;
    QString m_connectionName;
    QByteArray m_output;
};

} // namespace TestSupport
