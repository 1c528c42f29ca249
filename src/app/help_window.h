// The help window: the program's help pages, built into it, in a browser with a way back to
// the table of contents. One window per main window serves every request and closes with it;
// asking again brings it to the front at the new topic.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace qm {

class TFormHelp : public QWidget {
    Q_OBJECT

  public:
    // The help window of the top window that 'owner' belongs to (a dialog belongs to the window
    // that opened it), made at the first request and destroyed with that window.
    static TFormHelp& For(QWidget* owner);

    // Topic 0 is the table of contents; a topic without a page shows the contents too.
    void ShowTopic(int topic);
    // The page now shown, as its resource address.
    QString CurrentPage() const;

    QTextBrowser* Browser;

  private:
    explicit TFormHelp(QWidget* parent);
};

}  // namespace qm
