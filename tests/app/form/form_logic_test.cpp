// The window's logic without a window: its states, the check box rule, re-entry through the
// message pump, the refused close and the default error report, through a view that records.

#include "app/form/form_controls.h"
#include "app/form/form_logic.h"
#include "real_services.h"

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/host_identity.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_registrations.h"
#include "upgrade/file_transaction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

const std::string kTitle = "朔岱产品离线升级程序";

const char *Name(FormControl control)
{
    switch (control) {
    case FormControl::BtnUpdate:
        return "BtnUpdate";
    case FormControl::Btn_refresh:
        return "Btn_refresh";
    case FormControl::BtnClose:
        return "BtnClose";
    case FormControl::CheckBox_Force:
        return "CheckBox_Force";
    case FormControl::Lab_NoPackage:
        return "Lab_NoPackage";
    case FormControl::P_Update:
        return "P_Update";
    case FormControl::Lab_Product:
        return "Lab_Product";
    case FormControl::Lab_CurrBuild:
        return "Lab_CurrBuild";
    case FormControl::Lab_NewBuild:
        return "Lab_NewBuild";
    case FormControl::Lab_Path:
        return "Lab_Path";
    case FormControl::Lab_CurrentStep:
        return "Lab_CurrentStep";
    case FormControl::ProgressBar:
        return "ProgressBar";
    }
    return "?";
}

// A view that keeps the controls in memory and records every change made to them, in order,
// as "show:NAME", "hide:NAME", "enable:NAME", "disable:NAME", "caption:NAME=TEXT", "check:0|1"
// and "close:granted|refused" (refused also while the close waits for a scan); the facilities
// go to a recording window.
class RecordingFormView : public IFormView {
public:
    void SetStepText(const std::string &text) override
    {
        Window.SetStepText(text);
        controls.SetCaption(FormControl::Lab_CurrentStep, text);
    }
    std::string StepText() const override { return Window.StepText(); }
    void SetProgressMax(int maximum) override { Window.SetProgressMax(maximum); }
    int ProgressMax() const override { return Window.ProgressMax(); }
    void SetProgressPosition(int position) override { Window.SetProgressPosition(position); }
    int ProgressPosition() const override { return Window.ProgressPosition(); }
    void ProcessMessages() override { Window.ProcessMessages(); }
    void Repaint() override { Window.Repaint(); }
    void ShowMessage(const std::string &text, const std::string &caption, MessageIcon icon) override
    {
        Window.ShowMessage(text, caption, icon);
        if (OnMessage)
            OnMessage();
    }

    void SetVisible(FormControl control, bool visible) override
    {
        controls.SetVisible(control, visible);
        Calls.push_back(std::string(visible ? "show:" : "hide:") + Name(control));
    }
    bool IsVisible(FormControl control) const override { return controls.IsVisible(control); }
    void SetEnabled(FormControl control, bool enabled) override
    {
        controls.SetEnabled(control, enabled);
        Calls.push_back(std::string(enabled ? "enable:" : "disable:") + Name(control));
    }
    bool IsEnabled(FormControl control) const override { return controls.IsEnabled(control); }
    void SetCaption(FormControl label, const std::string &text) override
    {
        controls.SetCaption(label, text);
        Calls.push_back(std::string("caption:") + Name(label) + "=" + text);
    }
    std::string Caption(FormControl label) const override { return controls.Caption(label); }
    void SetForceChecked(bool checked) override
    {
        controls.SetForceChecked(checked);
        Calls.push_back(checked ? "check:1" : "check:0");
    }
    bool IsForceChecked() const override { return controls.IsForceChecked(); }
    void RequestClose() override
    {
        const bool closes = Logic->CloseRequested();
        Closed = Closed || closes;
        Calls.push_back(closes ? "close:granted" : "close:refused");
    }

    // The user changes the check box: the view forwards the change.
    void ClickForce()
    {
        controls.SetForceChecked(!controls.IsForceChecked());
        Logic->CheckBox_ForceClick();
    }

    FormControlStates controls;
    RecordingWindow Window;
    std::vector<std::string> Calls;
    FormLogic *Logic = nullptr;
    bool Closed = false;
    // Runs while a box would be open, as event handlers can.
    std::function<void()> OnMessage;
};

