// The Nautilus (GNOME Files, API 4) side of the "Pictoravine" menu: the menu
// is built by gobject_menu.h; this file names Nautilus's types and entry points.

#include <glib-object.h>
// The header declares the module's entry points without C linkage; GLib's
// own headers are already in, so only Nautilus's declarations are wrapped.
extern "C" {
#include <nautilus-extension.h>
}

#include "shellext/gobject_menu.h"

namespace {

struct Nautilus {
  using Item = NautilusMenuItem;
  using Menu = NautilusMenu;
  using FileInfo = NautilusFileInfo;
  static Item* newItem(const char* name, const char* label, const char* tip) {
    return nautilus_menu_item_new(name, label, tip, nullptr);
  }
  static Menu* newMenu() { return nautilus_menu_new(); }
  static void append(Menu* m, Item* i) { nautilus_menu_append_item(m, i); }
  static void setSubmenu(Item* i, Menu* m) { nautilus_menu_item_set_submenu(i, m); }
  static GFile* location(FileInfo* f) { return nautilus_file_info_get_location(f); }
  static GType interfaceType() { return NAUTILUS_TYPE_MENU_PROVIDER; }
  static void fill(gpointer iface) {
    static_cast<NautilusMenuProviderInterface*>(iface)->get_file_items = [](NautilusMenuProvider*, GList* files) {
      return pv::shell::gobject::Menus<Nautilus>::fileItems(files);
    };
  }
};

using Provider = pv::shell::gobject::Provider<Nautilus>;

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void nautilus_module_initialize(GTypeModule* m) { Provider::registerIn(m); }
__attribute__((visibility("default"))) void nautilus_module_shutdown(void) {}
__attribute__((visibility("default"))) void nautilus_module_list_types(const GType** types, int* count) {
  Provider::listTypes(types, count);
}
}
