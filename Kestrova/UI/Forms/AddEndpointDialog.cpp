#include "UI/Forms/AddEndpointDialog.hpp"

#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/Views.hpp"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace kestrova::ui {

AddEndpointDialog::AddEndpointDialog(std::shared_ptr<AppContext> context, QWidget* parent)
    : QDialog(parent), screen_(std::make_shared<AddEndpointViewController>(context->controller)),
      name_(new QLineEdit(this)), url_(new QLineEdit(this)), add_(new QPushButton(tr("Add Endpoint"), this)),
      cancel_(new QPushButton(tr("Cancel"), this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("New Endpoint"));
    setObjectName(QStringLiteral("addEndpointDialog"));
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(460);

    auto* layout = new QVBoxLayout(this); // owned by the dialog
    layout->setContentsMargins(24, 20, 24, 18);
    auto* heading = new QLabel(tr("Monitor a new address"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    heading->setFont(bold);
    layout->addWidget(heading);
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    name_->setPlaceholderText(tr("Shop front"));
    name_->setAccessibleName(tr("Name"));
    name_->setObjectName(QStringLiteral("name"));
    url_->setPlaceholderText(tr("https://example.com/health"));
    url_->setAccessibleName(tr("URL"));
    url_->setObjectName(QStringLiteral("url"));
    form->addRow(tr("&Name:"), name_);
    form->addRow(tr("&URL:"), url_);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    // Return in an input is the screen's (it adds); the buttons answer clicks and Space.
    for (auto* button : {cancel_, add_}) {
        button->setAutoDefault(false);
        button->setAccessibleName(button->text());
        buttons->addWidget(button);
    }
    add_->setObjectName(QStringLiteral("add"));
    layout->addLayout(buttons);

    auto name = std::make_shared<TextFieldBinding>(name_);
    auto url = std::make_shared<TextFieldBinding>(url_);
    nameBinding_ = name;
    urlBinding_ = url;
    host_ = std::make_shared<WidgetHost>(this);
    host_->onDismiss = [this] { QDialog::done(QDialog::Accepted); };
    screen_->nameField = nameBinding_;
    screen_->urlField = urlBinding_;
    screen_->host = host_;
    name_->installEventFilter(this);
    url_->installEventFilter(this);

    const std::weak_ptr<AddEndpointViewController> weak = screen_;
    connect(add_, &QPushButton::clicked, this, [weak] {
        if (auto s = weak.lock())
            s->addEndpointButtonWasClicked();
    });
    connect(cancel_, &QPushButton::clicked, this, [weak] {
        if (auto s = weak.lock())
            s->cancel();
    });
    screen_->viewDidLoad();
}

AddEndpointDialog::~AddEndpointDialog() {
    screen_->viewDidDisappear();
}

void AddEndpointDialog::open() {
    screen_->viewWillAppear();
    QDialog::open();
    QPointer<AddEndpointDialog> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self)
            self->screen_->viewDidAppear();
    });
}

void AddEndpointDialog::reject() {
    // Escape and the close button are the escape key to the screen, which closes the form.
    screen_->pressesBegan({PressedKey::escape});
}

bool AddEndpointDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || (watched != name_ && watched != url_))
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    std::string_view typed;
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
        typed = "\t";
    else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        typed = "\n";
    else
        return QDialog::eventFilter(watched, event);
    const auto& field = watched == name_ ? *nameBinding_ : *urlBinding_;
    // Refused characters are not typed: the screen moved the focus or added.
    return !screen_->textFieldShouldChangeCharacters(field, typed);
}

} // namespace kestrova::ui
