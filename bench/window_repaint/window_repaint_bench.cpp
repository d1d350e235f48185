// What the real window's repaints cost the file stage. The window is shown, in its
// upgrade-running state, on whatever platform QT_QPA_PLATFORM names. A tree of 2,000 small
// files is copied by CopyUpdateFiles with the window, by CopyUpdateFiles with a window that
// draws nothing, and by `cp -r`, in turn, for several rounds; then the window's part alone is
// timed: per file a new step text, a repaint, a new position and a repaint, as the stage does.
// Prints medians, the time per repaint and the paint events the widgets received.
//
// window_repaint_bench BASE [ROUNDS]   makes its tree under BASE/kx-window-repaint-bench and
//                                      removes it at the end.

#include "app/message_box.h"
#include "app/u_main.h"
#include "bench/support/bench_support.h"
#include "platform/data_access.h"
#include "platform/host_identity.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/process.h"
#include "platform/window_facilities.h"
#include "upgrade/file_update.h"

#include <QApplication>
#include <QEvent>
#include <QThread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

extern char **environ;

namespace offline_upgrade {

namespace {

using bench::Median;
using bench::NoCommand;
using bench::NoConnection;
using bench::NoOpWindow;
using bench::NoProcesses;
using bench::NoQuery;
using bench::StageParts;

class NoHost : public IHostIdentity {
public:
    bool HostName(std::string &) override { return false; }
    bool ResolveIPv4(const std::string &, std::vector<Ipv4Address> &) override { return false; }
    bool InterfaceIPv4(std::vector<Ipv4Address> &) override { return false; }
    bool ComputerName(std::string &) override { return false; }
};
class NoMessages : public IMessagePresenter {
public:
    void Show(QWidget *, const std::string &, const std::string &, MessageIcon) override {}
};

// Counts the paint events every widget receives.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++Paints;
        return false;
    }
    long Paints = 0;
};

void Fail(const std::string &what)
{
    std::fprintf(stderr, "window_repaint_bench: %s\n", what.c_str());
    std::exit(1);
}

// 2,000 files of 0.1-4 KB in two levels of folders; the same bytes on every run.
std::vector<std::string> MakeTree(const std::string &root)
{
    PosixFileSystem files;
    uint64_t state = 42;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 33;
    };
    std::vector<char> buffer(4000);
    for (char &c : buffer)
        c = static_cast<char>(next());
    std::vector<std::string> names;
    for (int i = 0; i < 2000; ++i) {
        const int folder = i / 50;
        const std::string dir =
            root + "/g" + std::to_string(folder % 5) + "/d" + std::to_string(folder);
        if (i % 50 == 0 && !files.ForceDirectories(dir))
            Fail("cannot create " + dir);
        const size_t size = 100 + next() % 3901;
        const std::string name = "file" + std::to_string(i) + ".dat";
        const int fd =
            ::open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, buffer.data(), size) != static_cast<ssize_t>(size))
            Fail("cannot write " + dir + "/" + name);
        ::close(fd);
        names.push_back(name);
    }
    return names;
}

double Seconds(const std::function<void()> &run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void RunCp(const std::string &source, const std::string &target)
{
    std::string cp = "cp", r = "-r", src = source, dst = target;
    char *argv[] = {cp.data(), r.data(), src.data(), dst.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0)
        Fail("cannot start cp");
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("cp -r failed");
}

template <typename T> T &Child(QWidget &window, const char *name)
{
    T *child = window.findChild<T *>(QString::fromLatin1(name));
    if (!child)
        Fail(std::string("no control ") + name);
    return *child;
}

} // namespace

} // namespace offline_upgrade

int main(int argc, char **argv)
{
    using namespace offline_upgrade;
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: window_repaint_bench BASE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 7;
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    PosixFileSystem files;
    const std::string base = std::string(argv[1]) + "/kx-window-repaint-bench";
    files.RemoveTree(base);
    const std::string program = base + "/prog/";
    const std::string source = program + "TempUpdate/pkg/UpdateFiles";
    const std::string target = base + "/target";
    const std::vector<std::string> names = MakeTree(source);

    NoProcesses processes;
    RegFileRegistry registry(base + "/none.reg");
    NoHost host;
    NoConnection connection;
    NoQuery query;
    NoCommand command;
    NoMessages messages;
    TForm1 form(
        FormServices{program, files, processes, registry, host, connection, query, command, {}},
        messages);
    // The upgrade-running state: the step label and the bar are shown.
    Child<QWidget>(form, "Lab_CurrentStep").show();
    Child<QWidget>(form, "ProgressBar").show();
    form.show();
    for (int i = 0; i < 50; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
    PaintCounter counter;
    app.installEventFilter(&counter);

    StageParts parts(target);
    NoOpWindow noOp;
    auto stage = [&](IWindowFacilities &window) {
        UpgradeContext context = parts.Context(program, window, files);
        if (!CopyUpdateFiles(context))
            Fail("the file stage failed");
    };

    std::vector<double> withWindow, withNoOp, cp, ratios;
    long stagePaints = 0;
    for (int round = 0; round < rounds; ++round) {
        double w = 0, n = 0, c = 0;
        for (int turn = 0; turn < 3; ++turn) {
            files.RemoveTree(target);
            ::sync();
            switch ((turn + round) % 3) {
            case 0: {
                const long before = counter.Paints;
                w = Seconds([&] { stage(form); });
                stagePaints = counter.Paints - before;
                break;
            }
            case 1:
                n = Seconds([&] { stage(noOp); });
                break;
            default:
                c = Seconds([&] { RunCp(source, target); });
                break;
            }
        }
        withWindow.push_back(w);
        withNoOp.push_back(n);
        cp.push_back(c);
        ratios.push_back(w / c);
    }
    files.RemoveTree(target);

    // The window's part alone, as the stage calls it for each file.
    std::vector<double> perFile;
    long loopPaints = 0;
    form.SetProgressMax(static_cast<int>(names.size()) * 2000);
    for (int round = 0; round < rounds; ++round) {
        form.SetProgressPosition(0);
        const long before = counter.Paints;
        const double seconds = Seconds([&] {
            for (size_t i = 0; i < names.size(); ++i) {
                form.SetStepText("正在更新文件" + names[i] + "...");
                form.Repaint();
                form.SetProgressPosition(static_cast<int>(i + 1) * 2000);
                form.Repaint();
            }
        });
        loopPaints = counter.Paints - before;
        perFile.push_back(seconds / static_cast<double>(names.size()));
    }
    files.RemoveTree(base);

    struct rusage self {};
    ::getrusage(RUSAGE_SELF, &self);
    std::printf("platform %s, %zu files, %d rounds (medians)\n",
                QApplication::platformName().toStdString().c_str(), names.size(), rounds);
    std::printf("  stage with the window %.3f s, with a no-op window %.3f s, cp -r %.3f s\n",
                Median(withWindow), Median(withNoOp), Median(cp));
    std::printf("  median ratio stage with the window / cp -r %.2f (goal <= 1.30)\n",
                Median(ratios));
    std::printf("  window part alone: %.1f us per file (two repaints), %.1f us per repaint\n",
                Median(perFile) * 1e6, Median(perFile) * 1e6 / 2);
    std::printf("  paint events per file: %.2f in the stage, %.2f in the window part alone\n",
                static_cast<double>(stagePaints) / static_cast<double>(names.size()),
                static_cast<double>(loopPaints) / static_cast<double>(names.size()));
    std::printf("  peak RSS %ld KiB\n", self.ru_maxrss);
    return 0;
}
