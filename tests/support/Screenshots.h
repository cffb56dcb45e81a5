#pragma once

#include <QString>

class QWidget;

namespace TestSupport {

// Renders the widget's window as it stands and saves it as <build folder>/screenshots/<name>.png
// (the build folder from CORVANE_TEST_BINARY_DIR, which CTest sets), for a person to look at.
// Returns the file's path; fails the running test when the file can't be written.
QString saveScreenshot(QWidget &widget, const QString &name);

} // namespace TestSupport
