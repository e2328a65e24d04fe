#include "UI/Preferences/WebContentBrowser.hpp"

#include "UI/Kit/Palette.hpp"
#include "UI/Kit/Views.hpp"

#include <QEvent>

namespace kestrova::ui {
namespace {

class BrowserBinding : public WidgetBinding<WebView, QTextBrowser> {
public:
    using WidgetBinding::WidgetBinding;
    void loadFileURL(const joblark::URL& url, const joblark::URL&) override {
        // Only file URLs the screen vetted reach here; links are checked again as they are followed.
        if (widget_)
            widget_->setSource(QUrl(toQString(url.absoluteString())));
    }
    void setOpaque(bool opaque) override {
        if (widget_)
            widget_->viewport()->setAutoFillBackground(opaque);
    }
    void setBackgroundColor(Color background) override {
        if (!widget_)
            return;
        QPalette palette = widget_->palette();
        palette.setColor(QPalette::Base, color(background, widget_->palette()));
        widget_->setPalette(palette);
    }
};

} // namespace

WebContentBrowser::WebContentBrowser(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false); // every link goes through the screen
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    setAccessibleName(tr("Page"));
    connect(this, &QTextBrowser::anchorClicked, this, &WebContentBrowser::follow);
}

void WebContentBrowser::showPage(std::shared_ptr<WebContentViewController> screen) {
    screen_ = std::move(screen);
    auto binding = std::make_shared<BrowserBinding>(this);
    binding_ = binding;
    screen_->webView = binding;
    screen_->viewDidLoad();
    screen_->traitCollectionDidChange();
}

void WebContentBrowser::follow(const QUrl& link) {
    if (!screen_)
        return;
    if (link.scheme().isEmpty() && link.path().isEmpty() && link.hasFragment()) {
        scrollToAnchor(link.fragment()); // within the page
        return;
    }
    const QUrl target = source().resolved(link);
    const auto url = joblark::URL::parse(toStdString(target.toString(QUrl::FullyEncoded)));
    if (screen_->decidePolicyFor(url) == NavigationActionPolicy::allow && url && url->isFileURL())
        setSource(target);
}

void WebContentBrowser::changeEvent(QEvent* event) {
    QTextBrowser::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && screen_) {
        // Setting the base colour changes the palette again; only a new appearance is passed on.
        const bool dark = isDark(palette());
        if (dark != property("kestrovaDark").toBool() || !property("kestrovaDark").isValid()) {
            setProperty("kestrovaDark", dark);
            screen_->traitCollectionDidChange();
        }
    }
}

} // namespace kestrova::ui
