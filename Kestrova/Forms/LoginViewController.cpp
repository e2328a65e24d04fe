#include "Forms/LoginViewController.hpp"

#include "Model/UIError.hpp"
#include "Service/ServiceURLs.hpp"

#include "joblark/Tasks/TaskController.hpp"

#include <array>

namespace kestrova {
namespace {

bool hasText(const std::weak_ptr<TextField>& field) {
    auto f = field.lock();
    auto text = f ? f->text() : std::nullopt;
    return text && !text->empty();
}

std::string textOf(const std::weak_ptr<TextField>& field) {
    auto f = field.lock();
    return f ? f->text().value_or("") : "";
}

/// The length of the space or tab that `text` starts (or, with `atEnd`, ends) with; 0 for none.
std::size_t spaceLength(std::string_view text, bool atEnd) {
    // Tab, space, and the Unicode space separators in UTF-8 (no-break, Ogham, en quad … hair space,
    // narrow no-break, medium mathematical, ideographic).
    static constexpr std::array<std::string_view, 18> spaces = {"\t",           " ",
                                                                "\xC2\xA0",     "\xE1\x9A\x80",
                                                                "\xE2\x80\x80", "\xE2\x80\x81",
                                                                "\xE2\x80\x82", "\xE2\x80\x83",
                                                                "\xE2\x80\x84", "\xE2\x80\x85",
                                                                "\xE2\x80\x86", "\xE2\x80\x87",
                                                                "\xE2\x80\x88", "\xE2\x80\x89",
                                                                "\xE2\x80\x8A", "\xE2\x80\xAF",
                                                                "\xE2\x81\x9F", "\xE3\x80\x80"};
    for (auto space : spaces) {
        if (atEnd ? text.ends_with(space) : text.starts_with(space))
            return space.size();
    }
    return 0;
}

} // namespace

std::string trimmingSpacesAndTabs(std::string_view text) {
    while (auto n = spaceLength(text, false))
        text.remove_prefix(n);
    while (auto n = spaceLength(text, true))
        text.remove_suffix(n);
    return std::string(text);
}

// --- the state controller as the sign-in service -------------------------------------------------------

AppStateSignInService::AppStateSignInService(std::weak_ptr<AppStateController> controller)
    : controller_(std::move(controller)) {}

void AppStateSignInService::login(const std::string& email, const std::string& password,
                                  AppStateController::Completion completion) {
    if (auto c = controller_.lock())
        c->login(email, password, std::move(completion));
}

void AppStateSignInService::setCredentials(const std::string& token) {
    if (auto c = controller_.lock())
        c->setCredentials(token);
}

void AppStateSignInService::sync(AppStateController::Completion completion) {
    if (auto c = controller_.lock())
        c->sync(std::move(completion));
}

void AppStateSignInService::finishSignIn(bool ok, joblark::ErrorPtr error,
                                         AppStateController::Completion completion) {
    if (auto c = controller_.lock())
        c->finishSignIn(ok, std::move(error), std::move(completion));
    else if (completion)
        completion(ok, std::move(error));
}

void AppStateSignInService::setServiceAddress(const std::string& origin, std::function<void()> completion) {
    if (auto c = controller_.lock())
        c->setServiceAddress(origin, std::move(completion));
}

// --- the screen ----------------------------------------------------------------------------------------

LoginViewController::LoginViewController(std::shared_ptr<SignInService> service,
                                         std::weak_ptr<Platform> platform)
    : service_(std::move(service)), platform_(std::move(platform)) {}

void LoginViewController::viewDidLoad() {
    isModalInPresentation = true;
    if (auto divider = registrationDivider.lock())
        divider->setHidden(false);
    if (auto button = registerButton.lock())
        button->setHidden(false);
    const bool fixed = service_->isServiceAddressFixed();
    if (auto field = serviceAddressField.lock()) {
        field->setText(service_->serviceAddress());
        field->setEnabled(!fixed);
    }
    if (auto note = serviceAddressNote.lock()) {
        note->setText(fixed ? std::optional<std::string>(std::string(ServiceURLs::overrideVariable) +
                                                         " is set and decides the service address.")
                            : std::nullopt);
        note->setHidden(!fixed);
    }
}

bool LoginViewController::isFormComplete() const {
    return hasText(tokenTextField) || (hasText(emailTextField) && hasText(passwordTextField));
}

void LoginViewController::loginButtonWasPressed() {
    if (!isFormComplete())
        return;
    // A changed address is checked and taken first: the sign-in goes to the service it names.
    auto field = serviceAddressField.lock();
    const auto typed = field ? trimmingSpacesAndTabs(field->text().value_or("")) : std::string();
    if (field && !service_->isServiceAddressFixed() && !typed.empty() &&
        typed != service_->serviceAddress()) {
        const auto origin = ServiceURLs::originFrom(typed);
        if (!origin) {
            present(errorAlert(std::make_shared<UIError>(
                "Invalid service address", "The service address must be an http or https address such as " +
                                               std::string(ServiceURLs::defaultBaseURL) + ".")));
            return;
        }
        auto weak = weakAs<LoginViewController>();
        service_->setServiceAddress(*origin, [weak] {
            if (auto self = weak.lock())
                self->startSignIns();
        });
        return;
    }
    startSignIns();
}

void LoginViewController::startSignIns() {
    // Two independent steps: with all three inputs filled, both sign-ins start.
    if (isFormComplete() && hasText(tokenTextField))
        signInWithToken();
    if (isFormComplete() && hasText(emailTextField) && hasText(passwordTextField))
        signInWithEmailAndPassword();
}

bool LoginViewController::textFieldShouldReturn(const TextField& /*field*/) {
    loginButtonWasPressed();
    return false;
}

void LoginViewController::registerButtonWasPressed() {
    if (auto platform = platform_.lock())
        platform->openURL(ServiceURLs::registrationPage());
}

void LoginViewController::begin() {
    if (auto indicator = activityIndicator.lock())
        indicator->startAnimating();
    if (auto button = loginButton.lock())
        button->setEnabled(false);
}

AppStateController::Completion LoginViewController::resultStep() {
    auto weak = weakAs<LoginViewController>();
    return [weak](bool ok, joblark::ErrorPtr error) {
        joblark::ensureMainThread([weak, ok, error] {
            if (auto self = weak.lock())
                self->finish(ok, error);
        });
    };
}

void LoginViewController::signInWithEmailAndPassword() {
    const auto email = trimmingSpacesAndTabs(textOf(emailTextField));
    const auto password = trimmingSpacesAndTabs(textOf(passwordTextField));
    begin();
    service_->login(email, password, resultStep());
}

void LoginViewController::signInWithToken() {
    std::string token = textOf(tokenTextField);
    if (token.starts_with(TOKEN_PREFIX)) {
        // Every occurrence goes, not only the leading one.
        for (auto at = token.find(TOKEN_PREFIX); at != std::string::npos; at = token.find(TOKEN_PREFIX, at))
            token.erase(at, TOKEN_PREFIX.size());
    }
    token = trimmingSpacesAndTabs(token);
    begin();
    service_->setCredentials(token);
    std::weak_ptr<SignInService> service = service_;
    auto result = resultStep();
    service_->sync([service, result](bool ok, joblark::ErrorPtr error) {
        if (auto s = service.lock())
            s->finishSignIn(ok, std::move(error), result);
        else
            result(ok, std::move(error));
    });
}

void LoginViewController::finish(bool ok, joblark::ErrorPtr error) {
    if (auto button = loginButton.lock())
        button->setEnabled(true);
    if (auto indicator = activityIndicator.lock())
        indicator->stopAnimating();
    if (auto label = errorLabel.lock())
        label->setText(std::string());
    for (const auto& field : {emailTextField, passwordTextField, tokenTextField})
        if (auto f = field.lock())
            f->setText(std::string());
    if (ok) {
        dismiss();
        return;
    }
    if (!error)
        error = std::make_shared<UIError>("Login Failed", "Unknown error. Please try again.");
    present(errorAlert(error));
}

} // namespace kestrova
