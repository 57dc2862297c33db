#include "gtk_style.h"

#ifdef __WXGTK__
#include <dlfcn.h>

#include "desktop/box_text.h"
#endif

void MakeProgressBarsFillTheirHeight() {
#ifdef __WXGTK__
    // GTK's own calls, looked up in the GTK library the program already runs with: the
    // build has wx's headers only, not GTK's.
    using Provider = void*;
    const auto sym = [](const char* name) { return dlsym(RTLD_DEFAULT, name); };
    auto newProvider = reinterpret_cast<Provider (*)()>(sym("gtk_css_provider_new"));
    auto load = reinterpret_cast<int (*)(Provider, const char*, long, void**)>(
        sym("gtk_css_provider_load_from_data"));
    auto screen = reinterpret_cast<void* (*)()>(sym("gdk_screen_get_default"));
    auto add = reinterpret_cast<void (*)(void*, Provider, unsigned)>(
        sym("gtk_style_context_add_provider_for_screen"));
    if (!newProvider || !load || !screen || !add || !screen()) return;
    // 600: GTK_STYLE_PROVIDER_PRIORITY_APPLICATION.
    static const char kCss[] =
        "progressbar.horizontal trough, progressbar.horizontal progress { min-height: 10px; }";
    Provider provider = newProvider();
    if (load(provider, kCss, -1, nullptr)) add(screen(), provider, 600);
#endif
}

