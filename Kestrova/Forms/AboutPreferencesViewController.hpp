#pragma once

#include "Presentation/ViewKit.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

/// One of the information pages among the application's resources.
struct ResourcePage {
    std::string name;            ///< the file's name in "www", without ".html"
    std::string title;           ///< the button's or row's text
    std::string segueIdentifier; ///< the transition that shows it
};

/// The four pages: "about", "pop", "tos", "licenses".
const std::vector<ResourcePage>& resourcePages();

/// The About pane: the program's version and buttons for the resource pages, each shown in a
/// WebContentViewController. Main thread.
class AboutPreferencesViewController : public ViewController {
public:
    explicit AboutPreferencesViewController(std::string applicationVersion = defaultApplicationVersion());
    std::string className() const override { return "Kestrova.AboutPreferencesViewController"; }

    /// The version of this build.
    static std::string defaultApplicationVersion();

    std::weak_ptr<Label> versionLabel;

    /// Fills the version label: "Version " and the version.
    void viewDidLoad() override;
    /// Shows the page (its transition); an unknown name does nothing.
    void showPage(std::string_view name);
    /// Gives a WebContentViewController destination its page.
    void prepare(const std::string& segueIdentifier,
                 const std::shared_ptr<ViewController>& destination) override;

private:
    std::string applicationVersion_;
};

} // namespace kestrova
