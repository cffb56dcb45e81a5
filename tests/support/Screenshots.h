#pragma once

#include <QString>

class QWidget;

namespace TestSupport {

// Saves what `widget` shows as <build folder>/screenshots/<name>.png, for a person to look at;
// returns the file's path, or an empty text when it could not be written.
QString saveScreenshot(QWidget &widget, const QString &name);

} // namespace TestSupport
