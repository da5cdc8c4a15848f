// Stands in for a clipboard manager (Klipper, CopyQ, GPaste): reads the CLIPBOARD's text the
// moment it changes, as those do, asking with the time of the change it was told of, and prints
// "read <text>" for every read. Prints "ready" once it watches.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>
#include <string>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "clipboard_manager: no display\n");
        return 2;
    }
    int eventBase = 0;
    int errorBase = 0;
    if (XFixesQueryExtension(display, &eventBase, &errorBase) == 0) {
        std::fprintf(stderr, "clipboard_manager: no XFixes\n");
        return 2;
    }
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom property = XInternAtom(display, "VOZMO_MANAGER", False);
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XFixesSelectSelectionInput(display, window, clipboard, XFixesSetSelectionOwnerNotifyMask);
    XSync(display, False);
    std::puts("ready");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == eventBase + XFixesSelectionNotify) {
            const auto& notice = reinterpret_cast<XFixesSelectionNotifyEvent&>(event);
            if (notice.owner == None || notice.owner == window) {
                continue;
            }
            XConvertSelection(display, clipboard, utf8, property, window,
                              notice.selection_timestamp);
            XFlush(display);
        } else if (event.type == SelectionNotify && event.xselection.property != None) {
            Atom type = None;
            int format = 0;
            unsigned long items = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display, window, property, 0, 1 << 20, True, AnyPropertyType,
                                   &type, &format, &items, &after, &data) == Success &&
                data != nullptr) {
                std::printf("read %s\n", std::string(reinterpret_cast<char*>(data), items).c_str());
                std::fflush(stdout);
                XFree(data);
            }
        }
    }
}
