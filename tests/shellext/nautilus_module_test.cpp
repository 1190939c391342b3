// libextpv.so loaded the way Nautilus loads it: dlopen, initialised with a
// GTypeModule, its provider type listed and asked for the items of file-info
// objects of the test's own; activating an item starts a stand-in program
// that records its arguments.
#include <dlfcn.h>
#include <gio/gio.h>
#include <glib-object.h>
extern "C" {
#include <nautilus-extension.h>
}

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/ini.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;

namespace {

// A GTypeModule whose load() runs the module's nautilus_module_initialize.
using InitializeFn = void (*)(GTypeModule*);
using ListTypesFn = void (*)(const GType**, int*);
InitializeFn initializeFn = nullptr;

GType testModuleType() {
  static GType type = [] {
    const GTypeInfo info = {
        sizeof(GTypeModuleClass), nullptr, nullptr,
        [](gpointer klass, gpointer) {
          auto* c = G_TYPE_MODULE_CLASS(klass);
          c->load = [](GTypeModule* m) -> gboolean {
            initializeFn(m);
            return TRUE;
          };
          c->unload = [](GTypeModule*) {};
        },
        nullptr, nullptr, sizeof(GTypeModule), 0, nullptr, nullptr};
    return g_type_register_static(G_TYPE_TYPE_MODULE, "PvTestModule", &info, GTypeFlags(0));
  }();
  return type;
}

// A file as Nautilus shows it: only its location matters to the menu.
struct TestFile {
  GObject parent;
  GFile* location;
};

GType testFileType() {
  static GType type = [] {
    const GTypeInfo info = {sizeof(GObjectClass),
                            nullptr,
                            nullptr,
                            [](gpointer klass, gpointer) {
                              G_OBJECT_CLASS(klass)->finalize = [](GObject* o) {
                                g_object_unref(reinterpret_cast<TestFile*>(o)->location);
                                G_OBJECT_CLASS(g_type_class_peek(G_TYPE_OBJECT))->finalize(o);
                              };
                            },
                            nullptr,
                            nullptr,
                            sizeof(TestFile),
                            0,
                            nullptr,
                            nullptr};
    GType t = g_type_register_static(G_TYPE_OBJECT, "PvTestFile", &info, GTypeFlags(0));
    const GInterfaceInfo fileInfo = {[](gpointer iface, gpointer) {
                                       static_cast<NautilusFileInfoInterface*>(iface)->get_location =
                                           [](NautilusFileInfo* f) -> GFile* {
                                         return G_FILE(g_object_ref(reinterpret_cast<TestFile*>(f)->location));
                                       };
                                     },
                                     nullptr, nullptr};
    g_type_add_interface_static(t, NAUTILUS_TYPE_FILE_INFO, &fileInfo);
    return t;
  }();
  return type;
}

// A list of files: local paths, or URIs when they have a scheme.
GList* filesOf(const std::vector<std::string>& names) {
  GList* list = nullptr;
  for (const std::string& n : names) {
    auto* f = static_cast<TestFile*>(g_object_new(testFileType(), nullptr));
    f->location = n.find("://") != std::string::npos ? g_file_new_for_uri(n.c_str()) : g_file_new_for_path(n.c_str());
    list = g_list_append(list, f);
  }
  return list;
}

std::string propertyOf(GObject* o, const char* name) {
  char* v = nullptr;
  g_object_get(o, name, &v, nullptr);
  std::string s = v ? v : "";
  g_free(v);
  return s;
}

std::vector<NautilusMenuItem*> itemsOf(NautilusMenuItem* item) {
  NautilusMenu* menu = nullptr;
  g_object_get(item, "menu", &menu, nullptr);
  std::vector<NautilusMenuItem*> out;
  if (!menu) return out;
  GList* items = nautilus_menu_get_items(menu);
  for (GList* l = items; l; l = l->next) out.push_back(NAUTILUS_MENU_ITEM(l->data));
  nautilus_menu_item_list_free(items);  // the menu still holds them
  g_object_unref(menu);
  return out;
}

std::string labelsOf(NautilusMenuItem* item) {
  std::string out;
  for (NautilusMenuItem* i : itemsOf(item)) {
    if (!out.empty()) out += " | ";
    out += propertyOf(G_OBJECT(i), "label");
    gboolean sensitive = TRUE;
    g_object_get(i, "sensitive", &sensitive, nullptr);
    if (!sensitive) out += " (greyed)";
    if (!itemsOf(i).empty()) out += " {" + labelsOf(i) + "}";
  }
  return out;
}

NautilusMenuItem* find(NautilusMenuItem* root, const std::string& label) {
  for (NautilusMenuItem* i : itemsOf(root)) {
    if (propertyOf(G_OBJECT(i), "label") == label) return i;
    if (NautilusMenuItem* inner = find(i, label)) return inner;
  }
  return nullptr;
}

class NautilusModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    handle_ = dlopen(PV_EXTPV, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    initializeFn = reinterpret_cast<InitializeFn>(dlsym(handle_, "nautilus_module_initialize"));
    auto list = reinterpret_cast<ListTypesFn>(dlsym(handle_, "nautilus_module_list_types"));
    ASSERT_TRUE(initializeFn && list && dlsym(handle_, "nautilus_module_shutdown"));
    module_ = G_TYPE_MODULE(g_object_new(testModuleType(), nullptr));
    ASSERT_TRUE(g_type_module_use(module_));
    const GType* types = nullptr;
    int count = 0;
    list(&types, &count);
    ASSERT_EQ(count, 1);
    ASSERT_TRUE(g_type_is_a(types[0], NAUTILUS_TYPE_MENU_PROVIDER));
    provider_ = NAUTILUS_MENU_PROVIDER(g_object_new(types[0], nullptr));
  }

