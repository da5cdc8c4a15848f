#include "config.h"
#include "polisher.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <thread>

namespace vozmo {
namespace {

using nlohmann::json;
using Words = std::vector<std::string>;

std::vector<std::string> splitAtLineFeeds(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string_view::npos; start = at + 1) {
        out.emplace_back(text.substr(start, at - start));
    }
    out.emplace_back(text.substr(start));
    return out;
}

TEST(PolishPrompt, SystemTextAndExamples) {
    auto lines = splitAtLineFeeds(Polisher::system);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1], "Reglas:");
    EXPECT_TRUE(lines[0].starts_with("Eres el corrector de un programa de dictado por voz."));
    EXPECT_TRUE(lines[0].ends_with("listo para pegar, sin comillas ni comentarios."));
    EXPECT_EQ(lines[3],
              "2. Si la persona se corrige (\"no, perdón\", \"mejor\", \"quiero decir\", \"digo\", "
              "\"no espera\"), deja solo la versión final. Si no está claro qué quiso decir, "
              "conserva todas las palabras.");
    EXPECT_EQ(lines[5], "4. Si enumera pasos (primero, segundo, tercero\u2026), escríbelos como "
                        "lista numerada.");
    EXPECT_EQ(lines[8], "7. Conserva nombres, cifras, fechas, negaciones, el tono y el idioma "
                        "original.");

    EXPECT_EQ(Polisher::systemText({}), std::string(Polisher::system));
    EXPECT_EQ(Polisher::systemText({"WhatsApp", "Jira"}),
              std::string(Polisher::system) +
                  "\nEscribe estos términos exactamente así: WhatsApp, Jira.");

    const auto& examples = Polisher::examples();
    ASSERT_EQ(examples.size(), 6u);
    EXPECT_EQ(examples[0].second, "Quedamos el miércoles a las cinco.");
    EXPECT_EQ(examples[3].second,
              "1. Revisar el contrato.\n2. Llamar al cliente.\n3. Enviar la factura.");
    EXPECT_EQ(examples[5].first, "qué opinas de esto");
    EXPECT_EQ(examples[5].second, "¿Qué opinas de esto?");
}

TEST(PolishRequest, BodyMembersAndMessages) {
    const std::string text = "hola qué tal esto es una prueba";
    json body = Polisher::polishRequestBody(text, {"Jira"});
    std::set<std::string> members;
    for (const auto& [key, value] : body.items()) {
        members.insert(key);
    }
    EXPECT_EQ(members, (std::set<std::string>{"messages", "temperature", "top_p", "max_tokens",
                                              "cache_prompt", "chat_template_kwargs"}));
    EXPECT_TRUE(body["temperature"].is_number_float());
    EXPECT_DOUBLE_EQ(body["temperature"].get<double>(), 0.1);
    EXPECT_DOUBLE_EQ(body["top_p"].get<double>(), 0.9);
    EXPECT_TRUE(body["max_tokens"].is_number_integer());
    EXPECT_EQ(body["max_tokens"], 31 + 150);
    EXPECT_EQ(body["cache_prompt"], true);
    EXPECT_EQ(body["chat_template_kwargs"], json({{"enable_thinking", false}}));
    EXPECT_TRUE(body["chat_template_kwargs"]["enable_thinking"].is_boolean());

    const json& messages = body["messages"];
    ASSERT_EQ(messages.size(), 14u);
    for (const auto& m : messages) {
        ASSERT_EQ(m.size(), 2u);
        EXPECT_TRUE(m["role"].is_string());
        EXPECT_TRUE(m["content"].is_string());
    }
    EXPECT_EQ(messages[0]["role"], "system");
    EXPECT_EQ(messages[0]["content"], Polisher::systemText({"Jira"}));
    for (std::size_t i = 0; i < 6; ++i) {
        const auto& [dictation, answer] = Polisher::examples()[i];
        EXPECT_EQ(messages[1 + 2 * i]["role"], "user");
        EXPECT_EQ(messages[1 + 2 * i]["content"],
                  "<dictado>" + std::string(dictation) + "</dictado>");
        EXPECT_EQ(messages[2 + 2 * i]["role"], "assistant");
        EXPECT_EQ(messages[2 + 2 * i]["content"], answer);
    }
    EXPECT_EQ(messages[13]["role"], "user");
    EXPECT_EQ(messages[13]["content"], "<dictado>" + text + "</dictado>");
}

TEST(PolishRequest, MaxTokensFollowsTheCharacterCount) {
    struct Case {
        std::string text;
        int maxTokens;
    };
    const Case cases[] = {
        {"", 150},
        {std::string(10, 'a'), 160},
        {"mañana é\xCC\x81", 150 + 8}, // characters, not bytes or code points
        {std::string(1349, 'a'), 1499},
        {std::string(1350, 'a'), 1500},
        {std::string(2000, 'a'), 1500},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Polisher::polishRequestBody(c.text, {})["max_tokens"], c.maxTokens)
            << c.text.size();
    }
}

