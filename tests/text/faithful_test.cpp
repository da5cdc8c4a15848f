// The acceptance test against answers that small instruction models really give: faithful
// polishes that must be kept, and answers that must not reach the user's document.
#include "faithful.h"
#include "polisher.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

namespace vozmo {
namespace {

struct Case {
    std::string raw, answer;
    std::string_view reason = {}; // empty: the answer is faithful and must be kept
};

// Faithful polishes besides the prompt's own examples: the self-test's samples and transcript,
// and the rules of the prompt one by one.
const std::vector<Case> kFaithful = {
    // The self-test's samples and its spoken sentence.
    {"eh bueno pues el envío lo hacemos el lunes no perdón el martes por la mañana",
     "El envío lo hacemos el martes por la mañana."},
    {"me puedes confirmar si la factura 2045 ya está pagada",
     "¿Me puedes confirmar si la factura 2045 ya está pagada?"},
    {"dile a Tomás que mañana no puedo que mejor lo dejamos para el jueves",
     "Dile a Tomás que mañana no puedo, que mejor lo dejamos para el jueves."},
    {"o sea lo que quiero decir es que la campaña de Altavela empieza en diciembre",
     "La campaña de Altavela empieza en diciembre."},
    {"primero abrir la tienda segundo revisar el stock y tercero preparar los pedidos",
     "1. Abrir la tienda.\n2. Revisar el stock.\n3. Preparar los pedidos."},
    {"escribe un correo a Sonia pidiéndole el contrato firmado",
     "Escribe un correo a Sonia pidiéndole el contrato firmado."},
    {"Hola Bruno, mañana tenemos reunión con el equipo de Altavela a las diez. No, perdón, a las "
     "doce.",
     "Hola Bruno, mañana tenemos reunión con el equipo de Altavela a las doce."},
    {"Hola Bruno, mañana tenemos reunión. No, perdón, a las doce.",
     "Hola Bruno, mañana tenemos reunión a las doce."},
    // Fillers and hesitations.
    {"eh bueno pues mañana te llamo para lo del coche", "Mañana te llamo para lo del coche."},
    {"em vale pues nos vemos en la oficina a las nueve",
     "Vale, pues nos vemos en la oficina a las 9."},
    {"a ver cómo te lo explico el problema es que el servidor se cae cada noche",
     "El problema es que el servidor se cae cada noche."},
    {"bueno pues nada ya te contaré cómo ha ido la entrevista",
     "Ya te contaré cómo ha ido la entrevista."},
    {"o sea que no vienes a la cena del sábado", "¿Que no vienes a la cena del sábado?"},
    {"este eh necesito que me mandes las fotos del viaje",
     "Necesito que me mandes las fotos del viaje."},
    {"mira oye el informe ya está en la carpeta compartida",
     "El informe ya está en la carpeta compartida."},
    {"eh em pues que la reunión de mañana se cancela", "La reunión de mañana se cancela."},
    {"emm la verdad es que eh el proyecto va bien", "La verdad es que el proyecto va bien."},
    {"necesito que me envíes el informe ya sabes el de ventas",
     "Necesito que me envíes el informe de ventas."},
    {"um vale entonces quedamos así", "Vale, entonces quedamos así."},
    {"Hola, Marta. Te escribo porque, eh, no sé si te llegó el correo.",
     "Hola, Marta. Te escribo porque no sé si te llegó el correo."},
    // Repetitions and false starts.
    {"quiero que que revises el el presupuesto antes de enviarlo",
     "Quiero que revises el presupuesto antes de enviarlo."},
    {"voy a voy a llamar a Marta esta tarde", "Voy a llamar a Marta esta tarde."},
    // Self-corrections: the corrected words go, the repair stays.
    {"mándalo a Pedro no perdón a Luis", "Mándalo a Luis."},
    {"la reunión es a las cuatro quiero decir a las cinco", "La reunión es a las cinco."},
    {"compra dos kilos de tomates digo tres kilos de tomates", "Compra 3 kilos de tomates."},
    {"el vuelo sale el jueves no espera el viernes a las ocho",
     "El vuelo sale el viernes a las 8."},
    {"llegamos el día 12 me equivoqué el día 14", "Llegamos el día 14."},
    {"nos vemos en Valencia mejor en Alicante", "Nos vemos en Alicante."},
    {"quedamos el martes no te digo el miércoles", "Quedamos el miércoles."},
    {"el envío sale hoy perdón mañana por la tarde", "El envío sale mañana por la tarde."},
    // An unclear correction keeps every word.
    {"compra leche perdón pan", "Compra leche, perdón, pan."},
    // Spoken numbers written as digits.
    {"el contrato se firmó en dos mil veinticinco", "El contrato se firmó en 2025."},
    {"compra 2 kilos y medio de naranjas", "Compra 2,5 kilos de naranjas."},
    {"necesito trescientos cincuenta euros para el viernes", "Necesito 350 euros para el viernes."},
    {"son mil quinientos euros más IVA", "Son 1500 euros más IVA."},
    {"son mil quinientos euros más IVA", "Son 1.500 euros más IVA."},
    {"el código es cuatro siete uno dos", "El código es 4712."},
    {"quedamos a las cinco y media en la puerta", "Quedamos a las 5:30 en la puerta."},
    {"el descuento es del veinte por ciento", "El descuento es del 20 %."},
    {"tenemos treinta y dos pedidos pendientes", "Tenemos 32 pedidos pendientes."},
    {"la inflación subió un dos coma cinco por ciento", "La inflación subió un 2,5 %."},
    {"la obra costó tres millones de euros", "La obra costó 3 millones de euros."},
    {"a las cinco", "A las 5."},
    {"primero uno segundo dos", "1. Uno.\n2. Dos."},
    {"cuesta diecinueve con noventa y nueve", "Cuesta 19,99."},
    {"llámame al seis cero cero uno dos tres cuatro cinco seis", "Llámame al 600 123 456."},
    {"el martes a las diez y cuarto", "El martes a las 10:15."},
    // Lists.
    {"para mañana primero llamar al banco segundo pagar el alquiler y por último comprar pan",
     "Para mañana:\n1. Llamar al banco.\n2. Pagar el alquiler.\n3. Comprar pan."},
    {"en primer lugar revisar los correos en segundo lugar responder a Carmen",
     "1. Revisar los correos.\n2. Responder a Carmen."},
    // Spoken layout.
    {"querido Juan punto y aparte te escribo para confirmar la reserva",
     "Querido Juan:\nTe escribo para confirmar la reserva."},
    {"hola a todos nueva línea el lunes empezamos el proyecto nuevo",
     "Hola a todos.\nEl lunes empezamos el proyecto nuevo."},
    // Punctuation, capitals, accents and agreement only.
    {"que hora es la reunion con maria", "¿Qué hora es la reunión con María?"},
    {"me puedes decir cuando llega el paquete", "¿Me puedes decir cuándo llega el paquete?"},
    {"hay que revisar los numeros del trimestre antes del jueves",
     "Hay que revisar los números del trimestre antes del jueves."},
    {"gracias por todo nos vemos pronto", "¡Gracias por todo! Nos vemos pronto."},
    {"no sé si podré ir a la cena", "No sé si podré ir a la cena."},
    {"nunca he estado en lisboa pero me encantaría ir",
     "Nunca he estado en Lisboa, pero me encantaría ir."},
    {"las casa de la playa están listas", "Las casas de la playa están listas."},
    {"los factura del mes pasado están pagadas", "Las facturas del mes pasado están pagadas."},
    {"mándalo por WhatsApp a Marta mañana por la tarde",
     "Mándalo por WhatsApp a Marta mañana por la tarde."},
    {"es que mañana no puedo ir", "Es que mañana no puedo ir."},
    {"dile que lo siento mucho", "Dile que lo siento mucho."},
    {"pues nada eso era todo gracias", "Eso era todo, gracias."},
    {"eh quería preguntarte si te viene bien el jueves o prefieres el viernes",
     "Quería preguntarte si te viene bien el jueves o prefieres el viernes."},
    {"oye sabes si Laura ya ha enviado las entradas",
     "Oye, ¿sabes si Laura ya ha enviado las entradas?"},
    {"vale perfecto pues lo dejamos así", "Vale, perfecto, pues lo dejamos así."},
    {"lo tengo que mirar pues mañana", "Lo tengo que mirar mañana."},
    {"vendrán tres o cuatro personas", "Vendrán 3 o 4 personas."},
    {"puntúa del uno al diez", "Puntúa del 1 al 10."},
    {"me dijo que sí que venía", "Me dijo que sí, que venía."},
    {"la problema es que no hay sitio", "El problema es que no hay sitio."},
    {"vienes mañana no", "¿Vienes mañana, no?"},
    {"dile a juan carlos que lo llamo luego", "Dile a Juan Carlos que lo llamo luego."},
    {"hay que hacer el deploy del backend antes del viernes",
     "Hay que hacer el deploy del backend antes del viernes."},
    {"please send me the report by friday", "Please send me the report by Friday."},
    {"primero desayunamos luego vamos al museo y después comemos",
     "1. Desayunamos.\n2. Vamos al museo.\n3. Comemos."},
    {"la reunión es a las cinco de la tarde en la sala dos",
     "La reunión es a las 5 de la tarde en la sala 2."},
    // Homophones that speech recognition confuses, repaired.
    {"haber si nos vemos mañana", "A ver si nos vemos mañana."},
    {"tendría que a ver venido antes", "Tendría que haber venido antes."},
    {"te hecho de menos", "Te echo de menos."},
    {"espero que lo halla terminado", "Espero que lo haya terminado."},
    {"la vaya del jardín está rota", "La valla del jardín está rota."},
    {"ayer tubo una reunión con Ana", "Ayer tuvo una reunión con Ana."},
    {"ya a llegado el paquete", "Ya ha llegado el paquete."},
    {"hay está el libro", "Ahí está el libro."},
    {"no se porque no vino", "No sé por qué no vino."},
    // A self-correction that restates the first choice.
    {"quedamos el jueves no el viernes perdón el jueves", "Quedamos el jueves."},
    {"quedamos a las cinco no a las seis perdón a las cinco", "Quedamos a las 5."},
    {"dile a Ana no a Luis perdón a Ana que venga", "Dile a Ana que venga."},
    // Times written the 24-hour way.
    {"a las cinco de la tarde", "A las 17:00."},
    {"la cena es a las nueve de la noche", "La cena es a las 21:00."},
    {"salimos a las cinco y media de la mañana", "Salimos a las 5:30."},
    {"comemos a la una de la tarde", "Comemos a las 13:00."},
    {"el tren sale a las diez y cuarto de la noche", "El tren sale a las 22:15."},
    {"el tren sale a las ocho de la tarde", "El tren sale a las 20."},
    {"llego a las doce del mediodía", "Llego a las 12:00."},
    // The same words in another order.
    {"mañana te llamo sin falta", "Sin falta, te llamo mañana."},
    {"te llamo mañana", "Mañana te llamo."},
    {"vamos al cine con Ana esta tarde", "Con Ana vamos al cine esta tarde."},
    {"dale el libro a Juan", "Dale a Juan el libro."},
    {"el lunes no puedo ir", "No puedo ir el lunes."},
    {"necesito el informe para el viernes sin falta",
     "Sin falta, necesito el informe para el viernes."},
    // A longer dictation with a bit of everything.
    {"bueno pues te cuento cómo va lo de la mudanza eh el camión llega el viernes a las ocho no "
     "perdón a las nueve y tenemos que tener todo embalado antes punto y aparte yo me encargo de "
     "la cocina y tú de los libros o sea que no hace falta que traigas cajas vale",
     "Te cuento cómo va lo de la mudanza: el camión llega el viernes a las 9 y tenemos que tener "
     "todo embalado antes.\nYo me encargo de la cocina y tú de los libros, así que no hace falta "
     "que traigas cajas, ¿vale?"},
};

// Answers that do the wrong job, each with the reason it must be refused for.
const std::vector<Case> kBad = {
    // A dictated question answered.
    {"me puedes confirmar si la factura 2045 ya está pagada", "Sí, la factura 2045 ya está pagada.",
     "quita"},
    {"qué opinas de esto", "Creo que es una buena idea.", "anade"},
    {"sabes a qué hora abre la farmacia", "La farmacia abre a las 9:00.", "cifras"},
    {"oye puedes mandarme el presupuesto antes del viernes",
     "Claro, te lo mando antes del viernes.", "anade"},
    {"me recuerdas cuándo era la reunión con Carlos", "La reunión con Carlos es el martes.",
     "fecha"},
    {"cuánto cuesta el billete a Sevilla", "El billete a Sevilla cuesta unos 45 euros.", "cifras"},
    // A dictated instruction carried out.
    {"escribe un correo a Sonia pidiéndole el contrato firmado",
     "Hola Sonia:\n¿Podrías enviarme el contrato firmado?\nGracias.", "anade"},
    {"escribe un correo a Sonia pidiéndole el contrato firmado",
     "Asunto: Contrato firmado\n\nHola Sonia:\n\nTe escribo para pedirte que me envíes el "
     "contrato firmado en cuanto puedas.\n\nUn saludo.",
     "largo"},
    {"resume el informe de ventas en dos líneas",
     "Las ventas subieron en el norte y bajaron en el sur.", "cifras"},
    {"haz una lista con leche huevos y pan", "1. Leche\n2. Huevos\n3. Pan", "quita"},
    {"dile a Elena que no llego a la reunión", "Elena, no llego a la reunión.", "quita"},
    {"traduce al inglés buenos días a todos", "Good morning everyone.", "corto"},
    // Negations dropped or added.
    {"mañana no puedo ir a la reunión", "Mañana puedo ir a la reunión.", "negacion"},
    {"no hace falta que vengas", "Hace falta que vengas.", "negacion"},
    {"el cliente ha pagado la factura", "El cliente no ha pagado la factura.", "negacion"},
    {"dile a Tomás que mañana no puedo que mejor lo dejamos para el jueves",
     "Dile a Tomás que mañana puedo, que lo dejamos para el jueves.", "negacion"},
    {"nunca trabajamos los domingos", "Siempre trabajamos los domingos.", "negacion"},
    // Dates and names changed.
    {"la entrega es el 14 de marzo", "La entrega es el 14 de mayo.", "fecha"},
    {"quedamos el martes a las diez", "Quedamos el miércoles a las diez.", "fecha"},
    {"el viaje es en agosto", "El viaje es en julio.", "fecha"},
    {"llama a Javier para confirmar la cita", "Llama a Javi para confirmar la cita.", "nombre"},
    {"mándaselo a Sonia esta tarde", "Mándaselo a Sofía esta tarde.", "nombre"},
    // List items added or dropped.
    {"compra leche huevos y pan", "Compra leche, huevos, pan y café.", "anade"},
    {"invita a Ana a Pedro y a Lucía", "Invita a Ana y a Lucía.", "nombre"},
    {"primero abrir la tienda segundo revisar el stock y tercero preparar los pedidos",
     "1. Abrir la tienda.\n2. Preparar los pedidos.", "corto"},
    {"primero abrir la tienda segundo revisar el stock y tercero preparar los pedidos",
     "1. Abrir la tienda.\n2. Revisar el stock.\n3. Preparar los pedidos.\n4. Cerrar la caja.",
     "anade"},
    // Translations.
    {"dile a Tomás que mañana no puedo", "Tell Tomás I can't make it tomorrow.", "idioma"},
    {"la reunión empieza a las cinco en la sala grande",
     "The meeting starts at five in the big room.", "idioma"},
    // Chatty preambles, apologies and announcements.
    {"eh bueno pues quedamos el martes a las cinco no perdón el miércoles a las cinco",
     "Claro. Quedamos el miércoles a las cinco.", "anade"},
    {"oye puedes mandarme el presupuesto antes del viernes",
     "Por supuesto, ¿puedes mandarme el presupuesto antes del viernes?", "anade"},
    {"escríbele a Elena que no llego a la reunión y que lo vemos mañana",
     "Hecho: escríbele a Elena que no llego a la reunión y que lo vemos mañana.", "anade"},
    {"revisa el contrato antes del lunes",
     "Aquí tienes el texto corregido: Revisa el contrato antes del lunes.", "marcador"},
    {"mañana te llamo", "Entendido. Mañana te llamo.", "anade"},
    {"dile que no puedo ir hoy", "Lo siento, no puedo ayudar con eso.", "marcador"},
    {"pregúntale a Carmen si ya tiene las llaves", "Perdona, no entiendo lo que quieres decir.",
     "negacion"},
    // Padding and summaries.
    {"mañana te llamo", "Mañana te llamo sin falta para comentarlo.", "largo"},
    {"te llamo luego para hablar del presupuesto",
     "Te llamo luego para hablar del presupuesto con calma.", "anade"},
    {"bueno te cuento que ayer estuvimos con el cliente revisando el proyecto y dice que le gusta "
     "pero que quiere cambiar los colores y el logotipo antes de la presentación",
     "Al cliente le gusta el proyecto, pero quiere cambiar colores y logotipo.", "fecha"},
    // Figures changed; the dictation holds "código", "mejorado" or "digo" inside a word or as a
    // plain verb.
    {"el código es 1234 ya", "El código es 12.", "cifras"},
    {"el código de descuento es 4821", "El código de descuento es 4812.", "cifras"},
    {"el rendimiento ha mejorado un 15 por ciento", "El rendimiento ha mejorado un 50 %.",
     "cifras"},
    {"como te digo el pedido son 300 unidades", "Como te digo, el pedido son 30 unidades.",
     "cifras"},
    {"el presupuesto mejorado es de tres mil euros", "El presupuesto mejorado es de 2000 euros.",
     "cifras"},
    {"el contrato se firmó en dos mil veinticinco", "El contrato se firmó en 2024.", "cifras"},
    {"compra 2 kilos y medio de naranjas", "Compra 2 kilos de naranjas.", "quita"},
    {"el precio es de 1500 euros", "El precio es de 1.500 euros.", "cifras"},
    {"llámame al seis cero cero uno dos tres cuatro cinco seis", "Llámame al 600 123 465.",
     "cifras"},
    {"cuesta diecinueve con noventa y nueve", "Cuesta 19,90.", "cifras"},
    // A self-correction that keeps the wrong half.
    {"eh bueno pues el envío lo hacemos el lunes no perdón el martes por la mañana",
     "El envío lo hacemos el lunes por la mañana.", "fecha"},
    {"mándalo a Pedro no perdón a Luis", "Mándalo a Pedro.", "nombre"},
    {"la reunión es a las cuatro quiero decir a las cinco", "La reunión es a las cuatro.",
     "cifras"},
    // Words swapped for others.
    {"me puedes decir cuándo llega el paquete", "El paquete llega mañana.", "fecha"},
    {"mándame el informe", "Mándame el informe, por favor.", "anade"},
    {"avisa a Laura de que llegamos tarde", "Avisa a Lara de que llegamos tarde.", "nombre"},
    {"el pedido llega en cinco días", "El pedido llega en quince días.", "cifras"},
    {"la entrega será la próxima semana", "La entrega será el próximo mes.", "anade"},
    {"hay que comprar las acciones", "Hay que vender las acciones.", "anade"},
    {"mañana compraré el pan", "Mañana comprará el pan.", "anade"},
    {"confirma que podemos ir todos", "Confirma que podemos ir algunos.", "anade"},
    {"llámame antes de la reunión", "Llámame después de la reunión.", "anade"},
    {"el informe es muy importante", "El informe es importante.", "quita"},
    {"mañana te mando el informe y el presupuesto", "Mañana te mando el informe.", "quita"},
    {"recuérdame llamar a mamá mañana", "De acuerdo, te lo recordaré mañana.", "anade"},
    {"apunta que el vuelo sale a las seis", "Apuntado: el vuelo sale a las 6.", "anade"},
    {"me dices lo que piensas del plan", "¿A qué te refieres?", "corto"},
    // A self-correction may only take what it corrects.
    {"mañana no puedo ir a la cena perdón a la comida", "Mañana a la comida.", "negacion"},
    // A homophone swapped for another word, or with another change.
    {"ya lo he echo", "Ya lo he dicho.", "anade"},
    {"ayer tubo una reunión con Ana", "Ayer tiene una reunión con Ana.", "anade"},
    {"te hecho de menos", "No te echo de menos.", "negacion"},
    {"haber si nos vemos mañana", "A ver si nos vemos el lunes.", "fecha"},
    {"hay está el libro", "Ahí no está el libro.", "negacion"},
    // A restated self-correction that keeps the wrong half, or a repair said only once.
    {"quedamos el jueves no el viernes perdón el jueves", "Quedamos el viernes.", "fecha"},
    {"quedamos a las cinco no a las seis perdón a las cinco", "Quedamos a las seis.", "cifras"},
    {"dile a Ana no a Luis perdón a Ana que venga", "Dile a Luis que venga.", "nombre"},
    {"quedamos el jueves no el viernes perdón el sábado", "Quedamos el jueves.", "negacion"},
    // A changed hour, or a 24-hour time that leaves the part of the day unsaid.
    {"la reunión es a las cinco de la tarde", "La reunión es a las 18:00.", "cifras"},
    {"la reunión es a las cinco de la tarde", "La reunión es a las 5:00.", "cifras"},
    {"la cena es a las nueve de la noche", "La cena es a las 9:00.", "cifras"},
    {"salimos a las cinco y media de la mañana", "Salimos a las 17:30.", "cifras"},
    {"el tren sale a las diez y cuarto de la noche", "El tren sale a las 22:30.", "cifras"},
    {"el tren sale a las ocho de la mañana", "El tren sale a las 8.", "fecha"},
    // Reordered words that change who does what, which figure or day goes where, or a
    // negation's reach.
    {"el perro mordió al gato", "El gato mordió al perro.", "anade"},
    {"Juan llama a Pedro", "Pedro llama a Juan.", "nombre"},
    {"compra cinco cajas de diez", "Compra 10 cajas de 5.", "cifras"},
    {"el jueves llega Ana y el viernes Luis", "El viernes llega Ana y el jueves Luis.", "fecha"},
    {"no vino Juan vino Pedro", "Vino Juan, no vino Pedro.", "negacion"},
    {"mañana te llamo sin falta", "Sin falta, te llamo el lunes.", "fecha"},
    {"pon el vaso en la mesa", "Pon la mesa en el vaso.", "anade"},
};

// The prompt's examples first: a guard that refused them would refuse the model doing as told.
std::vector<Case> faithfulCases() {
    std::vector<Case> cases;
    for (const auto& [raw, answer] : Polisher::examples()) {
        cases.push_back({std::string(raw), std::string(answer)});
    }
    cases.insert(cases.end(), kFaithful.begin(), kFaithful.end());
    return cases;
}

TEST(PolishGuard, KeepsFaithfulPolishes) {
    std::size_t kept = 0;
    const auto cases = faithfulCases();
    for (const auto& c : cases) {
        Polisher::Verdict v = Polisher::judge(c.raw, c.answer);
        kept += v.accepted;
        EXPECT_TRUE(v.accepted) << c.raw << " -> " << c.answer << " (" << v.reason << ")";
        EXPECT_EQ(v.reason, "") << c.raw;
    }
    std::cout << "faithful polishes kept: " << kept << " of " << cases.size() << "\n";
}

TEST(PolishGuard, RefusesBadAnswersForTheirReason) {
    std::size_t refused = 0;
    for (const auto& c : kBad) {
        Polisher::Verdict v = Polisher::judge(c.raw, c.answer);
        refused += !v.accepted;
        EXPECT_FALSE(v.accepted) << c.raw << " -> " << c.answer;
        EXPECT_EQ(v.reason, c.reason) << c.raw << " -> " << c.answer;
    }
    std::cout << "bad answers refused: " << refused << " of " << kBad.size() << "\n";
}

TEST(PolishGuard, WordsAreFoldedAndNumbersRead) {
    struct Case {
        std::string text;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"¡MAÑANA, el Miércoles!", {"manana", "el", "miercoles"}},
        {"aqui\xCC\x81 y O'Donnell", {"aqui", "y", "odonnell"}}, // an accent written apart
        {"dos mil veinticinco", {"2025"}},
        {"mil quinientos y 1.500 y 1500", {"1500", "y", "1500", "y", "1500"}},
        {"trescientos cuarenta y dos", {"342"}},
        {"un millón doscientos mil", {"1200000"}},
        {"3 millones", {"3000000"}},
        {"cero seis uno dos", {"0612"}},
        {"dos coma cinco y 2,5", {"2.5", "y", "2.5"}},
        {"a las 5:30", {"a", "las", "5:30"}},
        {"el veinte por ciento", {"el", "20", "%"}},
        {"un café y una tarta", {"un", "cafe", "y", "una", "tarta"}}, // articles stay words
        {"dos tres", {"23"}},
        {"veinte treinta", {"20", "30"}},
        {"\xFF\xFEhola\xC3", {"hola"}},
        {"١٢ y ٣", {"12", "y", "3"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> keys;
        for (const auto& w : Polisher::words(c.text)) {
            keys.push_back(w.key);
        }
        EXPECT_EQ(keys, c.keys) << c.text;
    }
    // Only a number opening a line and followed by "." or ")" marks a list item.
    auto kinds = [](std::string_view text) {
        std::string out;
        for (const auto& w : Polisher::words(text)) {
            out += w.kind == Polisher::Word::Kind::listMark ? 'L'
                   : w.kind == Polisher::Word::Kind::number ? 'N'
                                                            : 'w';
        }
        return out;
    };
    EXPECT_EQ(kinds("1. Pan\n2) Sal\nson 3. Y 4.5"), "LwLwwNwN");
}

TEST(PolishGuard, OddInputGivesAVerdict) {
    const std::string huge = [] {
        std::string s;
        for (int i = 0; i < 4000; ++i) {
            s += "eh bueno el lunes no perdón el martes 12 ";
        }
        return s;
    }();
    const std::string cases[] = {
        "\xFF\xFE\xC3",
        "...!!!",
        "👨‍👩‍👧 🇪🇸",
        "no perdón",
        "perdón perdón perdón",
        "mejor",
        "y y y y",
        "1. 2. 3.",
        "mil mil millones millones",
        "\xCD\x9B", // a lone combining mark: no character to count
        huge,
    };
    for (const auto& raw : cases) {
        for (const auto& answer : cases) {
            Polisher::Verdict v = Polisher::judge(raw, answer);
            EXPECT_EQ(v.accepted, v.reason.empty())
                << raw.substr(0, 40) << " / " << answer.substr(0, 40);
        }
        // An answer that changes nothing is never refused.
        EXPECT_TRUE(Polisher::accept(raw, raw)) << raw.substr(0, 40);
    }
    // A long faithful polish is still compared word by word.
    std::string polished;
    for (int i = 0; i < 4000; ++i) {
        polished += "El martes 12. ";
    }
    EXPECT_TRUE(Polisher::accept(huge, polished));
    EXPECT_EQ(Polisher::judge(huge, polished + "Gracias.").reason, "anade");
}

} // namespace
} // namespace vozmo
