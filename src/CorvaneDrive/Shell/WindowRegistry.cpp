#include "CorvaneDrive/Shell/WindowRegistry.h"

#include "CorvaneDrive/TopLevelWindow.h"
#include "DriveCore/support/Log.h"

namespace CorvaneDrive {

WindowRegistry::~WindowRegistry()
{
    for (const QPointer<QWidget> &window : std::as_const(m_windows))
        delete window.data();
}

void WindowRegistry::add(const QString &identifier, Factory make)
{
    m_factories.insert(identifier, std::move(make));
}

QWidget *WindowRegistry::open(const QString &identifier)
{
    QPointer<QWidget> &window = m_windows[identifier];
    if (!window) {
        const auto factory = m_factories.constFind(identifier);
        if (factory == m_factories.cend()) {
            m_windows.remove(identifier);
            DriveCore::Log("app").error("No window \"%{public}s\" in this build", identifier);
            return nullptr;
        }
        TopLevelWindow::announceRoles();
        window = (*factory)();
        window->setObjectName(identifier);
    }
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    emit opened(identifier);
    return window;
}

} // namespace CorvaneDrive
