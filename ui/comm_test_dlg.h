#pragma once

#include <QString>
#include <QWidget>

#include <functional>

#include "link/meter_comm.h"
#include "ui/dialog.h"

class QComboBox;

namespace lyr {

// The communication test dialog: pick a port and a rate, send typed command lines to the meter
// and see its reply, or search every port at every rate for a meter. OK confirms the chosen port
// and rate as the link's SelectedPort and SelectedBaudRate.
//
// The dialog drives the link directly. The port is closed when the dialog opens, opened by the
// first Send, polled by timer 10 while open, closed whenever the port or rate selection changes,
// and closed again when the dialog ends.
class CComTestDlg : public CDialog {
  public:
    // `link` is the instrument link the dialog drives: the global one in the program, a private
    // one in tests.
    explicit CComTestDlg(QWidget* parent = nullptr, CMeterComm& link = TheMeterComm());
    ~CComTestDlg() override = default;

    // True after the all-ports search of this dialog run; false after initialisation and after
    // a refresh of the port list. While true, the rate shown for a port is the one its meter
    // answered at in the search. Touched by the user-interface thread only.
    static inline bool PortsSearched = false;

    int PortIndex = 0;  // port list, selected position
    int BaudIndex = 0;  // rate list, selected position in BaudRateTable
    QString SendText;
    QString ReceiveText;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool PreTranslateMessage(QKeyEvent* msg) override;
    bool OnInitDialog() override;
    void OnOK() override;
    void OnClose() override;
    void OnCancel() override;
    void OnTimer(unsigned id) override;
    void OnDestroy() override;

  private:
    void OnSend();
    void OnSearch();
    void OnRefresh();
    void OnSelChangePortList();
    void OnSelChangeBaudList();
    void ReleasePort();
    // Discovery with the link's SelectedPort as the preferred port.
    void RediscoverPorts();
    void FillPortList();
    // Runs `work` on a helper thread while this thread goes on painting the windows; input
    // waits until the work is done, as it would with the window's thread busy.
    void RunKeepingWindowsPainted(const std::function<void()>& work);
    [[nodiscard]] QComboBox* PortList() const;
    [[nodiscard]] QComboBox* BaudList() const;

    CMeterComm& m_link;
    bool m_bBusy = false;  // a search or a port discovery is running; the dialog may not end
};

}  // namespace lyr
