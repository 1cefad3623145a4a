#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

#include <memory>
#include <optional>

#include "measure/meas_thread.h"
#include "platform/notify_window.h"
#include "record/calc/excel_record.h"
#include "record/text_log.h"
#include "ui/dialog.h"

class QContextMenuEvent;

namespace lyr {

// Timers of the main window.
inline constexpr unsigned ID_TIMER_INTERVAL = 1;  // interval run: sets IntervalEvent each tick
inline constexpr unsigned ID_TIMER_CAPTURE = 2;   // 10 ms hold after a Capture
inline constexpr unsigned ID_TIMER_TRIGGER = 3;   // 10 ms hold after a triggered reading

// True from a capture (Capture button or ENTER) or a triggered reading until the 10 ms timer of
// that capture or reading has fired; meanwhile no new reading is shown. User-interface thread
// only.
extern bool g_bCaptureHold;

// The main window: the settings, the log targets, the run's measurement thread and the reading
// on display. The only window the measurement thread reports to.
//
// The reading on display, the settings record and the text log file are the CRecordView part
// (m_strValue, m_strJudge, m_strTemperature, m_settings, m_pLogFile), the spreadsheet link and
// its position the CExcelRecordView part (m_excel, m_nExcelStartColumn, m_nExcelRow,
// m_nExcelCellCount): the log writers read them from there.
class CLyrSampleDlg : public CDialog,
                      public INotifyWindow,
                      public CRecordView,
                      public CExcelRecordView {
  public:
    CLyrSampleDlg();
    // A window whose settings live in `settingsFile` instead of "LyrSample.ini" beside the
    // program (tests and tools running several windows side by side).
    explicit CLyrSampleDlg(const QString& settingsFile);
    ~CLyrSampleDlg() override;

    // Stops a run (waiting for its thread to end), saves the settings and takes the window down.
    bool DestroyWindow() override;

    // INotifyWindow: the measurement thread's messages.
    void Post(unsigned message, WPARAM wParam, LPARAM lParam,
              std::shared_ptr<const MessagePayload> payload = {}) override;
    LRESULT Send(unsigned message, WPARAM wParam, LPARAM lParam) override;

    // ---- Members (the reading texts, settings and log targets are in the bases) ----
    QIcon m_hIcon;
    QFont m_fontLarge;  // value and judgement
    QFont m_fontSmall;  // caption of the value frame, serial-number line
    QColor m_brushWhite;
    QColor m_brushRed;
    QColor m_brushGreen;
    std::unique_ptr<CMeasThread> m_pMeasThread;  // the running run's thread; empty when idle
    bool m_bRecording = false;  // cleared by OnSaveFailed so a failed save is reported once
    int m_nSaveTarget = 0;      // 0 text file, 1 spreadsheet
    int m_nCaptureMethod = 0;   // CaptureEnterKey, CaptureExtTrigger or CaptureInterval
    QString m_strFilePath;
    double m_dInterval = 0.0;  // seconds
    unsigned m_nTimes = 0;     // readings of an interval run
    int m_nCaptureCount = 0;   // captures with the Capture button or ENTER in this run
    int m_nJudgeColor = 0;     // 0 white, 1 red, 2 green

    // ---- Run control ----
    void OnBnClickedStart();
    void OnBnClickedStop();
    void OnBnClickedCapture();
    void OnBnClickedMonitor();
    void OnBnClickedRadio();
    void OnBnClickedBrowse();
    [[nodiscard]] bool StartLogging(int mode);
    bool StopLogging();
    void EnableControls(bool bEnable, bool bMonitor);
    void SaveReading(int index);
    void OnSaveFailed();

    // ---- Menu and context-menu commands ----
    void OnMenuSettings();
    void OnMenuCommTest();
    void OnMenuAbout();
    void OnSysCommand(unsigned id);

    // ---- Messages of the measurement thread ----
    LRESULT OnMeasReading(WPARAM wParam, LPARAM lParam);
    LRESULT OnMeasLimit(WPARAM wParam, LPARAM lParam);
    LRESULT OnMeasIntervalStart(WPARAM wParam, LPARAM lParam);
    LRESULT OnMeasIdentity(WPARAM wParam, LPARAM lParam);
    LRESULT OnMeasStopRetry(WPARAM wParam, LPARAM lParam);
    LRESULT OnMeasTemperature(WPARAM wParam, LPARAM lParam);

    void SetCaptions();

    // The judgement colour of a judgement text: exactly "IN" green (2), exactly "HI" or "LO" red
    // (1), anything else white (0).
    [[nodiscard]] static int JudgeColorOf(const QString& judge);

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool PreTranslateMessage(QKeyEvent* msg) override;
    bool OnInitDialog() override;
    void OnClose() override;
    void OnTimer(unsigned id) override;
    std::optional<QColor> OnCtlColor(int id) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

  private:
    void Construct();
    void ResetDisplay();
    // Sets one of the running thread's events; nothing once the run has ended.
    void SetRunEvent(std::unique_ptr<Event> CMeasThread::*event);
    void ResetRunEvent(std::unique_ptr<Event> CMeasThread::*event);
};

}  // namespace lyr
