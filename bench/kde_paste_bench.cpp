// The paste on KDE Plasma, run by bench/kde_bench.py inside a headless KDE session whose focused
// window is a GTK text view on Wayland: from the end of the pipeline (the text handed to the
// paste) to the Ctrl+V stroke sent through the RemoteDesktop portal, with the user's clipboard
// saved and the dictation set through data control first, all through the desktop's one choice
// of backends as the application makes it. The restore 0.8 s later is not part of it.
#include "paste_timing.h"
#include "wayland_backends.h"

#include <QApplication>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kde_paste_bench WINDOW_TEXT_FILE\n");
        return 2;
    }
    vozmo::Desktop desktop(vozmo::currentSession());
    desktop.start();
    if (!QTest::qWaitFor([&] { return desktop.canType(); }, 10000)) {
        std::fprintf(stderr, "kde_paste_bench: cannot type here: %s / %s\n",
                     desktop.backends().typing.describe("Escritura").c_str(),
                     desktop.backends().clipboard.describe("Portapapeles").c_str());
        return 1;
    }
    return vozmo::bench::timePastes(
        {"kde_paste_bench", "kde_paste", "through the RemoteDesktop portal on KWin 5.27"},
        desktop.clipboard(), desktop.typing(), desktop.windows(), argv[1]);
}
