#include "app/form/command_line.h"

#include <utility>

namespace offline_upgrade {

CommandLine ParseCommandLine(const std::vector<std::string> &arguments)
{
    CommandLine line;
    if (arguments.empty())
        return line;
    const auto invalid = [&line](std::string why) {
        line.RunMode = CommandLine::Mode::Invalid;
        line.Error = std::move(why);
        return line;
    };

    bool unattended = false;
    bool help = false;
    bool packageGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--unattended") {
            if (unattended)
                return invalid("--unattended is given twice");
            unattended = true;
        } else if (argument == "--force") {
            if (line.Force)
                return invalid("--force is given twice");
            line.Force = true;
        } else if (argument == "--package" || argument.starts_with("--package=")) {
            if (packageGiven)
                return invalid("--package is given twice");
            packageGiven = true;
            if (argument == "--package") {
                if (i + 1 == arguments.size())
                    return invalid("--package needs a file");
                line.PackageFile = arguments[++i];
            } else {
                line.PackageFile = argument.substr(std::string("--package=").size());
            }
            if (line.PackageFile.empty())
                return invalid("--package needs a file");
        } else if (argument == "--help" || argument == "-h") {
            help = true;
        } else {
            return invalid("unknown argument: " + argument);
        }
    }
    if (help) {
        line.RunMode = CommandLine::Mode::Help;
        return line;
    }
    if (!unattended)
        return invalid("--force and --package need --unattended: the window takes no argument");
    line.RunMode = CommandLine::Mode::Unattended;
    return line;
}

std::string UsageText()
{
    return "usage: offline-upgrade\n"
           "       offline-upgrade --unattended [--force] [--package FILE]\n"
           "       offline-upgrade --help\n"
           "\n"
           "Without arguments the window opens. With --unattended there is no window and no\n"
           "message box: the program scans its folder, applies the first package that fits the\n"
           "installed product and prints the step texts and messages as lines on standard\n"
           "output; the log has the causes of a failure.\n"
           "\n"
           "  --unattended    run without a window\n"
           "  --force         also apply a package of the installed build (the check box\n"
           "                  \"强制升级\"); without it such a package is not applied again\n"
           "  --package FILE  examine only FILE, a package file in the program folder\n"
           "  --help          print this text\n"
           "\n"
           "Exit codes of --unattended:\n"
           "  0  upgraded\n"
           "  1  no package fits; nothing was done\n"
           "  2  the upgrade failed; the last output line names the step, the log the cause\n"
           "  3  the program could not start (bad arguments, no program folder)\n"
           "  4  another upgrade runs in this program folder (window or unattended)\n";
}

} // namespace offline_upgrade