TEST(PolishRequest, HttpExchange) {
    HttpRequest r = Polisher::polishRequest("hola", {}, 8179);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.url, "http://127.0.0.1:8179/v1/chat/completions");
    EXPECT_EQ(r.headers, (std::vector<std::pair<std::string, std::string>>{
                             {"Content-Type", "application/json"}}));
    EXPECT_DOUBLE_EQ(r.timeoutSeconds, 8.0);
    EXPECT_EQ(json::parse(r.body), Polisher::polishRequestBody("hola", {}));
    EXPECT_EQ(Polisher::polishRequest("x", {}).url, "http://127.0.0.1:8179/v1/chat/completions");
    // Ill-formed UTF-8 in a dictation still gives a valid JSON body.
    HttpRequest bad = Polisher::polishRequest("hola \xFF", {});
    EXPECT_TRUE(json::accept(bad.body));
}

std::string answerWith(const json& choice) {
    return json({{"choices", json::array({choice})}, {"object", "chat.completion"}}).dump();
}

json choice(const json& finish, const json& message) {
    return {{"finish_reason", finish}, {"index", 0}, {"message", message}};
}

TEST(PolishAnswer, EveryRefusalReason) {
    const json good = {{"role", "assistant"}, {"content", "Hola."}};
    struct Case {
        const char* why;
        int status;
        std::optional<std::string> body;
    };
    const Case cases[] = {
        {"no HTTP answer", 0, std::nullopt},
        {"status 503", 503, R"({"error":{"message":"Loading model","code":503}})"},
        {"status 500", 500, answerWith(choice("stop", good))},
        {"status 200 without body", 200, std::nullopt},
        {"body not JSON", 200, "Hola."},
        {"body cut short", 200, answerWith(choice("stop", good)).substr(0, 30)},
        {"top level an array", 200, "[" + answerWith(choice("stop", good)) + "]"},
        {"top level a string", 200, "\"Hola.\""},
        {"no choices", 200, R"({"object":"chat.completion"})"},
        {"choices not an array", 200, json({{"choices", choice("stop", good)}}).dump()},
        {"choices empty", 200, R"({"choices":[]})"},
        {"a choice not an object", 200,
         json({{"choices", json::array({choice("stop", good), "x"})}}).dump()},
        {"cut by the token limit", 200, answerWith(choice("length", good))},
        {"finish_reason absent", 200, answerWith({{"index", 0}, {"message", good}})},
        {"finish_reason null", 200, answerWith(choice(nullptr, good))},
        {"finish_reason not a string", 200, answerWith(choice(1, good))},
        {"finish_reason in capitals", 200, answerWith(choice("STOP", good))},
        {"message absent", 200, answerWith({{"finish_reason", "stop"}})},
        {"message a string", 200, answerWith(choice("stop", "Hola."))},
        {"content absent", 200, answerWith(choice("stop", {{"role", "assistant"}}))},
        {"content null", 200, answerWith(choice("stop", {{"content", nullptr}}))},
        {"content an array", 200,
         answerWith(choice("stop", {{"content", json::array({"Hola."})}}))},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Polisher::readPolishAnswer(c.status, c.body), std::nullopt) << c.why;
    }
    EXPECT_EQ(Polisher::readPolishAnswer(200, answerWith(choice("stop", good))), "Hola.");
    // Only the first choice counts.
    json two = {
        {"choices", json::array({choice("stop", good), choice("length", {{"content", "Otra."}})})}};
    EXPECT_EQ(Polisher::readPolishAnswer(200, two.dump()), "Hola.");
    // The answer is cleaned, and may end up empty.
    EXPECT_EQ(
        Polisher::readPolishAnswer(200, answerWith(choice("stop", {{"content", " \"Hola.\"\n"}}))),
        "Hola.");
    EXPECT_EQ(Polisher::readPolishAnswer(200, answerWith(choice("stop", {{"content", "  "}}))), "");
}

