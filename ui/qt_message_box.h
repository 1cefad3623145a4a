#pragma once

#include "platform/message_box.h"

namespace lyr {

// AfxMessageBox on Qt: a QMessageBox with the same buttons and icon, modal over the active
// window. Its exec() runs a nested event loop, so posted messages keep arriving while it is open.
class CQtMessageBox final : public IMessageBox {
  public:
    int Show(const QString& text, unsigned type) override;
};

}  // namespace lyr
