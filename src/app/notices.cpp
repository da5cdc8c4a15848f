#include "notices.h"

namespace vozmo {

void Notices::send(std::string summary, std::string body) {
    if (notifier_ != nullptr) {
        notifier_->notify(Notification{std::move(summary), std::move(body)});
    }
}

void Notices::speechServerGaveUp(const std::string& logFile) {
    if (toldGaveUp_) {
        return;
    }
    toldGaveUp_ = true;
    send("Vozmo no puede transcribir",
         "whisper-server se ha detenido varias veces y no se reinicia más. Mira " + logFile +
             " y vuelve a abrir Vozmo.");
}

void Notices::modelsReady(bool setupWindowVisible, const std::string& hotkeyName) {
    if (setupWindowVisible) {
        return;
    }
    send("Modelos de Vozmo descargados", "Ya puedes dictar: mantén " + hotkeyName + " y habla.");
}

void Notices::leftOnClipboard(const std::string& pasteKeys, LeftReason why) {
    std::string reason;
    switch (why) {
    case LeftReason::focusMoved:
        reason = "Cambiaste de ventana mientras se transcribía";
        break;
    case LeftReason::targetUnknown:
        reason = "No se supo en qué ventana escribías al empezar a dictar";
        break;
    case LeftReason::ownWindow:
        reason = "El dictado empezó en una ventana de Vozmo, donde no se pega";
        break;
    case LeftReason::pasteFailed:
        reason = "No se pudo enviar la pulsación de pegar";
        break;
    }
    send("Dictado copiado",
         reason + ": el texto está en el portapapeles. Pégalo con " + pasteKeys + ".");
}

void Notices::noTrayHost() {
    if (toldNoTray_) {
        return;
    }
    toldNoTray_ = true;
    send("Vozmo está en marcha",
         "Tu escritorio no muestra iconos de bandeja. Ejecuta «vozmo» otra vez para abrir su "
         "ventana.");
}

} // namespace vozmo
