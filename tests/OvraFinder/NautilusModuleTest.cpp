// The built module as GNOME Files uses it: opened with GModule, started through its entry points
// by a GTypeModule, its one object asked for emblems and menus about test file-info objects, on a
// private session bus (the test's launcher) where the test plays the application.

#include "OvraFinder/Nautilus/Emblems.h"
#include "OvraFinder/Nautilus/NautilusExtension.h"

#include "KeepShared/KeepBridge.h"
#include "KeepShared/KeepBus.h"

#include <gmodule.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

using KeepShared::FinderBadgeSnapshot;
using KeepShared::KeepRequest;
using KeepShared::KeepState;
namespace KeepBridge = KeepShared::KeepBridge;
namespace KeepBus = KeepShared::KeepBus;

namespace {

// ---- A file-info object, as Nautilus's own files are to extensions.

struct FileState {
    std::string path;
    std::vector<std::string> emblems; // added since the last question
    int invalidations = 0;
};

struct TestFileInfo {
    GObject parent;
    FileState *state;
};

struct TestFileInfoClass {
    GObjectClass parent;
};

GObjectClass *fileParentClass = nullptr;

FileState &stateOf(gpointer file)
{
    return *reinterpret_cast<TestFileInfo *>(file)->state;
}

GFile *fileLocation(NautilusFileInfo *file)
{
    return g_file_new_for_path(stateOf(file).path.c_str());
}

char *fileUri(NautilusFileInfo *file)
{
    GFile *location = fileLocation(file);
    char *uri = g_file_get_uri(location);
    g_object_unref(location);
    return uri;
}

gboolean fileIsGone(NautilusFileInfo *)
{
    return FALSE;
}

void fileAddEmblem(NautilusFileInfo *file, const char *emblem)
{
    stateOf(file).emblems.emplace_back(emblem);
}

void fileInvalidate(NautilusFileInfo *file)
{
    ++stateOf(file).invalidations;
}

void fileInfoInit(gpointer interface, gpointer)
{
    auto *info = static_cast<NautilusFileInfoInterface *>(interface);
    info->is_gone = fileIsGone;
    info->get_uri = fileUri;
    info->get_location = fileLocation;
    info->add_emblem = fileAddEmblem;
    info->invalidate_extension_info = fileInvalidate;
}

void fileFinalize(GObject *object)
{
    delete reinterpret_cast<TestFileInfo *>(object)->state;
    fileParentClass->finalize(object);
}

void fileClassInit(gpointer typeClass, gpointer)
{
    fileParentClass = G_OBJECT_CLASS(g_type_class_peek_parent(typeClass));
    G_OBJECT_CLASS(typeClass)->finalize = fileFinalize;
}

void fileInit(GTypeInstance *instance, gpointer)
{
    reinterpret_cast<TestFileInfo *>(instance)->state = new FileState;
}

GType testFileInfoType()
{
    static const GType type = [] {
        const GType registered =
            g_type_register_static_simple(G_TYPE_OBJECT, "OvraFinderTestFileInfo", sizeof(TestFileInfoClass),
                                          fileClassInit, sizeof(TestFileInfo), fileInit, GTypeFlags(0));
        const GInterfaceInfo info{fileInfoInit, nullptr, nullptr};
        g_type_add_interface_static(registered, NAUTILUS_TYPE_FILE_INFO, &info);
        return registered;
    }();
    return type;
}

// Owns one reference; dropping it lets the object go, as Nautilus lets go of files it no longer shows.
struct FileUnref {
    void operator()(NautilusFileInfo *file) const { g_object_unref(file); }
};
using File = std::unique_ptr<NautilusFileInfo, FileUnref>;

File makeFile(const std::string &path)
{
    auto *file = NAUTILUS_FILE_INFO(g_object_new(testFileInfoType(), nullptr));
    stateOf(file).path = path;
    return File(file);
}

// ---- The loader, as GNOME Files has it: a GTypeModule whose load opens the library.

struct LoaderModule {
    GTypeModule parent;
    GModule *library;
    void (*initialize)(GTypeModule *);
    void (*shutdown)();
    void (*listTypes)(const GType **, int *);
};

struct LoaderModuleClass {
    GTypeModuleClass parent;
};

gboolean loaderLoad(GTypeModule *module)
{
    auto *loader = reinterpret_cast<LoaderModule *>(module);
    loader->library = g_module_open(OVRA_FINDER_MODULE, GModuleFlags(G_MODULE_BIND_LAZY | G_MODULE_BIND_LOCAL));
    if (!loader->library) {
        ADD_FAILURE() << g_module_error();
        return FALSE;
    }
    if (!g_module_symbol(loader->library, "nautilus_module_initialize",
                         reinterpret_cast<gpointer *>(&loader->initialize))
        || !g_module_symbol(loader->library, "nautilus_module_shutdown",
                            reinterpret_cast<gpointer *>(&loader->shutdown))
        || !g_module_symbol(loader->library, "nautilus_module_list_types",
                            reinterpret_cast<gpointer *>(&loader->listTypes))) {
        ADD_FAILURE() << g_module_error();
        g_module_close(loader->library);
        return FALSE;
    }
    loader->initialize(module);
    return TRUE;
}

void loaderUnload(GTypeModule *module)
{
    auto *loader = reinterpret_cast<LoaderModule *>(module);
    loader->shutdown();
    g_module_close(loader->library);
}

void loaderClassInit(gpointer typeClass, gpointer)
{
    G_TYPE_MODULE_CLASS(typeClass)->load = loaderLoad;
    G_TYPE_MODULE_CLASS(typeClass)->unload = loaderUnload;
}

GType loaderType()
{
    static const GType type =
        g_type_register_static_simple(G_TYPE_TYPE_MODULE, "OvraFinderTestLoader", sizeof(LoaderModuleClass),
                                      loaderClassInit, sizeof(LoaderModule), nullptr, GTypeFlags(0));
    return type;
}

// ---- The application's end of the bus.

class Application {
public:
    Application()
    {
        GError *error = nullptr;
        m_connection = g_dbus_connection_new_for_address_sync(
            g_getenv("DBUS_SESSION_BUS_ADDRESS"),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                                 | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (!m_connection) {
            ADD_FAILURE() << "no session bus: " << error->message;
            g_error_free(error);
            return;
        }
        subscribe(KeepBus::helloSignal, [this](GVariant *) { ++hellos; });
        subscribe(KeepBus::requestSignal, [this](GVariant *parameters) {
            const gchar *text = nullptr;
            g_variant_get(parameters, "(&s)", &text);
            requests.push_back(KeepBridge::decode<KeepRequest>(std::string_view(text)).value());
        });
        // A round trip, so that the bus has our match rules before anything is posted.
        GVariant *reply = g_dbus_connection_call_sync(m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (reply)
            g_variant_unref(reply);
    }

    ~Application()
    {
        if (!m_connection)
            return;
        for (guint subscription : m_subscriptions)
            g_dbus_connection_signal_unsubscribe(m_connection, subscription);
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
    }

    void post(const KeepBus::Signal &signal, const std::string &json)
    {
        g_dbus_connection_emit_signal(m_connection, nullptr, std::string(KeepBus::objectPath).c_str(),
                                      std::string(signal.interface).c_str(), std::string(signal.member).c_str(),
                                      g_variant_new("(s)", json.c_str()), nullptr);
    }
    void postState(const KeepState &state) { post(KeepBus::stateSignal, KeepBridge::encode(state).value()); }
    void postSnapshot(const FinderBadgeSnapshot &snapshot)
    {
        post(KeepBus::badgesSignal, KeepBridge::encode(snapshot).value());
    }

    int hellos = 0;
    std::vector<KeepRequest> requests;

private:
    using Handler = std::function<void(GVariant *)>;

    static void deliver(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                        GVariant *parameters, gpointer data)
    {
        (*static_cast<Handler *>(data))(parameters);
    }

    void subscribe(const KeepBus::Signal &signal, Handler handler)
    {
        m_subscriptions.push_back(g_dbus_connection_signal_subscribe(
            m_connection, nullptr, std::string(signal.interface).c_str(), std::string(signal.member).c_str(),
            std::string(KeepBus::objectPath).c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE, deliver,
            new Handler(std::move(handler)), [](gpointer data) { delete static_cast<Handler *>(data); }));
    }

    GDBusConnection *m_connection = nullptr;
    std::vector<guint> m_subscriptions;
};

// Runs the main context until `done` holds; fails the test after 20 s.
bool await(const std::function<bool()> &done, const std::string &what)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "timed out waiting for " << what;
            return false;
        }
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    return true;
}

// Runs everything already due on the main context, such as idle work.
void settle()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

std::string emblem(std::string_view identifier)
{
    return OvraFinder::emblemName(identifier);
}

class NautilusModuleTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        application = new Application;
        auto *module = G_TYPE_MODULE(g_object_new(loaderType(), nullptr));
        ASSERT_TRUE(g_type_module_use(module));
        const GType *types = nullptr;
        int count = 0;
        reinterpret_cast<LoaderModule *>(module)->listTypes(&types, &count);
        ASSERT_EQ(count, 1);
        extension = G_OBJECT(g_object_new(types[0], nullptr));
        // The object keeps the module in use, as in GNOME Files.
        g_type_module_unuse(module);
        await([] { return application->hellos > 0; }, "the hello at start-up");
        startHellos = application->hellos;
    }

    static void TearDownTestSuite()
    {
        g_object_unref(extension);
        settle();
        delete application;
    }

    // What Nautilus does to show a file: drop the emblems of the last answer and ask again.
    static std::vector<std::string> ask(const File &file)
    {
        stateOf(file.get()).emblems.clear();
        // An answer that is complete on return never calls it.
        GClosure *complete = g_cclosure_new(G_CALLBACK(+[] { ADD_FAILURE() << "called back"; }), nullptr, nullptr);
        g_closure_ref(complete);
        g_closure_sink(complete);
        NautilusOperationHandle *handle = nullptr;
        const NautilusOperationResult result =
            nautilus_info_provider_update_file_info(NAUTILUS_INFO_PROVIDER(extension), file.get(), complete, &handle);
        g_closure_unref(complete);
        EXPECT_EQ(result, NAUTILUS_OPERATION_COMPLETE);
        return stateOf(file.get()).emblems;
    }

    static int invalidations(const File &file) { return stateOf(file.get()).invalidations; }

    // The menu for the chosen files: nothing, or its one item.
    static NautilusMenuItem *menuFor(const std::vector<const File *> &files)
    {
        GList *list = nullptr;
        for (const File *file : files)
            list = g_list_append(list, file->get());
        GList *items = nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(extension), list);
        g_list_free(list);
        if (!items)
            return nullptr;
        EXPECT_EQ(g_list_length(items), 1u);
        auto *item = NAUTILUS_MENU_ITEM(items->data);
        g_list_free(items);
        return item;
    }

    static std::string label(NautilusMenuItem *item)
    {
        gchar *text = nullptr;
        g_object_get(item, "label", &text, nullptr);
        std::string result(text ? text : "");
        g_free(text);
        return result;
    }

    static bool sensitive(NautilusMenuItem *item)
    {
        gboolean value = FALSE;
        g_object_get(item, "sensitive", &value, nullptr);
        return value;
    }

    // Posts the state and waits until the module has it, which its menu shows.
    static void postStateAndWait(const KeepState &state, const File &probe)
    {
        application->postState(state);
        await(
            [&] {
                NautilusMenuItem *item = menuFor({&probe});
                if (item)
                    g_object_unref(item);
                return item != nullptr;
            },
            "the keep state to arrive");
    }

    static inline Application *application = nullptr;
    static inline GObject *extension = nullptr;
    static inline int startHellos = 0;
};

} // namespace

