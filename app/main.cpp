// Program start: the upgrade log, the application title and icon, the window with the
// services of the one start (app/start_up.h), the first scan, then the message loop until the
// window is closed. The window takes no argument; with arguments (--unattended, --help) the
// program runs without a window and without any Qt application (app/unattended.h), with the
// same log. No configuration of its own is read; the registry store and the database drivers
// are found as the platform layer says.

#include "app/message_box.h"
#include "app/pictures.h"
#include "app/start_up.h"
#include "app/u_main.h"
#include "app/unattended.h"
#include "platform/console.h"
#include "platform/diagnostics.h"
#include "platform/log_file.h"
#include "platform/program_folder.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace offline_upgrade {

namespace {

int Run(const std::string &programFolder)
{
    QtMessagePresenter messages;
    const StartUp start = StartIn(programFolder, StartFace::Window);
    if (start.Result != StartUp::Outcome::Started) {
        messages.Show(nullptr, kFolderBusyText, kNoticeCaption, MessageIcon::Error);
        return static_cast<int>(ExitCode::FolderBusy);
    }
    TForm1 form(start.Services->Form(), messages);
    form.FormCreate();
    // Closed while the first scan ran, before it was ever shown.
    if (form.CloseGranted())
        return 0;

    form.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form.size(),
                                         form.screen()->availableGeometry()));
    form.show();
    return QApplication::exec();
}

} // namespace

} // namespace offline_upgrade

int main(int argc, char *argv[])
{
    using offline_upgrade::CommandLine;
    const CommandLine line =
        offline_upgrade::ParseCommandLine(offline_upgrade::ProgramArguments(argc, argv));
    if (line.RunMode == CommandLine::Mode::Unattended) {
        std::string programFolder;
        try {
            programFolder = offline_upgrade::GetProgramFolder();
        } catch (const std::exception &error) {
            return offline_upgrade::RefuseUnattendedStart(error.what());
        }
        return offline_upgrade::WithUpgradeLog(programFolder, KX_VERSION, [&] {
            return offline_upgrade::RunUnattendedIn(programFolder, line);
        });
    }
    if (line.RunMode != CommandLine::Mode::Window)
        return offline_upgrade::RunWithoutWindow(line);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(offline_upgrade::kApplicationTitle));
    QApplication::setWindowIcon(offline_upgrade::ApplicationIcon());
    // The window's face exists only on Chinese Windows. Elsewhere take its Latin name, then a
    // Song-style face from the usual CJK fonts, rather than whatever sans face comes first.
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC")});
    try {
        const std::string programFolder = offline_upgrade::GetProgramFolder();
        return offline_upgrade::WithUpgradeLog(programFolder, KX_VERSION,
                                               [&] { return offline_upgrade::Run(programFolder); });
    } catch (const std::exception &error) {
        // Only what happens before the window exists can get here, such as a program folder
        // that cannot be found.
        QMessageBox::critical(nullptr, QString::fromUtf8(offline_upgrade::kApplicationTitle),
                              QString::fromStdString(error.what()));
        return 1;
    }
}
