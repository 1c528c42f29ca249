// The grids on large tables, on Qt's offscreen platform. The CSV preview (1,000,000 rows x 50
// fields): binding the table and painting the first screen, jumping to the last row, and
// turning the title line on and off; all must stay independent of the table's size, as the
// model reads only the visible cells. The relation grid with a 20000-field table: rebuilding
// its column list and opening the editor on it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QTest>
#include <memory>
#include <string>

#include "csv/csv.h"
#include "grids/csv_grid.h"
#include "grids/grid_relation.h"
#include "targets/target_access.h"

namespace {

constexpr std::uint32_t kRows = 1'000'000;
constexpr std::uint32_t kFields = 50;

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_grids";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QApplication>(argc, argv);
    }();
    return *app;
}

// Made once for all benchmarks: a row number, then short texts.
const qm::TCsv& BigTable() {
    static std::unique_ptr<qm::TCsv> csv = [] {
        std::u16string text;
        text.reserve(std::size_t{kRows} * (8 + 4 * kFields));
        for (std::uint32_t r = 0; r < kRows; ++r) {
            for (char c : std::to_string(r))
                text += static_cast<char16_t>(c);
            for (std::uint32_t f = 1; f < kFields; ++f) {
                text += u",値";
                text += static_cast<char16_t>(u'A' + f % 26);
            }
            text += u'\n';
        }
        auto table = std::make_unique<qm::TCsv>();
        table->Parse(std::move(text));
        return table;
    }();
    return *csv;
}

// A grid the size of a main window's preview panel, shown and painted once.
std::unique_ptr<qm::TCsvGrid> ShownGrid() {
    auto grid = std::make_unique<qm::TCsvGrid>();
    grid->resize(1200, 800);
    grid->show();
    QApplication::processEvents();
    return grid;
}

void BM_BindAndPaintFirstScreen(benchmark::State& state) {
    App();
    const qm::TCsv& csv = BigTable();
    auto grid = ShownGrid();
    grid->SetFirstLineIsTitle(state.range(0) != 0);
    for (auto _ : state) {
        grid->SetCsv(&csv);
        benchmark::DoNotOptimize(grid->grab());
        state.PauseTiming();
        grid->SetCsv(nullptr);
        QApplication::processEvents();
        state.ResumeTiming();
    }
    grid->SetCsv(nullptr);
}
BENCHMARK(BM_BindAndPaintFirstScreen)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_JumpToLastRow(benchmark::State& state) {
    App();
    const qm::TCsv& csv = BigTable();
    auto grid = ShownGrid();
    grid->SetCsv(&csv);
    benchmark::DoNotOptimize(grid->grab());
    const QModelIndex last = grid->model()->index(grid->model()->rowCount() - 1, 0);
    const QModelIndex first = grid->model()->index(0, 0);
    for (auto _ : state) {
        grid->setCurrentIndex(last);
        grid->scrollTo(last);
        benchmark::DoNotOptimize(grid->grab());
        state.PauseTiming();
        grid->setCurrentIndex(first);
        grid->scrollTo(first);
        QApplication::processEvents();
        state.ResumeTiming();
    }
    grid->SetCsv(nullptr);
}
BENCHMARK(BM_JumpToLastRow)->Unit(benchmark::kMillisecond);

void BM_ToggleFirstLineIsTitle(benchmark::State& state) {
    App();
    const qm::TCsv& csv = BigTable();
    auto grid = ShownGrid();
    grid->SetCsv(&csv);
    bool title = false;
    for (auto _ : state) {
        title = !title;
        grid->SetFirstLineIsTitle(title);
        benchmark::DoNotOptimize(grid->grab());
    }
    grid->SetCsv(nullptr);
}
BENCHMARK(BM_ToggleFirstLineIsTitle)->Unit(benchmark::kMillisecond);

const qm::TCsv& WideTable() {
    static std::unique_ptr<qm::TCsv> csv = [] {
        std::u16string line;
        for (int i = 0; i < 20000; ++i)
            line.append(u"項目").append(1, static_cast<char16_t>(u'0' + i % 10)).append(u",");
        auto table = std::make_unique<qm::TCsv>();
        table->Parse(line + u"\n" + line);
        return table;
    }();
    return *csv;
}

std::unique_ptr<qm::TGridRelation> ShownRelationGrid() {
    auto grid = std::make_unique<qm::TGridRelation>();
    std::vector<qm::TAdoExcelField> fields;
    for (int i = 0; i < 30; ++i)
        fields.push_back(
            {std::u16string(u"フィールド").append(1, static_cast<char16_t>(u'0' + i % 10)),
             qm::ftString});
    grid->SetFields(fields);
    grid->resize(600, 400);
    grid->show();
    QApplication::processEvents();
    return grid;
}

void BM_RelationColumnList(benchmark::State& state) {
    App();
    const qm::TCsv& csv = WideTable();
    auto grid = ShownRelationGrid();
    grid->SetFirstLineIsTitle(true);
    for (auto _ : state) {
        grid->SetCsv(&csv);
        state.PauseTiming();
        grid->SetCsv(nullptr);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RelationColumnList)->Unit(benchmark::kMillisecond);

void BM_RelationOpenEditor(benchmark::State& state) {
    App();
    const qm::TCsv& csv = WideTable();
    auto grid = ShownRelationGrid();
    grid->SetCsv(&csv);
    grid->SetRelation({{u"フィールド0", 16000}});
    const QModelIndex cell = grid->model()->index(0, 2);
    for (auto _ : state) {
        grid->setCurrentIndex(cell);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
        benchmark::DoNotOptimize(grid->grab());
        state.PauseTiming();
        grid->Editor()->hidePopup();
        grid->setFocus();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RelationOpenEditor)->Unit(benchmark::kMillisecond);

}  // namespace
