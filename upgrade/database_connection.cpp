#include "upgrade/database_connection.h"

#include "platform/text.h"

#include <exception>

std::string BuildConnectionString(int32_t DbType, const T_ProductReg &Product)
{
    switch (DbType) {
    case 0: {
        std::string text = " Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = " +
                           TrimControl(Product.DBaseName) +
                           " ;Data Source=" + TrimControl(Product.ServerName) +
                           " ;User ID=" + TrimControl(Product.UserName);
        // A password of blanks only is still a password.
        if (!Product.PassWord.empty())
            text += " ;password=" + Product.PassWord;
        return text;
    }
    case 1:
        return "Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + Product.ServerName +
               ";" + "DATABASE=" + Product.DBaseName + ";" + "USER=" + Product.UserName + ";" +
               "PASSWORD=" + Product.PassWord + ";";
    case 2:
        return "Provider=MSDAORA.1;Password=" + Product.PassWord + ";" +
               "User ID=" + Product.UserName + ";" + "Data Source=" + Product.ServerName + ";" +
               "Persist Security Info=True";
    default:
        return {};
    }
}

bool ConnectProductDatabase(UpgradeContext &context)
{
    IWindowFacilities &window = context.Window;
    IConnection &connection = context.tempConnection;
    try {
        window.SetStepText("正在连接产品数据库...");
        window.SetProgressPosition(100);
        window.SetProgressPosition(0);
        // The open blocks the thread: paint the step text first.
        window.ProcessMessages();

        const std::string text = BuildConnectionString(context.Package.DbType, context.Product);
        if (connection.Connected())
            connection.Close();
        connection.SetConnectionString(text);
        connection.Open();
        return true;
    } catch (const std::exception &) {
        window.ShowMessage("连接产品数据库失败！", kNoticeCaption, MessageIcon::Error);
        return false;
    }
}

bool IsDatabaseServerLocal(UpgradeContext &context, int32_t DbType, const std::string &ServerName)
{
    switch (DbType) {
    case 0:
        return ServerName == "(local)" || ServerName == "." || ServerName == context.ComputerName ||
               ServerName == context.LocalIP;
    case 1:
        return ServerName == "localhost" || ServerName == context.ComputerName ||
               ServerName == context.LocalIP;
    case 2: {
        IQuery &query = context.ADOQuery;
        query.Close();
        query.SetSQL("select utl_inaddr.get_host_address from dual");
        query.Open();
        const bool local = query.FirstFieldText() == context.LocalIP;
        query.Close();
        return local;
    }
    default:
        return false;
    }
}
