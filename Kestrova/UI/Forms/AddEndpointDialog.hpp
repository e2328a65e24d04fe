#pragma once

// The add-endpoint dialog (AddEndpointViewController): a name and a URL. Tab and Return in the inputs
// go to the screen as the characters they type, Escape and closing as the escape key.

#include "UI/Kit/AppContext.hpp"

#include "Forms/AddEndpointViewController.hpp"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <vector>

namespace kestrova::ui {

class AddEndpointDialog : public QDialog {
    Q_OBJECT
public:
    AddEndpointDialog(std::shared_ptr<AppContext> context, QWidget* parent);
    ~AddEndpointDialog() override;

    QLineEdit* nameField() const { return name_; }
    QLineEdit* urlField() const { return url_; }
    QPushButton* addButton() const { return add_; }
    const std::shared_ptr<AddEndpointViewController>& screen() const { return screen_; }

public Q_SLOTS:
    void open() override;
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::shared_ptr<AddEndpointViewController> screen_;
    QLineEdit* name_;
    QLineEdit* url_;
    QPushButton* add_;
    QPushButton* cancel_;
    std::shared_ptr<TextField> nameBinding_;
    std::shared_ptr<TextField> urlBinding_;
    std::shared_ptr<WidgetHost> host_;
};

} // namespace kestrova::ui