TEST_F(NautilusModuleTest, saysHelloOnceWhenItStarts)
{
    EXPECT_EQ(startHellos, 1);
}

TEST_F(NautilusModuleTest, emblemsComeFromTheLastSnapshotAndOnlyChangedFilesAreAskedAgain)
{
    const std::string mount = "/tmp/ovra-module-test/Badges";
    const File kept = makeFile(mount + "/Photos/a.jpg");
    const File cloud = makeFile(mount + "/b.txt");
    const File outside = makeFile("/tmp/ovra-module-test/elsewhere/c.txt");
    postStateAndWait({{mount}, {{mount, {"Photos"}}}}, cloud);

    // No snapshot yet: no emblems, at once.
    EXPECT_TRUE(ask(kept).empty());
    EXPECT_TRUE(ask(cloud).empty());
    EXPECT_TRUE(ask(outside).empty());

    const FinderBadgeSnapshot snapshot(mount, {{"Photos", true, "done"}}, {}, true, true);
    application->postSnapshot(snapshot);
    await([&] { return invalidations(kept) == 1 && invalidations(cloud) == 1; }, "the snapshot's invalidations");
    EXPECT_EQ(ask(kept), std::vector<std::string>{emblem("kept")});
    EXPECT_EQ(ask(cloud), std::vector<std::string>{emblem("cloud")});
    EXPECT_TRUE(ask(outside).empty());

    // The same snapshot again changes nothing; then only the file whose badge changes is asked again.
    application->postSnapshot(snapshot);
    application->postSnapshot(FinderBadgeSnapshot(mount, {{"Photos", true, "done"}}, {"b.txt"}, true, false));
    await([&] { return invalidations(cloud) == 2; }, "the second snapshot's invalidation");
    settle();
    EXPECT_EQ(invalidations(kept), 1);
    EXPECT_EQ(invalidations(outside), 0);
    EXPECT_EQ(ask(cloud), std::vector<std::string>{emblem("paused")});

    // The application's last snapshot when it stops clears every emblem.
    application->postSnapshot(FinderBadgeSnapshot(mount, {}, {}, false, true));
    await([&] { return invalidations(kept) == 2 && invalidations(cloud) == 3; }, "the clearing snapshot");
    EXPECT_TRUE(ask(kept).empty());
    EXPECT_TRUE(ask(cloud).empty());
}

