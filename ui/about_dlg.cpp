#include "ui/about_dlg.h"

#include "res/dlg_100.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace lyr {

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(res::DialogTemplate100(), parent) {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

bool CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(LoadString(IDS_ABOUT_TITLE));
    // The template holds a placeholder there; the number shown is the version resource's.
    SetDlgItemText(IDC_ABOUT_VERSION, LoadString(IDS_VERSION));
    return true;
}

}  // namespace lyr
