#pragma once

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/platform/ProcessRunner.h"

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace DriveCore {

struct DriveSettings;
struct StorageSecrets;

// The engine's command line and configuration environment: it gets no configuration file.
class RcloneCommand {
public:
    // The passphrase could not be obscured.
    class ObscureError : public std::runtime_error {
    public:
        explicit ObscureError(const QString &description)
            : std::runtime_error(description.toStdString()), description(description)
        {
        }
        QString description;
    };

    explicit RcloneCommand(QString rcloneURL) : rcloneURL(std::move(rcloneURL)) {}

    QString rcloneURL; // the engine program, or "/nonexistent/rclone" when none was found

    // The mount process's arguments (without the program): 51 items, then "--read-only" when
    // read-only and the mount options of the file-system layer with the fskit engine.
    static QStringList mountArguments(const DriveSettings &settings, int rcPort, bool readOnly, DriveEngine engine);

    // The 12 variables that configure the two remotes.
    static Environment environment(const StorageSecrets &secrets, const QString &obscuredPassphrase);

    // RCLONE_RC_USER and RCLONE_RC_PASS.
    static Environment rcEnvironment(const QString &user, const QString &pass);

    // The engine's obscured-password form of `text`: AES-256-CTR under the engine's published
    // key, the IV (first 16 bytes of the text's SHA-256) in front, unpadded base64url.
    // Deterministic, so the same passphrase always gives the same text. Throws ObscureError.
    static QString obscure(const QString &text);
};

} // namespace DriveCore
