// The autostart entry, read back by GLib's desktop-entry launcher (what the desktop session
// uses to start autostart entries at login), which runs a script standing in for the program.
#include "DriveCore/platform/LoginItem.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#pragma push_macro("signals")
#undef signals
#include <gio/gdesktopappinfo.h>
#pragma pop_macro("signals")

using namespace DriveCore;
using TestSupport::ScopedEnvironment;

namespace {

class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        env.set("HOME", root.filePath(QStringLiteral("home")).toUtf8());
        env.set("XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")).toUtf8());
        // GLib announces each launch on the session bus: a bus that is not there, so that it
        // starts none of its own.
        env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root.filePath(QStringLiteral("no-bus")).toUtf8());
    }

    // Starts the entry as the session would; the arguments the program got.
    QStringList launch(const QString &entryPath)
    {
        QFile::remove(argumentsFile());
        GError *error = nullptr;
        GDesktopAppInfo *info = g_desktop_app_info_new_from_filename(QFile::encodeName(entryPath).constData());
        if (!info) {
            ADD_FAILURE() << "GLib refused the entry:\n" << readAll(entryPath).toStdString();
            return {};
        }
        const bool launched = g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &error);
        g_object_unref(info);
        if (!launched) {
            ADD_FAILURE() << "the launch failed: " << error->message;
            g_error_free(error);
            return {};
        }
        if (!TestSupport::spinUntil([&] { return QFile::exists(argumentsFile() + QStringLiteral(".done")); })) {
            ADD_FAILURE() << "the program never ran";
            return {};
        }
        QStringList arguments;
        for (const QByteArray &argument : readAll(argumentsFile()).split('\0'))
            arguments.append(QString::fromUtf8(argument));
        arguments.removeLast(); // after the last NUL
        QFile::remove(argumentsFile() + QStringLiteral(".done"));
        return arguments;
    }

    // A program at `path` that writes the arguments it was started with.
    void writeProgram(const QString &path)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        const QString out = argumentsFile();
        TestSupport::writeScript(path,
                                 QStringLiteral("printf '%s\\0' \"$0\" \"$@\" > '%1'\ntouch '%1.done'\n").arg(out));
    }

    QString argumentsFile() const { return root.filePath(QStringLiteral("arguments")); }

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir root;
    ScopedEnvironment env;
};

TEST_F(LoginItemTest, TheSessionStartsTheProgramWithExactlyItsPathAndProfile)
{
    struct Row {
        QString name; // the program's folder, below the temporary folder
        std::optional<QString> profile;
    };
    for (const Row &row : std::vector<Row>{
             {"plain", std::nullopt},
             {"with space", QStringLiteral("Work")},
             {"tab\there", QStringLiteral("a\tb")},
             {"new\nline\nExec=/bin/false", QStringLiteral("two\nlines")},
             {"carriage\rreturn", std::nullopt},
             {"quote\"s and 'single'", QStringLiteral("it's \"x\"")},
             {"back\\slash\\\\n", QStringLiteral("\\t")},
             {"dollar $HOME ${x}", QStringLiteral("$USER")},
             {"back`tick` and ;&|<>*?#()=~", std::nullopt},
             // GLib looks for the program before it undoes "%%", so a "%" only in the profile.
             {"percent", QStringLiteral("100% %f %u %p")},
             {"~tilde", QString()},
             {"Caf\u00e9 \u2713", QStringLiteral("Z\u00fcrich")},
         }) {
        const QString program = root.filePath(row.name + QStringLiteral("/Corvane Drive"));
        writeProgram(program);
        ASSERT_NO_THROW(LoginItem::set(true, program, row.profile)) << row.name.toStdString();
        const QString path = LoginItem::entryPath(row.profile);
        EXPECT_EQ(readAll(path).count("\nExec="), 1) << row.name.toStdString();
        QStringList expected{program};
        if (row.profile)
            expected += {QStringLiteral("-OvraProfile"), *row.profile};
        EXPECT_EQ(launch(path), expected) << row.name.toStdString();
        LoginItem::set(false, program, row.profile);
    }
}

TEST_F(LoginItemTest, APathWithAnotherControlCharacterIsRefusedAndNothingIsWritten)
{
    for (const QString &program : {QStringLiteral("/opt/a\x01"
                                                  "b/corvane"),
                                   QStringLiteral("/opt/a\x7f/corvane")}) {
        EXPECT_THROW(LoginItem::set(true, program, std::nullopt), LoginItem::Failure);
        EXPECT_FALSE(QFile::exists(LoginItem::entryPath(std::nullopt)));
    }
    EXPECT_THROW(LoginItem::set(true, QStringLiteral("/usr/bin/corvane"), QStringLiteral("a\x1b")), LoginItem::Failure);
}

TEST_F(LoginItemTest, ARelativeConfigFolderIsIgnored)
{
    for (const QByteArray &value :
         {QByteArray("relative/config"), QByteArray("./config"), QByteArray("~/config"), QByteArray()}) {
        env.set("XDG_CONFIG_HOME", value);
        EXPECT_EQ(LoginItem::entryPath(std::nullopt),
                  root.filePath(QStringLiteral("home/.config/autostart/com.corvane.drive.desktop")))
            << value.constData();
    }
}

} // namespace
