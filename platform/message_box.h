#pragma once

#include <QString>

namespace lyr {

// Button and icon flags and results keep the Windows values, so callers read as they would
// with AfxMessageBox.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Shows a modal message to the operator. The GUI implements it with QMessageBox (which runs a
// nested event loop, so posted messages keep arriving); tests put a recording stand-in in place.
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    virtual int Show(const QString& text, unsigned type) = 0;
};

// Installs the process-wide message box; not owning. Passing nullptr restores the default,
// which writes the text to stderr and answers IDOK.
void SetMessageBox(IMessageBox* box);

// Shows text through the installed message box and returns the button pressed.
int AfxMessageBox(const QString& text, unsigned type = MB_OK);

}  // namespace lyr
