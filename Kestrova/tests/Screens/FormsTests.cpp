#include "Recording.hpp"
#include "ScreenEnvironment.hpp"
#include "TestSupport.hpp"

#include "Forms/AddEndpointViewController.hpp"
#include "Forms/LoginViewController.hpp"

#include "joblark/API/APITask.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"

#include <gtest/gtest.h>

using namespace kestrova;
using namespace kestrova::testing;
using joblark::testing::pumpMainUntil;

namespace {

/// Records what the sign-in screen asks for; the test answers the completions.
struct RecordingSignIn : SignInService {
    std::vector<std::pair<std::string, std::string>> logins;
    std::vector<std::string> tokens;
    std::vector<AppStateController::Completion> pending;
    int finishes = 0;
    void login(const std::string& email, const std::string& password,
               AppStateController::Completion c) override {
        logins.emplace_back(email, password);
        pending.push_back(std::move(c));
    }
    void setCredentials(const std::string& token) override { tokens.push_back(token); }
    void sync(AppStateController::Completion c) override { pending.push_back(std::move(c)); }
    void finishSignIn(bool ok, joblark::ErrorPtr error, AppStateController::Completion c) override {
        ++finishes;
        c(ok, std::move(error));
    }
    std::string address = "https://quillnest.example";
    bool fixed = false;
    std::string serviceAddress() const override { return address; }
    bool isServiceAddressFixed() const override { return fixed; }
    void setServiceAddress(const std::string& origin, std::function<void()> completion) override {
        address = origin;
        completion();
    }
};

/// A sign-in screen with every element attached.
struct LoginScreen {
    explicit LoginScreen(std::shared_ptr<SignInService> service) {
        screen = std::make_shared<LoginViewController>(std::move(service), platform);
        screen->host = host;
        screen->emailTextField = email;
        screen->passwordTextField = password;
        screen->tokenTextField = token;
        screen->activityIndicator = indicator;
        screen->loginButton = button;
        screen->errorLabel = errorLabel;
        screen->registrationDivider = divider;
        screen->registerButton = registerButton;
        screen->viewDidLoad();
    }
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    std::shared_ptr<RecordingPlatform> platform = std::make_shared<RecordingPlatform>();
    std::shared_ptr<RecordingTextField> email = std::make_shared<RecordingTextField>(),
                                        password = std::make_shared<RecordingTextField>(),
                                        token = std::make_shared<RecordingTextField>();
    std::shared_ptr<RecordingIndicator> indicator = std::make_shared<RecordingIndicator>();
    std::shared_ptr<RecordingButton> button = std::make_shared<RecordingButton>(),
                                     registerButton = std::make_shared<RecordingButton>();
    std::shared_ptr<RecordingLabel> errorLabel = std::make_shared<RecordingLabel>();
    std::shared_ptr<RecordingView> divider = std::make_shared<RecordingView>();
    std::shared_ptr<LoginViewController> screen;
};

using Text = std::optional<std::string>;

struct SubmitCase {
    const char* name;
    Text email, password, token;
    std::vector<std::pair<std::string, std::string>> logins;
    std::vector<std::string> tokens;
};

TEST(SignIn, CompletenessTrimmingAndTokenPrefixDecideWhatIsSent) {
    const std::vector<SubmitCase> cases = {
        {"address only: incomplete", "a@b.example", {}, {}, {}, {}},
        {"empty token and empty password: incomplete", "a@b.example", "", "", {}, {}},
        {"spaces and tabs trimmed", "  a@b.example\t", "\tsecret ", {}, {{"a@b.example", "secret"}}, {}},
        {"Unicode spaces trimmed, line breaks kept",
         "\xC2\xA0"
         "a@b.example\xE3\x80\x80",
         "pw\n",
         {},
         {{"a@b.example", "pw\n"}},
         {}},
        {"an address of spaces is filled and sent empty", "   ", "pw", {}, {{"", "pw"}}, {}},
        {"Token prefix removed", {}, {}, "Token abc123 ", {}, {"abc123"}},
        {"every Token removed after a leading one", {}, {}, "Tokenab Tokencd", {}, {"ab cd"}},
        {"Token later in the key stays", {}, {}, "abcToken", {}, {"abcToken"}},
        {"all three filled: both sign-ins", "a@b.example", "pw", "key", {{"a@b.example", "pw"}}, {"key"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto service = std::make_shared<RecordingSignIn>();
        LoginScreen login(service);
        login.email->value = c.email;
        login.password->value = c.password;
        login.token->value = c.token;
        // The return key submits like the button and is itself refused.
        EXPECT_FALSE(login.screen->textFieldShouldReturn(*login.password));
        EXPECT_EQ(service->logins, c.logins);
        EXPECT_EQ(service->tokens, c.tokens);
        const bool started = !c.logins.empty() || !c.tokens.empty();
        EXPECT_EQ(login.indicator->animating, started);
        EXPECT_EQ(login.button->enabled, !started);
    }
}

TEST(SignIn, AChangedServiceAddressIsCheckedAndTakenBeforeSigningIn) {
    auto service = std::make_shared<RecordingSignIn>();
    auto field = std::make_shared<RecordingTextField>();
    auto note = std::make_shared<RecordingLabel>();
    LoginScreen login(service);
    login.screen->serviceAddressField = field;
    login.screen->serviceAddressNote = note;
    login.screen->viewDidLoad();
    EXPECT_EQ(field->value, "https://quillnest.example");
    EXPECT_TRUE(note->hidden);

    login.email->value = "me@example.com";
    login.password->value = "secret";
    field->value = "quillnest.internal"; // no scheme: not an origin
    login.screen->loginButtonWasPressed();
    ASSERT_EQ(login.host->alerts.size(), 1u);
    EXPECT_EQ(login.host->alerts[0].title, "Invalid service address");
    EXPECT_TRUE(service->logins.empty());
    EXPECT_EQ(service->address, "https://quillnest.example");

    field->value = " http://127.0.0.1:8787/ ";
    login.screen->loginButtonWasPressed();
    EXPECT_EQ(service->address, "http://127.0.0.1:8787");
    ASSERT_EQ(service->logins.size(), 1u) << "the sign-in goes on at the new address";

    // The environment decides: the field shows its address, cannot change, and says why.
    service->fixed = true;
    login.screen->viewDidLoad();
    EXPECT_FALSE(note->hidden);
    EXPECT_NE(note->value->find("KESTROVA_SERVICE_URL"), std::string::npos);
}

TEST(SignIn, EveryResultClearsTheFormAndOnlySuccessCloses) {
    struct Case {
        bool ok;
        joblark::ErrorPtr error;
        std::optional<std::pair<std::string, std::string>> alert; // title, message
    };
    const std::vector<Case> cases = {
        {true, nullptr, std::nullopt},
        {false, nullptr,
         std::pair<std::string, std::string>{"Login Failed", "Unknown error. Please try again."}},
        {false, std::make_shared<joblark::APIError>("Incorrect Credentials", 401),
         std::pair<std::string, std::string>{"Incorrect Credentials", "Incorrect Credentials"}},
    };
    for (const auto& c : cases) {
        auto service = std::make_shared<RecordingSignIn>();
        LoginScreen login(service);
        login.token->value = "key";
        login.errorLabel->value = "stale";
        login.screen->loginButtonWasPressed();
        ASSERT_EQ(service->pending.size(), 1u);
        service->pending.front()(c.ok, c.error);
        EXPECT_EQ(service->finishes, 1) << "the token's sync ends through finishSignIn";
        EXPECT_TRUE(login.button->enabled);
        EXPECT_FALSE(login.indicator->animating);
        for (auto* field : {login.email.get(), login.password.get(), login.token.get()})
            EXPECT_EQ(field->value, "");
        EXPECT_EQ(login.errorLabel->value, "");
        EXPECT_EQ(login.host->dismissals, c.ok ? 1 : 0);
        ASSERT_EQ(login.host->alerts.size(), c.alert ? 1u : 0u);
        if (c.alert) {
            EXPECT_EQ(login.host->alerts[0].title, c.alert->first);
            EXPECT_EQ(login.host->alerts[0].message, c.alert->second);
            EXPECT_EQ(login.host->alerts[0].actions.at(0).title, "Cancel");
        }
    }
}

TEST(SignIn, SetUpShowsRegistrationWhichOpensTheServicePage) {
    LoginScreen login(std::make_shared<RecordingSignIn>());
    EXPECT_TRUE(login.screen->isModalInPresentation);
    EXPECT_FALSE(login.divider->hidden);
    EXPECT_FALSE(login.registerButton->hidden);
    login.screen->registerButtonWasPressed();
    ASSERT_EQ(login.platform->opened.size(), 1u);
    EXPECT_EQ(login.platform->opened[0], ScreenEnvironment::current().service->url + "/accounts/register");
}

class SignInWithService : public ScreenTest {};

TEST_F(SignInWithService, TokenAndPasswordSignInsAgainstTheService) {
    struct Case {
        const char* name;
        Text email, password, token;
        bool signedIn;
        std::optional<std::string> alertTitle;
    };
    const std::string demoToken = ScreenEnvironment::current().service->demoToken;
    const std::vector<Case> cases = {
        {"pasted with the prefix", {}, {}, "Token " + demoToken, true, std::nullopt},
        {"a rejected token: the service's message", {}, {}, "not-a-token", false, "Invalid token"},
        {"address with a trailing space", "demo@quillnest.local ", "kestrova", {}, true, std::nullopt},
        {"a wrong password", "demo@quillnest.local", "wrong", {}, false, "Login Failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto controller = makeController();
        int logins = 0;
        auto token = joblark::NotificationCenter::defaultCenter().addObserver(
            std::string(AppStateController::didLogin), std::nullopt,
            [&](const joblark::Notification&) { ++logins; });
        LoginScreen login(std::make_shared<AppStateSignInService>(controller));
        login.email->value = c.email;
        login.password->value = c.password;
        login.token->value = c.token;
        login.screen->loginButtonWasPressed();
        ASSERT_TRUE(pumpMainUntil([&] { return login.button->enabled; }, std::chrono::seconds(30)));
        EXPECT_EQ(controller->isSignedIn(), c.signedIn);
        EXPECT_EQ(logins, c.signedIn ? 1 : 0);
        EXPECT_EQ(login.host->dismissals, c.signedIn ? 1 : 0);
        ASSERT_EQ(login.host->alerts.size(), c.alertTitle ? 1u : 0u);
        if (c.alertTitle) {
            EXPECT_EQ(login.host->alerts[0].title, *c.alertTitle);
        }
        if (c.signedIn) {
            EXPECT_TRUE(controller->state->endpoints && !controller->state->endpoints->empty());
        }
    }
}

// --- adding an endpoint ----------------------------------------------------------------------------

struct Create {
    std::string name;
    std::string url;
    AppStateController::Completion completion;
};

struct AddScreen {
    AddScreen() {
        screen = std::make_shared<AddEndpointViewController>(
            [this](const std::string& n, const joblark::URL& u, AppStateController::Completion c) {
                creates.push_back({n, u.absoluteString(), std::move(c)});
            });
        screen->host = host;
        screen->nameField = name;
        screen->urlField = url;
    }
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    std::shared_ptr<RecordingTextField> name = std::make_shared<RecordingTextField>(),
                                        url = std::make_shared<RecordingTextField>();
    std::vector<Create> creates;
    std::shared_ptr<AddEndpointViewController> screen;
};

TEST(AddEndpoint, KeysMoveFocusSubmitAndClose) {
    AddScreen form;
    form.screen->viewDidAppear();
    EXPECT_TRUE(form.name->focused);
    form.name->value = "Home";
    form.url->value = " https://example.com/health\n";

    form.name->focused = false;
    EXPECT_FALSE(form.screen->textFieldShouldChangeCharacters(*form.name, "\t"));
    EXPECT_TRUE(form.url->focused);
    EXPECT_FALSE(form.screen->textFieldShouldChangeCharacters(*form.url, "\t"));
    EXPECT_TRUE(form.name->focused);
    EXPECT_TRUE(form.screen->textFieldShouldChangeCharacters(*form.url, "a"));
    EXPECT_TRUE(form.screen->textFieldShouldChangeCharacters(*form.url, "\t\t"));
    EXPECT_TRUE(form.creates.empty());

    EXPECT_FALSE(form.screen->textFieldShouldChangeCharacters(*form.url, "\n"));
    ASSERT_EQ(form.creates.size(), 1u);
    EXPECT_EQ(form.creates[0].name, "Home");
    EXPECT_EQ(form.creates[0].url, "https://example.com/health");

    EXPECT_FALSE(form.screen->pressesBegan({PressedKey::other}));
    EXPECT_EQ(form.host->dismissals, 0);
    EXPECT_TRUE(form.screen->pressesBegan({PressedKey::other, PressedKey::escape}));
    EXPECT_EQ(form.host->dismissals, 1);
}

TEST(AddEndpoint, FailuresShowTryAgainAlertsAndKeepTheForm) {
    struct Case {
        const char* name;
        const char* nameText;
        const char* urlText;
        bool reachesService;
        joblark::ErrorPtr serviceError;
        std::string title, message;
    };
    const std::vector<Case> cases = {
        {"name first", "  ", "nonsense", false, nullptr, "Invalid name",
         "The name you entered is too short."},
        {"service error", "A", "https://example.com", true,
         std::make_shared<joblark::APIError>("Bad Request", 400), "Error creating Endpoint", "Bad Request"},
        {"failure without error", "A", "https://example.com", true, nullptr, "Unknown Error",
         "Unknown error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AddScreen form;
        form.name->value = c.nameText;
        form.url->value = c.urlText;
        form.screen->addEndpointButtonWasClicked();
        ASSERT_EQ(form.creates.size(), c.reachesService ? 1u : 0u);
        if (c.reachesService)
            form.creates[0].completion(false, c.serviceError);
        ASSERT_EQ(form.host->alerts.size(), 1u);
        const auto& alert = form.host->alerts[0];
        EXPECT_EQ(alert.title, c.title);
        EXPECT_EQ(alert.message, c.message);
        ASSERT_EQ(alert.actions.size(), 1u);
        EXPECT_EQ(alert.actions[0].title, "Try Again");
        EXPECT_EQ(alert.actions[0].style, AlertAction::Style::defaultStyle);
        EXPECT_EQ(form.host->dismissals, 0);
        EXPECT_EQ(form.name->value, c.nameText);
    }
}

TEST(AddEndpoint, AUIErrorsCallbackRunsFromTheAlertAndADoubleClickCreatesOnce) {
    AddScreen form;
    form.name->value = "A";
    form.url->value = "http://127.0.0.1:8080/";
    form.screen->addEndpointButtonWasClicked();
    form.screen->addEndpointButtonWasClicked();
    ASSERT_EQ(form.creates.size(), 1u) << "a second press while the first runs does nothing";
    bool called = false;
    form.creates[0].completion(false, std::make_shared<UIError>("Quota", "Too many", [&] { called = true; }));
    ASSERT_EQ(form.host->alerts.size(), 1u);
    EXPECT_FALSE(called);
    ASSERT_TRUE(form.host->alerts[0].actions[0].handler);
    form.host->alerts[0].actions[0].handler();
    EXPECT_TRUE(called);

    form.screen->addEndpointButtonWasClicked();
    ASSERT_EQ(form.creates.size(), 2u) << "after the answer the form can submit again";
    form.creates[1].completion(true, nullptr);
    EXPECT_EQ(form.host->dismissals, 1);
}

class AddEndpointWithService : public ScreenTest {};

TEST_F(AddEndpointWithService, TheServiceCreatesTheEndpointAndTheFormCloses) {
    auto controller = makeController();
    signIn(*controller);
    const auto before = controller->state->endpoints->size();
    auto host = std::make_shared<RecordingHost>();
    auto name = std::make_shared<RecordingTextField>(), url = std::make_shared<RecordingTextField>();
    auto screen = std::make_shared<AddEndpointViewController>(std::weak_ptr<AppStateController>(controller));
    screen->host = host;
    screen->nameField = name;
    screen->urlField = url;
    name->value = " Added by the form ";
    url->value = "https://example.com/added";
    screen->addEndpointButtonWasClicked();
    ASSERT_TRUE(
        pumpMainUntil([&] { return host->dismissals + host->alerts.size() > 0; }, std::chrono::seconds(30)));
    ASSERT_TRUE(host->alerts.empty())
        << host->alerts[0].title << ": " << host->alerts[0].message.value_or("");
    ASSERT_EQ(controller->state->endpoints->size(), before + 1);
    EXPECT_EQ(controller->state->endpoints->back()->name, "Added by the form");
}

} // namespace
