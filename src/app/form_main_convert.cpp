// The import run from the window: the check, the run with its progress panel, and cancel. The
// rows themselves are appended by the core's import run (TImportRun), the same code the
// command-line import uses.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QProgressBar>

#include "app/cursor_hour_glass.h"
#include "app/form_main.h"
#include "app/gui_yield.h"
#include "app/target_preview_model.h"
#include "app/warning_box.h"
#include "grids/grid_relation.h"
#include "grids/qt_text.h"
#include "platform/yield.h"
#include "targets/import_run.h"

namespace qm {

bool TFormMain::CheckConvertSettings() {
    const std::u16string warning = qm::CheckConvertSettings(Csv.get(), GridRelation->GetRelation());
    if (warning.empty()) return true;
    ShowWarning(this, ToQString(warning));
    return false;
}

bool TFormMain::RunConvert() {
    if (!IsIdle()) return false;  // one run at a time, and none while the window is filling
    if (!CheckConvertSettings()) return false;
    TCursorHourGlass cursor;
    CancelRequested = false;
    const TRelation relation = GridRelation->GetRelation();

    TImportRun run(ADOConnection1, ADOTable1);
    // The bar takes the run's position at the start, at the end and just before each turn of
    // the event loop: QProgressBar repaints synchronously whenever its picture changes, which
    // per row would cost more than the rows themselves, and between two turns nobody sees it.
    run.OnProgress = [this](std::uint32_t position, std::uint32_t maximum) {
        if (position == 0) {
            ProgressBar1->setMaximum(static_cast<int>(maximum));
            ProgressBar1->setValue(0);
            PanelConvertProcess->setVisible(true);
            return;
        }
        if (position < maximum && !YieldsDue()) return;
        ProgressBar1->setValue(static_cast<int>(position));
    };
    // The window is busy for the run; the panel and the preview are restored on every way out.
    struct TRunScope {
        TFormMain& form;
        TBusyScope busy;
        explicit TRunScope(TFormMain& f, TImportRun& r) : form(f), busy(f, TBusy::Importing) {
            form.FRun = &r;
            // The preview stops reading the table that the run is appending to.
            form.DataSource1->SetTable(nullptr);
        }
        ~TRunScope() {
            form.FRun = nullptr;
            form.PanelConvertProcess->setVisible(false);
            form.BindPreview();
        }
    } scope(*this, run);

    const TImportResult result =
        run.Run(Csv.get(), relation, CheckBoxCsvFirstLineIsTitle->isChecked());
    if (result.Started) {
        SetStatusText(ToQString(result.Message));
        if (!result.Committed) ShowWarning(this, ToQString(result.Message));
    }
    PanelConvertProcess->setVisible(false);
    ProcessEventsNow();
    return result.Committed;
}

void TFormMain::ActionConvertStartExecute() {
    RunConvert();
}

void TFormMain::ActionConvertCancelExecute() {
    CancelRequested = true;
    if (FRun) FRun->CancelRequested = true;
    ProcessEventsNow();
}

}  // namespace qm
