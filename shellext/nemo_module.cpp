// The Nemo (Cinnamon) side of the "Pictoravine" menu: the menu is built by
// gobject_menu.h; this file names Nemo's types and entry points.

#include <libnemo-extension/nemo-file-info.h>
#include <libnemo-extension/nemo-menu-provider.h>
#include <libnemo-extension/nemo-menu.h>

#include "shellext/gobject_menu.h"

namespace {

struct Nemo {
  using Item = NemoMenuItem;
  using Menu = NemoMenu;
  using FileInfo = NemoFileInfo;
  static Item* newItem(const char* name, const char* label, const char* tip) {
    return nemo_menu_item_new(name, label, tip, nullptr);
  }
  static Menu* newMenu() { return nemo_menu_new(); }
  static void append(Menu* m, Item* i) { nemo_menu_append_item(m, i); }
  static void setSubmenu(Item* i, Menu* m) { nemo_menu_item_set_submenu(i, m); }
  static GFile* location(FileInfo* f) { return nemo_file_info_get_location(f); }
  static GType interfaceType() { return NEMO_TYPE_MENU_PROVIDER; }
  static void fill(gpointer iface) {
    static_cast<NemoMenuProviderInterface*>(iface)->get_file_items = [](NemoMenuProvider*, GtkWidget*,
                                                                         GList* files) {
      return pv::shell::gobject::Menus<Nemo>::fileItems(files);
    };
  }
};

using Provider = pv::shell::gobject::Provider<Nemo>;

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void nemo_module_initialize(GTypeModule* m) { Provider::registerIn(m); }
__attribute__((visibility("default"))) void nemo_module_shutdown(void) {}
__attribute__((visibility("default"))) void nemo_module_list_types(const GType** types, int* count) {
  Provider::listTypes(types, count);
}
}