class FixedHost : public IHostIdentity {
public:
    bool HostName(std::string &name) override
    {
        name = "testhost";
        return true;
    }
    bool ResolveIPv4(const std::string &, std::vector<Ipv4Address> &addresses) override
    {
        addresses = {{10, 0, 0, 7}};
        return true;
    }
    bool InterfaceIPv4(std::vector<Ipv4Address> &addresses) override
    {
        addresses = {{10, 0, 0, 7}};
        return true;
    }
    bool ComputerName(std::string &name) override
    {
        name = "TESTPC";
        return true;
    }
};

class RecordingSink : public ILogSink {
public:
    RecordingSink() { SetLogSink(this); }
    ~RecordingSink() override { SetLogSink(nullptr); }
    void Write(LogLevel level, std::string_view line) override
    {
        if (level == LogLevel::Error)
            Errors.emplace_back(line);
    }
    // An error line holds the text.
    bool Has(const std::string &text) const
    {
        return std::any_of(Errors.begin(), Errors.end(), [&](const std::string &line) {
            return line.find(text) != std::string::npos;
        });
    }
    std::vector<std::string> Errors;
};

// The logic on an empty temporary program folder, with the real scan behind it.
class LogicFixture {
public:
    // The system's registry, where no product of these tests is registered until a test does.
    LogicFixture() : files(realFiles) {}

    // Registers a product with its folder (and nothing else); its code as registered.
    std::string RegisterProduct(const std::string &code, const std::string &path)
    {
        registrations.SetText(code, "ClientConfigure", "Version", "5");
        registrations.SetText(code, "ApplicationPath", "Path", path);
        return registrations.Code(code);
    }

    FormLogic &Make(UpgradeRunner runner = {}, std::string programFolder = {})
    {
        if (programFolder.empty())
            programFolder = folder.Slashed();
        logic = std::make_unique<FormLogic>(FormServices{programFolder, files, processes, registry,
                                                         host, connection, query, command,
                                                         std::move(runner)},
                                            view);
        view.Logic = logic.get();
        return *logic;
    }

    TempFolder folder;
    SystemFileSystem realFiles;
    FaultyFileSystem files;
    SystemProcesses processes;
    TestRegistrations registrations{folder.Path()};
    IRegistry &registry = registrations.Registry();
    FixedHost host;
    FakeConnection connection;
    FakeQuery query;
    FakeCommand command;
    RecordingFormView view;
    std::unique_ptr<FormLogic> logic;
};

enum class State { NoPackage, PackageFound, UpgradeRunning };

void ExpectState(const RecordingFormView &view, State state, const std::string &where)
{
    SCOPED_TRACE(where);
    const bool running = state == State::UpgradeRunning;
    EXPECT_EQ(view.IsVisible(FormControl::Lab_NoPackage), state == State::NoPackage);
    EXPECT_EQ(view.IsVisible(FormControl::P_Update), state != State::NoPackage);
    EXPECT_EQ(view.IsEnabled(FormControl::BtnUpdate), state == State::PackageFound);
    EXPECT_EQ(view.IsEnabled(FormControl::Btn_refresh), !running);
    EXPECT_EQ(view.IsVisible(FormControl::Lab_CurrentStep), running);
    EXPECT_EQ(view.IsVisible(FormControl::ProgressBar), running);
    // Never changed by any state.
    EXPECT_TRUE(view.IsEnabled(FormControl::BtnClose));
    EXPECT_TRUE(view.IsEnabled(FormControl::CheckBox_Force));
}

std::vector<std::string> CallsSince(const RecordingFormView &view, size_t from)
{
    return {view.Calls.begin() + static_cast<std::ptrdiff_t>(from), view.Calls.end()};
}

TEST(FormLogicStates, FormCreateScansAnEmptyFolderIntoTheNoPackageState)
{
    LogicFixture fixture;
    FormLogic &logic = fixture.Make();
    fixture.view.SetCaption(FormControl::Lab_Path, "stale");
    logic.FormCreate();

    EXPECT_EQ(logic.LocalIP, "10.0.0.7");
    EXPECT_EQ(logic.ComputerName, "TESTPC");
    EXPECT_EQ(fixture.files.Listed.size(), 1u);
    ExpectState(fixture.view, State::NoPackage, "after the scan");
    for (FormControl label : {FormControl::Lab_Product, FormControl::Lab_CurrBuild,
                              FormControl::Lab_NewBuild, FormControl::Lab_Path})
        EXPECT_EQ(fixture.view.Caption(label), "") << Name(label);
    EXPECT_TRUE(fixture.view.Window.Messages.empty());
    EXPECT_FALSE(logic.ScanRunning());
}

