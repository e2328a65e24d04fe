#include "Fixtures.hpp"
#include "TestClasses.hpp"

#include "UI/Kit/Cards.hpp"
#include "UI/Kit/Chart.hpp"
#include "UI/Kit/Controls.hpp"
#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/Palette.hpp"
#include "UI/Kit/SnapshotListModel.hpp"
#include "UI/Kit/Symbols.hpp"
#include "UI/Kit/Views.hpp"

#include <QAbstractSeries>
#include <QApplication>
#include <QAreaSeries>
#include <QLineSeries>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplineSeries>
#include <QTest>
#include <QValueAxis>

namespace kestrova::ui::tests {
namespace {

constexpr int deadlineMs = 5000;

class KitTests : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void alertButtonsFollowTheirStylesAndHandlersRunAfterClosing() {
        QWidget window;
        window.show();
        std::vector<std::string> ran;
        QPointer<QMessageBox> boxSeenByHandler;
        bool boxGoneWhenHandlerRan = false;
        Alert alert{"Delete Endpoint?", "This will permanently delete Demo.", Alert::Style::alert, {}};
        alert.actions.push_back(
            {"Yes, Delete", AlertAction::Style::destructive, [&] { ran.push_back("delete"); }});
        alert.actions.push_back({"Cancel", AlertAction::Style::cancel, [&] {
                                     boxGoneWhenHandlerRan = boxSeenByHandler.isNull();
                                     ran.push_back("cancel");
                                 }});
        auto box = presentAlert(&window, alert);
        boxSeenByHandler = box;
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowModality(), Qt::WindowModal); // open(), not exec(): nothing blocked here
        auto button = [](QMessageBox* b, const QString& text) {
            for (auto* candidate : b->buttons())
                if (candidate->text() == text)
                    return candidate;
            return static_cast<QAbstractButton*>(nullptr);
        };
        auto* destructive = button(box, QStringLiteral("Yes, Delete"));
        QVERIFY(destructive);
        QCOMPARE(box->buttonRole(destructive), QMessageBox::DestructiveRole);
        QVERIFY(destructive->property("destructive").toBool());
        QCOMPARE(box->escapeButton()->text(), QStringLiteral("Cancel"));
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("Cancel")); // Return never deletes
        QCOMPARE(box->informativeText(), QStringLiteral("This will permanently delete Demo."));

        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_COMPARE_WITH_TIMEOUT(ran.size(), std::size_t(1), deadlineMs);
        QCOMPARE(ran.front(), std::string("cancel"));
        QVERIFY(boxGoneWhenHandlerRan);