TEST(PolishAnswer, ContentCleaning) {
    struct Case {
        std::string content, cleaned;
    };
    const Case cases[] = {
        {"primero pienso\n</think>\n\nHola.", "Hola."},
        {"<think>a</think>b</think>c", "b</think>c"}, // only up to the first end tag
        {"\"Hola, ¿qué tal?\"", "Hola, ¿qué tal?"},
        {"\" Hola \"", " Hola "}, // the inner text is not trimmed again
        {"\"\"", ""},
        {"\"", "\""},
        {"\"Hola", "\"Hola"},
        {"«\u00A0Hola\u00A0»", "«\u00A0Hola\u00A0»"},
        {"\"a\" y \"b\"", "a\" y \"b"},
        {"\"Hola\"\xCC\x81", "\"Hola\"\xCC\x81"}, // the last character is a quote with an accent
        {"<dictado>Hola.</dictado>", "Hola."},
        {"<dictado><dictado>Hola.</dictado>", "Hola."},
        {"\n\t Hola.\n\u2028", "Hola."},
        {"</think>\"<dictado> Hola </dictado>\"", " Hola "},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Polisher::cleanContent(c.content), c.cleaned) << c.content;
    }
}

TEST(PolishAccept, Table) {
    struct Case {
        std::string raw, polished;
        bool accepted;
    };
    const Case cases[] = {
        {"cualquier cosa", " \n\t\n ", false},
        {"cualquier cosa", "", false},
        {"dile que lo siento mucho", "Dile que lo siento mucho.", true},
        {"dile que no puedo ir hoy", "Lo siento, no puedo ayudar con eso.", false},
        {"aquí tienes las llaves", "Aquí tienes las llaves.", true},
        {"manda el texto ya", "Aquí está el texto: manda el texto ya", false},
        {"como asistente", "Como asistente.", true},
        {"revisa esto", "TEXTO CORREGIDO: Revisa esto.", false},
        // The marker in the answer decomposed, the dictation composed: still the same marker.
        {"dile que aquí tienes todo", "Dile que aqui\xCC\x81 tienes todo.", true},
        {"quedamos el martes no perdón el miércoles", "Quedamos el miércoles.", true},
        {"quedamos el martes no te digo el miércoles", "Quedamos el miércoles.", true},
        {"quedamos el martes y luego el miércoles", "Quedamos el miércoles.", false},
        {"el precio es de 1500 euros", "El precio es de 1.500 euros.", false},
        {"el precio es de 1500 euros", "El precio es de 1500 euros.", true},
        {"a las 5", "A las cinco.", false},
        {"a las cinco", "A las 5.", true},
        {"primero uno segundo dos", "1. Uno.\n2. Dos.", true},
        {"el 07 de mayo", "El 7 de mayo.", false},
        // Self-correction markers are whole words: "código" holds "digo" but corrects nothing,
        // so its number is checked.
        {"el código es 1234 ya", "El código es 12.", false},
        {"el numero es 1234 ya", "El numero es 12.", false},
        // Canonical equivalence in the self-correction markers; the repair is kept whole.
        {"el lunes no perdo\xCC\x81n el martes a las cinco", "El martes a las cinco.", true},
        {"no perdo\xCC\x81n el martes a las cinco", "El martes.", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Polisher::accept(c.raw, c.polished), c.accepted) << c.raw << " -> " << c.polished;
    }
}

TEST(PolishAccept, ReasonCodes) {
    struct Case {
        std::string raw, polished;
        std::string_view reason;
    };
    const Case cases[] = {
        {"hola", "  ", "vacio"},
        {"revisa esto", "Texto corregido: revisa esto.", "marcador"},
        {"dile que sí", "Dile que sí, que mañana se lo confirmo por escrito sin falta.", "largo"},
        {"el precio final del piso es de doscientos mil euros", "El piso.", "corto"},
        {"a las 5", "A las cinco.", "cifras"},
        {"quedamos el martes", "Quedamos el martes.", ""},
    };
    for (const auto& c : cases) {
        Polisher::Verdict v = Polisher::judge(c.raw, c.polished);
        EXPECT_EQ(v.reason, c.reason) << c.raw << " -> " << c.polished;
        EXPECT_EQ(v.accepted, c.reason.empty()) << c.raw;
        EXPECT_EQ(Polisher::accept(c.raw, c.polished), v.accepted) << c.raw;
    }
}

