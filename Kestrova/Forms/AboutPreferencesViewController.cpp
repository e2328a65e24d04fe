#include "Forms/AboutPreferencesViewController.hpp"

#include "Forms/WebContentViewController.hpp"

namespace kestrova {

const std::vector<ResourcePage>& resourcePages() {
    static const std::vector<ResourcePage> pages = {{"about", "About Kestrova", "showAbout"},
                                                    {"pop", "Privacy Policy", "showPop"},
                                                    {"tos", "Terms of Service", "showTos"},
                                                    {"licenses", "Licenses", "showLicenses"}};
    return pages;
}

AboutPreferencesViewController::AboutPreferencesViewController(std::string applicationVersion)
    : applicationVersion_(std::move(applicationVersion)) {
    title = "About";
}

std::string AboutPreferencesViewController::defaultApplicationVersion() {
#ifdef KESTROVA_VERSION
    return KESTROVA_VERSION;
#else
    return "unknown";
#endif
}

void AboutPreferencesViewController::viewDidLoad() {
    if (auto label = versionLabel.lock())
        label->setText("Version " + applicationVersion_);
}

void AboutPreferencesViewController::showPage(std::string_view name) {
    for (const auto& page : resourcePages())
        if (page.name == name) {
            performSegue(page.segueIdentifier);
            return;
        }
}

void AboutPreferencesViewController::prepare(const std::string& segueIdentifier,
                                             const std::shared_ptr<ViewController>& destination) {
    if (auto web = std::dynamic_pointer_cast<WebContentViewController>(destination))
        WebContentViewController::prepareResourcePage(segueIdentifier, *web);
}

} // namespace kestrova
