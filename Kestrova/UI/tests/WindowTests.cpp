// The windows against a real quillnest-local, driven as a user drives them: typing, clicks, keys and
// menu shortcuts. One application for the whole class: the cases follow one another as a session does.

#include "Harness.hpp"
#include "TestClasses.hpp"

#include "UI/App/Commands.hpp"
#include "UI/Dashboard/DashboardWindow.hpp"
#include "UI/Details/EndpointDetailPane.hpp"
#include "UI/Details/MeasureDetailPane.hpp"
#include "UI/Preferences/PreferencesWindow.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QTest>

namespace kestrova::ui::tests {
namespace {

constexpr int deadlineMs = 10'000;

class WindowTests : public QObject {
    Q_OBJECT

    joblark::testing::TemporaryDirectory folder_, serviceFolder_;
    joblark::testing::ScopedEnvironment environment_;
    std::unique_ptr<DemoService> service_;
    std::unique_ptr<AppHarness> harness_;

    OverviewWindow* overview() { return harness_->overview(); }
    OverviewSidebar& sidebar() { return *overview()->sidebar(); }

    template <class Resource>
    std::shared_ptr<Resource> named(const std::optional<std::vector<std::shared_ptr<Resource>>>& list,
                                    const std::string& name) {
        if (list)
            for (const auto& resource : *list)
                if (resource->name == name)
                    return resource;
        return nullptr;
    }
    std::shared_ptr<Endpoint> endpoint(const std::string& name) {
        return named(harness_->controller().state->endpoints, name);
    }
    std::string apiPath(const std::optional<joblark::URL>& url) {
        return url ? url->absoluteString().substr(service_->url.size()) : std::string();
    }
    /// A click on the card, as a user makes it.
    bool select(const std::string& name) {
        const QModelIndex index = rowNamed(sidebar(), name);
        if (!index.isValid())
            return false;
        auto* list = sidebar().listView();
        list->scrollTo(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
        return true;
    }
    /// Syncs, one sync at a time, until `done` holds or the service's deadline passes.
    void refreshUntil(const std::function<bool()>& done) {
        auto running = std::make_shared<bool>(false);
        auto syncedEnough = [&] {
            if (done())
                return true;
            if (!*running) {
                *running = true;
                harness_->controller().sync([running](bool, joblark::ErrorPtr) { *running = false; });
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(syncedEnough(), serviceDeadlineMs);
    }
    QAction* command(QWidget* window, CommandAction action) {
        auto* commands = window->findChild<CommandActions*>(QString(), Qt::FindDirectChildrenOnly);
        return commands ? commands->action(action) : nullptr;
    }
    bool deleteEnabled() {
        return overview()->toolbarView()->action(ToolbarDelegate::deleteIdentifier)->isEnabled();
    }

private Q_SLOTS:
    void initTestCase() {
        // Probing every second, so histories (and chart points) come within seconds.
        service_ = std::make_unique<DemoService>(serviceFolder_.path(),
                                                 std::vector<std::string>{"--probe-interval", "1"});
        QVERIFY(service_->isRunning());
        environment_.set("KESTROVA_SERVICE_URL", service_->url);
        AppStateController::registerDefaults();
        joblark::UserDefaults::standard().set(false,
                                              AppStateController::kShouldAutoRefresh); // only our syncs
        harness_ = std::make_unique<AppHarness>(folder_.path());
        harness_->app().launch();
        QVERIFY(overview());
        QVERIFY(QTest::qWaitForWindowExposed(overview()));
        QCOMPARE(overview()->windowTitle(), QStringLiteral("Endpoints & Measures"));
        QCOMPARE(overview()->minimumSize(), QSize(400, 400));
    }

    void cleanupTestCase() {
        harness_.reset();
        service_.reset();
    }

    void signInByTypingIntoTheDialog() {
        QTRY_VERIFY_WITH_TIMEOUT(overview()->loginDialog() && overview()->loginDialog()->isVisible(),
                                 deadlineMs);
        auto* dialog = overview()->loginDialog();
        QVERIFY(!(dialog->windowFlags() & Qt::WindowCloseButtonHint));
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY2(dialog->isVisible(), "Escape does not close the sign-in dialog");
        // The environment chose the service: shown, not editable.
        QCOMPARE(dialog->serviceAddressField()->text().toStdString(), service_->url);
        QVERIFY(!dialog->serviceAddressField()->isEnabled());

        QTest::keyClicks(dialog->emailField(), QStringLiteral("demo@quillnest.local"));
        QTest::keyClicks(dialog->passwordField(), QStringLiteral("not the password"));
        QTest::keyClick(dialog->passwordField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(openAlert(dialog), serviceDeadlineMs);
        QCOMPARE(openAlert(dialog)->text(), QStringLiteral("Login Failed"));
        QVERIFY(dialog->emailField()->text().isEmpty() && dialog->passwordField()->text().isEmpty());
        QVERIFY(dialog->loginButton()->isEnabled());
        buttonNamed(*openAlert(dialog), QStringLiteral("Cancel"))->click();

        QTest::keyClicks(dialog->emailField(), QStringLiteral("demo@quillnest.local "));
        QTest::keyClicks(dialog->passwordField(), QStringLiteral("kestrova"));
        QTest::keyClick(dialog->emailField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!overview()->loginDialog(), serviceDeadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(rowNames(sidebar()).size(), std::size_t(8), serviceDeadlineMs);
        QCOMPARE(rowNames(sidebar()).front(), std::string("Demo OK"));
        QCOMPARE(sidebar().model().index(0, 0).data().toString(), QStringLiteral("Endpoints"));
        QCOMPARE(sidebar().model().index(1, 0).data().toString(), QStringLiteral("Measures"));
        // A screen reader hears each card's bar as well as its name.
        const auto firstCard = sidebar().model().index(0, 0, sidebar().model().index(0, 0));
        QVERIFY(firstCard.data(Qt::AccessibleTextRole).toString().startsWith(QStringLiteral("Demo OK")));
        QVERIFY(!firstCard.data(Qt::AccessibleDescriptionRole).toString().isEmpty());
    }

    void selectingShowsTheDetailWithBadgesAndChartPoints() {
        refreshUntil([&] {
            auto e = endpoint("Demo OK");
            return e && e->history && e->history->size() >= 2;
        });
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!deleteEnabled());
        QVERIFY(select("Demo OK"));
        auto* pane = qobject_cast<EndpointDetailPane*>(overview()->detail());
        QVERIFY(pane);
        QCOMPARE(pane->titleLabel()->text(), QStringLiteral("Demo OK"));
        QStringList badges;
        for (auto* badge : pane->badges()->findChildren<BadgeWidget*>())
            badges << badge->title();
        QCOMPARE(badges, (QStringList{QStringLiteral("Active"), QStringLiteral("Ok")}));
        const auto& chart = pane->chart()->data();
        QCOMPARE(chart.dataSets.size(), std::size_t(2));
        QVERIFY(chart.dataSets[0].entries.size() >= 2);
        QCOMPARE(chart.dataSets[1].entries.size(), chart.dataSets[0].entries.size());
        QVERIFY(deleteEnabled());
        // The local history has recorded the syncs: the uptime line shows.
        QTRY_VERIFY_WITH_TIMEOUT(pane->uptimeLabel()->isVisible(), deadlineMs);
        QVERIFY(pane->uptimeLabel()->text().startsWith(QStringLiteral("Uptime: ")));
        // A longer range draws what the history recorded; back to the service's list, its data again.
        const auto recent = pane->chart()->data();
        pane->chartRange()->setCurrentIndex(static_cast<int>(ChartRange::week));
        QTRY_VERIFY_WITH_TIMEOUT(pane->chart()->data().dataSets.size() == 2 &&
                                     !pane->chart()->data().dataSets[0].entries.empty(),
                                 deadlineMs);
        QCOMPARE(pane->chart()->data().dataSets[1].entries.size(),
                 pane->chart()->data().dataSets[0].entries.size());
        pane->chartRange()->setCurrentIndex(static_cast<int>(ChartRange::recentChecks));
        QVERIFY(pane->chart()->data() == recent);
    }

    void flippingASwitchChangesTheService() {
        auto* pane = qobject_cast<EndpointDetailPane*>(overview()->detail());
        QVERIFY(pane && pane->statusSwitch()->isChecked());
        const auto path = apiPath(endpoint("Demo OK")->url);
        auto status = [&] {
            auto body = service_->get(path);
            const auto* found = body ? body->find("status") : nullptr;
            return found && found->isString() ? *found->asString() : std::string();
        };
        QCOMPARE(status(), std::string("active"));
        pane->statusSwitch()->click();
        QTRY_COMPARE_WITH_TIMEOUT(status(), std::string("inactive"), serviceDeadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(pane->badges()->findChildren<BadgeWidget*>().front()->title(),
                                  QStringLiteral("Inactive"), serviceDeadlineMs);
        QVERIFY(!pane->statusSwitch()->isChecked());
        pane->statusSwitch()->click();
        QTRY_COMPARE_WITH_TIMEOUT(status(), std::string("active"), serviceDeadlineMs);
    }

    void contextMenuCopiesTheLinkAndEscapeDeselects() {
        const QModelIndex index = rowNamed(sidebar(), "Demo Flaky");
        auto* menu = sidebar().showContextMenu(index, sidebar().mapToGlobal(QPoint(20, 20)));
        QVERIFY(menu);
        QStringList titles;
        for (auto* action : menu->actions())
            titles << (action->isSeparator() ? QStringLiteral("|") : action->text());
        QCOMPARE(titles, (QStringList{"Open in Browser", "Open on Kestrova", "|", "Copy Link", "|",
                                      "Delete Endpoint"}));
        menu->actions()[3]->trigger();
        menu->close();
        QTRY_COMPARE_WITH_TIMEOUT(
            QApplication::clipboard()->text(),
            QString::fromStdString(endpoint("Demo Flaky")->endpointUrl->absoluteString()), deadlineMs);

        QVERIFY(sidebar().selectedPath());
        sidebar().listView()->setFocus();
        QTest::keyClick(sidebar().listView(), Qt::Key_Escape);
        QVERIFY(!sidebar().selectedPath());
        QCOMPARE(overview()->detail(), nullptr);
        QVERIFY(!deleteEnabled());
    }

    void deleteKeyConfirmsAndTheRowGoes() {
        const auto path = apiPath(endpoint("Demo Down")->url);
        QVERIFY(select("Demo Down"));
        sidebar().listView()->setFocus();
        QTest::keyClick(sidebar().listView(), Qt::Key_Delete);
        QTRY_VERIFY_WITH_TIMEOUT(openAlert(overview()), deadlineMs);
        auto* box = openAlert(overview());
        QCOMPARE(box->text(), QStringLiteral("Are you sure?"));
        QCOMPARE(box->informativeText(),
                 QStringLiteral("This will permanently delete Demo Down. This action is cannot be undone."));
        buttonNamed(*box, QStringLiteral("Yes, Delete"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!rowNamed(sidebar(), "Demo Down").isValid(), serviceDeadlineMs);
        int status = 0;
        service_->get(path, &status);
        QCOMPARE(status, 404);
        QVERIFY(!deleteEnabled());
    }

    void addingThroughTheDialogRefusesLocalhostThenAdds() {
        overview()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(overview()));
        QTest::keyClick(overview(), Qt::Key_N, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(overview()->addEndpointDialog(), deadlineMs);
        auto* dialog = overview()->addEndpointDialog();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->nameField()->hasFocus(), deadlineMs);
        QTest::keyClicks(dialog->nameField(), QStringLiteral("Local API"));
        QTest::keyClick(dialog->nameField(), Qt::Key_Tab);
        QVERIFY(dialog->urlField()->hasFocus());
        QCOMPARE(dialog->nameField()->text(), QStringLiteral("Local API"));
        QTest::keyClicks(dialog->urlField(), QStringLiteral("http://localhost:8080/health"));
        QTest::keyClick(dialog->urlField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(openAlert(dialog), deadlineMs);
        QCOMPARE(openAlert(dialog)->text(), QStringLiteral("Invalid"));
        QCOMPARE(openAlert(dialog)->informativeText(),
                 QStringLiteral("The URL you entered is not allowed. Please use a valid http/https URL."));
        buttonNamed(*openAlert(dialog), QStringLiteral("Try Again"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!openAlert(dialog), deadlineMs);
        QVERIFY(dialog->isVisible());

        dialog->urlField()->clear();
        QTest::keyClicks(dialog->urlField(), QStringLiteral("http://127.0.0.1:9/health"));
        dialog->addButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!overview()->addEndpointDialog(), serviceDeadlineMs);
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(sidebar(), "Local API").isValid(), serviceDeadlineMs);
    }

    void ctrl2OpensTheDashboardAndACardSelectsInTheOverview() {
        overview()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(overview()));
        QTest::keyClick(overview(), Qt::Key_2, Qt::ControlModifier);
        DashboardWindow* dashboard = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((dashboard = harness_->window<DashboardWindow>(WindowKind::dashboard)),
                                 deadlineMs);
        QCOMPARE(dashboard->windowTitle(), QStringLiteral("Dashboard"));
        QCOMPARE(dashboard->cards().size(), rowNames(sidebar()).size());
        QVERIFY(QTest::qWaitForWindowExposed(dashboard));

        auto build = named(harness_->controller().state->measures, "Build");
        QVERIFY(build);
        OverviewCardWidget* card = nullptr;
        std::size_t position = 0;
        for (std::size_t i = 0; i < dashboard->cards().size(); ++i)
            if (dashboard->cards()[i]->objectName() == QString::fromStdString(*build->id)) {
                card = dashboard->cards()[i];
                position = i;
            }
        QVERIFY(card);
        QVERIFY2(!dashboard->showContextMenu(position, QPoint()), "measure cards have no menu");
        auto* menu = dashboard->showContextMenu(0, dashboard->mapToGlobal(QPoint(10, 10)));
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 4); // Open in Browser, Open on Kestrova, a separator, Copy Link
        menu->close();

        QTest::mouseClick(card, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<MeasureDetailPane*>(overview()->detail()), deadlineMs);
        QCOMPARE(qobject_cast<MeasureDetailPane*>(overview()->detail())->titleLabel()->text(),
                 QStringLiteral("Build"));
        const auto selected = sidebar().selectedPath();
        QVERIFY(selected);
        QCOMPARE(sidebar().model().cell(sidebar().model().index(*selected))->text, std::string("Build"));
        QVERIFY(deleteEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), static_cast<QWidget*>(overview()),
                                  deadlineMs);

        // Closing a window tells every screen in it, by its scene.
        std::optional<std::int64_t> closed;
        auto token = joblark::NotificationCenter::defaultCenter().addObserver(
            std::string(sceneDidDisconnectNotification), std::nullopt,
            [&](const joblark::Notification& n) { closed = n.object.asInteger(); });
        const auto scene = dashboard->sceneIdentifier();
        dashboard->close();
        QCOMPARE(closed, std::optional<std::int64_t>(scene));
        QTRY_VERIFY_WITH_TIMEOUT(!harness_->window<DashboardWindow>(WindowKind::dashboard), deadlineMs);
    }

    void preferencesSliderWritesThePreferenceFile() {
        overview()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(overview()));
        QTest::keyClick(overview(), Qt::Key_Comma, Qt::ControlModifier);
        PreferencesWindow* preferences = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((preferences = harness_->window<PreferencesWindow>(WindowKind::preferences)),
                                 deadlineMs);
        QCOMPARE(preferences->size(), QSize(750, 500));
        QVERIFY(preferences->generalPane()->isVisible() && !preferences->aboutPane()->isVisible());
        QCOMPARE(preferences->intervalSlider()->value(), 30);
        QCOMPARE(preferences->intervalLabel()->text(), QStringLiteral("30 seconds"));
        QVERIFY2(!preferences->pushSwitch()->isEnabled() && !preferences->pushExplanation()->text().isEmpty(),
                 "push cannot work on Linux: disabled, with the reason");

        QVERIFY2(!preferences->intervalSlider()->isEnabled(), "no interval while refresh is off");
        preferences->autoRefreshSwitch()->click();
        QVERIFY(preferences->intervalSlider()->isEnabled());
        QVERIFY(harness_->controller().refreshTimer);
        QTest::keyClick(preferences->intervalSlider(), Qt::Key_Right);
        QCOMPARE(preferences->intervalLabel()->text(), QStringLiteral("35 seconds"));
        QFile file(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) +
                   QStringLiteral("/kestrova/UserDefaults.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        auto stored = joblark::JSON::parse(file.readAll().toStdString());
        QVERIFY(stored);
        const auto* interval = stored->find("kRefreshInterval");
        QVERIFY(interval && interval->isNumber());
        QCOMPARE(interval->asDouble().value_or(0), 35.0);

        preferences->autoRefreshSwitch()->click();
        QVERIFY(!harness_->controller().refreshTimer);

        preferences->toolbarView()->action(ToolbarDelegate::preferencesAboutIdentifier)->trigger();
        QVERIFY(preferences->aboutPane()->isVisible() && !preferences->generalPane()->isVisible());
        QVERIFY(preferences->browser()->source().toString().endsWith(QStringLiteral("www/about.html")));
        preferences->close();
    }

    void signingOutShowsTheSignInDialog() {
        QAction* signOut = command(overview(), CommandAction::logOut);
        QVERIFY(signOut);
        signOut->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(overview()->loginDialog() && overview()->loginDialog()->isVisible(),
                                 serviceDeadlineMs);
        QTRY_VERIFY_WITH_TIMEOUT(rowNames(sidebar()).empty(), deadlineMs);
    }
};

} // namespace

std::unique_ptr<QObject> makeWindowTests() {
    return std::make_unique<WindowTests>();
}

} // namespace kestrova::ui::tests

#include "WindowTests.moc"
