#pragma once

#include <QString>

namespace DriveCore {

// The user's standard folders, read from the environment on every call.
namespace StandardFolders {

// Each variable counts only when it holds an absolute path, as the base-directory rules say.
QString home(); // $HOME, else the passwd entry's home
QString configHome(); // $XDG_CONFIG_HOME, else ~/.config
QString dataHome(); // $XDG_DATA_HOME, else ~/.local/share
QString stateHome(); // $XDG_STATE_HOME, else ~/.local/state
QString temporary(); // $TMPDIR, else /tmp

} // namespace StandardFolders

// A per-operation folder under the temporary folder, made with mode 0700 and removed with
// everything in it when the object goes.
class TemporaryFolder {
public:
    // Throws std::system_error when the folder cannot be made.
    explicit TemporaryFolder(const QString &prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    const QString &path() const { return m_path; }
    QString filePath(const QString &name) const { return m_path + u'/' + name; }

private:
    QString m_path;
};

} // namespace DriveCore
