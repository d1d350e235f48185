#include "app/form/form_controls.h"

namespace offline_upgrade {

FormControlStates::FormControlStates()
{
    // The start states of the window's form: no package shown, nothing running.
    SetEnabled(FormControl::BtnUpdate, false);
    SetVisible(FormControl::P_Update, false);
    SetVisible(FormControl::Lab_CurrentStep, false);
    SetVisible(FormControl::ProgressBar, false);
    SetCaption(FormControl::BtnUpdate, "升级");
    SetCaption(FormControl::Btn_refresh, "刷新");
    SetCaption(FormControl::BtnClose, "退出");
    SetCaption(FormControl::CheckBox_Force, "强制升级");
    SetCaption(FormControl::Lab_NoPackage, "未找到有效的升级包文件！");
    for (FormControl label : {FormControl::Lab_Product, FormControl::Lab_CurrBuild,
                              FormControl::Lab_NewBuild, FormControl::Lab_Path})
        SetCaption(label, "值");
    SetCaption(FormControl::Lab_CurrentStep, "当前正在进行的步骤");
}

} // namespace offline_upgrade
