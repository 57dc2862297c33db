/* Asks a top-level window to close, as the close box of a window manager does: finds
 * the first window (top-level or inside a window manager's frame) whose UTF-8 name
 * contains the given text and sends it WM_DELETE_WINDOW. Exit code 0 when sent.
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

/* Sends WM_DELETE_WINDOW to the first window below `w` whose name contains `text`;
   a window manager puts the program's window inside a frame, so the search goes a few
   levels down. */
static int CloseFirstNamed(Display* d, Window w, const char* text, int depth) {
    Window root, parent, *children = NULL;
    unsigned int n = 0;
    int sent = 0;
    if (depth > 3 || !XQueryTree(d, w, &root, &parent, &children, &n)) return 0;
    for (unsigned int i = 0; i < n && !sent; ++i) {
        if (!NameContains(d, children[i], text)) {
            sent = CloseFirstNamed(d, children[i], text, depth + 1);
            continue;
        }
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
    return sent;
}

/* Windows may vanish while the tree is walked (other programs' boxes closing). */
static int IgnoreErrors(Display* d, XErrorEvent* e) {
    (void)d;
    (void)e;
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: x_close_window TEXT\n");
        return 2;
    }
    Display* d = XOpenDisplay(NULL);
    if (!d) return 2;
    XSetErrorHandler(IgnoreErrors);
    const int sent = CloseFirstNamed(d, DefaultRootWindow(d), argv[1], 0);
    XFlush(d);
    XCloseDisplay(d);
    return sent ? 0 : 1;
}
