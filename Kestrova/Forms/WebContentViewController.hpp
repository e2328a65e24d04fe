#pragma once

#include "Forms/ResourceBundle.hpp"
#include "Presentation/ViewKit.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// A view that shows local HTML pages (a text browser on the desktop).
class WebView : public View {
public:
    /// Shows the file; links inside it may only reach files under `readAccessURL`.
    virtual void loadFileURL(const joblark::URL& url, const joblark::URL& readAccessURL) = 0;
    virtual void setOpaque(bool opaque) = 0;
    virtual void setBackgroundColor(Color color) = 0;
};

enum class NavigationActionPolicy { cancel, allow };

/// Shows one of the application's HTML pages. Links that leave the resource pages open in the
/// system browser (there is no in-app browser on the desktop); the page itself stays.
class WebContentViewController : public ViewController {
public:
    static constexpr std::string_view resourceFolder = "www";

    WebContentViewController(std::weak_ptr<Platform> platform, ResourceBundle resources);
    std::string className() const override { return "Kestrova.WebContentViewController"; }

    std::weak_ptr<WebView> webView;
    /// Runs with the web view once it is loaded (owned).
    std::function<void(WebView&)> onLoad;

    void viewDidLoad() override;
    /// The light or dark appearance changed.
    void traitCollectionDidChange();
    /// For a link the user follows: a resource page loads here; any other address opens in the
    /// system browser and the navigation is cancelled. A file outside the resource pages is refused.
    NavigationActionPolicy decidePolicyFor(const std::optional<joblark::URL>& url);

    /// The page a transition shows: "showAbout" → "about", "showPop" → "pop", "showTos" → "tos",
    /// "showLicenses" → "licenses"; nothing for any other identifier.
    static std::optional<std::string> pageForSegue(std::string_view segueIdentifier);
    /// Gives `destination` the page of the transition, when the resources have the "www" folder.
    static void prepareResourcePage(std::string_view segueIdentifier, WebContentViewController& destination);

    const ResourceBundle& resources() const { return resources_; }

private:
    std::weak_ptr<Platform> platform_;
    ResourceBundle resources_;
};

} // namespace kestrova