TEST(FormLogicStates, AFileStageCutShortIsUndoneBeforeTheScan)
{
    LogicFixture fixture;
    RecordingSink log;
    // What a stage killed amid its renames leaves: the new a.txt in place, the old one kept
    // aside, the journal naming both, for the product as it is registered.
    const std::string product = fixture.folder.Slashed() + "product/";
    const std::string code = fixture.RegisterProduct("FLT", product);
    fixture.folder.Write("product/a.txt", "new");
    fixture.folder.Write("product/.kxold-t-0", "old");
    FileTransaction transaction;
    transaction.ProductCode = code;
    transaction.ProductFolder = product;
    transaction.Files.push_back(
        {product + "a.txt", product + ".kxnew-t-0", product + ".kxold-t-0"});
    fixture.folder.Write("UpdateFiles.journal", JournalText(transaction));
    FormLogic &logic = fixture.Make();

    logic.FormCreate();

    EXPECT_EQ(ReadWholeFile(product + "a.txt"), "old");
    EXPECT_FALSE(std::filesystem::exists(product + ".kxold-t-0"));
    EXPECT_FALSE(std::filesystem::exists(fixture.folder.Path() / "UpdateFiles.journal"));
    const std::vector<std::string> &names = fixture.files.OperationNames;
    const auto rename = std::find(names.begin(), names.end(), "RenameFile");
    const auto scan = std::find(names.begin(), names.end(), "ListFolder");
    EXPECT_LT(rename, scan);
    ExpectState(fixture.view, State::NoPackage, "after the scan");

    // A torn journal is kept aside untouched, logged with what to do, and the start goes on.
    fixture.folder.Write("UpdateFiles.journal", "torn");
    logic.FormCreate();
    EXPECT_TRUE(log.Has("UpdateFiles.journal of an earlier file stage is torn"));
    EXPECT_TRUE(log.Has("no upgrade runs from this program folder while"));
    EXPECT_FALSE(std::filesystem::exists(fixture.folder.Path() / "UpdateFiles.journal"));
    EXPECT_EQ(ReadWholeFile(fixture.folder.Path() / "UpdateFiles.journal.rejected-1"), "torn");
    EXPECT_TRUE(fixture.view.Window.Messages.empty());
    ExpectState(fixture.view, State::NoPackage, "after the second scan");
}

TEST(FormLogicStates, ThePackageFoundStateIsSetInItsOrderAndTheResetKeepsTheCheckBox)
{
    LogicFixture fixture;
    FormLogic &logic = fixture.Make();
    RecordingFormView &view = fixture.view;
    view.ClickForce(); // unchecked; showing a package checks it and runs its handler
    size_t from = view.Calls.size();
    logic.ShowPackage("财务系统", "5.0.100", "5.0.100", "/opt/pkg/fin_5.0.zip");
    const std::vector<std::string> expected = {
        "caption:Lab_Product=财务系统",
        "caption:Lab_CurrBuild=5.0.100",
        "caption:Lab_NewBuild=5.0.100",
        "caption:Lab_Path=/opt/pkg/fin_5.0.zip",
        "check:1",
        "enable:BtnUpdate", // the check box's handler: equal builds, checked
        "enable:BtnUpdate",
        "hide:Lab_NoPackage",
        "show:P_Update",
    };
    EXPECT_EQ(CallsSince(view, from), expected);
    ExpectState(view, State::PackageFound, "package shown");

    // Already checked: the box is left alone and its handler does not run.
    from = view.Calls.size();
    logic.ShowPackage("财务系统", "5.0.100", "5.0.101", "/opt/pkg/fin_5.0.zip");
    EXPECT_EQ(std::count(view.Calls.begin() + static_cast<std::ptrdiff_t>(from), view.Calls.end(),
                         std::string("check:1")),
              0);

    view.ClickForce();
    logic.ShowNoPackage();
    ExpectState(view, State::NoPackage, "reset");
    EXPECT_FALSE(view.IsForceChecked());
}

