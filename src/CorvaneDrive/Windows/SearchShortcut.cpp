#include "CorvaneDrive/Windows/SearchShortcut.h"

#include "DriveCore/support/Log.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <array>
#include <cstdlib>
#include <memory>

namespace CorvaneDrive {

namespace {

constexpr xcb_keysym_t keysymO = 0x006f; // XK_o
constexpr uint16_t modifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1; // Control and Alt
// Caps Lock and Num Lock change the state a press reports, so each of their combinations is
// grabbed too.
constexpr std::array<uint16_t, 4> lockCombinations{0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                   XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

const DriveCore::Log &log()
{
    static const DriveCore::Log instance("app");
    return instance;
}

} // namespace

SearchShortcut::SearchShortcut(QObject *parent) : QObject(parent)
{
    if (qEnvironmentVariable("XDG_SESSION_TYPE") != QLatin1String("x11"))
        return;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        log().info("No search shortcut: the X server can't be reached");
        return;
    }
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(setup).data;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(connection);
    std::unique_ptr<xcb_keycode_t, decltype(&std::free)> codes(
        symbols ? xcb_key_symbols_get_keycode(symbols, keysymO) : nullptr, &std::free);
    if (symbols)
        xcb_key_symbols_free(symbols);
    if (!screen || !codes || codes.get()[0] == XCB_NO_SYMBOL) {
        xcb_disconnect(connection);
        log().info("No search shortcut: the keyboard has no O key");
        return;
    }
    m_root = screen->root;
    m_keycode = codes.get()[0];
    // Every grab is checked: another client holding one of them makes the whole shortcut absent.
    bool grabbed = true;
    for (const uint16_t locks : lockCombinations) {
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 1, m_root, modifiers | locks, m_keycode,
                                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t *error = xcb_request_check(connection, cookie)) {
            std::free(error);
            grabbed = false;
        }
    }
    if (!grabbed) {
        for (const uint16_t locks : lockCombinations)
            xcb_ungrab_key(connection, m_keycode, m_root, modifiers | locks);
        xcb_flush(connection);
        xcb_disconnect(connection);
        log().info("No search shortcut: another application holds Control+Alt+O");
        return;
    }
    m_connection = connection;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SearchShortcut::readEvents);
    xcb_flush(connection);
}

SearchShortcut::~SearchShortcut()
{
    release();
}

void SearchShortcut::release()
{
    if (!m_connection)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    for (const uint16_t locks : lockCombinations)
        xcb_ungrab_key(m_connection, m_keycode, m_root, modifiers | locks);
    // A round trip: the server has let go of the key before this returns.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    xcb_disconnect(m_connection);
    m_connection = nullptr;
}

void SearchShortcut::readEvents()
{
    int presses = 0;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & ~0x80) == XCB_KEY_PRESS) {
            const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(event);
            if (press->detail == m_keycode && (press->state & (modifiers | XCB_MOD_MASK_SHIFT)) == modifiers)
                ++presses;
        }
        std::free(event);
    }
    if (xcb_connection_has_error(m_connection)) {
        // The server went away: the shortcut goes with it.
        log().info("The search shortcut ended: the X server closed the connection");
        delete m_notifier;
        m_notifier = nullptr;
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
    for (int i = 0; i < presses; ++i)
        emit pressed();
}

} // namespace CorvaneDrive
