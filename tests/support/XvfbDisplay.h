#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>

namespace TestSupport {

// A private X server (Xvfb) for tests that need a real display, with its screen readable as
// an image and xdotool pointed at it. The server is stopped and its folder removed when this
// goes away.
class XvfbDisplay {
public:
    XvfbDisplay();
    XvfbDisplay(const XvfbDisplay &) = delete;
    XvfbDisplay &operator=(const XvfbDisplay &) = delete;
    ~XvfbDisplay();

    // Starts the server; false (see output()) when it does not come up within 10 s.
    bool start(int width = 1024, int height = 768);
    // ":<n>", for DISPLAY.
    const QString &display() const { return m_display; }
    QString output();

    // What the screen shows now.
    QImage screen() const;
    // Saves the screen as <build folder>/screenshots/<name>.png; the path, or empty on failure.
    QString saveScreenshot(const QString &name) const;

    // Runs xdotool with `arguments` on this display; its standard output, or none when it fails
    // or does not end within 10 s.
    std::optional<QString> xdotool(const QStringList &arguments) const;
    // The ids of the visible windows whose name matches `pattern` (a regular expression).
    QStringList windows(const QString &pattern) const;
    // The ids of the top-level windows from the bottom of the stack to the top (xwininfo).
    QStringList stacking() const;
    // Waits until a visible window whose name matches `pattern` and that is not in `except`
    // shows; its id, or empty when none did within `limit`.
    QString awaitWindow(const QString &pattern, const QStringList &except = {},
                        std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

private:
    QTemporaryDir m_folder;
    QProcess m_server;
    QString m_display;
};

} // namespace TestSupport