TEST(FormLogicStates, AnUpgradeEntersAndLeavesTheRunningStateInItsOrder)
{
    LogicFixture fixture;
    RecordingFormView &view = fixture.view;
    std::vector<std::string> atTheRun;
    std::string packageFile;
    FormLogic &logic = fixture.Make([&](UpgradeContext &context, const std::string &file) {
        atTheRun = view.Calls;
        packageFile = file;
        ExpectState(view, State::UpgradeRunning, "in the run");
        // The run reports through the view and works on the logic's state.
        EXPECT_EQ(&context.Window, static_cast<IWindowFacilities *>(&view));
        EXPECT_EQ(&context.Package, &fixture.logic->Package);
        EXPECT_EQ(&context.Product, &fixture.logic->Product);
        EXPECT_EQ(context.ComputerName, "TESTPC");
        EXPECT_EQ(context.LocalIP, "10.0.0.7");
        EXPECT_EQ(context.ProgramFolder, fixture.folder.Slashed());
        EXPECT_EQ(&context.tempConnection, &fixture.connection);
        EXPECT_TRUE(fixture.logic->UpgradeRunning());
        context.Window.SetStepText("更新文件完成");
        return true;
    });
    logic.FormCreate();
    logic.ShowPackage("产品", "1.0.5", "1.0.6", "/opt/升级包/p_1.0.zip");
    // The run takes the file from the accepted package, not from the caption.
    fixture.logic->Package.PackagePath = "/opt/升级包/";
    fixture.logic->Package.PackageName = "p_1.0.zip";
    const size_t from = view.Calls.size();
    bool runningAtTheBox = false;
    view.OnMessage = [&] { runningAtTheBox = view.IsVisible(FormControl::ProgressBar); };

    logic.BtnUpdateClick();

    EXPECT_EQ(packageFile, "/opt/升级包/p_1.0.zip");
    const std::vector<std::string> entered = {"disable:BtnUpdate", "show:Lab_CurrentStep",
                                              "show:ProgressBar", "disable:Btn_refresh"};
    EXPECT_EQ(std::vector<std::string>(atTheRun.begin() + static_cast<std::ptrdiff_t>(from),
                                       atTheRun.end()),
              entered);
    const std::vector<std::string> left = {"hide:Lab_CurrentStep", "hide:ProgressBar",
                                           "enable:BtnUpdate", "enable:Btn_refresh"};
    EXPECT_EQ(CallsSince(view, from + entered.size()), left);
    EXPECT_TRUE(runningAtTheBox);
    ExpectState(view, State::PackageFound, "after the run");
    EXPECT_FALSE(logic.UpgradeRunning());
    // Nothing is rescanned; the step text stays in the hidden label.
    EXPECT_EQ(fixture.files.Listed.size(), 1u);
    EXPECT_EQ(view.Caption(FormControl::Lab_CurrBuild), "1.0.5");
    EXPECT_EQ(view.StepText(), "更新文件完成");
}

TEST(FormLogicCheckBox, ComparesTheBuildCaptionsOrdinally)
{
    struct Case {
        const char *newBuild;
        const char *currBuild;
        bool checked;
        bool enabled;
    };
    const Case cases[] = {
        {"100", "100", true, true},       {"100", "100", false, false},  // equal: only when forced
        {"101", "100", true, true},       {"101", "100", false, true},   // newer
        {"099", "100", true, false},      {"099", "100", false, true},   // older: only a difference
        {"9", "10", true, true},          {"10", "9", true, false},      // texts, not numbers
        {"12", "123", true, false},       {"12", "123", false, true},    // a prefix sorts first
        {"123", "12", true, true},        {"B100", "b100", true, false}, // letter case counts
        {"b100", "B100", true, true},     {"b100", "B100", false, true},
        {"\xB0\xE6", "\x39", true, true}, // bytes above 127 sort after ASCII
        {"", "", false, false},
    };
    LogicFixture fixture;
    FormLogic &logic = fixture.Make();
    RecordingFormView &view = fixture.view;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        view.SetCaption(FormControl::Lab_NewBuild, c.newBuild);
        view.SetCaption(FormControl::Lab_CurrBuild, c.currBuild);
        // The opposite first, so the handler has to change the button.
        view.SetEnabled(FormControl::BtnUpdate, !c.enabled);
        view.SetForceChecked(c.checked);
        logic.CheckBox_ForceClick();
        EXPECT_EQ(view.IsEnabled(FormControl::BtnUpdate), c.enabled) << "case " << i;
    }
}

