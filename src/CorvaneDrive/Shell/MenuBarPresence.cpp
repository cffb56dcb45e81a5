#include "CorvaneDrive/Shell/MenuBarPresence.h"

namespace CorvaneDrive {

void MenuBarPresence::setShown(bool shown)
{
    if (m_shown == shown)
        return;
    m_shown = shown;
    emit shownChanged();
}

void MenuBarPresence::setHomeWanted(bool wanted)
{
    if (m_homeWanted == wanted)
        return;
    m_homeWanted = wanted;
    emit homeWantedChanged();
}

} // namespace CorvaneDrive
