#include "upgrade/script_runner.h"

#include "upgrade/script_blocks.h"

#include <algorithm>
#include <exception>

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
    if (!ServerIsLocal || path.empty() || !context.Files.FileExists(path))
        return true;

    IWindowFacilities &window = context.Window;
    // The bar takes no maximum below 0.
    const int total = std::max(context.Package.SQLCount, 0);
    window.SetProgressMax(total);
    window.SetStepText(StepText(0, total));
    window.SetProgressPosition(0);
    window.ProcessMessages();

    std::string blockName;
    try {
        ScriptCutter cutter(path);
        ScriptPiece piece;
        int executed = 0;
        while (cutter.Next(piece)) {
            if (piece.What == ScriptPiece::Kind::Begin) {
                blockName = piece.Name;
                window.ProcessMessages();
            } else if (piece.What == ScriptPiece::Kind::End) {
                context.updataExec.SetCommandText(piece.Command);
                context.updataExec.Execute();
                ++executed;
                window.SetStepText(StepText(executed, total));
                window.SetProgressPosition(window.ProgressPosition() + 1);
                window.ProcessMessages();
            }
            // Dropped lines never run.
        }
        return true;
    } catch (const std::exception &) {
        window.ShowMessage("执行升级脚本失败(" + blockName + ")！", kNoticeCaption,
                           MessageIcon::Error);
        return false;
    }
}
