#pragma once

#include "Forms/AddEndpointForm.hpp"
#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include <functional>
#include <memory>
#include <string>

namespace kestrova {

/// The keys the form reacts to by itself.
enum class PressedKey { escape, other };

/// The small add-endpoint form: a name and a URL, validated locally, then created on the service.
/// It closes itself once the service accepted the endpoint and shows a "Try Again" alert otherwise.
/// Main thread.
class AddEndpointViewController : public ViewController {
public:
    using CreateEndpoint =
        std::function<void(const std::string& name, const joblark::URL& url, AppStateController::Completion)>;

    /// Creates through the controller's createEndpoint (nothing happens when it is gone).
    explicit AddEndpointViewController(std::weak_ptr<AppStateController> controller);
    /// Creates through `create` (tests, other front ends).
    explicit AddEndpointViewController(CreateEndpoint create);
    std::string className() const override { return "Kestrova.AddEndpointViewController"; }

    std::weak_ptr<TextField> nameField;
    std::weak_ptr<TextField> urlField;

    /// Focus goes to the name input.
    void viewDidAppear() override;

    void addEndpointButtonWasClicked();
    void cancel();
    /// A replacement of exactly one tab moves the focus to the other input and exactly one line feed
    /// adds; both are refused (false). Anything else is accepted.
    bool textFieldShouldChangeCharacters(const TextField& field, std::string_view replacement);
    /// Escape closes the form (true: handled); other keys are left to the window (false).
    bool pressesBegan(const std::vector<PressedKey>& keys);

    /// True while a create request runs; a second press meanwhile is ignored, so a double click
    /// cannot create the endpoint twice.
    bool isAdding() const { return adding_; }

private:
    void presentError(const joblark::ErrorPtr& error, std::string_view fallbackTitle);

    CreateEndpoint create_;
    bool adding_ = false;
};

} // namespace kestrova
