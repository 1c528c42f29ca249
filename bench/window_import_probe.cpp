// How the window behaves during a long import: runs the import from a real TFormMain (offscreen
// or under a display) and reports how long the event loop went unserved, how long a repaint
// waited, and how quickly Cancel ends a run.
//
//   window_import_probe TARGET.xlsx SHEET CSV RELATION [CANCEL-FRACTION ...]
//
// First one cancelled run per fraction (Cancel clicked when that share of the rows is in; 1
// clicks as the last rows go in, so the click lands in the commit), the target then compared
// with its bytes before the run; then one whole run. A timer asks for a turn every 2 ms; a gap
// between two turns is a time in which the window could neither repaint nor see a click. Prints
// one line per run; exit status 1 when a cancelled run changed the file or a run did not end as
// expected.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/form_main.h"
#include "app/gui_yield.h"
#include "app/warning_box.h"
#include "grids/qt_text.h"

namespace {

// Gaps between the event loop's turns, and how long a repaint asked for (as when another
// window uncovers this one) waits for its paint.
class TProbe : public QObject {
  public:
    explicit TProbe(QWidget* painted) : painted_(painted) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(2);
        connect(&timer_, &QTimer::timeout, this, [this] { Turn(clock_.nsecsElapsed()); });
        painted_->installEventFilter(this);
    }

    void Start() {
        turns_.clear();
        paintWaits_.clear();
        askedAt_ = -1;
        lastAsk_ = 0;
        asks_ = 0;
        commitStart_ = -1;
        clock_.start();
        turns_.push_back(0);
        timer_.start();
    }
    void Stop() {
        timer_.stop();
        end_ = clock_.nsecsElapsed();
        // A repaint still waiting at the end waited at least this long.
        if (askedAt_ >= 0) paintWaits_.push_back(end_ - askedAt_);
        askedAt_ = -1;
        turns_.push_back(end_);
    }
    void MarkCommitStart() {
        if (commitStart_ < 0) commitStart_ = clock_.nsecsElapsed();
    }
    qint64 Now() const { return clock_.nsecsElapsed(); }

    // The longest time without a turn between from and to (nanoseconds since Start).
    qint64 LongestGap(const std::vector<qint64>& times, qint64 from, qint64 to) const {
        qint64 longest = 0, previous = from;
        for (qint64 t : times) {
            if (t < from) continue;
            if (t > to) t = to;
            longest = std::max(longest, t - previous);
            previous = t;
            if (t == to) break;
        }
        return std::max(longest, to - previous);
    }

    qint64 LongestPaintWait() const {
        qint64 longest = 0;
        for (qint64 wait : paintWaits_)
            longest = std::max(longest, wait);
        return longest;
    }

    std::vector<qint64> turns_, paintWaits_;
    qint64 commitStart_ = -1, end_ = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == painted_ && event->type() == QEvent::Paint && askedAt_ >= 0) {
            paintWaits_.push_back(clock_.nsecsElapsed() - askedAt_);
            askedAt_ = -1;
        }
        return false;
    }

  private:
    // Every 20 ms a repaint of the whole window is asked for, once the last one was painted.
    void Turn(qint64 now) {
        turns_.push_back(now);
        if (askedAt_ < 0 && now - lastAsk_ >= 20'000'000) {
            askedAt_ = lastAsk_ = now;
            ++asks_;
            painted_->update();
        }
    }

    QWidget* painted_;
    qint64 askedAt_ = -1, lastAsk_ = 0;

  public:
    std::size_t asks_ = 0;
    QTimer timer_;
    QElapsedTimer clock_;
};

