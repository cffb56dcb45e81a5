#pragma once

#include "OvraFinder/FinderSync.h"
#include "OvraFinder/FinderSyncController.h"
#include "OvraFinder/HelloThrottle.h"
#include "OvraFinder/Nautilus/GDBusNotificationCenter.h"
#include "OvraFinder/Nautilus/GLibFinderClock.h"
#include "OvraFinder/Nautilus/NautilusExtension.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace OvraFinder {

// FinderSync inside GNOME Files. Nautilus asks for each file's extension info and expects the
// answer at once: the emblem comes from the last state received, with no waiting and no threads.
// An emblem can only be changed by asking Nautilus to ask again, so the file-info objects of the
// files that FinderSync remembers are kept (weakly) and invalidated when their badge changes.
// Nautilus has no begin or end of showing a folder: the first file asked for in a folder begins
// it, and files that Nautilus lets go are forgotten. Everything runs on Nautilus's main thread.
class NautilusFinder final : public FinderSyncController {
public:
    // Connects to the session bus; FinderSync starts once the connection is there, and until
    // then every file gets no emblem and no menu.
    NautilusFinder();
    NautilusFinder(const NautilusFinder &) = delete;
    NautilusFinder &operator=(const NautilusFinder &) = delete;
    ~NautilusFinder() override;

    // The info provider: adds the file's emblem, if it has one, before returning.
    void updateFileInfo(NautilusFileInfo *file);
    // The menu provider: the Keep item for the chosen files, or none. `provider` is the extension
    // object that owns this one; the item's action does nothing once it is gone.
    GList *fileItems(GObject *provider, GList *files);
    GList *backgroundItems();

    // FinderSyncController
    void setBadgeIdentifier(std::string_view identifier, const std::string &item) override;
    void setDirectoryURLs(const std::vector<std::string> &folders) override;
    std::optional<std::vector<std::string>> selectedItemURLs() override;

private:
    // What is known of one file-info object.
    struct Tracked {
        std::string path;
        std::string shown; // the badge identifier of its emblem, empty for none
        bool invalidated = false; // Nautilus was asked to ask again
        bool clearing = false; // no longer remembered: its next answer only clears the emblem
    };

    static void busReady(GObject *source, GAsyncResult *result, gpointer data);
    static void fileFinalised(gpointer data, GObject *file);
    static gboolean flushInvalidations(gpointer data);
    static void activate(NautilusMenuItem *item, gpointer data);

    void connected(GDBusConnection *connection);
    bool watched(const std::string &path) const;
    void remember(NautilusFileInfo *file, const std::string &path);
    void release(const std::string &path);
    void untrack(NautilusFileInfo *file);
    // Forgets a file as if Nautilus had let it go; its weak reference is the caller's to drop.
    void forgetFile(NautilusFileInfo *file);
    void leaveFolder(const std::string &path);
    void invalidate(NautilusFileInfo *file);
    void act(KeepShared::KeepRequest::Action action, std::vector<std::string> paths);

    GLibFinderClock m_clock;
    std::unique_ptr<GDBusNotificationCenter> m_bus;
    std::unique_ptr<HelloThrottle> m_hellos;
    std::unique_ptr<FinderSync> m_finder;
    GCancellable *m_connecting;

    std::vector<std::string> m_watched; // standardised mount folders
    std::unordered_map<NautilusFileInfo *, Tracked> m_tracked; // each held by a weak reference
    std::unordered_map<std::string, NautilusFileInfo *> m_remembered; // what FinderSync remembers
    std::unordered_map<std::string, std::size_t> m_folders; // remembered files per folder
    std::unordered_set<NautilusFileInfo *> m_invalidations; // waiting for the idle flush
    guint m_flush = 0;
    NautilusFileInfo *m_answering = nullptr;
    std::optional<std::vector<std::string>> m_selection;
};

} // namespace OvraFinder
