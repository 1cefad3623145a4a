#pragma once

#include <QString>
#include <QWidget>

#include "link/meter_comm.h"
#include "ui/dialog.h"

namespace lyr {

// The settings dialog: the columns a log records, the text format and the external-trigger
// filter. It works on copies of settings fields that its caller assigns before DoModal and reads
// back only after IDOK; it never reads or writes the settings file.
//
// Its template also holds communication controls that are never shown. Their lists are still
// filled from the link, and OK still hands their selections to the link, so that OK also
// confirms the link's port and baud rate.
class CSetDialog : public CDialog {
  public:
    // `link` is the instrument link whose port lists the dialog shows and whose choice OK
    // confirms: the global one in the program, a private one in tests.
    explicit CSetDialog(QWidget* parent = nullptr, CMeterComm& link = TheMeterComm());
    ~CSetDialog() override = default;

    // Named after the settings fields they copy.
    bool SaveDataIndex = false;
    bool SaveDate = false;
    bool SaveTime = false;
    bool FilterEnable = false;
    unsigned FilterTime = 0;  // ms, 0 to 1000 after a successful exchange
    QString ComNo = QStringLiteral("ttyS0");
    int BaudRate = 9600;
    int Decimal = 0;    // 0 period, 1 comma; -1 when the list has no selection
    int Separator = 0;  // 0 comma, 1 semicolon, 2 tab, 3 space; -1 when none
    bool SaveJudge = false;
    bool SaveTemp = false;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    CMeterComm& m_link;
};

}  // namespace lyr
