#pragma once

#include <QDBusConnection>
#include <QString>

#include <optional>

namespace DriveCore {

// The computer's name and the user's full name, as first-run setup proposes them.
namespace SystemNames {

// hostnamed's pretty host name, else its static one; none when hostnamed does not answer
// within a second or has neither. Blocking: call it off the main thread.
std::optional<QString> hostnamedName(QDBusConnection systemBus);
// gethostname(2); none when it fails or is empty.
std::optional<QString> hostName();
// Starts reading hostnamed's name off the main thread, once per process.
void prefetch();
// The name hostnamed gave, once prefetch() has read it; until then, or when it gave none,
// hostName(). Does not block.
std::optional<QString> computerName();

// The name of a passwd GECOS field: the text before its first comma; none when empty.
std::optional<QString> gecosName(const QByteArray &gecos);
// The logged-in user's full name from the passwd entry, else the login name.
QString fullUserName();

} // namespace SystemNames

} // namespace DriveCore