TEST_F(NautilusModuleTest, theMenuItemAsksTheApplicationToKeepOrRemove)
{
    const std::string mount = "/tmp/ovra-module-test/Menu";
    const std::string otherMount = "/tmp/ovra-module-test/Other";
    const File a = makeFile(mount + "/Photos/a.jpg");
    const File b = makeFile(mount + "/Photos/b.jpg");
    const File photos = makeFile(mount + "/Photos");
    const File elsewhere = makeFile(otherMount + "/c.txt");
    postStateAndWait({{mount, otherMount}, {{mount, {"Photos"}}}}, b);

    NautilusMenuItem *one = menuFor({&a});
    ASSERT_TRUE(one);
    EXPECT_EQ(label(one), "Kept with folder \u201cPhotos\u201d");
    EXPECT_FALSE(sensitive(one));
    g_object_unref(one);

    NautilusMenuItem *two = menuFor({&a, &b});
    ASSERT_TRUE(two);
    EXPECT_EQ(label(two), "Keep on This Computer");
    EXPECT_TRUE(sensitive(two));
    nautilus_menu_item_activate(two);
    g_object_unref(two);
    await([&] { return application->requests.size() == 1; }, "the keep request");
    EXPECT_EQ(application->requests.back(),
              (KeepRequest{KeepRequest::Action::keep, {mount + "/Photos/a.jpg", mount + "/Photos/b.jpg"}}));

    NautilusMenuItem *remove = menuFor({&photos});
    ASSERT_TRUE(remove);
    EXPECT_EQ(label(remove), "Remove from Keep on This Computer");
    nautilus_menu_item_activate(remove);
    g_object_unref(remove);
    await([&] { return application->requests.size() == 2; }, "the remove request");
    EXPECT_EQ(application->requests.back(), (KeepRequest{KeepRequest::Action::remove, {mount + "/Photos"}}));

    EXPECT_EQ(menuFor({&a, &elsewhere}), nullptr);
    EXPECT_EQ(nautilus_menu_provider_get_background_items(NAUTILUS_MENU_PROVIDER(extension), photos.get()), nullptr);
}

