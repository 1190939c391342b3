// The Caja (MATE) side of the "Pictoravine" menu: the menu is built by
// gobject_menu.h; this file names Caja's types and entry points.

#include <libcaja-extension/caja-file-info.h>
#include <libcaja-extension/caja-menu-provider.h>
#include <libcaja-extension/caja-menu.h>

#include "shellext/gobject_menu.h"

namespace {

struct Caja {
  using Item = CajaMenuItem;
  using Menu = CajaMenu;
  using FileInfo = CajaFileInfo;
  static Item* newItem(const char* name, const char* label, const char* tip) {
    return caja_menu_item_new(name, label, tip, nullptr);
  }
  static Menu* newMenu() { return caja_menu_new(); }
  static void append(Menu* m, Item* i) { caja_menu_append_item(m, i); }
  static void setSubmenu(Item* i, Menu* m) { caja_menu_item_set_submenu(i, m); }
  static GFile* location(FileInfo* f) { return caja_file_info_get_location(f); }
  static GType interfaceType() { return CAJA_TYPE_MENU_PROVIDER; }
  static void fill(gpointer iface) {
    static_cast<CajaMenuProviderIface*>(iface)->get_file_items = [](CajaMenuProvider*, GtkWidget*, GList* files) {
      return pv::shell::gobject::Menus<Caja>::fileItems(files);
    };
  }
};

using Provider = pv::shell::gobject::Provider<Caja>;

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void caja_module_initialize(GTypeModule* m) { Provider::registerIn(m); }
__attribute__((visibility("default"))) void caja_module_shutdown(void) {}
__attribute__((visibility("default"))) void caja_module_list_types(const GType** types, int* count) {
  Provider::listTypes(types, count);
}
}
