// The window's import commands while the core's import run is not part of the build: the check
// of the settings works; a run that passes it says that importing is not available yet.
#include "app/form_main.h"
#include "app/warning_box.h"
#include "grids/grid_relation.h"

namespace qm {

bool TFormMain::CheckConvertSettings() {
    if (!Csv) {
        ShowWarning(this, QStringLiteral("CSVファイルを選択してください。"));
        return false;
    }
    if (GridRelation->GetRelation().empty()) {
        ShowWarning(this,
                    QStringLiteral("ExcelワークシートにCSVデータを登録する設定を行ってください。"));
        return false;
    }
    return true;
}

bool TFormMain::RunConvert() {
    if (!CheckConvertSettings()) return false;
    ShowWarning(this, QStringLiteral("このビルドにはデータ登録処理が含まれていません。"));
    return false;
}

void TFormMain::ActionConvertStartExecute() {
    RunConvert();
}

void TFormMain::ActionConvertCancelExecute() {
    CancelRequested = true;
}

}  // namespace qm
