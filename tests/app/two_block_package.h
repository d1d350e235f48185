#pragma once
// The package of the window tests that watch a run's blocks: two SQL blocks, unpacked as a run
// finds them, and the form of either window showing the package, its run the blocks alone.

#include "upgrade/script_runner.h"
#include "upgrade/upgrade_context.h"

#include <string>

namespace offline_upgrade {

// Fixture: a window test's fixture with a folder and Make(run), which gives its form.
template <class Fixture> auto &ShowTwoBlockPackage(Fixture &fixture)
{
    fixture.folder.Write(
        "TempUpdate/demo_1.2/UpdateSQL.sql",
        "-- sql begin 建表\ncreate\n-- end sql\n-- sql begin 写入\ninsert\n-- end sql\n");
    auto &form = fixture.Make([](UpgradeContext &context, const std::string &) {
        return RunUpgradeScripts(context, true);
    });
    form.Package.PackagePath = fixture.folder.Slashed();
    form.Package.PackageName = "demo_1.2.zip";
    form.Package.SQLCount = 2;
    form.ShowPackage("演示产品", "1.1", "1.2", fixture.folder.Slashed() + "demo_1.2.zip");
    return form;
}

} // namespace offline_upgrade
