#pragma once

#include "Presentation/ViewKit.hpp"
#include "Service/ServiceURLs.hpp"
#include "State/AppStateController.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// What the sign-in screen asks of the application state: the controller's own operations, behind an
/// interface so the screen's rules can be checked without a service.
class SignInService {
public:
    virtual ~SignInService() = default;
    virtual void login(const std::string& email, const std::string& password,
                       AppStateController::Completion completion) = 0;
    virtual void setCredentials(const std::string& token) = 0;
    virtual void sync(AppStateController::Completion completion) = 0;
    virtual void finishSignIn(bool ok, joblark::ErrorPtr error,
                              AppStateController::Completion completion) = 0;
    /// The service address in use, whether the environment decides it, and a change of it.
    virtual std::string serviceAddress() const { return ServiceURLs::serviceBaseURL(); }
    virtual bool isServiceAddressFixed() const { return ServiceURLs::isOverriddenByEnvironment(); }
    virtual void setServiceAddress(const std::string& origin, std::function<void()> completion) = 0;
};

/// The state controller itself (held weakly: a gone controller does nothing).
class AppStateSignInService : public SignInService {
public:
    explicit AppStateSignInService(std::weak_ptr<AppStateController> controller);
    void login(const std::string& email, const std::string& password,
               AppStateController::Completion completion) override;
    void setCredentials(const std::string& token) override;
    void sync(AppStateController::Completion completion) override;
    void finishSignIn(bool ok, joblark::ErrorPtr error, AppStateController::Completion completion) override;
    void setServiceAddress(const std::string& origin, std::function<void()> completion) override;

private:
    std::weak_ptr<AppStateController> controller_;
};

/// The sign-in screen: e-mail and password (exchanged for a token) or an API token, tried with a
/// full sync. It cannot be dismissed by the user; it closes itself when a sign-in succeeds and shows
/// the shared error alert when one fails. Desktop keyboards cover nothing, so there is no inset logic.
/// Main thread.
class LoginViewController : public ViewController {
public:
    static constexpr std::string_view TOKEN_PREFIX = "Token";

    LoginViewController(std::shared_ptr<SignInService> service, std::weak_ptr<Platform> platform);
    std::string className() const override { return "Kestrova.LoginViewController"; }

    std::weak_ptr<TextField> emailTextField;
    std::weak_ptr<TextField> passwordTextField;
    std::weak_ptr<TextField> tokenTextField;
    std::weak_ptr<ActivityIndicator> activityIndicator;
    std::weak_ptr<Button> loginButton;
    /// Only ever cleared here.
    std::weak_ptr<Label> errorLabel;
    std::weak_ptr<View> registrationDivider;
    std::weak_ptr<Button> registerButton;
    /// Where the account lives: the service's address (an http or https origin).
    std::weak_ptr<TextField> serviceAddressField;
    /// Says why the address cannot be changed when the environment decides it.
    std::weak_ptr<Label> serviceAddressNote;

    /// The user cannot close the dialog (no close button, Escape ignored).
    bool isModalInPresentation = false;

    void viewDidLoad() override;
    void loginButtonWasPressed();
    /// The return key in any input submits; the key itself is refused (false).
    bool textFieldShouldReturn(const TextField& field);
    void registerButtonWasPressed();

    /// The token input's text when it is not empty, or both e-mail and password when both are not
    /// empty (judged before trimming).
    bool isFormComplete() const;

private:
    void startSignIns();
    void signInWithEmailAndPassword();
    void signInWithToken();
    void begin();
    void finish(bool ok, joblark::ErrorPtr error);
    AppStateController::Completion resultStep();

    std::shared_ptr<SignInService> service_;
    std::weak_ptr<Platform> platform_;
};

/// Trims space characters of every kind (ASCII, no-break, the typographic spaces) and tabs from both
/// ends; line breaks stay.
std::string trimmingSpacesAndTabs(std::string_view text);

} // namespace kestrova
