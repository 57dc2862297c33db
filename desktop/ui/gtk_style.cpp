#include "gtk_style.h"

#ifdef __WXGTK__
#include <dlfcn.h>
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
