#include "upgrade/database_connection.h"

#include "platform/diagnostics.h"
#include "platform/text.h"
#include "upgrade/stage_log.h"

#include <exception>

namespace offline_upgrade {

std::string BuildConnectionString(int32_t DbType, const T_ProductReg &Product)
{
    switch (DbType) {
    case kDbTypeSqlServer: {
        std::string text = " Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = " +
                           TrimControl(Product.DBaseName) +
                           " ;Data Source=" + TrimControl(Product.ServerName) +
                           " ;User ID=" + TrimControl(Product.UserName);
        // A password of blanks only is still a password.
        if (!Product.PassWord.empty())
            text += " ;password=" + Product.PassWord;
        return text;
    }
    case kDbTypeMySql:
        return "Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + Product.ServerName +
               ";" + "DATABASE=" + Product.DBaseName + ";" + "USER=" + Product.UserName + ";" +
               "PASSWORD=" + Product.PassWord + ";";
    case kDbTypeOracle:
        return "Provider=MSDAORA.1;Password=" + Product.PassWord + ";" +
               "User ID=" + Product.UserName + ";" + "Data Source=" + Product.ServerName + ";" +
               "Persist Security Info=True";
    default:
        return {};
    }
}

std::string MaskedConnectionString(int32_t DbType, const T_ProductReg &Product)
{
    // The same builder, so the line shown differs from the one used only in the password.
    T_ProductReg shown = Product;
    if (!shown.PassWord.empty())
        shown.PassWord = "***";
    return BuildConnectionString(DbType, shown);
}

bool ConnectProductDatabase(UpgradeContext &context)
{
    IWindowFacilities &window = context.Window;
    IConnection &connection = context.tempConnection;
    StageLog stage("connection stage");
    try {
        window.SetStepText("正在连接产品数据库...");
        window.SetProgressPosition(100);
        window.SetProgressPosition(0);
        // Paint the step text before the open starts.
        window.ProcessMessages();

        const std::string text = BuildConnectionString(context.Package.DbType, context.Product);
        if (connection.Connected())
            connection.Close();
        LogInfo("connection: " + MaskedConnectionString(context.Package.DbType, context.Product));
        connection.SetConnectionString(text);
        // An unreachable server holds the open until the driver gives up: the window keeps
        // answering meanwhile.
        window.RunWhileAnswering([&connection] { connection.Open(); });
        return stage.Done(true);
    } catch (const std::exception &error) {
        LogError(std::string("connection: ") + error.what());
        window.ShowMessage("连接产品数据库失败！", kNoticeCaption, MessageIcon::Error);
        return false;
    }
}

namespace {

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

bool LogLocality(bool local, const std::string &compared)
{
    LogInfo("locality: " + compared + ": the database server is " +
            (local ? "this machine, the scripts run" : "another machine, no script runs"));
    return local;
}

} // namespace

bool IsDatabaseServerLocal(UpgradeContext &context, int32_t DbType, const std::string &ServerName)
{
    const std::string names = " with ComputerName " + Quoted(context.ComputerName) +
                              " and LocalIP " + Quoted(context.LocalIP);
    switch (DbType) {
    case kDbTypeSqlServer:
        return LogLocality(ServerName == "(local)" || ServerName == "." ||
                               ServerName == context.ComputerName || ServerName == context.LocalIP,
                           "SQL Server " + Quoted(ServerName) +
                               " compared with \"(local)\", \".\"" + names);
    case kDbTypeMySql:
        return LogLocality(ServerName == "localhost" || ServerName == context.ComputerName ||
                               ServerName == context.LocalIP,
                           "MySQL server " + Quoted(ServerName) + " compared with \"localhost\"" +
                               names);
    case kDbTypeOracle: {
        IQuery &query = context.ADOQuery;
        std::string address;
        context.Window.RunWhileAnswering([&query, &address] {
            query.Close();
            query.SetSQL("select utl_inaddr.get_host_address from dual");
            query.Open();
            address = query.FirstFieldText();
            query.Close();
        });
        return LogLocality(address == context.LocalIP,
                           "the Oracle server " + Quoted(ServerName) + " reports host address " +
                               Quoted(address) + ", compared with LocalIP " +
                               Quoted(context.LocalIP));
    }
    default:
        return LogLocality(false, "database kind " + std::to_string(DbType) + " has no rule");
    }
}

} // namespace offline_upgrade
