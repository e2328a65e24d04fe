#include "Fixtures.hpp"
#include "TestClasses.hpp"

#include "UI/Kit/Cards.hpp"
#include "UI/Kit/Chart.hpp"
#include "UI/Kit/Controls.hpp"
#include "UI/Kit/Palette.hpp"
#include "UI/Kit/SnapshotListModel.hpp"
#include "UI/Kit/Views.hpp"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QTest>
#include <QVBoxLayout>

namespace kestrova::ui::tests {
namespace {

// The demo's kind of data: every status, a resource never checked, long names.
std::vector<std::shared_ptr<Endpoint>> demoEndpoints() {
    return {makeEndpoint("1", "Quillnest API", std::vector<std::string>(30, "ok")),
            makeEndpoint("2", "Checkout (slow on purpose)",
                         {"degraded", "degraded", "ok", "ok", "ok", "degraded", "ok"}),
            makeEndpoint("3", "Status page with a rather long name that will not fit", mixedHistory(30, 5)),
            makeEndpoint("4", "Legacy billing",
                         {"down", "down", "ok", "", "ok", "ok", "ok", "ok", "ok", "ok", "ok", "ok"}),
            makeEndpoint("5", "New endpoint", {})};
}

std::vector<std::shared_ptr<Measure>> demoMeasures() {
    return {makeMeasure("1", "Queue depth", mixedHistory(20, 9)),
            makeMeasure("2", "Disk free", {"ok", "ok", "ok"})};
}

// The kit on one sheet: the overview list (wide and narrow), badges, controls, a chart, the grid.
class KitSheet : public QWidget {
public:
    KitSheet() {
        auto* columns = new QHBoxLayout(this);
        columns->setContentsMargins(12, 12, 12, 12);
        columns->setSpacing(12);

        endpoints_ = demoEndpoints();
        measures_ = demoMeasures();
        model_.setCellProvider(
            [this](const joblark::IndexPath& path, const std::any&) -> joblark::TableViewCellPtr {
                if (path.section == 0) {
                    auto cell = std::make_shared<EndpointCardCell>();
                    cell->configure(*endpoints_[path.row]);
                    return cell;
                }
                auto cell = std::make_shared<MeasureCardCell>();
                cell->configure(*measures_[path.row]);
                return cell;
            });
        SnapshotListModel::SectionContent endpoints{"Endpoint-Section", "Endpoints", {}, {}};
        for (const auto& e : endpoints_) {
            endpoints.rowKeys.push_back(*e->id);
            endpoints.items.emplace_back(0);
        }
        SnapshotListModel::SectionContent measures{"Measure-Section", "Measures", {}, {}};
        for (const auto& m : measures_) {
            measures.rowKeys.push_back(*m->id);
            measures.items.emplace_back(0);
        }
        model_.apply({endpoints, measures}, [](const std::any&, const std::any&) { return true; });

        for (int width : {340, 230}) {
            auto* list = new CardListView;
            list->setModel(&model_);
            list->setFixedWidth(width);
            list->setCurrentIndex(model_.index(joblark::IndexPath{0, 1}));
            columns->addWidget(list);
        }

        auto* right = new QVBoxLayout;
        columns->addLayout(right, 1);
        auto* header = new QHBoxLayout;
        auto* symbol = new SymbolView(32);
        symbol->setSymbol("exclamationmark.triangle.fill");
        symbol->setTint(Color::systemRed);
        header->addWidget(symbol);
        auto* title = new QLabel(QStringLiteral("Uh Oh!"));
        QFont big = title->font();
        big.setBold(true);
        big.setPointSizeF(big.pointSizeF() * 1.4);
        title->setFont(big);
        header->addWidget(title);
        for (auto [text, status] :
             {std::pair{"Ok", OverallStatus::ok}, std::pair{"Degraded", OverallStatus::degraded},
              std::pair{"Down", OverallStatus::down}, std::pair{"Valid Certificate", OverallStatus::ok}}) {
            auto* badge = new BadgeWidget;
            badge->setBadge(QString::fromUtf8(text), statusColor(status));
            header->addWidget(badge);
        }
        header->addStretch(1);
        for (bool on : {true, false}) {
            auto* toggle = new ToggleSwitch;
            toggle->setChecked(on);
            toggle->setAccessibleName(on ? QStringLiteral("Status") : QStringLiteral("Public"));
            header->addWidget(toggle);
        }
        auto* spinner = new Spinner;
        spinner->start();
        header->addWidget(spinner);
        right->addLayout(header);

        auto* chart = new LineChartView;
        LineChartDataSet response;
        for (int i = 0; i < 30; ++i)
            if (i != 12 && i != 13)
                response.entries.push_back({double(i), 120 + 40 * std::sin(i / 3.0) + (i == 20 ? 180 : 0)});
        response.label = "Response Time";
        response.fill = Color::systemBlue;
        response.lineWidth = 2;
        response.mode = ChartDrawingMode::cubic;
        LineChartDataSet threshold;
        threshold.entries = {{0, 250}, {29, 250}};
        threshold.color = threshold.circleColor = Color::systemGray;
        threshold.circleRadius = 0;
        chart->setData({{response, threshold}, false});
        chart->setMinimumHeight(220);
        right->addWidget(chart);

        auto* grid = new QWidget;
        auto* flow = new CenteredFlowLayout(grid, 10);
        for (const auto& e : endpoints_) {
            EndpointOverviewCell cell;
            cell.configure(*e);
            auto* card = new OverviewCardWidget;
            card->showCell(cell);
            flow->addWidget(card);
        }
        for (const auto& m : measures_) {
            EndpointOverviewCell cell;
            cell.configure(*m);
            auto* card = new OverviewCardWidget;
            card->showCell(cell);
            flow->addWidget(card);
        }
        right->addWidget(grid, 1);
    }

private:
    std::vector<std::shared_ptr<Endpoint>> endpoints_;
    std::vector<std::shared_ptr<Measure>> measures_;
    SnapshotListModel model_;
};

class ScreenshotTests : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void kitInLightAndDark() {
        const QString folder = QStringLiteral(KESTROVA_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(folder));
        for (const auto& [name, palette] :
             {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
            KitSheet sheet;
            sheet.setPalette(palette);
            sheet.setAutoFillBackground(true);
            sheet.resize(1480, 760);
            sheet.show();
            QVERIFY(QTest::qWaitForWindowExposed(&sheet));
            const QImage image = sheet.grab().toImage();
            const QString path = folder + QStringLiteral("/kit-%1.png").arg(QString::fromUtf8(name));
            QVERIFY(image.save(path));
            // The window colour of the palette fills the background: light is light, dark is dark.
            QCOMPARE(image.pixelColor(2, 2), palette.color(QPalette::Window));
        }
    }
};

} // namespace

std::unique_ptr<QObject> makeScreenshotTests() {
    return std::make_unique<ScreenshotTests>();
}

} // namespace kestrova::ui::tests

#include "ScreenshotTests.moc"
