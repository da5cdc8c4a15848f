#include "error.h"

namespace vozmo {

std::string userMessage(const Error& error) {
    using Kind = Error::Kind;
    // Each says what happened and what the user can do. A failed transcription keeps the
    // recording, so the way back to it is named.
    switch (error.kind) {
    case Kind::speechServerMissing:
        return "Falta whisper-server: instálalo con vozmo-install-servers y reintenta el dictado "
               "desde el menú";
    case Kind::speechServerPortBusy:
    case Kind::polishServerPortBusy:
        // Also the servers' log line and the menu's status; the setup window says what to do.
        return "El puerto " + error.detail + " está ocupado por otro programa";
    case Kind::transcriptionFailed:
        return "No se pudo transcribir: usa «Reintentar el último dictado» en el menú";
    case Kind::transcriptionTimedOut:
        return "La transcripción tardó demasiado: usa «Reintentar el último dictado» en el menú";
    case Kind::speechServerNotReady:
        return "El reconocimiento de voz no está listo: espera un poco y usa «Reintentar el "
               "último dictado» en el menú";
    case Kind::nothingUnderstood:
        return "No he entendido nada: habla más cerca del micrófono y vuelve a dictar";
    case Kind::noMicrophone:
        return "No hay micrófono disponible: conecta uno o elige otro en los ajustes de sonido";
    case Kind::microphoneLost:
        return "Se perdió el micrófono: compruébalo y vuelve a dictar";
    case Kind::polishFailed: // the unpolished text is delivered instead
    case Kind::pasteFailed:  // the text is left on the clipboard, and that is what is said
        return {};
    case Kind::cancelled:
        return "Cancelado";
    case Kind::processNotStarted: // the server's state says it; the detail goes to the log
    case Kind::downloadFailed:    // the setup window says it, with the folder to copy them into
        return {};
    case Kind::speechServerGaveUp:
        return "whisper-server no llegó a funcionar";
    case Kind::polishServerGaveUp:
        return "llama-server no llegó a funcionar";
    }
    return "Error";
}

std::string userAdvice(const Error& error) {
    using Kind = Error::Kind;
    switch (error.kind) {
    case Kind::speechServerPortBusy:
    case Kind::polishServerPortBusy:
        return "Ciérralo y vuelve a abrir Vozmo.";
    case Kind::speechServerGaveUp:
        return "Mira whisper.log en «Ver registros» y vuelve a abrir Vozmo.";
    case Kind::polishServerGaveUp:
        return "Mira llm.log en «Ver registros» y vuelve a abrir Vozmo.";
    default:
        return {};
    }
}

} // namespace vozmo
