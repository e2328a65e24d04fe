#pragma once

// "Software Update" (fixed 750×500): what the update plug-in found (UpdateViewController), with the
// release notes and download buttons, and "Check for Updates", disabled without a plug-in.

#include "UI/Kit/Controls.hpp"
#include "UI/Kit/SceneWindow.hpp"

#include "Shell/UpdateViewController.hpp"

#include <QLabel>
#include <QPushButton>

#include <memory>
#include <vector>

namespace kestrova::ui {

class UpdateWindow : public SceneWindow {
    Q_OBJECT
public:
    UpdateWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                 std::int64_t sceneIdentifier);
    ~UpdateWindow() override;

    void activate(const std::optional<UserActivity>& activity) override;

    QLabel* titleLabel() const { return title_; }
    QLabel* messageLabel() const { return message_; }
    QPushButton* checkButton() const { return check_; }
    QPushButton* releaseNotesButton() const { return notes_; }
    QPushButton* downloadButton() const { return download_; }

protected:
    void windowWillClose() override;

private:
    std::shared_ptr<UpdateViewController> screen_;
    QLabel* title_;
    QLabel* message_;
    Spinner* spinner_;
    QPushButton* notes_;
    QPushButton* download_;
    QPushButton* check_;
    std::vector<std::shared_ptr<void>> bindings_;
};

} // namespace kestrova::ui
