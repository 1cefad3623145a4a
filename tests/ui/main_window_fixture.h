#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "link/meter_comm.h"
#include "record/profile.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "sim/meter_simulator.h"
#include "support/recording_message_box.h"
#include "ui/lyr_sample_dlg.h"

namespace lyr::test {

// Waits, delivering events, until `done` holds; generous for a loaded machine.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 15000) {
    return QTest::qWaitFor(done, timeoutMs);
}

// The main window on a settings file of its own, with a simulated meter on a real pty and the
// message boxes answered and recorded.
class MainWindowTest : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_settingsPath = m_dir.filePath("LyrSample.ini");
        m_logPath = m_dir.filePath("run.csv");
    }

    void TearDown() override {
        if (m_dlg) {
            m_dlg->DestroyWindow();
            m_dlg.reset();
        }
    }

    bool StartSimulator(sim::SimConfig config = {}) {
        m_sim = std::make_unique<sim::MeterSimulator>(config);
        return m_sim->Start();
    }

    struct Setting {
        const char* section;
        const char* key;
        QString value;
    };
    // Settings with the simulator's port, the text target, the log folder in the test's own
    // directory and no optional column but the number and the judgement; `overrides` after.
    void WriteSettings(std::initializer_list<Setting> overrides = {}) {
        CIniProfile ini(m_settingsPath);
        const QString port = m_sim ? m_sim->PortName() : m_dir.filePath("no-such-port");
        const QString rate = QString::number(m_sim ? m_sim->Config().baudRate : 9600);
        const Setting defaults[] = {
            {"COMM", "ComNo", port},
            {"COMM", "BaudRate", rate},
            {"SAVE", "SaveDataIndex", "1"},
            {"SAVE", "SaveDate", "0"},
            {"SAVE", "SaveTime", "0"},
            {"SAVE", "SaveJudge", "1"},
            {"SAVE", "SaveTemp", "0"},
            {"FILE_TYPE", "CsvEnable", "0"},
            {"FILE_TYPE", "FileDir", m_dir.path()},
        };
        for (const Setting& s : defaults)
            ASSERT_TRUE(ini.WriteProfileString(s.section, s.key, s.value));
        for (const Setting& s : overrides)
            ASSERT_TRUE(ini.WriteProfileString(s.section, s.key, s.value));
    }

    // Makes and shows the window (its initialisation includes the one-second pause).
    void OpenWindow() {
        m_dlg = std::make_unique<CLyrSampleDlg>(m_settingsPath);
        ASSERT_TRUE(m_dlg->Create());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }

    CLyrSampleDlg& Dlg() { return *m_dlg; }

    // The selected port disappears: every Start fails at once with "Failed to open COM port.".
    void UseMissingPort() { TheMeterComm().SelectedPort = m_dir.filePath("no-such-port"); }
    QPushButton* Button(int id) { return m_dlg->GetButton(id); }
    QLineEdit* Edit(int id) { return m_dlg->GetEdit(id); }

    void SetEditText(int id, const QString& text) {
        QLineEdit* edit = Edit(id);
        edit->selectAll();
        edit->setFocus();
        QTest::keyClicks(edit, text);
    }

    // Clicks a radio button on its indicator.
    void ClickRadio(int id) {
        QRadioButton* radio = m_dlg->GetRadio(id);
        QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
    }

    void ClickStart() { QTest::mouseClick(Button(IDC_BUTTON_START), Qt::LeftButton); }
    void ClickStop() { QTest::mouseClick(Button(IDC_BUTTON_STOP), Qt::LeftButton); }
    void ClickCapture() { QTest::mouseClick(Button(IDC_BUTTON_CAPTURE), Qt::LeftButton); }

    [[nodiscard]] bool Running() const { return m_dlg && m_dlg->m_pMeasThread != nullptr; }
    bool WaitIdle(int timeoutMs = 15000) {
        return WaitUntil([this] { return !Running(); }, timeoutMs);
    }

    [[nodiscard]] QString ValueCaption() const { return m_dlg->GetDlgItemText(IDC_GROUP_VALUE); }

    // Idle controls: inputs and Start enabled, Capture disabled, the menu enabled.
    void ExpectIdleControls() {
        EXPECT_FALSE(Running());
        EXPECT_TRUE(Button(IDC_BUTTON_START)->isEnabled());
        EXPECT_FALSE(Button(IDC_BUTTON_CAPTURE)->isEnabled());
        EXPECT_TRUE(Edit(IDC_EDIT_INTERVAL)->isEnabled());
        EXPECT_TRUE(m_dlg->GetRadio(IDC_RADIO_SAVE_FILE)->isEnabled());
        EXPECT_TRUE(m_dlg->FindMenuItem(ID_MENU_SETTINGS)->isEnabled());
    }

    [[nodiscard]] QStringList LogLines() const {
        QFile f(m_logPath);
        if (!f.open(QIODevice::ReadOnly)) return {};
        const QString text = QString::fromLatin1(f.readAll());
        QStringList lines = text.split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }

    QTemporaryDir m_dir;
    QString m_settingsPath;
    QString m_logPath;
    RecordingMessageBox m_box;
    std::unique_ptr<sim::MeterSimulator> m_sim;
    std::unique_ptr<CLyrSampleDlg> m_dlg;
};

}  // namespace lyr::test
