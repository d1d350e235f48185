// Program start: the upgrade log, the application title and icon, the window with the
// system's services, the first scan, then the message loop until the window is closed. No
// argument and no configuration of its own is read; the registry store and the database
// drivers are found as the platform layer says.

#include "app/message_box.h"
#include "app/pictures.h"
#include "app/u_main.h"
#include "platform/diagnostics.h"
#include "platform/log_file.h"
#include "platform/odbc/odbc_data_access.h"
#include "platform/program_folder.h"
#include "platform/system_services.h"
#include "upgrade/upgrade_run.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

#include <exception>
#include <memory>
#include <string>

namespace {

// The first lines of this start's section: what the program is and where it runs.
void LogStart(const FileLogSink &log, const std::string &programFolder)
{
    LogInfo(std::string("started, version ") + KX_VERSION);
    LogInfo("program folder: " + programFolder + " (the folder of the running program file)");
    if (!log.Path().starts_with(programFolder))
        LogWarning("the program folder cannot be written; this log is kept in " + log.Path());
}

int Run(const std::string &programFolder)
{
    QtMessagePresenter messages;
    SystemServices system = MakeSystemServices();
    OdbcConnection connection;
    OdbcQuery query(connection);
    OdbcCommand command(connection);

    TForm1 form(TForm1Services{programFolder, *system.Files, *system.Processes, *system.Registry,
                               *system.Host, connection, query, command, messages, RunUpgrade});
    form.FormCreate();

    form.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form.size(),
                                         form.screen()->availableGeometry()));
    form.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    QApplication::setWindowIcon(ApplicationIcon());
    // The window's face exists only on Chinese Windows. Elsewhere take its Latin name, then a
    // Song-style face from the usual CJK fonts, rather than whatever sans face comes first.
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC")});
    try {
        const std::string programFolder = GetProgramFolder();
        // Opened first, so that every service's start is in it. A log that cannot be written
        // anywhere drops its lines and changes nothing else.
        const std::unique_ptr<FileLogSink> log = OpenUpgradeLog(programFolder);
        const ScopedLogSink installed(*log);
        log->BeginSection(std::string("offline-upgrade ") + KX_VERSION);
        LogStart(*log, programFolder);
        const int code = Run(programFolder);
        LogInfo("offline-upgrade ended");
        return code;
    } catch (const std::exception &error) {
        // Only what happens before the window exists can get here, such as a program folder
        // that cannot be found.
        QMessageBox::critical(nullptr, QString::fromUtf8(kApplicationTitle),
                              QString::fromStdString(error.what()));
        return 1;
    }
}
