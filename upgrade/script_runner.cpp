#include "upgrade/script_runner.h"

#include "platform/diagnostics.h"
#include "upgrade/script_blocks.h"
#include "upgrade/stage_log.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace offline_upgrade {

namespace {

std::string StepText(int executed, int total)
{
    return "正在执行升级脚本(" + std::to_string(executed) + "/" + std::to_string(total) + ")...";
}

} // namespace

std::string UpgradeScriptPath(const UpgradeContext &context)
{
    const std::string unpacked = UnpackedPackageFolder(context);
    return unpacked.empty() ? std::string() : unpacked + "/" + kUpgradeScriptFileName;
}

bool RunUpgradeScripts(UpgradeContext &context, bool ServerIsLocal)
{
    const std::string path = UpgradeScriptPath(context);
    if (!ServerIsLocal) {
        LogInfo("script stage: skipped, the database server is not this machine");
        return true;
    }
    if (path.empty() || !context.Files.FileExists(path)) {
        LogInfo("script stage: skipped, the package has no UpdateSQL.sql");
        return true;
    }
    StageLog stage("script stage");

    IWindowFacilities &window = context.Window;
    // The bar takes no maximum below 0.
    const int total = std::max(context.Package.SQLCount, 0);
    window.SetProgressMax(total);
    window.SetStepText(StepText(0, total));
    window.SetProgressPosition(0);
    window.ProcessMessages();

    std::string blockName;
    int executed = 0;
    std::chrono::steady_clock::time_point blockStart{};
    bool inBlock = false;
    try {
        ScriptCutter cutter(path);
        ScriptPiece piece;
        while (cutter.Next(piece)) {
            if (piece.What == ScriptPiece::Kind::Begin) {
                blockName = piece.Name;
                window.ProcessMessages();
            } else if (piece.What == ScriptPiece::Kind::End) {
                inBlock = true;
                blockStart = std::chrono::steady_clock::now();
                context.updataExec.SetCommandText(piece.Command);
                // A block may run for minutes: the window paints and answers meanwhile (its
                // upgrade-running state refuses what must wait), and the step text and the bar
                // are set here again once the block has ended.
                window.RunWhileAnswering([&command = context.updataExec] { command.Execute(); });
                inBlock = false;
                LogInfo("block " + blockName + ": ran in " + MillisecondsSince(blockStart));
                ++executed;
                window.SetStepText(StepText(executed, total));
                window.SetProgressPosition(window.ProgressPosition() + 1);
                window.ProcessMessages();
            }
            // Dropped lines never run.
        }
        LogInfo("script stage: " + std::to_string(executed) + " blocks ran (the package names " +
                std::to_string(context.Package.SQLCount) + ")");
        return stage.Done(true);
    } catch (const std::exception &error) {
        // The database's own words: state, native error and message of each record.
        if (inBlock)
            LogError("block " + blockName + ": failed after " + MillisecondsSince(blockStart) +
                     ": " + error.what());
        else
            LogError("script stage: " + path + ": " + error.what());
        LogError("script stage: " + std::to_string(executed) +
                 " blocks ran and stay applied; the rest of the script did not run");
        window.ShowMessage("执行升级脚本失败(" + blockName + ")！", kNoticeCaption,
                           MessageIcon::Error);
        return stage.Done(false);
    }
}

} // namespace offline_upgrade