TEST_F(NautilusModuleTest, aFolderShownAgainAfterItsFilesWentSaysHelloAtMostOnceASecond)
{
    const std::string mount = "/tmp/ovra-module-test/Hello";
    const File probe = makeFile(mount + "/probe");
    postStateAndWait({{mount}, {}}, probe);
    application->postSnapshot(FinderBadgeSnapshot(mount, {}, {}, true, true));
    await([&] { return ask(probe) == std::vector<std::string>{emblem("cloud")}; }, "the snapshot");
    const auto throttle = std::chrono::microseconds(std::chrono::milliseconds(1100)).count();

    g_usleep(throttle);
    const int before = application->hellos;
    File first = makeFile(mount + "/A/x");
    File sibling = makeFile(mount + "/A/z");
    ask(first);
    ask(sibling); // folder A is already shown
    await([&] { return application->hellos == before + 1; }, "the hello for folder A");
    const File second = makeFile(mount + "/B/y");
    ask(second); // a new folder within the second: no hello

    // Files that Nautilus lets go are forgotten: once folder A's files are gone, showing it
    // again is a new beginning.
    first.reset();
    sibling.reset();
    g_usleep(throttle);
    const File third = makeFile(mount + "/A/w");
    ask(third);
    await([&] { return application->hellos == before + 2; }, "the hello for folder A shown again");

    // A request posted after them all arrives after them all.
    NautilusMenuItem *item = menuFor({&third});
    ASSERT_TRUE(item);
    nautilus_menu_item_activate(item);
    g_object_unref(item);
    const std::size_t requests = application->requests.size();
    await([&] { return application->requests.size() == requests + 1; }, "the request after the hellos");
    EXPECT_EQ(application->hellos, before + 2);

    // The next snapshot touches the files still shown and nothing that went.
    application->postSnapshot(FinderBadgeSnapshot(mount, {{"A", true, "done"}}, {}, true, true));
    await([&] { return invalidations(third) == 1; }, "the snapshot for folder A");
    EXPECT_EQ(ask(third), std::vector<std::string>{emblem("kept")});
}

