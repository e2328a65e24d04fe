#include "quillnest/Certificate.hpp"

#include "TestService.hpp"

#include <cstdlib>

namespace quillnest::testing {
namespace {

/// A TLS server on 127.0.0.1 with a fresh self-signed certificate valid for `days`.
class TLSServer {
public:
    TLSServer(const std::filesystem::path& directory, int days)
        : cert_(directory / "cert.pem"), key_(directory / "key.pem") {
        auto command = "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + key_.string() + "' -out '" +
                       cert_.string() + "' -days " + std::to_string(days) +
                       " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("openssl could not make a certificate");
        server_ = std::make_unique<httplib::SSLServer>(cert_.c_str(), key_.c_str());
        server_->Get("/", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("ok", "text/plain");
        });
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
    }
    ~TLSServer() {
        for (int attempt = 0; attempt < 50 && server_->is_running(); ++attempt) {
            server_->stop();
            httplib::Client knock("127.0.0.1", port_);
            knock.set_connection_timeout(0, 100'000);
            (void)knock.Get("/");
        }
        server_->stop();
        thread_.join();
    }
    TLSServer(const TLSServer&) = delete;
    TLSServer& operator=(const TLSServer&) = delete;

    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }
    std::string certificate() const { return cert_.string(); }

private:
    std::filesystem::path cert_;
    std::filesystem::path key_;
    std::unique_ptr<httplib::SSLServer> server_;
    int port_ = 0;
    std::thread thread_;
};

TEST(Certificates, ExpiryIsReadFromTheHandshake) {
    for (int days : {5, 400}) {
        TemporaryDirectory directory;
        TLSServer server(directory.path(), days);
        auto left = certificateDaysLeft(server.url(), 10, server.certificate());
        ASSERT_TRUE(left) << days;
        EXPECT_GT(*left, days - 1.01);
        EXPECT_LE(*left, days + 0.01);
        // Not trusted by the system: nothing is read (the probe itself reports the failure).
        EXPECT_FALSE(certificateDaysLeft(server.url(), 10));
    }
    EXPECT_FALSE(certificateDaysLeft("http://127.0.0.1:1/", 1));
    EXPECT_FALSE(certificateDaysLeft("not a url", 1));
}

} // namespace
} // namespace quillnest::testing
