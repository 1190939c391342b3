// The Thunar (Xfce, thunarx-3) side of the "Pictoravine" menu: the menu is
// built by gobject_menu.h; this file names Thunar's types and entry points.

#include <gtk/gtk.h>
// Some of thunarx's headers declare their functions without C linkage; GTK's
// and GLib's own are already in, so only thunarx's are wrapped.
extern "C" {
#include <thunarx/thunarx.h>
}

#include "shellext/gobject_menu.h"

namespace {

struct Thunar {
  using Item = ThunarxMenuItem;
  using Menu = ThunarxMenu;
  using FileInfo = ThunarxFileInfo;
  static Item* newItem(const char* name, const char* label, const char* tip) {
    return thunarx_menu_item_new(name, label, tip, nullptr);
  }
  static Menu* newMenu() { return thunarx_menu_new(); }
  static void append(Menu* m, Item* i) { thunarx_menu_append_item(m, i); }
  static void setSubmenu(Item* i, Menu* m) { thunarx_menu_item_set_menu(i, m); }
  static GFile* location(FileInfo* f) { return thunarx_file_info_get_location(f); }
  static GType interfaceType() { return THUNARX_TYPE_MENU_PROVIDER; }
  static void fill(gpointer iface) {
    static_cast<ThunarxMenuProviderIface*>(iface)->get_file_menu_items = [](ThunarxMenuProvider*, GtkWidget*,
                                                                             GList* files) {
      return pv::shell::gobject::Menus<Thunar>::fileItems(files);
    };
  }
};

using Provider = pv::shell::gobject::Provider<Thunar>;

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void thunar_extension_initialize(ThunarxProviderPlugin* plugin) {
  // A Thunar built against another thunarx ABI is left without the menu.
  if (thunarx_check_version(THUNARX_MAJOR_VERSION, THUNARX_MINOR_VERSION, THUNARX_MICRO_VERSION)) return;
  Provider::registerIn(plugin, thunarx_provider_plugin_register_type, thunarx_provider_plugin_add_interface);
}
__attribute__((visibility("default"))) void thunar_extension_shutdown(void) {}
__attribute__((visibility("default"))) void thunar_extension_list_types(const GType** types, gint* count) {
  Provider::listTypes(types, count);
}
}
