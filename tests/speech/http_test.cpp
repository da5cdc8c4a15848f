#include "http.h"

#include "standin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <stop_token>
#include <thread>

namespace vozmo {
namespace {

using test::StandinKind;

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(llama.waitUntilListening()); }

    test::StandinDir dir;
    test::Standin llama{StandinKind::Llama, dir};
};

TEST_F(HttpTest, CarriesMethodHeadersAndBodyBothWays) {
    dir.configure(StandinKind::Llama, {{"status", 201}, {"body", "hecho\r\n"}});
    HttpRequest request;
    request.method = "POST";
    request.url = llama.url("/v1/chat/completions");
    request.headers = {{"Content-Type", "application/json"}, {"X-Prueba", "sí"}};
    request.body = R"({"messages":[]})";
    const auto response = http(request);
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.body, "hecho\r\n");

    const auto sent = dir.requests(StandinKind::Llama, "/v1/chat/completions");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["method"], "POST");
    EXPECT_EQ(test::recordedBody(sent[0]), request.body);
    EXPECT_EQ(test::recordedHeader(sent[0], "content-type"), "application/json");
    EXPECT_FALSE(test::recordedHeader(sent[0], "Expect"));
}

TEST_F(HttpTest, ErrorStatusesComeWithTheirBody) {
    HttpRequest request;
    request.url = llama.url("/nada");
    const auto response = http(request);
    EXPECT_EQ(response.status, 404);
    ASSERT_TRUE(response.body);
    EXPECT_NE(response.body->find("not_found_error"), std::string::npos);

    dir.configure(StandinKind::Llama, {{"probe_status", 503}});
    request.url = llama.url("/health");
    EXPECT_EQ(http(request).status, 503);
}

TEST_F(HttpTest, SlowServerIsCutAtTheTimeLimit) {
    dir.configure(StandinKind::Llama, {{"delay", 30}});
    // A limit too short for a whole millisecond is still a limit, never "wait for ever".
    for (const double limit : {0.5, 0.0001, 0.0}) {
        HttpRequest request;
        request.method = "POST";
        request.url = llama.url("/v1/chat/completions");
        request.body = "{}";
        request.timeoutSeconds = limit;
        const auto started = std::chrono::steady_clock::now();
        const auto response = http(request);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(response.status, 0) << limit;
        EXPECT_FALSE(response.body) << limit;
        EXPECT_LT(elapsed, std::chrono::seconds(20)) << limit; // cut by the limit, not answered
    }
}

// A stop request ends the exchange while the server is still working, at any stage; it is told
// apart from a failure, and a request already stopped is never sent.
TEST_F(HttpTest, StopEndsTheExchangeAtOnce) {
    dir.configure(StandinKind::Llama, {{"delay", 60}});
    HttpRequest request;
    request.method = "POST";
    request.url = llama.url("/v1/chat/completions");
    request.body = "{}";
    request.timeoutSeconds = 120;

    std::stop_source stopper;
    request.stop = stopper.get_token();
    std::optional<HttpResponse> response;
    std::thread exchange([&] { response = http(request); });
    // Stopped once the server holds the request, so the wait, not the connection, is cut.
    bool reached = false;
    for (int tries = 0; !reached && tries < 3000; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        reached = !dir.requests(StandinKind::Llama, "/v1/chat/completions").empty();
    }
    const auto stoppedAt = std::chrono::steady_clock::now();
    stopper.request_stop();
    exchange.join();
    ASSERT_TRUE(reached) << "the request never reached the server";
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::seconds(30));
    ASSERT_TRUE(response);
    EXPECT_TRUE(response->stopped);
    EXPECT_EQ(response->status, 0);
    EXPECT_FALSE(response->body);

    std::stop_source already;
    already.request_stop();
    request.stop = already.get_token();
    EXPECT_TRUE(http(request).stopped);
    EXPECT_EQ(dir.requests(StandinKind::Llama, "/v1/chat/completions").size(), 1u);
}

TEST(HttpUnreachable, RefusedConnectionIsStatusZero) {
    HttpRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(test::freePort()) + "/";
    request.timeoutSeconds = 5;
    const auto response = http(request);
    EXPECT_EQ(response.status, 0);
    EXPECT_FALSE(response.body);
}

} // namespace
} // namespace vozmo
