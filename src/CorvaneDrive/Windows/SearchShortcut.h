#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
struct xcb_connection_t;

namespace CorvaneDrive {

// The system-wide shortcut Control+Alt+O that opens search: a key grab on the X server's root
// window, made only in an X11 session (XDG_SESSION_TYPE=x11). Under Wayland an X11 grab would
// fire only while one of our own windows has focus, so there, and whenever the server cannot be
// reached or another client holds the combination, there is silently no shortcut; search stays
// in the menu. Kept by its owner for the life of the process; destroying it releases the grab.
// Main thread.
class SearchShortcut : public QObject {
    Q_OBJECT
public:
    // The name under which a press is announced to the rest of the application.
    static inline const QString notification = QStringLiteral("com.corvane.drive.search.open");

    explicit SearchShortcut(QObject *parent = nullptr);
    ~SearchShortcut() override;

    // Whether the key is grabbed.
    bool isRegistered() const { return m_connection != nullptr; }

signals:
    // Control+Alt+O was pressed: once per press.
    void pressed();

private:
    void readEvents();
    void release();

    xcb_connection_t *m_connection = nullptr;
    unsigned int m_root = 0;
    unsigned char m_keycode = 0;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace CorvaneDrive
