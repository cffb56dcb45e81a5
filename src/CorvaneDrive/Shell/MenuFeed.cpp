#include "CorvaneDrive/Shell/MenuFeed.h"

#include "DriveCore/shares/SharesModel.h"

namespace CorvaneDrive {

using DriveCore::AppModel;

MenuFeed::MenuFeed(AppModel *model, Perform perform, QObject *parent)
    : QObject(parent), m_model(model), m_perform(std::move(perform))
{
    // Every value the rows read, directly or through a derived value.
    for (auto signal : {&AppModel::phaseChanged, &AppModel::statusLineChanged, &AppModel::keepProgressChanged,
                        &AppModel::isEjectedChanged, &AppModel::settingsChanged, &AppModel::conflictsChanged,
                        &AppModel::engineInUseChanged})
        connect(model, signal, this, &MenuFeed::changed);
}

void MenuFeed::setShares(DriveCore::SharesModel *shares)
{
    if (m_shares == shares)
        return;
    m_shares = shares;
    connect(shares, &DriveCore::SharesModel::changed, this, &MenuFeed::changed);
    emit changed();
}

QList<MenuContent::Row> MenuFeed::rows() const
{
    if (!m_model)
        return {};
    return MenuContent::rows(MenuContent::input(*m_model, m_shares));
}

} // namespace CorvaneDrive
