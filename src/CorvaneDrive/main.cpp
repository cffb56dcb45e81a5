#include "DriveCore/engine/AppVersion.h"
#include "DriveCore/platform/AppInfo.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << DriveCore::AppVersion::menuLine(DriveCore::AppInfo::dictionary()).value_or(QString()) << '\n';
    return 0;
}
