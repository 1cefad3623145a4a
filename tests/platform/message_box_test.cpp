#include "platform/message_box.h"

#include <gtest/gtest.h>

#include "support/recording_message_box.h"

namespace lyr {
namespace {

TEST(MessageBox, InstalledBoxReceivesTextAndTypeAndAnswers) {
    test::RecordingMessageBox box;
    box.answer = IDCANCEL;
    EXPECT_EQ(AfxMessageBox(QStringLiteral("Send?"), MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].text, QStringLiteral("Send?"));
    EXPECT_EQ(box.shown[0].type, MB_OKCANCEL | MB_ICONQUESTION);
}

TEST(MessageBox, WithoutInstalledBoxAnswersOk) { EXPECT_EQ(AfxMessageBox(QStringLiteral("x")), IDOK); }

}  // namespace
}  // namespace lyr
