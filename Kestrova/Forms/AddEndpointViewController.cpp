#include "Forms/AddEndpointViewController.hpp"

#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {
namespace {

std::string textOf(const std::weak_ptr<TextField>& field) {
    auto f = field.lock();
    return f ? f->text().value_or("") : "";
}

} // namespace

AddEndpointViewController::AddEndpointViewController(std::weak_ptr<AppStateController> controller)
    : create_([controller](const std::string& name, const joblark::URL& url,
                           AppStateController::Completion done) {
          if (auto c = controller.lock())
              c->createEndpoint(name, url, std::move(done));
      }) {}

AddEndpointViewController::AddEndpointViewController(CreateEndpoint create) : create_(std::move(create)) {}

void AddEndpointViewController::viewDidAppear() {
    if (auto field = nameField.lock())
        field->becomeFirstResponder();
}

void AddEndpointViewController::cancel() {
    dismiss();
}

bool AddEndpointViewController::textFieldShouldChangeCharacters(const TextField& field,
                                                                std::string_view replacement) {
    if (replacement == "\t") {
        auto name = nameField.lock();
        auto url = urlField.lock();
        auto next = (name && &field == name.get()) ? url : name;
        if (next)
            next->becomeFirstResponder();
        return false;
    }
    if (replacement == "\n") {
        addEndpointButtonWasClicked();
        return false;
    }
    return true;
}

bool AddEndpointViewController::pressesBegan(const std::vector<PressedKey>& keys) {
    for (auto key : keys)
        if (key == PressedKey::escape) {
            dismiss();
            return true;
        }
    return false;
}

void AddEndpointViewController::addEndpointButtonWasClicked() {
    auto form = validateEndpointForm(textOf(nameField), textOf(urlField));
    if (!form) {
        presentError(form.error(), kInvalidFormTitle);
        return;
    }
    if (adding_)
        return;
    adding_ = true;
    auto weak = weakAs<AddEndpointViewController>();
    create_(form->name, form->url, [weak](bool ok, joblark::ErrorPtr error) {
        joblark::ensureMainThread([weak, ok, error] {
            auto self = weak.lock();
            if (!self)
                return;
            self->adding_ = false;
            if (ok)
                self->dismiss();
            else
                self->presentError(error ? error
                                         : std::make_shared<UIError>("Unknown Error", "Unknown error"),
                                   kCreateEndpointErrorTitle);
        });
    });
}

void AddEndpointViewController::presentError(const joblark::ErrorPtr& error, std::string_view fallbackTitle) {
    const auto text = alertText(error, fallbackTitle);
    Alert alert{text.title, text.message, Alert::Style::alert, {}};
    std::function<void()> callback;
    if (auto ui = std::dynamic_pointer_cast<const UIError>(error))
        callback = ui->callback;
    // The host runs the handler once the alert is gone; the form stays open as it was.
    alert.actions.push_back({"Try Again", AlertAction::Style::defaultStyle, callback});
    present(std::move(alert));
}

} // namespace kestrova
