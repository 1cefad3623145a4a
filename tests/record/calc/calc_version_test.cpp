#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "record/calc/calc_version.h"

namespace lyr {
namespace {

// An installation folder with the registry files that tell the version.
class InstallationFixture : public ::testing::Test {
  protected:
    void Write(const char* name, const QByteArray& text) {
        QDir().mkpath(dir.path() + "/share/registry");
        QFile file(dir.path() + "/share/registry/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QTemporaryDir dir;
};

// The schema part comes first with an empty value, then the product's own value.
const QByteArray kMain =
    "<oor:data><oor:component-schema><templates/><component><group oor:name=\"Product\">"
    "<prop oor:name=\"ooSetupVersion\" oor:type=\"xs:string\" oor:nillable=\"false\"><value/>"
    "</prop></group></component></oor:component-schema>"
    "<oor:component-data oor:name=\"Setup\"><node oor:name=\"Product\">"
    "<prop oor:name=\"ooSetupVersionAboutBox\"><value>7.4.7.2</value></prop>"
    "<prop oor:name=\"ooSetupVersion\" oor:op=\"fuse\">\n  <value>7.4</value>\n</prop>"
    "</node></oor:component-data></oor:data>";

TEST_F(InstallationFixture, InstalledCalcVersionReadsTheProductVersionOfTheRegistry) {
    Write("main.xcd", kMain);
    Write("calc.xcd", "<oor:data/>");
    EXPECT_EQ(InstalledCalcVersion(dir.path()), "7.4");
}

TEST_F(InstallationFixture, InstalledCalcVersionIsEmptyWithoutCalcOrWithoutTheValue) {
    Write("main.xcd", kMain);
    EXPECT_EQ(InstalledCalcVersion(dir.path()), "") << "no Calc module";
    Write("calc.xcd", "<oor:data/>");
    Write("main.xcd", "<prop oor:name=\"ooSetupVersion\"><value/></prop>");
    EXPECT_EQ(InstalledCalcVersion(dir.path()), "");
    EXPECT_EQ(InstalledCalcVersion(dir.path() + "/missing"), "");
}

}  // namespace
}  // namespace lyr
