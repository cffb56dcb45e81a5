#include "support/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace TestSupport {

QString saveScreenshot(QWidget &widget, const QString &name)
{
    const QString root = qEnvironmentVariable("CORVANE_TEST_BINARY_DIR", QDir::currentPath());
    const QDir folder(root + QStringLiteral("/screenshots"));
    if (!folder.mkpath(QStringLiteral(".")))
        return {};
    // Layouts and pending paints settle first, so the picture shows the widget's current face.
    QApplication::processEvents();
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    return widget.grab().save(path) ? path : QString();
}

} // namespace TestSupport
