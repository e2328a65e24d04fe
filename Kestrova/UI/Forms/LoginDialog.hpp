#pragma once

// The sign-in dialog (LoginViewController): e-mail and password, or an API token. Modal over the
// overview window and not closable by the user (no close button, Escape ignored); it closes itself
// when a sign-in succeeds.

#include "UI/Kit/AppContext.hpp"
#include "UI/Kit/Controls.hpp"

#include "Forms/LoginViewController.hpp"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <vector>

namespace kestrova::ui {

class LoginDialog : public QDialog {
    Q_OBJECT
public:
    LoginDialog(std::shared_ptr<AppContext> context, QWidget* parent);
    ~LoginDialog() override;

    QLineEdit* emailField() const { return email_; }
    QLineEdit* passwordField() const { return password_; }
    QLineEdit* tokenField() const { return token_; }
    QLineEdit* serviceAddressField() const { return service_; }
    QPushButton* loginButton() const { return login_; }
    QPushButton* registerButton() const { return register_; }
    Spinner* spinner() const { return spinner_; }
    const std::shared_ptr<LoginViewController>& screen() const { return screen_; }

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::shared_ptr<LoginViewController> screen_;
    QLineEdit* email_;
    QLineEdit* password_;
    QLineEdit* token_;
    QLineEdit* service_;
    QLabel* serviceNote_;
    QLabel* error_;
    Spinner* spinner_;
    QPushButton* login_;
    QFrame* divider_;
    QPushButton* register_;
    std::vector<std::shared_ptr<void>> bindings_;
    bool closing_ = false;
};

} // namespace kestrova::ui
