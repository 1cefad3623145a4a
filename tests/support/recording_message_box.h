#pragma once

#include <QList>
#include <QString>

#include "platform/message_box.h"

namespace lyr::test {

// Installs itself for its lifetime, records every box shown and answers with `answer`.
class RecordingMessageBox final : public IMessageBox {
public:
    struct Shown {
        QString text;
        unsigned type;
    };

    RecordingMessageBox() { SetMessageBox(this); }
    ~RecordingMessageBox() override { SetMessageBox(nullptr); }
    RecordingMessageBox(const RecordingMessageBox&) = delete;
    RecordingMessageBox& operator=(const RecordingMessageBox&) = delete;

    int Show(const QString& text, unsigned type) override {
        shown.append({text, type});
        return answer;
    }

    [[nodiscard]] QStringList Texts() const {
        QStringList texts;
        for (const Shown& s : shown) texts.append(s.text);
        return texts;
    }

    QList<Shown> shown;
    int answer = IDOK;
};

}  // namespace lyr::test
