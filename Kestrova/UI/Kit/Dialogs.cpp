#include "UI/Kit/Dialogs.hpp"

#include "UI/Kit/Views.hpp"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <map>

static void initKestrovaResources() {
    Q_INIT_RESOURCE(kestrova);
}

namespace kestrova::ui {

void initResources() {
    initKestrovaResources();
}

QPointer<QMessageBox> presentAlert(QWidget* parent, Alert alert) {
    const QString title = toQString(alert.title);
    const QString message = alert.message ? toQString(*alert.message) : QString();
    // An alert that only informs (none of its buttons does anything) and has the title of one already
    // open updates that one's message: a refresh failing again while the user reads about it does
    // not stack alerts. Alerts that act (a confirmation) are never merged.
    const bool informs = std::all_of(alert.actions.begin(), alert.actions.end(),
                                     [](const AlertAction& action) { return !action.handler; });
    if (parent)
        for (auto* open : parent->findChildren<QMessageBox*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!open->isVisible() || open->text() != title)
                continue;
            if (open->informativeText() == message)
                return open;
            if (informs && open->property("kestrovaInforms").toBool()) {
                open->setInformativeText(message);
                open->setAccessibleDescription(message);
                return open;
            }
        }
    // Owned by its parent window (or by itself when there is none) and deleted when it closes.
    auto* box = new QMessageBox(parent);
    box->setProperty("kestrovaInforms", informs);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setIcon(QMessageBox::NoIcon);
    // Qt sizes a box to its title; a sentence of a message then wraps every few words.
    box->setStyleSheet(QStringLiteral("QLabel { min-width: 300px; }"));
    box->setWindowTitle(toQString(alert.title));
    box->setText(toQString(alert.title));
    box->setAccessibleName(toQString(alert.title));
    if (alert.message) {
        box->setInformativeText(toQString(*alert.message));
        box->setAccessibleDescription(toQString(*alert.message));
    }

    auto handlers = std::make_shared<std::map<QAbstractButton*, std::function<void()>>>();
    QAbstractButton* cancel = nullptr;
    QPushButton* preferred = nullptr; // Return: the first plain action, else cancel; never destructive
    for (auto& action : alert.actions) {
        const auto role = action.style == AlertAction::Style::cancel        ? QMessageBox::RejectRole
                          : action.style == AlertAction::Style::destructive ? QMessageBox::DestructiveRole
                                                                            : QMessageBox::AcceptRole;
        QPushButton* button = box->addButton(toQString(action.title), role);
        button->setAccessibleName(toQString(action.title));
        if (action.style == AlertAction::Style::destructive) {
            // Marked in the look too: red text, never the default button.
            QPalette palette = button->palette();
            palette.setColor(QPalette::ButtonText, QColor(0xD0, 0x2B, 0x20));
            button->setPalette(palette);
            button->setAutoDefault(false);
            button->setProperty("destructive", true);
        }
        if (action.style == AlertAction::Style::cancel && !cancel)
            cancel = button;
        if (action.style == AlertAction::Style::defaultStyle && !preferred)
            preferred = button;
        (*handlers)[button] = std::move(action.handler);
    }
    if (alert.actions.empty())
        box->addButton(QMessageBox::Ok);
    if (!preferred)
        preferred = qobject_cast<QPushButton*>(cancel);
    if (preferred)
        box->setDefaultButton(preferred);
    if (cancel) {
        box->setEscapeButton(cancel);
    } else if (alert.actions.size() == 1) {
        box->setEscapeButton(box->buttons().front()); // a lone button also closes on Escape
    }

    QObject::connect(box, &QMessageBox::finished, box, [box, handlers] {
        auto it = handlers->find(box->clickedButton());
        if (it == handlers->end() || !it->second)
            return;
        // Queued to the application, not to the box: it runs once the box is gone.
        QTimer::singleShot(0, qApp, [handler = std::move(it->second)] { handler(); });
    });
    box->open();
    return box;
}

void fillMenu(QMenu& menu, const Menu& content) {
    bool separatorPending = false;
    for (const auto& child : content.children) {
        if (const auto* action = std::get_if<MenuAction>(&child)) {
            if (separatorPending && !menu.isEmpty())
                menu.addSeparator();
            separatorPending = false;
            QAction* item = menu.addAction(toQString(action->title));
            QObject::connect(item, &QAction::triggered, &menu, [handler = action->handler] {
                if (handler)
                    QTimer::singleShot(0, qApp, handler);
            });
            continue;
        }
        const auto& submenu = std::get<Menu>(child);
        if (submenu.displayInline) {
            if (!menu.isEmpty())
                menu.addSeparator();
            if (!submenu.title.empty())
                menu.addSection(toQString(submenu.title));
            fillMenu(menu, Menu{"", false, submenu.children});
            separatorPending = true;
        } else {
            if (separatorPending && !menu.isEmpty())
                menu.addSeparator();
            separatorPending = false;
            QMenu* nested = menu.addMenu(toQString(submenu.title));
            fillMenu(*nested, submenu);
        }
    }
}

void DesktopPlatform::openURL(const joblark::URL& url) {
    QDesktopServices::openUrl(QUrl(toQString(url.absoluteString())));
}

void DesktopPlatform::setPasteboardString(std::string text) {
    QGuiApplication::clipboard()->setText(toQString(text));
}

void WidgetHost::present(Alert alert) {
    if (widget_)
        presentAlert(widget_->window(), std::move(alert));
}

void WidgetHost::dismiss(std::function<void()> completion) {
    if (onDismiss)
        onDismiss();
    else if (widget_)
        widget_->window()->close();
    if (completion)
        QTimer::singleShot(0, qApp, std::move(completion));
}

} // namespace kestrova::ui