#ifdef __WXGTK__
namespace {

// GLib, GTK, ATK and Pango types as far as these calls need them.
using GType = unsigned long;
struct GValue {
    GType type;
    unsigned long long data[2];
};
struct GList {
    void* data;
    GList* next;
    GList* prev;
};
struct PangoAttribute {
    const void* klass;
    unsigned start_index;
    unsigned end_index;
};

template <typename Fn>
Fn Gtk(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

struct BoxCalls {
    GType (*messageDialogType)() = Gtk<GType (*)()>("gtk_message_dialog_get_type");
    GType (*labelType)() = Gtk<GType (*)()>("gtk_label_get_type");
    int (*isA)(void*, GType) = Gtk<int (*)(void*, GType)>("g_type_check_instance_is_a");
    void* (*objectOf)(const GValue*) = Gtk<void* (*)(const GValue*)>("g_value_get_object");
    const char* (*title)(void*) = Gtk<const char* (*)(void*)>("gtk_window_get_title");
    void* (*accessible)(void*) = Gtk<void* (*)(void*)>("gtk_widget_get_accessible");
    void (*setName)(void*, const char*) = Gtk<void (*)(void*, const char*)>("atk_object_set_name");
    void* (*messageArea)(void*) = Gtk<void* (*)(void*)>("gtk_message_dialog_get_message_area");
    GList* (*children)(void*) = Gtk<GList* (*)(void*)>("gtk_container_get_children");
    void (*freeList)(GList*) = Gtk<void (*)(GList*)>("g_list_free");
    const char* (*labelText)(void*) = Gtk<const char* (*)(void*)>("gtk_label_get_text");
    void* (*newAttrList)() = Gtk<void* (*)()>("pango_attr_list_new");
    PangoAttribute* (*noBreaks)(int) = Gtk<PangoAttribute* (*)(int)>("pango_attr_allow_breaks_new");
    void (*insert)(void*, PangoAttribute*) = Gtk<void (*)(void*, PangoAttribute*)>("pango_attr_list_insert");
    void (*setAttributes)(void*, void*) = Gtk<void (*)(void*, void*)>("gtk_label_set_attributes");
    void (*unrefAttrList)(void*) = Gtk<void (*)(void*)>("pango_attr_list_unref");
    void* (*newLayout)(void*, const char*) = Gtk<void* (*)(void*, const char*)>("gtk_widget_create_pango_layout");
    void (*pixelSize)(void*, int*, int*) = Gtk<void (*)(void*, int*, int*)>("pango_layout_get_pixel_size");
    void (*unref)(void*) = Gtk<void (*)(void*)>("g_object_unref");
    void (*sizeRequest)(void*, int*, int*) = Gtk<void (*)(void*, int*, int*)>("gtk_widget_get_size_request");
    void (*setSizeRequest)(void*, int, int) = Gtk<void (*)(void*, int, int)>("gtk_widget_set_size_request");

    bool Complete() const {
        return messageDialogType && labelType && isA && objectOf && title && accessible && setName &&
               messageArea && children && freeList && labelText && newAttrList && noBreaks && insert &&
               setAttributes && unrefAttrList && newLayout && pixelSize && unref && sizeRequest &&
               setSizeRequest;
    }
};

// GTK names a message box after its kind for the accessibility tree (it sets that name
// when the box is made); the name given here, when the box is about to be shown, is its
// title, as for every other window.
void NameAfterTitle(const BoxCalls& gtk, void* box) {
    const char* title = gtk.title(box);
    void* accessible = gtk.accessible(box);
    if (title && *title && accessible) gtk.setName(accessible, title);
}

// A box is as wide as its text: a short question ("Clear all records?") made a box
// whose title the window manager cut to "Velo... stant". It is made wide enough for the
// title, with room for the title bar's icon and buttons (the title's font is the window
// manager's, often bold: a quarter more than GTK's measure).
void WideEnoughForTitle(const BoxCalls& gtk, void* box) {
    constexpr int kTitleBarButtons = 110;
    const char* title = gtk.title(box);
    if (!title || !*title) return;
    void* layout = gtk.newLayout(box, title);
    if (!layout) return;
    int width = 0, height = 0;
    gtk.pixelSize(layout, &width, &height);
    gtk.unref(layout);
    const int needed = width * 5 / 4 + kTitleBarButtons;
    int requested = -1, requestedHeight = -1;
    gtk.sizeRequest(box, &requested, &requestedHeight);
    if (requested < needed) gtk.setSizeRequest(box, needed, requestedHeight);
}

void KeepQuotedSpansTogether(const BoxCalls& gtk, void* label) {
    const char* text = gtk.labelText(label);
    if (!text) return;
    const auto spans = mdb::desktop::UnbreakableSpans(text);
    if (spans.empty()) return;
    void* list = gtk.newAttrList();
    for (const mdb::desktop::TextSpan& span : spans) {
        PangoAttribute* attribute = gtk.noBreaks(0);
        attribute->start_index = static_cast<unsigned>(span.begin);
        attribute->end_index = static_cast<unsigned>(span.end);
        gtk.insert(list, attribute);
    }
    gtk.setAttributes(label, list);
    gtk.unrefAttrList(list);
}

// An emission hook of GtkWidget's "show": it runs before the box's own handler, so the
// box is sized and announced with what is set here.
int OnShow(void* /*hint*/, unsigned /*count*/, const GValue* values, void* data) {
    const auto& gtk = *static_cast<const BoxCalls*>(data);
    void* widget = gtk.objectOf(&values[0]);
    if (!widget || !gtk.isA(widget, gtk.messageDialogType())) return 1;
    NameAfterTitle(gtk, widget);
    WideEnoughForTitle(gtk, widget);
    GList* labels = gtk.children(gtk.messageArea(widget));
    for (GList* item = labels; item; item = item->next) {
        if (gtk.isA(item->data, gtk.labelType())) KeepQuotedSpansTogether(gtk, item->data);
    }
    gtk.freeList(labels);
    return 1;  // stay installed
}

}  // namespace
#endif

void MakeMessageBoxesReadable() {
#ifdef __WXGTK__
    static const BoxCalls gtk;
    static bool installed = false;
    auto widgetType = Gtk<GType (*)()>("gtk_widget_get_type");
    auto lookup = Gtk<unsigned (*)(const char*, GType)>("g_signal_lookup");
    auto addHook = Gtk<unsigned long (*)(unsigned, unsigned, int (*)(void*, unsigned, const GValue*, void*),
                                         void*, void (*)(void*))>("g_signal_add_emission_hook");
    if (installed || !gtk.Complete() || !widgetType || !lookup || !addHook) return;
    const unsigned show = lookup("show", widgetType());
    if (show == 0) return;
    addHook(show, 0, OnShow, const_cast<BoxCalls*>(&gtk), nullptr);
    installed = true;
#endif
}