TEST(PolishAccept, LengthLimitsInCharacters) {
    auto chars = [](std::size_t n) {
        std::string out;
        for (std::size_t i = 0; i < n; ++i) {
            out += "e\xCC\x81"; // one character, three bytes, two code points
        }
        return out;
    };
    // The word stays the same; only punctuation makes up the difference, so the length limits
    // alone decide.
    auto dots = [](std::size_t n) { return std::string(n, '.'); };
    struct Case {
        std::size_t raw, polished;
        bool accepted;
    };
    const Case cases[] = {
        {40, 65, true},                      // exactly 25 more
        {40, 66, false},                     // 26 more and ratio 1.65
        {10, 35, true},                      // 25 more at ratio 3.5
        {10, 36, false},   {100, 150, true}, // ratio exactly 1.5
        {100, 151, false}, {100, 60, true},  // ratio exactly 0.6
        {100, 59, false},  {0, 25, true},    {0, 26, false},
    };
    for (const auto& c : cases) {
        std::size_t word = std::min(c.raw, c.polished);
        std::string raw = chars(word) + dots(c.raw - word);
        std::string polished = chars(word) + dots(c.polished - word);
        EXPECT_EQ(Polisher::accept(raw, polished), c.accepted) << c.raw << " -> " << c.polished;
    }
    // 41 and 22 characters: ratio about 0.54, allowed only after a self-correction.
    EXPECT_TRUE(
        Polisher::accept("quedamos el martes no perdón el miércoles", "Quedamos el miércoles."));
    EXPECT_FALSE(
        Polisher::accept("quedamos el martes no pardón el miércoles", "Quedamos el miércoles."));
    // Ratio 0.3 is the floor with a self-correction: 100 and 101 characters shrink to 30.
    const std::string repair = "el " + std::string(27, 'b');
    EXPECT_TRUE(Polisher::accept("el " + std::string(60, 'a') + " mejor " + repair, repair));
    EXPECT_FALSE(Polisher::accept("el " + std::string(61, 'a') + " mejor " + repair, repair));
}

TEST(PolishAccept, Numbers) {
    using Set = std::set<std::string>;
    EXPECT_EQ(Polisher::numbers("007 y 7, 3.14"), (Set{"007", "7", "3", "14"}));
    EXPECT_EQ(Polisher::numbers("1.500 y 1500"), (Set{"1", "500", "1500"}));
    EXPECT_EQ(Polisher::numbers("sin cifras"), Set{});
    EXPECT_EQ(Polisher::numbers("\xD9\xA1\xD9\xA2 y 12"), (Set{"\xD9\xA1\xD9\xA2", "12"}));
    EXPECT_EQ(Polisher::numbers("x\xC2\xB2"), Set{}); // a superscript is not a decimal digit
}

// A loopback HTTP server for one exchange: records the request, sends a fixed answer.
class OneShotServer {
public:
    explicit OneShotServer(std::string answer) : answer_(std::move(answer)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~OneShotServer() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(listener_);
    }
    int port() const { return port_; }
    std::string request() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return request_;
    }

private:
    void serve() {
        pollfd p{listener_, POLLIN, 0};
        while (!stop_ && ::poll(&p, 1, 100) == 0) {
        }
        if (stop_) {
            return;
        }
        int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        char buf[4096];
        std::size_t expected = std::string::npos;
        while (request_.size() < expected) {
            pollfd c{fd, POLLIN, 0};
            if (::poll(&c, 1, 30000) <= 0) {
                break;
            }
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            request_.append(buf, std::size_t(n));
            auto end = request_.find("\r\n\r\n");
            if (end != std::string::npos && expected == std::string::npos) {
                auto at = request_.find("Content-Length: ");
                std::size_t length =
                    at == std::string::npos ? 0 : std::stoul(request_.substr(at + 16));
                expected = end + 4 + length;
            }
        }
        std::string reply =
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
            std::to_string(answer_.size()) + "\r\nConnection: close\r\n\r\n" + answer_;
        for (std::size_t sent = 0; sent < reply.size();) {
            ssize_t n = ::write(fd, reply.data() + sent, reply.size() - sent);
            if (n <= 0) {
                break;
            }
            sent += std::size_t(n);
        }
        ::close(fd);
    }

    std::string answer_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::string request_;
};

TEST(Polish, LoopbackExchangeWithTheLoadedDictionary) {
    test::TempHome home;
    test::writeFile(config().dictionaryPath, "guasap => WhatsApp\nJira\n");
    OneShotServer server(answerWith(choice(
        "stop", {{"role", "assistant"}, {"content", "<dictado>Hola, ¿qué tal?</dictado>"}})));
    ASSERT_NE(server.port(), 0);
    auto result = Polisher::polish("hola qué tal", server.port());
    EXPECT_EQ(result, "Hola, ¿qué tal?");
    std::string request = server.request();
    EXPECT_TRUE(request.starts_with("POST /v1/chat/completions HTTP/1.1\r\n")) << request;
    EXPECT_NE(request.find("Content-Type: application/json\r\n"), std::string::npos);
    auto body = json::parse(request.substr(request.find("\r\n\r\n") + 4));
    EXPECT_EQ(body, Polisher::polishRequestBody("hola qué tal", {"WhatsApp", "Jira"}));
}

TEST(Polish, NoServerGivesAbsent) {
    int port = 0;
    {
        // A port that was free a moment ago: nothing listens there now.
        OneShotServer closed("");
        port = closed.port();
    }
    EXPECT_EQ(Polisher::polish("hola qué tal", Words{}, port), std::nullopt);
}

} // namespace
} // namespace vozmo