  // The items for `names`, or null when the module adds none.
  NautilusMenuItem* menuFor(const std::vector<std::string>& names) {
    GList* files = filesOf(names);
    GList* items = nautilus_menu_provider_get_file_items(provider_, files);
    g_list_free_full(files, g_object_unref);
    if (!items) return nullptr;
    EXPECT_EQ(g_list_length(items), 1u);
    auto* root = NAUTILUS_MENU_ITEM(g_object_ref(items->data));
    g_list_free_full(items, g_object_unref);
    kept_.push_back(root);
    return root;
  }

  // Activates `label` and waits for the stand-in program's record of its
  // arguments, one a line ("(not started)" when there is none; an item that
  // starts nothing is given a moment only).
  std::string activate(NautilusMenuItem* root, const std::string& label, bool starts = true) {
    NautilusMenuItem* item = find(root, label);
    EXPECT_NE(item, nullptr) << label;
    if (!item) return {};
    fs::remove(install_.file("args"));
    nautilus_menu_item_activate(item);
    for (int i = 0; i < (starts ? 500 : 20) && !fs::exists(install_.file("args")); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(install_.file("args")) ? pv::test::readFile(install_.file("args")) : std::string("(not started)");
  }

  void SetUp() override {
    pv::test::writeFile(install_.file("pictoravine"),
                        "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.new\"\n"
                        "mv \"$(dirname \"$0\")/args.new\" \"$(dirname \"$0\")/args\"\n");
    fs::permissions(install_.file("pictoravine"), fs::perms::owner_all);
    fs::create_directories(data_.file("Profiles"));
    pv::test::writeFile(data_.file("Profiles/A.pvp"), "/filter flip\r\n");
    pv::test::writeFile(data_.file("Profiles/B.pvp"), "/filter flip\r\n");
    pv::test::writeFile(data_.file("config.ini"),
                        "[Global]\nDefaultShellContextProfile=B\n[Shell]\nJPG=1\nPNG=1\nBMP=0\n");
    fs::create_directories(pics_.file("my \"best\" photos"));
  }
  void TearDown() override {
    for (NautilusMenuItem* i : kept_) g_object_unref(i);
  }

  static inline void* handle_ = nullptr;
  static inline GTypeModule* module_ = nullptr;
  static inline NautilusMenuProvider* provider_ = nullptr;
  pv::test::DataDirGuard data_;
  pv::test::TempDir install_, pics_;
  pv::test::EnvGuard installEnv_{"PICTORAVINE_INSTALL_DIR", install_.str()};
  std::vector<NautilusMenuItem*> kept_;
};

}  // namespace

