/* Asks a top-level window to close, as the close box of a window manager does: finds
 * the first child of the root window whose UTF-8 name contains the given text and
 * sends it WM_DELETE_WINDOW. Exit code 0 when a request was sent.
 *   x_close_window <text in the window name> */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <string.h>

static int NameContains(Display* d, Window w, const char* text) {
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* value = NULL;
    int found = 0;
    if (XGetWindowProperty(d, w, netName, 0, 4096, False, utf8, &type, &format, &count, &after,
                           &value) == Success &&
        value) {
        found = strstr((const char*)value, text) != NULL;
        XFree(value);
    }
    if (!found) {
        char* name = NULL;
        if (XFetchName(d, w, &name) && name) {
            found = strstr(name, text) != NULL;
            XFree(name);
        }
    }
    return found;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: x_close_window TEXT\n");
        return 2;
    }
    Display* d = XOpenDisplay(NULL);
    if (!d) return 2;
    Window root = DefaultRootWindow(d), parent, *children = NULL;
    unsigned int n = 0;
    int sent = 0;
    if (XQueryTree(d, root, &root, &parent, &children, &n)) {
        for (unsigned int i = 0; i < n && !sent; ++i) {
            if (!NameContains(d, children[i], argv[1])) continue;
            XEvent ev;
            memset(&ev, 0, sizeof ev);
            ev.xclient.type = ClientMessage;
            ev.xclient.window = children[i];
            ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
            ev.xclient.format = 32;
            ev.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
            ev.xclient.data.l[1] = CurrentTime;
            XSendEvent(d, children[i], False, NoEventMask, &ev);
            sent = 1;
        }
        if (children) XFree(children);
    }
    XFlush(d);
    XCloseDisplay(d);
    return sent ? 0 : 1;
}
