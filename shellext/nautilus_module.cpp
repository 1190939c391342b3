// The Nautilus side of the "Pictoravine" menu: a menu provider type that
// Nautilus (API 4) loads from this module. It asks the menu model for the
// items of the current selection and turns them into NautilusMenuItems; an
// activated item performs its command and starts the program with
// g_spawn_async and an argument vector, so blanks, quotes and other letters in
// paths reach it unchanged.

#include <dlfcn.h>
#include <gio/gio.h>
#include <glib-object.h>
// The header declares the module's entry points without C linkage; GLib's
// own headers are already in, so only Nautilus's declarations are wrapped.
extern "C" {
#include <nautilus-extension.h>
}

#include <memory>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/profiles.h"
#include "shellext/menu_model.h"

namespace {

using pv::shell::MenuEntry;

// What an activated item needs: the menu it came from, its offset and the
// files of the selection. Each menu build makes one, shared by its items.
struct Selection {
  pv::shell::ShellMenu menu;
  std::vector<std::string> files;
  std::string configPath;
};

struct Activation {
  std::shared_ptr<const Selection> selection;
  int offset;
};

std::string moduleFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&moduleFolder), &info) == 0 || !info.dli_fname) return {};
  std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void activate(NautilusMenuItem*, gpointer data) {
  const auto* a = static_cast<const Activation*>(data);
  const Selection& s = *a->selection;
  const std::vector<std::string> argv = pv::shell::perform(s.menu.commandAt(a->offset), s.files, s.configPath,
                                                           pv::shell::programPath(moduleFolder()));
  if (argv.empty()) return;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // Started like any program the user opens; a failed start is not reported,
  // as the menu has nowhere to report it.
  g_spawn_async(nullptr, args.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, nullptr);
}

// The label of an entry: Nautilus 43 menus draw neither check marks nor
// separators, so a checked profile carries one in its text.
std::string labelOf(const MenuEntry& e) { return e.checked ? "\u2713 " + e.label : e.label; }

NautilusMenu* submenuOf(const std::vector<MenuEntry>& entries, const std::shared_ptr<const Selection>& selection,
                        const std::string& prefix);

NautilusMenuItem* itemOf(const MenuEntry& e, const std::shared_ptr<const Selection>& selection,
                         const std::string& name) {
  NautilusMenuItem* item = nautilus_menu_item_new(name.c_str(), labelOf(e).c_str(), e.tip.c_str(), nullptr);
  if (e.kind == MenuEntry::Kind::Greyed) g_object_set(item, "sensitive", FALSE, nullptr);
  if (e.kind == MenuEntry::Kind::Submenu) {
    NautilusMenu* sub = submenuOf(e.children, selection, name + "::");
    nautilus_menu_item_set_submenu(item, sub);
    g_object_unref(sub);
  }
  if (e.offset >= 0)
    g_signal_connect_data(item, "activate", G_CALLBACK(activate), new Activation{selection, e.offset},
                          [](gpointer data, GClosure*) { delete static_cast<Activation*>(data); },
                          GConnectFlags(0));
  return item;
}

NautilusMenu* submenuOf(const std::vector<MenuEntry>& entries, const std::shared_ptr<const Selection>& selection,
                        const std::string& prefix) {
  NautilusMenu* menu = nautilus_menu_new();
  int n = 0;
  for (const MenuEntry& e : entries) {
    if (e.kind == MenuEntry::Kind::Separator) continue;
    NautilusMenuItem* item = itemOf(e, selection, prefix + std::to_string(n++));
    nautilus_menu_append_item(menu, item);
    g_object_unref(item);
  }
  return menu;
}

// The local paths of the selection; a remote file gives an empty path.
std::vector<std::string> pathsOf(GList* files) {
  std::vector<std::string> paths;
  for (GList* l = files; l; l = l->next) {
    GFile* location = nautilus_file_info_get_location(NAUTILUS_FILE_INFO(l->data));
    char* path = location ? g_file_get_path(location) : nullptr;
    paths.emplace_back(path ? path : "");
    g_free(path);
    if (location) g_object_unref(location);
  }
  return paths;
}

GList* getFileItems(NautilusMenuProvider*, GList* files) {
  const std::string configPath = pv::dataFolder(false) + "/config.ini";
  if (!pv::shell::menuEnabled(configPath)) return nullptr;
  std::vector<std::string> accepted = pv::shell::acceptedFiles(pathsOf(files));
  if (accepted.empty()) return nullptr;
  auto selection = std::make_shared<Selection>(
      Selection{pv::shell::ShellMenu::build(configPath, pv::listProfileNames()), std::move(accepted), configPath});
  MenuEntry root{.kind = MenuEntry::Kind::Submenu, .label = pv::shell::kRootLabel, .children = selection->menu.entries()};
  root.tip = "Convert the selected images with Pictoravine";
  return g_list_append(nullptr, itemOf(root, selection, "Pictoravine::Menu"));
}

// The folder background's menu gets nothing: the menu acts on selected files.
GList* getBackgroundItems(NautilusMenuProvider*, NautilusFileInfo*) { return nullptr; }

void menuProviderInit(gpointer iface, gpointer) {
  auto* i = static_cast<NautilusMenuProviderInterface*>(iface);
  i->get_file_items = getFileItems;
  i->get_background_items = getBackgroundItems;
}

GType providerType = 0;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void nautilus_module_initialize(GTypeModule* module) {
  static const GTypeInfo info = {sizeof(GObjectClass), nullptr, nullptr, nullptr, nullptr, nullptr,
                                 sizeof(GObject),      0,       nullptr, nullptr};
  providerType = g_type_module_register_type(module, G_TYPE_OBJECT, "PictoravineMenuProvider", &info, GTypeFlags(0));
  static const GInterfaceInfo menu = {menuProviderInit, nullptr, nullptr};
  g_type_module_add_interface(module, providerType, NAUTILUS_TYPE_MENU_PROVIDER, &menu);
}

__attribute__((visibility("default"))) void nautilus_module_shutdown(void) {}

__attribute__((visibility("default"))) void nautilus_module_list_types(const GType** types, int* count) {
  static GType list[1];
  list[0] = providerType;
  *types = list;
  *count = 1;
}

}  // extern "C"
