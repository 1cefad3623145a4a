#pragma once

#include <QWidget>

#include "ui/dialog.h"

namespace lyr {

// The version dialog: the program's icon, its name and its version number. It changes nothing
// and talks to no other part.
class CAboutDlg : public CDialog {
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override = default;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
};

}  // namespace lyr
