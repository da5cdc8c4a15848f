#include "error.h"

namespace vozmo {

std::string userMessage(const Error& error) {
    using Kind = Error::Kind;
    switch (error.kind) {
    case Kind::speechServerMissing:
        return "Falta whisper-server";
    case Kind::speechServerPortBusy:
        return "El puerto " + error.detail + " está ocupado por otro programa";
    case Kind::transcriptionFailed:
        return "Error al transcribir";
    case Kind::nothingUnderstood:
        return "No he entendido nada";
    case Kind::noMicrophone:
        return "No hay micrófono disponible";
    case Kind::microphoneDenied:
        return "Permite el micrófono en Ajustes";
    case Kind::microphoneLost:
        return "Se perdió el micrófono";
    case Kind::polishFailed: // the unpolished text is delivered instead
    case Kind::pasteFailed:  // the text is left on the clipboard, and that is what is said
        return {};
    case Kind::cancelled:
        return "Cancelado";
    }
    return "Error";
}

} // namespace vozmo
