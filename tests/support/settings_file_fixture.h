#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lyr::test {

// A settings file "LyrSample.ini" in a temporary folder of the test's own.
class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString FilePath() const { return dir.filePath(QStringLiteral("LyrSample.ini")); }

    void WriteFile(const QByteArray& bytes) const {
        QFile f(FilePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    QByteArray ReadFile() const {
        QFile f(FilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
};

}  // namespace lyr::test
