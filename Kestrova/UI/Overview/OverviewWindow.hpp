#pragma once

// "Endpoints & Measures": the split view (MainSplitViewController) with the overview list in the
// sidebar and the detail of the selected resource beside it, the sign-in dialog whenever there are
// no credentials, the add-endpoint dialog, and the application's error alerts.

#include "UI/Forms/AddEndpointDialog.hpp"
#include "UI/Forms/LoginDialog.hpp"
#include "UI/Kit/SceneWindow.hpp"
#include "UI/Overview/OverviewSidebar.hpp"

#include "Presentation/DashboardViewController.hpp"
#include "Shell/MainSplitViewController.hpp"

#include <QPointer>
#include <QSplitter>
#include <QStackedWidget>

#include <memory>

namespace kestrova::ui {

class OverviewWindow : public SceneWindow {
    Q_OBJECT
public:
    OverviewWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                   std::int64_t sceneIdentifier);
    ~OverviewWindow() override;

    void activate(const std::optional<UserActivity>& activity) override;

    OverviewSidebar* sidebar() const { return sidebar_; }
    QSplitter* splitter() const { return splitter_; }
    /// The detail pane shown (an EndpointDetailPane or MeasureDetailPane), or null for the blank one.
    QWidget* detail() const { return detail_; }
    LoginDialog* loginDialog() const { return login_; }
    AddEndpointDialog* addEndpointDialog() const { return add_; }
    const std::shared_ptr<DashboardViewController>& list() const { return list_; }
    const std::shared_ptr<MainSplitViewController>& split() const { return split_; }

    /// What the split view does with its panes.
    void setSidebarShown(bool shown);
    void showBlankDetail();

protected:
    void windowWillClose() override;

private:
    void performListSegue(const std::string& identifier);
    void performSplitSegue(const std::string& identifier);
    void showDetail(QWidget* pane);

    std::shared_ptr<DashboardViewController> list_;
    std::shared_ptr<MainSplitViewController> split_;
    std::shared_ptr<WidgetHost> listHost_;
    std::shared_ptr<WidgetHost> splitHost_;
    std::shared_ptr<SplitView> splitBinding_;
    QSplitter* splitter_;
    OverviewSidebar* sidebar_;
    QStackedWidget* details_;
    QWidget* blank_;
    QPointer<QWidget> detail_;
    QPointer<LoginDialog> login_;
    QPointer<AddEndpointDialog> add_;
    bool appeared_ = false;
    double sidebarFraction_ = 0.2;
};

} // namespace kestrova::ui