        // The destructive button runs its own handler. The same alert again while it shows is that one;
        // a confirmation of something else is an alert of its own, never a merged message.
        auto second = presentAlert(&window, alert);
        QCOMPARE(presentAlert(&window, alert), second);
        Alert other = alert;
        other.message = "This will permanently delete Other.";
        auto third = presentAlert(&window, other);
        QVERIFY(third != second);
        third->reject();
        button(second, QStringLiteral("Yes, Delete"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(ran.size(), std::size_t(2), deadlineMs);
        QCOMPARE(ran.back(), std::string("delete"));

        // Alerts that only inform take the newest message instead of stacking.
        auto failed = presentAlert(&window, {"An Error Occurred",
                                             "Injected fault: bad gateway",
                                             Alert::Style::alert,
                                             {{"Done", AlertAction::Style::defaultStyle, nullptr}}});
        auto again = presentAlert(&window, {"An Error Occurred",
                                            "Injected fault: gateway timeout",
                                            Alert::Style::alert,
                                            {{"Done", AlertAction::Style::defaultStyle, nullptr}}});
        QCOMPARE(again, failed);
        QCOMPARE(failed->informativeText(), QStringLiteral("Injected fault: gateway timeout"));
    }

    void menusGroupInlineSubmenusBetweenSeparators() {
        std::string chosen;
        Menu menu;
        menu.children.push_back(MenuAction{"Open in Browser", [&] { chosen = "open"; }});
        menu.children.push_back(MenuAction{"Copy Link", [&] { chosen = "copy"; }});
        menu.children.push_back(Menu{"", true, {MenuAction{"Pause", [&] { chosen = "pause"; }}}});
        menu.children.push_back(Menu{"", true, {MenuAction{"Delete", [&] { chosen = "delete"; }}}});
        menu.children.push_back(Menu{"More", false, {MenuAction{"Details", [&] { chosen = "details"; }}}});
        QMenu shown;
        fillMenu(shown, menu);
        QStringList layout;
        for (auto* action : shown.actions())
            layout << (action->isSeparator() ? QStringLiteral("|") : action->text());
        QCOMPARE(layout,
                 (QStringList{"Open in Browser", "Copy Link", "|", "Pause", "|", "Delete", "|", "More"}));
        shown.actions().at(5)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(chosen, std::string("delete"), deadlineMs);
        shown.actions().at(7)->menu()->actions().at(0)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(chosen, std::string("details"), deadlineMs);
    }

    // A screen re-rendering from the state must not look like the user flipping a switch, or one
    // change would be sent again; a click must.
    void bindingsSetStateQuietlyAndUserInputIsHeard() {
        ToggleSwitch toggle;
        toggle.setAccessibleName(QStringLiteral("Public"));
        toggle.show();
        QVERIFY(QTest::qWaitForWindowExposed(&toggle));
        auto binding = std::make_shared<SwitchBinding>(&toggle);
        QSignalSpy toggled(&toggle, &QAbstractButton::toggled);
        binding->setOn(true);
        QVERIFY(binding->isOn());
        QCOMPARE(toggled.count(), 0);
        QTest::mouseClick(&toggle, Qt::LeftButton);
        QCOMPARE(toggled.count(), 1);
        QVERIFY(!binding->isOn());
        QTest::keyClick(&toggle, Qt::Key_Space);
        QVERIFY(binding->isOn());
        binding->setEnabled(false);
        QTest::mouseClick(&toggle, Qt::LeftButton);
        QVERIFY(binding->isOn());

        QSlider slider(Qt::Horizontal);
        slider.setRange(100, 3000);
        SliderBinding sliderBinding(&slider, 10);
        QSignalSpy moved(&slider, &QSlider::valueChanged);
        sliderBinding.setValue(45.7);
        QCOMPARE(slider.value(), 457);
        QCOMPARE(sliderBinding.value(), 45.7);
        QCOMPARE(moved.count(), 0);

        QLineEdit field;
        TextFieldBinding text(&field);
        QVERIFY(!text.text());
        text.setText("https://example.org");
        QCOMPARE(*text.text(), std::string("https://example.org"));

        // A binding outlives its widget harmlessly: the window closed, the screen's logic did not know.
        auto label = std::make_unique<QLabel>();
        LabelBinding orphan(label.get());
        orphan.setText("Up");
        QCOMPARE(*orphan.text(), std::string("Up"));
        orphan.setText(std::nullopt);
        QVERIFY(!orphan.text());
        label.reset();
        orphan.setText("gone");
        orphan.setTextColor(Color::systemRed);
        orphan.setHidden(true);
        QVERIFY(!orphan.text());
        QVERIFY(orphan.isHidden());
    }

    void statusColoursFollowLightAndDark() {
        QLabel label;
        label.setPalette(lightPalette());
        LabelBinding binding(&label);
        binding.setTextColor(Color::systemGreen);
        QCOMPARE(label.palette().color(QPalette::WindowText), color(Color::systemGreen, lightPalette()));
        label.setPalette(darkPalette());
        QCOMPARE(label.palette().color(QPalette::WindowText), color(Color::systemGreen, darkPalette()));
        QVERIFY(color(Color::systemGreen, lightPalette()) != color(Color::systemGreen, darkPalette()));
        // Every status colour reads on its window (contrast at least 3:1, the bar for large text and shapes).
        auto luminance = [](const QColor& c) {
            auto channel = [](double v) {
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
        };
        for (const auto& palette : {lightPalette(), darkPalette()})
            for (auto status :
                 {Color::systemGreen, Color::systemOrange, Color::systemRed, Color::systemBlue}) {
                const double a = luminance(color(status, palette)),
                             b = luminance(palette.color(QPalette::Window));
                QVERIFY2((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05) >= 3.0,
                         qPrintable(color(status, palette).name()));
            }
    }

    void everySymbolTheScreensUseHasAnImage() {
        for (const char* symbol :
             {"checkmark.circle.fill", "exclamationmark.triangle.fill", "sidebar.left", "rectangle.grid.2x2",
              "arrow.clockwise", "plus", "trash", "gear", "info.circle"}) {
            QVERIFY2(!symbolIcon(symbol).isNull(), symbol);
            // The bundled fallback is there whatever the theme offers.
            QVERIFY2(QFile::exists(QStringLiteral(":/icons/%1.svg").arg(symbol)), symbol);
            const QPixmap tinted = tintedSymbol(symbol, Qt::red, 16, 2.0);
            QCOMPARE(tinted.size(), QSize(32, 32)); // HiDPI: device pixels
            const QImage image = tinted.toImage();
            bool red = false;
            for (int y = 0; y < image.height() && !red; ++y)
                for (int x = 0; x < image.width() && !red; ++x)
                    red = image.pixelColor(x, y).alpha() > 200 && image.pixelColor(x, y).red() > 200;
            QVERIFY2(red, symbol);
        }
        QVERIFY(symbolIcon("no.such.symbol").isNull());
    }

    void chartMapsTheCoreSeries() {
        LineChartView view;
        ChartBinding binding(&view);
        LineChartDataSet measured;
        measured.entries = {{0, 10}, {2, 12.5}, {3, 11}}; // x = 1 skipped: a gap, not renumbered
        measured.label = "Measurement Value";
        measured.fill = Color::systemBlue;
        measured.lineWidth = 2;
        measured.mode = ChartDrawingMode::cubic;
        LineChartDataSet threshold;
        threshold.entries = {{0, 20}, {3, 20}};
        threshold.color = threshold.circleColor = Color::systemGray;
        threshold.circleRadius = 0;
        binding.setData({{measured, threshold}, false});

        auto series = view.chart()->series();
        QCOMPARE(series.size(), 3); // the area under the measured line, the line, the threshold
        auto* area = qobject_cast<QAreaSeries*>(series.at(0));
        QVERIFY(area);
        auto* line = qobject_cast<QSplineSeries*>(series.at(1));
        QVERIFY(line);
        QCOMPARE(line->points().at(1), QPointF(2, 12.5));
        QCOMPARE(line->pen().widthF(), 2.0);
        QVERIFY(line->pointsVisible());
        QCOMPARE(line->markerSize(), 8.0);
        QVERIFY(!line->pointLabelsVisible());
        auto* flat = qobject_cast<QLineSeries*>(series.at(2));
        QVERIFY(flat && !qobject_cast<QSplineSeries*>(flat));
        QVERIFY(!flat->pointsVisible());
        QCOMPARE(flat->color(), color(Color::systemGray, view.palette()));
        auto* x = qobject_cast<QValueAxis*>(view.chart()->axes(Qt::Horizontal).at(0));
        auto* y = qobject_cast<QValueAxis*>(view.chart()->axes(Qt::Vertical).at(0));
        QCOMPARE(x->min(), 0.0);
        QCOMPARE(x->max(), 3.0);
        QVERIFY(y->min() <= 10 && y->max() >= 20);

        binding.setData({}); // an empty chart still has sane axes
        QCOMPARE(view.chart()->series().size(), 0);
    }

    void cardsFollowTheNarrowRule() {
        SnapshotListModel model;
        auto endpoint = makeEndpoint("1", "Demo API", mixedHistory(30, 3));
        model.setCellProvider([&](const joblark::IndexPath&, const std::any&) {
            auto cell = std::make_shared<EndpointCardCell>();
            cell->configure(*endpoint);
            return cell;
        });
        model.apply({{"Endpoint-Section", "Endpoints", {"1"}, {std::any(1)}}},
                    [](const std::any&, const std::any&) { return true; });
        CardDelegate delegate;
        const QModelIndex index = model.index(joblark::IndexPath{0, 0});
        auto card = std::dynamic_pointer_cast<CardCell>(model.cell(index));
        QImage image(400, 100, QImage::Format_ARGB32);
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.palette = lightPalette();
        for (int width : {249, 250}) {
            option.rect = QRect(0, 0, width, CardDelegate::cardHeight);
            delegate.paint(&painter, option, index);
            const bool narrow = width < 250;
            QCOMPARE(card->overviewLabelText, narrow ? card->shortOverview : card->fullOverview);
            const auto hidden =
                std::count_if(card->historyBar.slots().begin(), card->historyBar.slots().end(),
                              [](const auto& slot) { return slot.hidden; });
            QCOMPARE(hidden, narrow ? 15 : 0);
        }
        QVERIFY(index.data(Qt::AccessibleTextRole).toString().startsWith(QStringLiteral("Demo API, ")));
    }

    void gridLayoutPlacesCardsWithTheCoreGeometry() {
        QWidget grid;
        auto* layout = new CenteredFlowLayout(&grid, 10);
        std::vector<QWidget*> cards;
        for (QSize size : {QSize(100, 50), QSize(120, 70), QSize(80, 40), QSize(300, 60)}) {
            auto* card = new QWidget;
            card->setFixedSize(size);
            layout->addWidget(card);
            cards.push_back(card);
        }
        grid.resize(500, layout->heightForWidth(500));
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        CenterTopAlignedCollectionViewFlowLayout geometry;
        geometry.minimumInteritemSpacing = geometry.minimumLineSpacing = 10;
        geometry.sectionInsetTop = geometry.sectionInsetBottom = 10;
        geometry.sectionInsetLeft = geometry.sectionInsetRight =
            CenterTopAlignedCollectionViewFlowLayout::leftMargin;
        const auto expected =
            geometry.layoutAttributesForElements({{100, 50}, {120, 70}, {80, 40}, {300, 60}}, 500);
        for (std::size_t i = 0; i < cards.size(); ++i) {
            const auto& f = expected[i].frame;
            QCOMPARE(cards[i]->geometry(),
                     QRect(int(std::lround(f.x)), int(std::lround(f.y)), int(f.width), int(f.height)));
        }
        // Row one is centred and top-aligned; the 300-wide card wraps to a row of its own.
        QCOMPARE(cards[0]->y(), cards[2]->y());
        QVERIFY(cards[3]->y() > cards[1]->geometry().bottom());
        QVERIFY(std::abs(cards[0]->x() - (500 - cards[2]->geometry().right() - 1)) <= 1);
    }

    void badgeAndGridCardShowTheCoreTexts() {
        BadgeWidget badgeWidget;
        auto binding = std::make_shared<BadgeBinding>(&badgeWidget);
        Badge badge("Ok", OverallStatus::ok);
        badge.view = binding;
        badge.update("Down", OverallStatus::down);
        QCOMPARE(badgeWidget.title(), QStringLiteral("Down"));
        QCOMPARE(badgeWidget.background(), Color::systemRed);
        QVERIFY(badgeWidget.sizeHint().width() >= 44);
        QCOMPARE(badgeWidget.accessibleName(), QStringLiteral("Down"));

        OverviewCardWidget card;
        EndpointOverviewCell cell;
        cell.configure(*makeEndpoint("1", "Checkout", {"degraded", "ok"}));
        card.showCell(cell);
        QCOMPARE(card.summaryLabel()->text(), QStringLiteral("Degraded"));
        QVERIFY(card.summaryLabel()->font().bold());
        QVERIFY(card.accessibleName().startsWith(QStringLiteral("Checkout, Degraded, Last checked at: ")));
        QSignalSpy clicked(&card, &OverviewCardWidget::clicked);
        card.resize(card.sizeHint());
        card.show();
        QTest::mouseClick(&card, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(clicked.count(), 1);
    }
};

} // namespace

std::unique_ptr<QObject> makeKitTests() {
    return std::make_unique<KitTests>();
}

} // namespace kestrova::ui::tests

#include "KitTests.moc"
