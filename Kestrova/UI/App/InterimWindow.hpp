#pragma once

// The main window until the overview window lands: the status line and the card list of the
// signed-in account, straight from the app state. Enough for scripts/run to show the demo.

#include "UI/Kit/Cards.hpp"
#include "UI/Kit/SnapshotListModel.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <QLabel>
#include <QMainWindow>

#include <vector>

namespace kestrova::ui {

class InterimWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit InterimWindow(QWidget* parent = nullptr);
    /// Shows the app state as it is now.
    void reload();
    SnapshotListModel& model() { return model_; }

Q_SIGNALS:
    void firstPaint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SnapshotListModel model_;
    CardListView* list_;
    QLabel* status_;
    std::vector<joblark::ObserverToken> observers_;
    bool painted_ = false;
};

} // namespace kestrova::ui
