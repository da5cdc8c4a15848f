// The paste on a wlroots compositor, run by bench/wayland_bench.py inside a headless sway
// session whose focused window is a GTK text view on Wayland: from the end of the pipeline (the
// text handed to the paste) to the Ctrl+V stroke sent through the virtual keyboard, with the
// user's clipboard saved and the dictation set on the compositor's clipboard first. The restore
// 0.8 s later is not part of it.
#include "paste_timing.h"
#include "target_window_sway.h"
#include "virtual_keyboard_wayland.h"
#include "wayland_clipboard.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: wayland_paste_bench WINDOW_TEXT_FILE\n");
        return 2;
    }
    const char* socket = std::getenv("SWAYSOCK");
    vozmo::WaylandClipboard clipboard;
    if (!clipboard.ok() || socket == nullptr) {
        std::fprintf(stderr, "wayland_paste_bench: no sway session with data control\n");
        return 1;
    }
    vozmo::WaylandKeySynth keys;
    vozmo::SwayTargetWindow windows(socket);
    return vozmo::bench::timePastes(
        {"wayland_paste_bench", "wayland_paste", "through the virtual keyboard on sway"}, clipboard,
        keys, windows, argv[1]);
}
