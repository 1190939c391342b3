#pragma once
// The "Pictoravine" menu for the GObject file managers (Nautilus, Nemo, Caja,
// Thunar). Their extension libraries differ only in names: a menu item type
// with a name, label and tip, a menu it can carry, a file-info interface that
// gives each file's GFile, and a menu provider asked for the items of a
// selection. Each module describes its library in a small traits struct and
// this header does the rest once: it asks the menu model for the items of the
// selection, builds them, and on activation performs the item's command and
// starts the program with g_spawn_async and an argument vector, so blanks,
// quotes and other letters in paths reach it unchanged.
//
// A traits struct `T` gives:
//   using Item, Menu, FileInfo;
//   static Item* newItem(const char* name, const char* label, const char* tip);
//   static Menu* newMenu();
//   static void append(Menu*, Item*);
//   static void setSubmenu(Item*, Menu*);
//   static GFile* location(FileInfo*);   // a new reference, or null
//   static GType interfaceType();         // the menu provider interface
//   static void fill(gpointer iface);     // sets its file-items function
// and the module's entry points call Provider<T>.

#include <dlfcn.h>
#include <gio/gio.h>
#include <glib-object.h>

#include <memory>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/profiles.h"
#include "shellext/menu_model.h"

namespace pv::shell::gobject {

// The folder of the module this code is linked into (each module has its own
// copy of this inline function's static address).
inline std::string moduleFolder() {
  Dl_info info{};
  static const int anchor = 0;
  if (dladdr(&anchor, &info) == 0 || !info.dli_fname) return {};
  std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// What an activated item needs: the menu it came from, its offset and the
// files of the selection. Each menu build makes one, shared by its items.
struct Selection {
  ShellMenu menu;
  std::vector<std::string> files;
  std::string configPath;
};

struct Activation {
  std::shared_ptr<const Selection> selection;
  int offset;
};

inline void start(const Activation& a) {
  const Selection& s = *a.selection;
  const std::vector<std::string> argv =
      perform(s.menu.commandAt(a.offset), s.files, s.configPath, programPath(moduleFolder()));
  if (argv.empty()) return;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // Started like any program the user opens; a failed start is not reported,
  // as the menu has nowhere to report it.
  g_spawn_async(nullptr, args.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, nullptr);
}

// The label of an entry. Of these menus only some draw check marks, and
// Nautilus 43 draws no separators, so every module shows the same: a checked
// profile carries its mark in its text and separators are left out.
inline std::string labelOf(const MenuEntry& e) { return e.checked ? "\u2713 " + e.label : e.label; }

template <class T>
struct Menus {
  using Item = typename T::Item;
  using Menu = typename T::Menu;

  static void activate(Item*, gpointer data) { start(*static_cast<const Activation*>(data)); }

  static Item* itemOf(const MenuEntry& e, const std::shared_ptr<const Selection>& selection, const std::string& name) {
    Item* item = T::newItem(name.c_str(), labelOf(e).c_str(), e.tip.c_str());
    if (e.kind == MenuEntry::Kind::Greyed) g_object_set(item, "sensitive", FALSE, nullptr);
    if (e.kind == MenuEntry::Kind::Submenu) {
      Menu* sub = submenuOf(e.children, selection, name + "::");
      T::setSubmenu(item, sub);
      g_object_unref(sub);
    }
    if (e.offset >= 0)
      g_signal_connect_data(item, "activate", G_CALLBACK(activate), new Activation{selection, e.offset},
                            [](gpointer data, GClosure*) { delete static_cast<Activation*>(data); },
                            GConnectFlags(0));
    return item;
  }

  static Menu* submenuOf(const std::vector<MenuEntry>& entries, const std::shared_ptr<const Selection>& selection,
                         const std::string& prefix) {
    Menu* menu = T::newMenu();
    int n = 0;
    for (const MenuEntry& e : entries) {
      if (e.kind == MenuEntry::Kind::Separator) continue;
      Item* item = itemOf(e, selection, prefix + std::to_string(n++));
      T::append(menu, item);
      g_object_unref(item);
    }
    return menu;
  }

  // The local paths of the selection; a remote file gives an empty path.
  static std::vector<std::string> pathsOf(GList* files) {
    std::vector<std::string> paths;
    for (GList* l = files; l; l = l->next) {
      GFile* location = T::location(static_cast<typename T::FileInfo*>(l->data));
      char* path = location ? g_file_get_path(location) : nullptr;
      paths.emplace_back(path ? path : "");
      g_free(path);
      if (location) g_object_unref(location);
    }
    return paths;
  }

  // The one "Pictoravine" item for a selection, in a new list; null when the
  // menu is switched off or no selected file is one the program reads.
  static GList* fileItems(GList* files) {
    const std::string configPath = configFilePath(false);
    if (!menuEnabled(configPath)) return nullptr;
    std::vector<std::string> accepted = acceptedFiles(pathsOf(files));
    if (accepted.empty()) return nullptr;
    auto selection = std::make_shared<Selection>(
        Selection{ShellMenu::build(configPath, listProfileNames()), std::move(accepted), configPath});
    MenuEntry root{.kind = MenuEntry::Kind::Submenu, .label = kRootLabel, .children = selection->menu.entries()};
    root.tip = "Convert the selected images with Pictoravine";
    return g_list_append(nullptr, itemOf(root, selection, "Pictoravine::Menu"));
  }
};

// The GObject type every module registers: a plain object that implements its
// file manager's menu provider interface.
template <class T>
struct Provider {
  static inline GType type = 0;

  // Registers the type through the file manager's module object: a
  // GTypeModule, or Thunar's provider plugin (`registerType` and
  // `addInterface` are its two functions).
  template <class Module, class Register, class AddInterface>
  static void registerIn(Module* module, Register registerType, AddInterface addInterface) {
    static const GTypeInfo info = {sizeof(GObjectClass), nullptr, nullptr, nullptr, nullptr, nullptr,
                                   sizeof(GObject),      0,       nullptr, nullptr};
    type = registerType(module, G_TYPE_OBJECT, "PictoravineMenuProvider", &info, GTypeFlags(0));
    static const GInterfaceInfo menu = {[](gpointer iface, gpointer) { T::fill(iface); }, nullptr, nullptr};
    addInterface(module, type, T::interfaceType(), &menu);
  }

  static void registerIn(GTypeModule* module) {
    registerIn(module, g_type_module_register_type, g_type_module_add_interface);
  }

  static void listTypes(const GType** types, int* count) {
    *types = &type;
    *count = 1;
  }
};

}  // namespace pv::shell::gobject