double Ms(qint64 ns) {
    return static_cast<double>(ns) / 1e6;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 5) {
        std::fprintf(stderr,
                     "usage: window_import_probe TARGET.xlsx SHEET CSV RELATION [FRACTION ...]\n");
        return 2;
    }
    qm::InstallGuiYieldHook();
    QStringList warnings;
    qm::SetWarningHook([&warnings](QWidget*, const QString& text) { warnings << text; });

    const QString target = args[1];
    const std::vector<std::u16string> arguments{u"quillomat",
                                                qm::ToU16String("-e=" + target),
                                                qm::ToU16String("-w=" + args[2]),
                                                qm::ToU16String("-c=" + args[3]),
                                                u"-f=-1",
                                                qm::ToU16String("-r=" + args[4])};
    const QString settings = QDir::tempPath() + "/window_import_probe.ini";
    qm::TFormMain window(arguments, qm::ToU16String(settings));
    window.resize(1000, 760);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    window.ApplicationFirstIdle();
    if (!window.Csv || !window.ADOTable1.Active()) {
        std::fprintf(stderr, "the window did not open the CSV file or the worksheet\n");
        return 1;
    }

    TProbe probe(&window);
    QObject::connect(window.ProgressBar1, &QProgressBar::valueChanged, &probe, [&](int value) {
        if (value > 0 && value == window.ProgressBar1->maximum()) probe.MarkCommitStart();
    });
    const QByteArray before = ReadAll(target);

    // Reading the CSV file again, as when the user chooses it: no cancel here, but the window
    // should still be served.
    probe.Start();
    window.OpenCsvFile(qm::ToU16String(args[3]));
    probe.Stop();
    std::printf("CSV file read in %.0f ms; longest gap between turns %.1f ms\n", Ms(probe.end_),
                Ms(probe.LongestGap(probe.turns_, 0, probe.end_)));
    if (!window.Csv) return 1;
    bool ok = true;

    // Cancelled runs: the fraction is taken of the rows, by watching the progress bar.
    for (int i = 5; i < args.size(); ++i) {
        const double fraction = args[i].toDouble();
        qint64 clicked = -1;
        auto watch = QObject::connect(
            window.ProgressBar1, &QProgressBar::valueChanged, &probe, [&](int value) {
                const int maximum = window.ProgressBar1->maximum();
                if (clicked >= 0 || maximum <= 0 || value < fraction * maximum) return;
                // The click is queued as a user's would be: it is seen at the next turn.
                clicked = probe.Now();
                QPushButton* button = window.BtnConvertCancel;
                const QPointF at = QPointF(button->rect().center());
                const QPointF global = QPointF(button->mapToGlobal(at.toPoint()));
                QCoreApplication::postEvent(
                    button, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                            Qt::LeftButton, Qt::NoModifier));
                QCoreApplication::postEvent(
                    button, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                            Qt::NoButton, Qt::NoModifier));
            });
        warnings.clear();
        probe.Start();
        const bool committed = window.RunConvert();
        probe.Stop();
        QObject::disconnect(watch);
        const bool unchanged = ReadAll(target) == before;
        const bool cancelled = !committed && warnings.size() == 1 &&
                               warnings[0] == QStringLiteral("キャンセルされました。");
        std::printf(
            "cancel at %.2f: ended %.1f ms after the click, longest gap %.1f ms, "
            "slowest repaint %.1f ms, file %s, %s\n",
            fraction, clicked < 0 ? -1.0 : Ms(probe.end_ - clicked),
            Ms(probe.LongestGap(probe.turns_, 0, probe.end_)), Ms(probe.LongestPaintWait()),
            unchanged ? "unchanged" : "CHANGED", cancelled ? "cancelled" : "NOT CANCELLED");
        ok = ok && unchanged && cancelled && clicked >= 0;
    }

    // The whole run.
    warnings.clear();
    probe.Start();
    const bool committed = window.RunConvert();
    probe.Stop();
    const qint64 commit = probe.commitStart_ < 0 ? probe.end_ : probe.commitStart_;
    std::printf(
        "whole run: %s in %.0f ms (rows %.0f ms, commit %.0f ms); longest gap between "
        "turns: rows %.1f ms, commit %.1f ms; %zu repaints asked for, the slowest "
        "painted after %.1f ms\n",
        committed ? "committed" : "FAILED", Ms(probe.end_), Ms(commit), Ms(probe.end_ - commit),
        Ms(probe.LongestGap(probe.turns_, 0, commit)),
        Ms(probe.LongestGap(probe.turns_, commit, probe.end_)), probe.asks_,
        Ms(probe.LongestPaintWait()));
    if (!committed) {
        for (const QString& warning : warnings)
            std::fprintf(stderr, "%s\n", qPrintable(warning));
        ok = false;
    }
    QFile::remove(settings);
    return ok ? 0 : 1;
}
