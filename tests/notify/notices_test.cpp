#include "fake_notifier.h"
#include "notices.h"

#include <gtest/gtest.h>

namespace vozmo {
namespace {

TEST(Notices, WhatTheUserIsToldAndHowOften) {
    test::FakeNotifier notifier;
    Notices notices(&notifier);

    notices.speechServerGaveUp("~/.local/share/Vozmo/logs/whisper.log");
    notices.speechServerGaveUp("~/.local/share/Vozmo/logs/whisper.log");
    notices.noTrayHost();
    notices.noTrayHost();
    // The setup window already says it while it is open.
    notices.modelsReady(true, "Fn");
    notices.modelsReady(false, "Alt derecha");
    // Each dictation left behind is news of its own.
    notices.leftOnClipboard("Ctrl+V", LeftReason::focusMoved);
    notices.leftOnClipboard("Ctrl+Mayús+V", LeftReason::focusMoved);
    // And it says the real reason.
    notices.leftOnClipboard("Ctrl+V", LeftReason::targetUnknown);
    notices.leftOnClipboard("Ctrl+V", LeftReason::ownWindow);
    notices.leftOnClipboard("Ctrl+V", LeftReason::pasteFailed);

    const std::vector<Notification> expected = {
        {"Vozmo no puede transcribir",
         "whisper-server se ha detenido varias veces y no se reinicia más. Mira "
         "~/.local/share/Vozmo/logs/whisper.log y vuelve a abrir Vozmo."},
        {"Vozmo está en marcha", "Tu escritorio no muestra iconos de bandeja. Ejecuta «vozmo» "
                                 "otra vez para abrir su ventana."},
        {"Modelos de Vozmo descargados", "Ya puedes dictar: mantén Alt derecha y habla."},
        {"Dictado copiado", "Cambiaste de ventana mientras se transcribía: el texto está en el "
                            "portapapeles. Pégalo con Ctrl+V."},
        {"Dictado copiado", "Cambiaste de ventana mientras se transcribía: el texto está en el "
                            "portapapeles. Pégalo con Ctrl+Mayús+V."},
        {"Dictado copiado", "No se supo en qué ventana escribías al empezar a dictar: el texto "
                            "está en el portapapeles. Pégalo con Ctrl+V."},
        {"Dictado copiado", "El dictado empezó en una ventana de Vozmo, donde no se pega: el "
                            "texto está en el portapapeles. Pégalo con Ctrl+V."},
        {"Dictado copiado", "No se pudo enviar la pulsación de pegar: el texto está en el "
                            "portapapeles. Pégalo con Ctrl+V."},
    };
    ASSERT_EQ(notifier.shown.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(notifier.shown[i].summary, expected[i].summary) << i;
        EXPECT_EQ(notifier.shown[i].body, expected[i].body) << i;
    }

    Notices silent(nullptr); // no notification service at all
    silent.noTrayHost();
    silent.leftOnClipboard("Ctrl+V", LeftReason::pasteFailed);
}

} // namespace
} // namespace vozmo
