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

/// The service's credential: "Token " followed by the signed-in user's API token, or nothing when
/// signed out. A new provider is made for every request, so a changed token counts at once.
class AuthenticationProvider : public joblark::APITaskAuthenticationProvider {
public:
    /// Where the current token comes from; the application state installs itself here.
    using CredentialsSource = std::function<std::optional<std::string>()>;
    static void setCredentialsSource(CredentialsSource source);

    std::optional<std::string> credential() override;
};

/// The headers of an authenticated service request: the API task's own, with "Authorization" set to
/// the provider's credential or removed when there is none. The credential goes only to the service's
/// own origin; for any other URL it is dropped and a warning (without the token) is logged.
joblark::HTTPRequestTask::Headers serviceHeaders(joblark::HTTPRequestTask::Headers headers,
                                                 const joblark::URL& target, const std::string& taskName);

/// A service task: `Base` with the service's authorisation headers.
template <class Base>
class ServiceTask : public Base {
public:
    using Base::Base;
    joblark::HTTPRequestTask::Headers headers() const override {
        return serviceHeaders(joblark::APITask::headers(), this->url(), this->className());
    }
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
