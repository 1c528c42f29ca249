#include "app/help_topic.h"

#include "app/help_window.h"

namespace qm {

namespace {
THelpHook& Hook() {
    static THelpHook hook;
    return hook;
}
}  // namespace

void ShowHelpTopic(QWidget* owner, const QString& helpFile, int topic) {
    if (Hook()) {
        Hook()(owner, helpFile, topic);
        return;
    }
    TFormHelp::For(owner).ShowTopic(topic);
}

THelpHook SetHelpHook(THelpHook hook) {
    THelpHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

}  // namespace qm
