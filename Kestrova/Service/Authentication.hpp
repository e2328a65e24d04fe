#pragma once

#include "Model/Token.hpp"

#include "joblark/API/APITask.hpp"
#include "joblark/API/ConstructableAPITask.hpp"
#include "joblark/Foundation/URL.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrova {

/// Where a service task reads the signed-in user's API token as it builds a request. The owner of
/// the token (the application state) hands its own to every task it makes, so two owners in one
/// process each send their own token.
using CredentialsSource = std::function<std::optional<std::string>()>;

/// The service's credential: "Token " followed by the source's token, or nothing when signed out or
/// without a source. A new provider is made for every request, so a changed token counts at once.
class AuthenticationProvider : public joblark::APITaskAuthenticationProvider {
public:
    AuthenticationProvider() = default;
    explicit AuthenticationProvider(CredentialsSource source) : source_(std::move(source)) {}

    std::optional<std::string> credential() override;

private:
    CredentialsSource source_;
};

/// The headers of an authenticated service request: the API task's own, with "Authorization" set to
/// the provider's credential or removed when there is none. The credential goes only to the service's
/// own origin; for any other URL it is dropped and a warning (without the token) is logged.
joblark::HTTPRequestTask::Headers serviceHeaders(joblark::HTTPRequestTask::Headers headers,
                                                 const joblark::URL& target, const std::string& taskName,
                                                 AuthenticationProvider provider);

/// A service task: `Base` with the service's authorisation headers, from the credentials source its
/// maker gives it (none: no credential is sent). Set the source before the task runs.
template <class Base>
class ServiceTask : public Base {
public:
    using Base::Base;

    void setCredentialsSource(CredentialsSource source) { this->writeField(source_, std::move(source)); }
    CredentialsSource credentialsSource() const { return this->readField(source_); }

    std::shared_ptr<joblark::APITaskAuthenticationProvider> authenticationProvider() const override {
        return std::make_shared<AuthenticationProvider>(credentialsSource());
    }
    joblark::HTTPRequestTask::Headers headers() const override {
        return serviceHeaders(joblark::APITask::headers(), this->url(), this->className(),
                              AuthenticationProvider(credentialsSource()));
    }

private:
    CredentialsSource source_;
};

/// Trades an account's e-mail address and password for an API token (HTTP Basic, no body).
class TokenExchange : public joblark::ConstructableAPITask<Token> {
public:
    TokenExchange(std::optional<std::string> emailAddress, std::optional<std::string> accountPassword)
        : email(std::move(emailAddress)), password(std::move(accountPassword)) {}

    const std::optional<std::string> email;
    const std::optional<std::string> password;

    std::string className() const override { return "Kestrova.TokenExchange"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::post; }
    bool many() const override { return false; }
    joblark::URL url() const override;
    Headers headers() const override;
};

/// Standard Base64 (with padding, no line breaks).
std::string base64Encode(std::string_view bytes);

} // namespace kestrova
