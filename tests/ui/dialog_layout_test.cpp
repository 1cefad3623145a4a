// The layouts of the secondary dialogs as the installed font draws them: every visible text fits
// its control, and no two visible controls overlap (group boxes lie beneath, as frames). With
// LYR_SCREENSHOT_DIR set, each dialog is also written there as a PNG for a look by eye.

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "link/meter_comm.h"
#include "platform/serial_device.h"
#include "res/resource.h"
#include "support/fake_port_enumerator.h"
#include "ui/about_dlg.h"
#include "ui/comm_test_dlg.h"
#include "ui/set_dialog.h"

namespace lyr {
namespace {

// Room a text needs in its control, in pixels.
int NeededWidth(QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty()) return 0;
        return fm.horizontalAdvance(label->text());
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) return fm.horizontalAdvance(group->title()) + 16;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        // Check boxes: indicator and its spacing beside the text; push buttons: their margins.
        const QString text = button->text().remove(u'&');
        if (qobject_cast<QPushButton*>(w)) return fm.horizontalAdvance(text) + 8;
        QStyleOptionButton opt;
        opt.initFrom(button);
        const int indicator = w->style()->pixelMetric(QStyle::PM_IndicatorWidth, &opt, w) +
                              w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &opt, w);
        return indicator + fm.horizontalAdvance(text);
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        int widest = 0;
        for (int i = 0; i < combo->count(); ++i)
            widest = std::max(widest, fm.horizontalAdvance(combo->itemText(i)));
        // The arrow and the frame.
        return widest + 24;
    }
    return 0;
}

QString Name(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    return QString::fromLatin1(w->metaObject()->className());
}

void ExpectTidyLayout(CDialog& dlg, const QString& shotName) {
    QList<QWidget*> shown;
    for (QWidget* w : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisible()) shown.append(w);
    ASSERT_FALSE(shown.isEmpty());

    for (QWidget* w : shown) {
        EXPECT_LE(NeededWidth(w), w->width()) << "text clipped: " << Name(w).toStdString();
        EXPECT_TRUE(dlg.rect().contains(w->geometry()))
            << "outside the dialog: " << Name(w).toStdString();
        if (qobject_cast<QGroupBox*>(w)) continue;
        for (QWidget* other : shown) {
            if (other == w || qobject_cast<QGroupBox*>(other)) continue;
            if (w < other) {
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << Name(w).toStdString() << " overlaps " << Name(other).toStdString();
            }
        }
    }

    const QByteArray dir = qgetenv("LYR_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(dlg.grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(shotName)));
    }
}

// A link with two plausible ports, never opened.
std::unique_ptr<CMeterComm> MakeLink() {
    auto link = std::make_unique<CMeterComm>(
        MakeTermiosSerialDevice(),
        std::make_unique<test::FakePortEnumerator>(QList<PortInfo>{
            {"ttyUSB0", "FT232R USB UART (ttyUSB0)"}, {"ttyACM0", "ZORVA LYR102 (ttyACM0)"}}));
    link->EnumeratePorts("ttyUSB0");
    link->SelectedBaudRate = 9600;
    return link;
}

TEST(DialogLayoutTest, SettingsDialogTextsFitAndControlsDoNotOverlap) {
    auto link = MakeLink();
    CSetDialog dlg(nullptr, *link);
    dlg.FilterTime = 1000;
    dlg.Separator = 1;  // the widest entry
    ASSERT_TRUE(dlg.Create());
    ExpectTidyLayout(dlg, "set_dialog.png");
    dlg.DestroyWindow();
}

TEST(DialogLayoutTest, CommTestDialogTextsFitAndControlsDoNotOverlap) {
    auto link = MakeLink();
    CComTestDlg dlg(nullptr, *link);
    ASSERT_TRUE(dlg.Create());
    dlg.GetEdit(IDC_COM_SEND_TEXT)->setText("*idn?");
    dlg.GetEdit(IDC_COM_RECEIVE_TEXT)->setText("ZORVA,LYR102,A1234567,1.00");
    ExpectTidyLayout(dlg, "comm_test_dialog.png");
    dlg.DestroyWindow();
}

TEST(DialogLayoutTest, VersionDialogShowsTheIconAndItsTextsFitWithoutOverlap) {
    // The program icon, as the application object sets it.
    QIcon icon;
    for (int size : {32, 64, 256})
        icon.addFile(QStringLiteral(":/lyrlogger/lyrlogger-%1.png").arg(size));
    ASSERT_FALSE(icon.isNull());
    QApplication::setWindowIcon(icon);

    CAboutDlg dlg;
    ASSERT_TRUE(dlg.Create());
    bool iconShown = false;
    for (QLabel* label : dlg.findChildren<QLabel*>())
        iconShown = iconShown || (label->isVisible() && !label->pixmap().isNull());
    EXPECT_TRUE(iconShown);
    EXPECT_EQ(dlg.windowTitle(), "Version Information");
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ABOUT_VERSION), "1.0.0.2");
    ExpectTidyLayout(dlg, "about_dialog.png");
    dlg.DestroyWindow();
}

}  // namespace
}  // namespace lyr
