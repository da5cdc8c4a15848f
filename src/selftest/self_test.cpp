#include "self_test.h"

#include "config.h"
#include "log.h"

namespace vozmo {

int runSelfTest() {
    ensureSupport();
    log("FALLO: la autoprueba todavía no está disponible en esta versión");
    return 1;
}

} // namespace vozmo
