#include "CorvaneDrive/Setup/SetupScreenView.h"

#include "CorvaneDrive/UiStyle.h"

#include <QLabel>
#include <QVBoxLayout>

namespace CorvaneDrive {

QVBoxLayout *SetupScreenView::startColumn(int spacing, const QString &title)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    auto *heading = new QLabel(title, this);
    UiStyle::title2(heading);
    column->addWidget(heading);
    return column;
}

} // namespace CorvaneDrive
