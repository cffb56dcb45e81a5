#pragma once

#include <QHideEvent>

#include <functional>
#include <utility>

// Tells the app model once when a window comes into view and once when it goes away (closed,
// hidden or destroyed while shown), so that its refresh runs faster only while a window is open.
// Minimising is not going away.
class WindowPresence {
public:
    WindowPresence(std::function<void()> opened, std::function<void()> closed)
        : m_opened(std::move(opened)), m_closed(std::move(closed))
    {
    }
    ~WindowPresence()
    {
        if (m_open && m_closed)
            m_closed();
    }
    WindowPresence(const WindowPresence &) = delete;
    WindowPresence &operator=(const WindowPresence &) = delete;

    // From the window's showEvent; true when it has just come into view.
    bool shown()
    {
        if (m_open)
            return false;
        m_open = true;
        if (m_opened)
            m_opened();
        return true;
    }

    // From the window's hideEvent.
    void hidden(const QHideEvent &event)
    {
        if (!m_open || event.spontaneous())
            return;
        m_open = false;
        if (m_closed)
            m_closed();
    }

private:
    std::function<void()> m_opened;
    std::function<void()> m_closed;
    bool m_open = false;
};