TEST_F(NautilusModule, ShowsTheMenuForAcceptedLocalFilesOnly) {
  NautilusMenuItem* root = menuFor({pics_.file("A.JPG"), pics_.file("b.txt")});
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(propertyOf(G_OBJECT(root), "label"), "Pictoravine");
  EXPECT_EQ(labelsOf(root),
            "Convert to JPG | Convert to PNG | Current Profile {A | \u2713 B | None} | Customize Above Menu | "
            "Open With Pictoravine");
  EXPECT_EQ(propertyOf(G_OBJECT(find(root, "Convert to PNG")), "tip"),
            "Convert the selected images to the chosen format");
  EXPECT_EQ(propertyOf(G_OBJECT(find(root, "None")), "tip"), "Do not use any profile when converting");

  const struct {
    const char* name;
    std::vector<std::string> files;
  } none[] = {
      {"no accepted file", {pics_.file("b.txt"), pics_.file("x.jpg.bak"), pics_.file("README")}},
      {"remote files only", {"sftp://host/photos/c.png", "http://example.org/d.jpg"}},
      {"nothing selected", {}},
  };
  for (const auto& c : none) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(menuFor(c.files), nullptr);
  }
  // The folder's background menu gets nothing.
  auto* folder = static_cast<NautilusFileInfo*>(filesOf({pics_.str()})->data);
  EXPECT_EQ(nautilus_menu_provider_get_background_items(provider_, folder), nullptr);

  // The user's switch, read at every menu build.
  pv::ini::writeString(data_.file("config.ini"), "Global", "ShellContextEnabled", "0");
  EXPECT_EQ(menuFor({pics_.file("A.JPG")}), nullptr);
  pv::ini::writeString(data_.file("config.ini"), "Global", "ShellContextEnabled", "1");
  EXPECT_NE(menuFor({pics_.file("A.JPG")}), nullptr);

  // Nothing chosen on the options page: a greyed line says so.
  pv::test::writeFile(data_.file("config.ini"), "");
  fs::remove_all(data_.file("Profiles"));
  EXPECT_EQ(labelsOf(menuFor({pics_.file("A.JPG")})),
            "No formats chosen to show (greyed) | Customize Above Menu | Open With Pictoravine");
}

TEST_F(NautilusModule, ConvertingHandsTheSelectionToTheProgram) {
  const std::string odd = pics_.file("my \"best\" photos/été 'à' n°1.png");
  NautilusMenuItem* root =
      menuFor({pics_.file("A.JPG"), pics_.file("b.txt"), "sftp://host/c.png", odd});
  ASSERT_NE(root, nullptr);
  const std::string args = activate(root, "Convert to PNG");
  const std::string head = "/shell\n/convert\nPNG\n/list\n";
  ASSERT_EQ(args.substr(0, head.size()), head) << args;
  const std::string list = args.substr(head.size(), args.size() - head.size() - 1);
  EXPECT_EQ(fs::path(list).parent_path(), data_.path());
  EXPECT_EQ(pv::test::readFile(list), pics_.file("A.JPG") + "\n" + odd + "\n");

  // Each hand-off has a list of its own.
  const std::string open = activate(root, "Open With Pictoravine");
  const std::string openHead = "/shell\n/open\n/list\n";
  ASSERT_EQ(open.substr(0, openHead.size()), openHead) << open;
  const std::string openList = open.substr(openHead.size(), open.size() - openHead.size() - 1);
  EXPECT_NE(openList, list);
  EXPECT_EQ(pv::test::readFile(openList), pv::test::readFile(list));
  EXPECT_EQ(activate(root, "Customize Above Menu"), "/shell\n/shelloptions\n");
}

TEST_F(NautilusModule, ChoosingAProfileWritesItAndStartsNothing) {
  NautilusMenuItem* root = menuFor({pics_.file("A.JPG")});
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(activate(root, "A", false), "(not started)");
  EXPECT_EQ(pv::ini::readString(data_.file("config.ini"), "Global", "DefaultShellContextProfile", "?"), "A");
  EXPECT_NE(labelsOf(menuFor({pics_.file("A.JPG")})).find("\u2713 A | B | None"), std::string::npos);
  EXPECT_EQ(activate(menuFor({pics_.file("A.JPG")}), "None", false), "(not started)");
  EXPECT_EQ(pv::ini::readString(data_.file("config.ini"), "Global", "DefaultShellContextProfile", "?"), "");
  EXPECT_NE(labelsOf(menuFor({pics_.file("A.JPG")})).find("A | B | \u2713 None"), std::string::npos);
}
