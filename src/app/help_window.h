// The help window: the program's help pages, built into it, in a browser with a way back to
// the table of contents. One window serves every request; asking again brings it to the front
// at the new topic.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace qm {

class TFormHelp : public QWidget {
    Q_OBJECT

  public:
    // The one help window, made at the first request.
    static TFormHelp& Instance();

    // Topic 0 is the table of contents; a topic without a page shows the contents too.
    void ShowTopic(int topic);
    // The page now shown, as its resource address.
    QString CurrentPage() const;

    QTextBrowser* Browser;

  private:
    TFormHelp();
};

}  // namespace qm
