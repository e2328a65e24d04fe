#include "UI/Forms/LoginDialog.hpp"

#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/Views.hpp"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kestrova::ui {

LoginDialog::LoginDialog(std::shared_ptr<AppContext> context, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      screen_(std::make_shared<LoginViewController>(
          std::make_shared<AppStateSignInService>(context->controller), context->platform)),
      email_(new QLineEdit(this)), password_(new QLineEdit(this)), token_(new QLineEdit(this)),
      service_(new QLineEdit(this)), serviceNote_(new QLabel(this)), error_(new QLabel(this)),
      spinner_(new Spinner(this)), login_(new QPushButton(tr("Sign In"), this)), divider_(new QFrame(this)),
      register_(new QPushButton(tr("Create an Account…"), this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Sign In"));
    setObjectName(QStringLiteral("loginDialog"));
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(420);

    auto* layout = new QVBoxLayout(this); // owned by the dialog
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(10);
    auto* heading = new QLabel(tr("Sign in to Quillnest"), this);
    QFont big = heading->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    heading->setFont(big);
    layout->addWidget(heading);
    auto* hint = new QLabel(tr("With your e-mail address and password, or with an API token."), this);
    hint->setWordWrap(true);
    hint->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(hint);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    email_->setPlaceholderText(tr("name@example.com"));
    email_->setAccessibleName(tr("E-mail address"));
    email_->setObjectName(QStringLiteral("email"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setAccessibleName(tr("Password"));
    password_->setObjectName(QStringLiteral("password"));
    token_->setPlaceholderText(tr("Token …"));
    token_->setAccessibleName(tr("API token"));
    token_->setObjectName(QStringLiteral("token"));
    form->addRow(tr("&E-mail:"), email_);
    form->addRow(tr("&Password:"), password_);
    form->addRow(tr("or API &token:"), token_);
    service_->setPlaceholderText(tr("https://quillnest.example"));
    service_->setAccessibleName(tr("Service address"));
    service_->setObjectName(QStringLiteral("serviceAddress"));
    form->addRow(tr("Ser&vice address:"), service_);
    serviceNote_->setWordWrap(true);
    serviceNote_->setForegroundRole(QPalette::PlaceholderText);
    serviceNote_->setAccessibleName(tr("Why the service address is fixed"));
    form->addRow(QString(), serviceNote_);
    layout->addLayout(form);

    error_->setWordWrap(true);
    error_->setAccessibleName(tr("Sign-in error"));
    layout->addWidget(error_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(spinner_);
    buttons->addStretch(1);
    // Return is the inputs' own: a default button would submit a second time.
    login_->setAutoDefault(false);
    login_->setAccessibleName(tr("Sign In"));
    login_->setObjectName(QStringLiteral("signIn"));
    buttons->addWidget(login_);
    layout->addLayout(buttons);

    divider_->setFrameShape(QFrame::HLine);
    divider_->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider_);
    auto* registration = new QHBoxLayout;
    registration->addWidget(new QLabel(tr("No account yet?"), this));
    registration->addStretch(1);
    register_->setAutoDefault(false);
    register_->setAccessibleName(tr("Create an account in the browser"));
    registration->addWidget(register_);
    layout->addLayout(registration);

    auto email = std::make_shared<TextFieldBinding>(email_);
    auto password = std::make_shared<TextFieldBinding>(password_);
    auto token = std::make_shared<TextFieldBinding>(token_);
    auto service = std::make_shared<TextFieldBinding>(service_);
    auto serviceNote = std::make_shared<LabelBinding>(serviceNote_);
    auto spinner = std::make_shared<ActivityIndicatorBinding>(spinner_);
    auto login = std::make_shared<PushButtonBinding>(login_);
    auto error = std::make_shared<LabelBinding>(error_);
    auto divider = std::make_shared<WidgetBinding<View, QWidget>>(divider_);
    auto registerButton = std::make_shared<PushButtonBinding>(register_);
    auto host = std::make_shared<WidgetHost>(this);
    host->onDismiss = [this] {
        closing_ = true;
        accept();
    };
    bindings_ = {email, password, token,   service,        serviceNote, spinner,
                 login, error,    divider, registerButton, host};
    screen_->emailTextField = email;
    screen_->passwordTextField = password;
    screen_->tokenTextField = token;
    screen_->serviceAddressField = service;
    screen_->serviceAddressNote = serviceNote;
    screen_->activityIndicator = spinner;
    screen_->loginButton = login;
    screen_->errorLabel = error;
    screen_->registrationDivider = divider;
    screen_->registerButton = registerButton;
    screen_->host = host;

    const std::weak_ptr<LoginViewController> weak = screen_;
    connect(login_, &QPushButton::clicked, this, [weak] {
        if (auto s = weak.lock())
            s->loginButtonWasPressed();
    });
    connect(register_, &QPushButton::clicked, this, [weak] {
        if (auto s = weak.lock())
            s->registerButtonWasPressed();
    });
    for (const auto& [field, binding] : {std::pair{email_, email}, std::pair{password_, password},
                                         std::pair{token_, token}, std::pair{service_, service}})
        connect(field, &QLineEdit::returnPressed, this, [weak, binding = binding] {
            if (auto s = weak.lock())
                s->textFieldShouldReturn(*binding);
        });
    screen_->viewDidLoad();
    // The screen only ever clears its error label; an empty one takes no room.
    error_->hide();
}

LoginDialog::~LoginDialog() = default;

void LoginDialog::reject() {
    // Escape: the dialog stays until a sign-in succeeds.
    if (closing_ || !screen_->isModalInPresentation)
        QDialog::reject();
}

void LoginDialog::closeEvent(QCloseEvent* event) {
    if (closing_ || !screen_->isModalInPresentation) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
}

} // namespace kestrova::ui