TEST(FormLogicReentry, HandlersReachedDuringAnUpgradeStartNothingAndCannotClose)
{
    LogicFixture fixture;
    RecordingFormView &view = fixture.view;
    int runs = 0;
    FormLogic &logic = fixture.Make([&](UpgradeContext &, const std::string &) {
        ++runs;
        if (runs > 1)
            return false; // a second upgrade started: counted below, not repeated
        FormLogic &l = *fixture.logic;
        // The check box stays usable but does not enable the upgrade button.
        view.ClickForce();
        view.ClickForce();
        EXPECT_FALSE(view.IsEnabled(FormControl::BtnUpdate));
        // Even with the button enabled by other means, no second upgrade starts.
        view.SetEnabled(FormControl::BtnUpdate, true);
        l.BtnUpdateClick();
        view.SetEnabled(FormControl::BtnUpdate, false);
        l.Btn_refreshClick();
        l.BtnCloseClick();
        bool CanClose = true;
        l.FormCloseQuery(CanClose);
        EXPECT_FALSE(CanClose);
        return false;
    });
    logic.FormCreate();
    logic.ShowPackage("产品", "2.0", "2.0", "/p/x.zip");
    // Nor while the result box is open.
    view.OnMessage = [&] { logic.BtnCloseClick(); };

    logic.BtnUpdateClick();

    EXPECT_EQ(runs, 1);
    EXPECT_EQ(fixture.files.Listed.size(), 1u); // no second scan
    EXPECT_FALSE(view.Closed);
    EXPECT_EQ(std::count(view.Calls.begin(), view.Calls.end(), std::string("close:refused")), 2);
    ASSERT_EQ(view.Window.Messages.size(), 1u); // a refused close shows nothing
    EXPECT_EQ(view.Window.Messages[0].Text, "升级失败！");
    ExpectState(view, State::PackageFound, "after the run");
    // Once the upgrade has ended, the window closes.
    logic.BtnCloseClick();
    EXPECT_TRUE(view.Closed);
}

TEST(FormLogicReentry, HandlersReachedDuringAScanStartNothingButCloseIsGranted)
{
    // A close asked for inside the scan's pump is granted, but the window stays until the
    // scan has returned: only then does the program end.
    struct Case {
        const char *scan;
        void (FormLogic::*start)();
    };
    const Case cases[] = {
        {"the first scan", &FormLogic::FormCreate},
        {"a refresh", &FormLogic::Btn_refreshClick},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + " " + cases[i].scan);
        LogicFixture fixture;
        RecordingFormView &view = fixture.view;
        int runs = 0;
        FormLogic &logic = fixture.Make([&](UpgradeContext &, const std::string &) {
            ++runs;
            return true;
        });
        // A package file makes the listing succeed; the archiver is missing, so it is
        // rejected.
        fixture.folder.Write("a.zip", "PK");
        bool closedInScan = true;
        fixture.files.EditListing = [&](const std::string &, std::vector<FolderEntry> &) {
            if (fixture.files.Listed.size() > 1)
                return; // a second scan started: counted below, not repeated
            EXPECT_TRUE(logic.ScanRunning());
            logic.Btn_refreshClick();
            view.SetEnabled(FormControl::BtnUpdate, true);
            logic.BtnUpdateClick();
            logic.BtnCloseClick();
            closedInScan = view.Closed || logic.CloseGranted();
        };
        // Taken out first: GCC 12's bounds check misreads an array element's member pointer
        // called in place.
        const auto start = cases[i].start;
        (logic.*start)();
        EXPECT_EQ(fixture.files.Listed.size(), 1u);
        EXPECT_EQ(runs, 0);
        EXPECT_FALSE(closedInScan);
        EXPECT_TRUE(view.Closed);
        EXPECT_TRUE(logic.CloseGranted());
        EXPECT_TRUE(view.Window.Messages.empty());

        fixture.files.EditListing = nullptr;
        logic.Btn_refreshClick();
        EXPECT_EQ(fixture.files.Listed.size(), 2u);
    }
}

TEST(FormLogicReentry, AnUpgradeAskedForWhileTheButtonIsDisabledDoesNothing)
{
    LogicFixture fixture;
    int runs = 0;
    FormLogic &logic = fixture.Make([&](UpgradeContext &, const std::string &) {
        ++runs;
        return true;
    });
    logic.FormCreate();
    const size_t from = fixture.view.Calls.size();
    logic.BtnUpdateClick();
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(CallsSince(fixture.view, from).empty());
    EXPECT_TRUE(fixture.view.Window.Messages.empty());
}

