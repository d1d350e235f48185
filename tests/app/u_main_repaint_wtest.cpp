// The window's repaint on a shown window: what changed is painted at once and nothing else is
// handled; a repaint put off because the window was just painted is never lost; while a block
// of the upgrade script runs, the window paints and answers.

#include "tests/app/two_block_package.h"
#include "tests/app/window_fixture.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace offline_upgrade {

namespace {

// Records what a widget showed each time it was painted.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(std::function<std::string()> state) : state_(std::move(state)) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            Painted.push_back(state_());
        return false;
    }
    std::vector<std::string> Painted;

private:
    std::function<std::string()> state_;
};

// A shown window in its upgrade-running look, with recorders on the step label and the bar.
class ShownWindow {
public:
    ShownWindow()
        : form(fixture.Make()), label(Control<QLabel>(form, "Lab_CurrentStep")),
          bar(Control<QProgressBar>(form, "ProgressBar")),
          labelPaints([this] { return label.text().toStdString(); }),
          barPaints([this] { return std::to_string(bar.value()); })
    {
        label.show();
        bar.show();
        form.show();
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        label.installEventFilter(&labelPaints);
        bar.installEventFilter(&barPaints);
    }

    // Waits until a repaint is no longer put off.
    static void PassInterval() { QThread::msleep(TForm1::kRepaintInterval.count() + 5); }

    WindowFixture fixture;
    TForm1 &form;
    QLabel &label;
    QProgressBar &bar;
    PaintRecorder labelPaints;
    PaintRecorder barPaints;
};

TEST(Repaint, PaintsWhatChangedAtOnceAndHandlesNothingElse)
{
    ShownWindow w;
    w.form.SetProgressMax(1000);
    ShownWindow::PassInterval();
    bool timerRan = false;
    QTimer::singleShot(0, &w.form, [&] { timerRan = true; });

    w.form.SetStepText("正在更新文件first.dat...");
    w.form.SetProgressPosition(500);
    w.form.Repaint();

    EXPECT_EQ(w.labelPaints.Painted, std::vector<std::string>{"正在更新文件first.dat..."});
    EXPECT_EQ(w.barPaints.Painted, std::vector<std::string>{"500"});
    // Sized to its new text before it was painted.
    EXPECT_EQ(w.label.size(), w.label.sizeHint());
    EXPECT_FALSE(timerRan);

    // Nothing changed: nothing to paint.
    ShownWindow::PassInterval();
    w.form.Repaint();
    EXPECT_EQ(w.labelPaints.Painted.size(), 1u);
    EXPECT_EQ(w.barPaints.Painted.size(), 1u);
}

TEST(Repaint, AStateLeftPendingIsPaintedByTheNextPaintOfAnyKind)
{
    struct Case {
        const char *what;
        std::function<void(TForm1 &)> paint;
    };
    const Case cases[] = {
        {"message pump", [](TForm1 &form) { form.ProcessMessages(); }},
        {"repaint after the interval",
         [](TForm1 &form) {
             ShownWindow::PassInterval();
             form.Repaint();
         }},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        ShownWindow w;
        w.form.SetProgressMax(2000);
        // Many small files in a row: most of these repaints come too soon after a paint.
        for (int file = 1; file <= 200; ++file) {
            w.form.SetStepText("正在更新文件f" + std::to_string(file) + "...");
            w.form.Repaint();
            w.form.SetProgressPosition(file * 10);
            w.form.Repaint();
        }
        cases[i].paint(w.form);

        ASSERT_FALSE(w.labelPaints.Painted.empty()) << "case " << i << " " << cases[i].what;
        EXPECT_EQ(w.labelPaints.Painted.back(), "正在更新文件f200...")
            << "case " << i << " " << cases[i].what;
        ASSERT_FALSE(w.barPaints.Painted.empty()) << "case " << i << " " << cases[i].what;
        EXPECT_EQ(w.barPaints.Painted.back(), "2000") << "case " << i << " " << cases[i].what;
        EXPECT_EQ(w.label.size(), w.label.sizeHint()) << "case " << i << " " << cases[i].what;
    }
}

TEST(Repaint, TheWindowPaintsAndAnswersWhileABlockRuns)
{
    WindowFixture fixture;
    TForm1 &form = ShowTwoBlockPackage(fixture);
    form.show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    QLabel &label = Control<QLabel>(form, "Lab_CurrentStep");
    QProgressBar &bar = Control<QProgressBar>(form, "ProgressBar");

    // The first block holds the database until the window has painted both controls again
    // after something covered them (as another window does), and a close was asked for.
    std::mutex mutex;
    std::condition_variable changed;
    bool blockRunning = false;
    bool labelPainted = false;
    bool barPainted = false;
    std::vector<std::string> paintedInBlock;
    PaintRecorder labelPaints([&] {
        const std::lock_guard<std::mutex> hold(mutex);
        if (blockRunning) {
            paintedInBlock.push_back("step:" + label.text().toStdString());
            labelPainted = true;
            changed.notify_all();
        }
        return std::string();
    });
    PaintRecorder barPaints([&] {
        const std::lock_guard<std::mutex> hold(mutex);
        if (blockRunning) {
            paintedInBlock.push_back("bar:" + std::to_string(bar.value()) + "/" +
                                     std::to_string(bar.maximum()));
            barPainted = true;
            changed.notify_all();
        }
        return std::string();
    });
    label.installEventFilter(&labelPaints);
    bar.installEventFilter(&barPaints);
    bool closedInBlock = true;
    bool visibleInBlock = false;
    const std::thread::id windowThread = std::this_thread::get_id();
    fixture.command.OnExecute = [&](const std::string &text) {
        // On the window's own thread nothing could paint while it waits.
        if (text != "create" || std::this_thread::get_id() == windowThread)
            return;
        std::unique_lock<std::mutex> hold(mutex);
        blockRunning = true;
        QMetaObject::invokeMethod(
            &form,
            [&] {
                label.update();
                bar.update();
                closedInBlock = form.close();
                visibleInBlock = form.isVisible();
            },
            Qt::QueuedConnection);
        changed.wait_for(hold, std::chrono::seconds(30),
                         [&] { return labelPainted && barPainted; });
        blockRunning = false;
    };

    Control<QPushButton>(form, "BtnUpdate").click();

    const std::vector<std::string> expected = {"step:正在执行升级脚本(0/2)...", "bar:0/2"};
    for (const std::string &paint : expected)
        EXPECT_NE(std::find(paintedInBlock.begin(), paintedInBlock.end(), paint),
                  paintedInBlock.end())
            << paint;
    // The close stays refused while the block runs.
    EXPECT_FALSE(closedInBlock);
    EXPECT_TRUE(visibleInBlock);
    EXPECT_EQ(fixture.command.Executed, (std::vector<std::string>{"create", "insert"}));
    ASSERT_EQ(fixture.messages.Messages.size(), 1u);
    EXPECT_EQ(fixture.messages.Messages[0].Text, "升级成功！");
    EXPECT_TRUE(form.isVisible());
}

} // namespace

} // namespace offline_upgrade
