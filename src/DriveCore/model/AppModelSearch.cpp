#include "DriveCore/model/AppModel.h"

namespace DriveCore {

namespace {

// The model as the search refresh reads and writes it. Used only while the refresh's token,
// which the model's lifetime also cancels, is not cancelled.
class SearchAccess final : public DriveSearch::SearchRefreshing {
public:
    SearchAccess(AppModel &model, std::function<bool()> signingOut, std::function<void(DriveSearch::Index)> setIndex,
                 std::function<void(QDateTime)> setIndexedAt)
        : m_model(model), m_signingOut(std::move(signingOut)), m_setIndex(std::move(setIndex)),
          m_setIndexedAt(std::move(setIndexedAt))
    {
    }

    bool online() const override { return m_model.online(); }
    bool supervisorRunning() const override { return m_model.supervisor().state().kind == SupervisorState::running; }
    std::optional<RCClient> rc() const override { return m_model.supervisor().rc(); }
    std::optional<DriveSettings> settings() const override { return m_model.settings(); }
    bool isChangingDrive() const override { return m_model.isChangingDrive(); }
    bool signingOut() const override { return m_signingOut(); }
    QDateTime now() const override { return m_model.hooks().now(); }
    QCoro::Task<QList<DriveSearchEntry>> searchListing(RCClient rc, CancelToken token) override
    {
        return m_model.hooks().searchListing(std::move(rc), token);
    }
    void setSearchIndex(DriveSearch::Index index) override { m_setIndex(std::move(index)); }
    void setSearchIndexedAt(QDateTime date) override { m_setIndexedAt(std::move(date)); }

private:
    AppModel &m_model;
    std::function<bool()> m_signingOut;
    std::function<void(DriveSearch::Index)> m_setIndex;
    std::function<void(QDateTime)> m_setIndexedAt;
};

} // namespace

QCoro::Task<> AppModel::refreshSearchIndex(CancelToken token)
{
    const ActionToken cancel(token, lifetime());
    SearchAccess access(
        *this, [this] { return signOutRunning(); },
        [this](DriveSearch::Index index) { assign(m_searchIndex, std::move(index), &AppModel::searchIndexChanged); },
        [this](QDateTime date) {
            assign(m_searchIndexedAt, std::optional(std::move(date)), &AppModel::searchIndexedAtChanged);
        });
    co_await DriveSearch::refreshSearchIndex(access, cancel.token());
}

} // namespace DriveCore