TEST(FormLogicClose, IsRefusedOnlyWhileTheProgressBarIsShown)
{
    LogicFixture fixture;
    FormLogic &logic = fixture.Make();
    RecordingFormView &view = fixture.view;
    bool CanClose = false;
    logic.FormCloseQuery(CanClose);
    EXPECT_TRUE(CanClose);
    view.SetVisible(FormControl::ProgressBar, true);
    logic.FormCloseQuery(CanClose);
    EXPECT_FALSE(CanClose);
    logic.BtnCloseClick();
    EXPECT_FALSE(view.Closed);
    EXPECT_TRUE(view.Window.Messages.empty());
    view.SetVisible(FormControl::ProgressBar, false);
    logic.BtnCloseClick();
    EXPECT_TRUE(view.Closed);
}

TEST(FormLogicErrorReport, OutcomesOfTheRunAndErrorsThatLeaveIt)
{
    struct Case {
        const char *what;
        std::function<bool()> result; // returns or throws as the upgrade run would
        RecordedMessage box;
        bool logged;
    };
    const Case cases[] = {
        {"success", [] { return true; }, {"升级成功！", "提示", MessageIcon::Information}, false},
        {"failure", [] { return false; }, {"升级失败！", "提示", MessageIcon::Error}, false},
        {"KxError",
         []() -> bool { throw KxError("读取升级包失败"); },
         {"读取升级包失败", kTitle, MessageIcon::Error},
         true},
        {"std::exception",
         []() -> bool { throw std::runtime_error("out of memory"); },
         {"out of memory", kTitle, MessageIcon::Error},
         true},
        {"anything else",
         []() -> bool { throw 42; },
         {"未知错误", kTitle, MessageIcon::Error},
         true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        RecordingSink log;
        LogicFixture fixture;
        RecordingFormView &view = fixture.view;
        // What a run leaves for after its result (the file stage's kept files) waits for the
        // box; a run that throws leaves it to the next start.
        int boxesWhenFinished = -1;
        FormLogic &logic = fixture.Make([&](UpgradeContext &context, const std::string &) {
            context.AfterResult = [&] {
                boxesWhenFinished = static_cast<int>(view.Window.Messages.size());
            };
            return cases[i].result();
        });
        logic.FormCreate();
        logic.ShowPackage("产品", "1", "2", "/p/x.zip");
        bool runningAtTheBox = false;
        view.OnMessage = [&] { runningAtTheBox = view.IsVisible(FormControl::ProgressBar); };

        logic.BtnUpdateClick();

        ASSERT_EQ(view.Window.Messages.size(), 1u);
        EXPECT_EQ(view.Window.Messages[0].Text, cases[i].box.Text);
        EXPECT_EQ(view.Window.Messages[0].Caption, cases[i].box.Caption);
        EXPECT_EQ(view.Window.Messages[0].Icon, cases[i].box.Icon);
        // The result box is shown while the upgrade runs; the error report after the window
        // has been restored.
        EXPECT_EQ(runningAtTheBox, !cases[i].logged);
        ExpectState(view, State::PackageFound, "after the run");
        EXPECT_EQ(log.Has(cases[i].box.Text), cases[i].logged);
        EXPECT_EQ(boxesWhenFinished, cases[i].logged ? -1 : 1);
        // The logic goes on: a second upgrade runs.
        view.OnMessage = nullptr;
        logic.BtnUpdateClick();
        EXPECT_EQ(view.Window.Messages.size(), 2u);
    }
}

TEST(FormLogicErrorReport, AFailedFirstScanKeepsTheStateReached)
{
    RecordingSink log;
    LogicFixture fixture;
    // The working directory cannot be changed to a program folder that is not there.
    FormLogic &logic = fixture.Make({}, fixture.folder.Slashed() + "missing/");
    logic.FormCreate();

    ASSERT_EQ(fixture.view.Window.Messages.size(), 1u);
    EXPECT_EQ(fixture.view.Window.Messages[0].Caption, kTitle);
    EXPECT_EQ(fixture.view.Window.Messages[0].Icon, MessageIcon::Error);
    EXPECT_FALSE(fixture.view.Window.Messages[0].Text.empty());
    EXPECT_TRUE(log.Has(fixture.view.Window.Messages[0].Text));
    EXPECT_EQ(logic.LocalIP, "10.0.0.7");
    EXPECT_EQ(logic.ComputerName, "TESTPC");
    ExpectState(fixture.view, State::NoPackage, "after the failed scan");
    EXPECT_FALSE(logic.ScanRunning());
    // A refresh is not blocked by the failed scan.
    logic.Btn_refreshClick();
    EXPECT_EQ(fixture.view.Window.Messages.size(), 2u);
}

} // namespace

} // namespace offline_upgrade
