#include "OvraFinder/Nautilus/NautilusFinder.h"

#include "OvraFinder/Nautilus/Emblems.h"
#include "OvraFinder/Nautilus/FinderLog.h"

#include <algorithm>

namespace OvraFinder {

namespace {

using KeepShared::KeepRequest;

// The local path of a file; nothing for files that have none (other locations than file://).
std::optional<std::string> pathOf(NautilusFileInfo *file)
{
    GFile *location = nautilus_file_info_get_location(file);
    if (!location)
        return std::nullopt;
    gchar *path = g_file_get_path(location);
    g_object_unref(location);
    if (!path)
        return std::nullopt;
    std::string result(path);
    g_free(path);
    return result;
}

std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// A menu item's action, which must not outlive the extension object it calls.
struct Activation {
    GWeakRef provider;
    NautilusFinder *finder;
    KeepRequest::Action action;
    std::vector<std::string> paths;
};

void releaseActivation(gpointer data, GClosure *)
{
    auto *activation = static_cast<Activation *>(data);
    g_weak_ref_clear(&activation->provider);
    delete activation;
}

} // namespace

NautilusFinder::NautilusFinder() : m_connecting(g_cancellable_new())
{
    g_bus_get(G_BUS_TYPE_SESSION, m_connecting, busReady, this);
}

NautilusFinder::~NautilusFinder()
{
    g_cancellable_cancel(m_connecting);
    g_object_unref(m_connecting);
    if (m_flush)
        g_source_remove(m_flush);
    for (const auto &[file, tracked] : m_tracked)
        g_object_weak_unref(G_OBJECT(file), fileFinalised, this);
    m_finder.reset();
    m_hellos.reset();
    m_bus.reset();
}

void NautilusFinder::busReady(GObject *, GAsyncResult *result, gpointer data)
{
    GError *error = nullptr;
    GDBusConnection *connection = g_bus_get_finish(result, &error);
    if (!connection) {
        // A cancelled connection means the extension is gone: `data` must not be touched.
        if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
            FinderLog::warning("No session bus, so no badges or Keep menu: %s", error->message);
        g_error_free(error);
        return;
    }
    static_cast<NautilusFinder *>(data)->connected(connection);
    g_object_unref(connection);
}

void NautilusFinder::connected(GDBusConnection *connection)
{
    m_bus = std::make_unique<GDBusNotificationCenter>(connection);
    m_hellos = std::make_unique<HelloThrottle>(*m_bus, m_clock);
    m_finder = std::make_unique<FinderSync>(*this, *m_hellos, m_clock);
    m_finder->start();
    FinderLog::info("Finder add-on started");
}

void NautilusFinder::updateFileInfo(NautilusFileInfo *file)
{
    const auto tracked = m_tracked.find(file);
    if (tracked != m_tracked.end() && tracked->second.clearing) {
        // The answer that clears the emblem of a file FinderSync let go. Passing it on would
        // remember the file again and let go of another, round and round.
        untrack(file);
        return;
    }
    if (!m_finder)
        return;
    const std::optional<std::string> path = pathOf(file);
    // Nautilus asks about every file it shows; only those in the drive concern FinderSync. A file
    // known from before (its mount left the state, as at sign-out) is answered like any other:
    // no emblem, and nothing shown or asked for, so that the next badge it gets asks again.
    if (!path || !watched(*path)) {
        if (tracked != m_tracked.end()) {
            tracked->second.shown.clear();
            tracked->second.invalidated = false;
        }
        return;
    }
    if (tracked != m_tracked.end() && tracked->second.path != *path) {
        // Renamed or moved: Nautilus keeps the object, FinderSync knows the old path.
        g_object_weak_unref(G_OBJECT(file), fileFinalised, this);
        forgetFile(file);
        remember(file, *path);
    } else if (tracked == m_tracked.end()) {
        remember(file, *path);
    }

    m_answering = file;
    const std::optional<std::string> evicted = m_finder->requestBadgeIdentifier(*path);
    m_answering = nullptr;
    if (evicted)
        release(*evicted);
}

GList *NautilusFinder::fileItems(GObject *provider, GList *files)
{
    if (!m_finder)
        return nullptr;
    std::vector<std::string> paths;
    for (GList *node = files; node; node = node->next) {
        // A file without a local path lies outside every mount, which leaves the menu out.
        paths.push_back(pathOf(NAUTILUS_FILE_INFO(node->data)).value_or(std::string()));
    }
    m_selection = paths;
    const std::optional<FinderSync::MenuItem> item = m_finder->menu(FinderSync::MenuKind::contextualMenuForItems);
    m_selection.reset();
    if (!item)
        return nullptr;

    NautilusMenuItem *menuItem = nautilus_menu_item_new("OvraFinder::Keep", item->title.c_str(), nullptr, nullptr);
    if (item->action) {
        auto *activation = new Activation{{}, this, *item->action, std::move(paths)};
        g_weak_ref_init(&activation->provider, provider);
        g_signal_connect_data(menuItem, "activate", G_CALLBACK(activate), activation, releaseActivation,
                              GConnectFlags(0));
    } else {
        g_object_set(menuItem, "sensitive", FALSE, nullptr);
    }
    return g_list_append(nullptr, menuItem);
}

GList *NautilusFinder::backgroundItems()
{
    if (m_finder)
        m_finder->menu(FinderSync::MenuKind::contextualMenuForContainer); // never an item
    return nullptr;
}

void NautilusFinder::activate(NautilusMenuItem *, gpointer data)
{
    auto *activation = static_cast<Activation *>(data);
    GObject *provider = G_OBJECT(g_weak_ref_get(&activation->provider));
    if (!provider)
        return;
    activation->finder->act(activation->action, activation->paths);
    g_object_unref(provider);
}

void NautilusFinder::act(KeepRequest::Action action, std::vector<std::string> paths)
{
    if (!m_finder)
        return;
    // The chosen files are those the menu was made for.
    m_selection = std::move(paths);
    if (action == KeepRequest::Action::keep)
        m_finder->keep();
    else
        m_finder->remove();
    m_selection.reset();
}

void NautilusFinder::setBadgeIdentifier(std::string_view identifier, const std::string &item)
{
    const auto remembered = m_remembered.find(item);
    if (remembered == m_remembered.end())
        return;
    NautilusFileInfo *file = remembered->second;
    Tracked &tracked = m_tracked.at(file);
    if (file == m_answering) {
        if (!identifier.empty())
            nautilus_file_info_add_emblem(file, emblemName(identifier).c_str());
        tracked.shown = identifier;
        tracked.invalidated = false;
        return;
    }
    if (tracked.invalidated || tracked.shown == identifier)
        return;
    tracked.invalidated = true;
    invalidate(file);
}

void NautilusFinder::setDirectoryURLs(const std::vector<std::string> &folders)
{
    m_watched.clear();
    for (std::string folder : folders) {
        while (folder.size() > 1 && folder.ends_with('/'))
            folder.pop_back();
        m_watched.push_back(std::move(folder));
    }
}

std::optional<std::vector<std::string>> NautilusFinder::selectedItemURLs()
{
    return m_selection;
}

bool NautilusFinder::watched(const std::string &path) const
{
    return std::ranges::any_of(m_watched, [&](const std::string &folder) {
        return path == folder || path.starts_with(folder == "/" ? folder : folder + '/');
    });
}

void NautilusFinder::remember(NautilusFileInfo *file, const std::string &path)
{
    // Nautilus keeps one object per location; should a second one turn up, it takes over.
    if (const auto previous = m_remembered.find(path); previous != m_remembered.end()) {
        NautilusFileInfo *old = previous->second;
        m_remembered.erase(previous);
        leaveFolder(path);
        untrack(old);
    }
    g_object_weak_ref(G_OBJECT(file), fileFinalised, this);
    m_tracked.emplace(file, Tracked{path, {}, false, false});
    m_remembered.emplace(path, file);
    const std::string folder = folderOf(path);
    if (m_folders[folder]++ == 0)
        m_finder->beginObservingDirectory(folder);
}

void NautilusFinder::release(const std::string &path)
{
    const auto remembered = m_remembered.find(path);
    if (remembered == m_remembered.end())
        return;
    NautilusFileInfo *file = remembered->second;
    m_remembered.erase(remembered);
    leaveFolder(path);
    Tracked &tracked = m_tracked.at(file);
    // An emblem on its way out still needs Nautilus's next question to be answered with nothing.
    if (tracked.invalidated)
        tracked.clearing = true;
    else
        untrack(file);
}

void NautilusFinder::untrack(NautilusFileInfo *file)
{
    g_object_weak_unref(G_OBJECT(file), fileFinalised, this);
    m_tracked.erase(file);
    m_invalidations.erase(file);
}

void NautilusFinder::leaveFolder(const std::string &path)
{
    const auto folder = m_folders.find(folderOf(path));
    if (folder != m_folders.end() && --folder->second == 0)
        m_folders.erase(folder);
}

void NautilusFinder::fileFinalised(gpointer data, GObject *object)
{
    static_cast<NautilusFinder *>(data)->forgetFile(reinterpret_cast<NautilusFileInfo *>(object));
}

void NautilusFinder::forgetFile(NautilusFileInfo *file)
{
    const auto tracked = m_tracked.find(file);
    if (tracked == m_tracked.end())
        return;
    if (!tracked->second.clearing) {
        const std::string &path = tracked->second.path;
        m_remembered.erase(path);
        leaveFolder(path);
        if (m_finder)
            m_finder->forget(path);
    }
    m_tracked.erase(tracked);
    m_invalidations.erase(file);
}

void NautilusFinder::invalidate(NautilusFileInfo *file)
{
    // Nautilus may ask again from inside the invalidation, so it waits until FinderSync is done.
    m_invalidations.insert(file);
    if (!m_flush)
        m_flush = g_idle_add(flushInvalidations, this);
}

gboolean NautilusFinder::flushInvalidations(gpointer data)
{
    auto *self = static_cast<NautilusFinder *>(data);
    self->m_flush = 0;
    const std::unordered_set<NautilusFileInfo *> files = std::move(self->m_invalidations);
    self->m_invalidations.clear();
    for (NautilusFileInfo *file : files) {
        // An answer given meanwhile may have dropped the file.
        if (self->m_tracked.contains(file))
            nautilus_file_info_invalidate_extension_info(file);
    }
    return G_SOURCE_REMOVE;
}

} // namespace OvraFinder
