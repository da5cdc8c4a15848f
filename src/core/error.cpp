#include "error.h"

namespace vozmo {

std::string userMessage(const Error& error) {
    using Kind = Error::Kind;
    switch (error.kind) {
    case Kind::speechServerMissing:
        return "Falta whisper-server";
    case Kind::speechServerPortBusy:
    case Kind::polishServerPortBusy:
        return "El puerto " + error.detail + " está ocupado por otro programa";
    case Kind::transcriptionFailed:
        return "Error al transcribir";
    case Kind::nothingUnderstood:
        return "No he entendido nada";
    case Kind::noMicrophone:
        return "No hay micrófono disponible";
    case Kind::microphoneLost:
        return "Se perdió el micrófono";
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
