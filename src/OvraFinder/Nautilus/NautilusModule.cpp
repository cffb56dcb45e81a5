// The module that GNOME Files loads: one extension type, an info provider and a menu provider,
// whose one object Nautilus makes and keeps for as long as it runs.

#include "OvraFinder/Nautilus/NautilusExtension.h"
#include "OvraFinder/Nautilus/NautilusFinder.h"

namespace {

struct OvraFinderExtension {
    GObject parent;
    OvraFinder::NautilusFinder *finder;
};

struct OvraFinderExtensionClass {
    GObjectClass parent;
};

GType extensionType = G_TYPE_INVALID;
GObjectClass *parentClass = nullptr;

OvraFinder::NautilusFinder &finderOf(gpointer object)
{
    return *reinterpret_cast<OvraFinderExtension *>(object)->finder;
}

void finalize(GObject *object)
{
    delete reinterpret_cast<OvraFinderExtension *>(object)->finder;
    parentClass->finalize(object);
}

void classInit(gpointer typeClass, gpointer)
{
    parentClass = G_OBJECT_CLASS(g_type_class_peek_parent(typeClass));
    G_OBJECT_CLASS(typeClass)->finalize = finalize;
}

void instanceInit(GTypeInstance *instance, gpointer)
{
    reinterpret_cast<OvraFinderExtension *>(instance)->finder = new OvraFinder::NautilusFinder();
}

NautilusOperationResult updateFileInfo(NautilusInfoProvider *provider, NautilusFileInfo *file, GClosure *,
                                       NautilusOperationHandle **)
{
    finderOf(provider).updateFileInfo(file);
    return NAUTILUS_OPERATION_COMPLETE;
}

// Every answer is complete before it returns, so there is never anything to cancel.
void cancelUpdate(NautilusInfoProvider *, NautilusOperationHandle *) {}

void infoProviderInit(gpointer interface, gpointer)
{
    auto *provider = static_cast<NautilusInfoProviderInterface *>(interface);
    provider->update_file_info = updateFileInfo;
    provider->cancel_update = cancelUpdate;
}

GList *fileItems(NautilusMenuProvider *provider, GList *files)
{
    return finderOf(provider).fileItems(G_OBJECT(provider), files);
}

GList *backgroundItems(NautilusMenuProvider *provider, NautilusFileInfo *)
{
    return finderOf(provider).backgroundItems();
}

void menuProviderInit(gpointer interface, gpointer)
{
    auto *provider = static_cast<NautilusMenuProviderInterface *>(interface);
    provider->get_file_items = fileItems;
    provider->get_background_items = backgroundItems;
}

} // namespace

extern "C" {

G_MODULE_EXPORT void nautilus_module_initialize(GTypeModule *module)
{
    const GTypeInfo type{
        .class_size = sizeof(OvraFinderExtensionClass),
        .base_init = nullptr,
        .base_finalize = nullptr,
        .class_init = classInit,
        .class_finalize = nullptr,
        .class_data = nullptr,
        .instance_size = sizeof(OvraFinderExtension),
        .n_preallocs = 0,
        .instance_init = instanceInit,
        .value_table = nullptr,
    };
    extensionType = g_type_module_register_type(module, G_TYPE_OBJECT, "OvraFinderExtension", &type, GTypeFlags(0));
    const GInterfaceInfo infoProvider{infoProviderInit, nullptr, nullptr};
    g_type_module_add_interface(module, extensionType, NAUTILUS_TYPE_INFO_PROVIDER, &infoProvider);
    const GInterfaceInfo menuProvider{menuProviderInit, nullptr, nullptr};
    g_type_module_add_interface(module, extensionType, NAUTILUS_TYPE_MENU_PROVIDER, &menuProvider);
}

G_MODULE_EXPORT void nautilus_module_shutdown(void) {}

G_MODULE_EXPORT void nautilus_module_list_types(const GType **types, int *num_types)
{
    static GType list[1];
    list[0] = extensionType;
    *types = list;
    *num_types = 1;
}

} // extern "C"
