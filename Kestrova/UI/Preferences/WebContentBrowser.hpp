#pragma once

// The resource pages (WebContentViewController) in a QTextBrowser: it shows local HTML, and every
// link the user follows is put to the screen, which keeps resource pages here and sends any other
// address to the system browser.

#include "Forms/WebContentViewController.hpp"

#include <QPointer>
#include <QTextBrowser>

#include <memory>

namespace kestrova::ui {

class WebContentBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit WebContentBrowser(QWidget* parent = nullptr);

    /// Shows the page of a transition ("showAbout", "showLicenses", …) through a new screen that
    /// `prepare` gives its page (the About pane's or the settings screen's prepare()).
    void showPage(std::shared_ptr<WebContentViewController> screen);
    const std::shared_ptr<WebContentViewController>& screen() const { return screen_; }

    /// Follows a link as a click on it does.
    void follow(const QUrl& link);

protected:
    void changeEvent(QEvent* event) override;

private:
    std::shared_ptr<WebContentViewController> screen_;
    std::shared_ptr<WebView> binding_;
};

} // namespace kestrova::ui
