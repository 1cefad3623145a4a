#include "ui/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>

#include "res/version.h"

namespace lyr {

int CQtMessageBox::Show(const QString& text, unsigned type) {
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (type & 0xFu) {
        case MB_OKCANCEL:
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            break;
        case MB_YESNOCANCEL:
            buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
        case MB_YESNO:
            buttons = QMessageBox::Yes | QMessageBox::No;
            break;
        default:
            break;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & 0xF0u) {
        case MB_ICONSTOP:
            icon = QMessageBox::Critical;
            break;
        case MB_ICONQUESTION:
            icon = QMessageBox::Question;
            break;
        case MB_ICONEXCLAMATION:
            icon = QMessageBox::Warning;
            break;
        case MB_ICONINFORMATION:
            icon = QMessageBox::Information;
            break;
        default:
            break;
    }
    QMessageBox box(icon, QString::fromUtf8(res::kProductName), text, buttons,
                    QApplication::activeWindow());
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Ok:
            return IDOK;
        default:
            // Closed with ESC or the close box: the Cancel answer where there is one.
            return (buttons & QMessageBox::Cancel) ? IDCANCEL : IDOK;
    }
}

}  // namespace lyr
