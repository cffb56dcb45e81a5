#include "support/Screenshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

namespace TestSupport {

QString saveScreenshot(QWidget &widget, const QString &name)
{
    QString build = qEnvironmentVariable("CORVANE_TEST_BINARY_DIR");
    if (build.isEmpty())
        build = QDir::currentPath();
    const QString folder = build + QStringLiteral("/screenshots");
    const QString path = folder + u'/' + name + QStringLiteral(".png");
    // Pending layout and paint work first, so the picture shows the window's current state.
    QCoreApplication::processEvents();
    QWidget &window = *widget.window();
    const QPixmap picture = window.grab();
    EXPECT_TRUE(QDir().mkpath(folder) && picture.save(path, "PNG")) << "cannot write " << path.toStdString();
    return path;
}

} // namespace TestSupport