TEST_F(NautilusModuleTest, aFileLetGoForTheTenThousandAndFirstLosesItsEmblemWithoutAChain)
{
    const std::string mount = "/tmp/ovra-module-test/Many";
    const File probe = makeFile(mount + "/probe");
    postStateAndWait({{mount}, {}}, probe);
    application->postSnapshot(FinderBadgeSnapshot(mount, {}, {}, true, true));
    File first = makeFile(mount + "/first");
    await([&] { return ask(first) == std::vector<std::string>{emblem("cloud")}; }, "the snapshot");

    std::vector<File> files;
    files.push_back(std::move(first));
    for (int i = 1; i < 10000; ++i) {
        files.push_back(makeFile(mount + "/f" + std::to_string(i)));
        ask(files.back());
    }
    settle();
    // How often each was asked to be asked again so far (the first one, by the snapshot).
    std::vector<int> before;
    for (const File &file : files)
        before.push_back(invalidations(file));

    const File extra = makeFile(mount + "/extra");
    EXPECT_EQ(ask(extra), std::vector<std::string>{emblem("cloud")});
    settle();
    std::vector<std::size_t> invalidated;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (invalidations(files[i]) > before[i])
            invalidated.push_back(i);
    }
    ASSERT_EQ(invalidated.size(), 1u);

    // Nautilus asks again about the evicted file: it loses its emblem, and nothing else is let go.
    EXPECT_TRUE(ask(files[invalidated[0]]).empty());
    settle();
    int added = invalidations(extra);
    for (std::size_t i = 0; i < files.size(); ++i)
        added += invalidations(files[i]) - before[i];
    EXPECT_EQ(added, 1);
}

TEST_F(NautilusModuleTest, aFileStillShownAfterASignOutGetsItsEmblemBackWhenTheMountReturns)
{
    const std::string mount = "/tmp/ovra-module-test/SignOut";
    const File file = makeFile(mount + "/a.txt");
    postStateAndWait({{mount}, {}}, file);
    application->postSnapshot(FinderBadgeSnapshot(mount, {}, {}, true, true));
    await([&] { return ask(file) == std::vector<std::string>{emblem("cloud")}; }, "the emblem");
    settle();

    // Signed out: a state without the mount. The file is asked again and shows nothing.
    const int shown = invalidations(file);
    application->postState({{}, {}});
    await([&] { return invalidations(file) > shown; }, "the invalidation at sign-out");
    EXPECT_TRUE(ask(file).empty());

    // Signed in again: the same file object is asked again, and its emblem is back.
    const int cleared = invalidations(file);
    application->postState({{mount}, {}});
    application->postSnapshot(FinderBadgeSnapshot(mount, {}, {}, true, true));
    await([&] { return invalidations(file) > cleared; }, "the invalidation once the mount is back");
    EXPECT_EQ(ask(file), std::vector<std::string>{emblem("cloud")});
}
