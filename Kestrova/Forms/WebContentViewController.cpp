#include "Forms/WebContentViewController.hpp"

#include <array>
#include <utility>

namespace kestrova {

WebContentViewController::WebContentViewController(std::weak_ptr<Platform> platform, ResourceBundle resources)
    : platform_(std::move(platform)), resources_(std::move(resources)) {}

void WebContentViewController::viewDidLoad() {
    auto view = webView.lock();
    if (!view)
        return;
    view->setOpaque(false);
    if (onLoad)
        onLoad(*view);
}

void WebContentViewController::traitCollectionDidChange() {
    if (auto view = webView.lock())
        view->setBackgroundColor(Color::systemBackground);
}

NavigationActionPolicy WebContentViewController::decidePolicyFor(const std::optional<joblark::URL>& url) {
    if (!url)
        return NavigationActionPolicy::allow;
    if (url->isFileURL())
        return resources_.contains(*url, resourceFolder) ? NavigationActionPolicy::allow
                                                         : NavigationActionPolicy::cancel;
    if (auto platform = platform_.lock())
        platform->openURL(*url);
    return NavigationActionPolicy::cancel;
}

std::optional<std::string> WebContentViewController::pageForSegue(std::string_view segueIdentifier) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 4> pages = {
        {{"showAbout", "about"}, {"showPop", "pop"}, {"showTos", "tos"}, {"showLicenses", "licenses"}}};
    for (const auto& [segue, page] : pages)
        if (segue == segueIdentifier)
            return std::string(page);
    return std::nullopt;
}

void WebContentViewController::prepareResourcePage(std::string_view segueIdentifier,
                                                   WebContentViewController& destination) {
    if (!destination.resources().containsDirectory(resourceFolder))
        return;
    auto page = pageForSegue(segueIdentifier);
    if (!page)
        return;
    const auto resources = destination.resources();
    destination.onLoad = [resources, page = *page](WebView& view) {
        // A missing page leaves the view empty.
        if (auto file = resources.url(page, "html", resourceFolder))
            view.loadFileURL(*file, joblark::URL::fileURL(resources.root() / resourceFolder));
    };
}

} // namespace kestrova
