#include "inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class IniFileTest : public ::testing::Test
{
protected:
    QByteArray contents() const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void setContents(const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QTemporaryDir dir;
    QString path = dir.path() + "/sub/folder/test.ini";
    IniFile ini{path};
};

TEST_F(IniFileTest, MissingFileReadsEmptyAndIsCreatedOnFirstWrite)
{
    EXPECT_EQ(ini.ReadString("Setting", "Show", "dflt"), "dflt");
    EXPECT_FALSE(ini.SectionExists("Setting"));
    EXPECT_TRUE(ini.ReadSection("Friends").isEmpty());
    EXPECT_TRUE(ini.WriteString("Setting", "Show", "1"));
    EXPECT_EQ(contents(), "[Setting]\nShow=1\n");
}

TEST_F(IniFileTest, ValuesAreVerbatimAndNamesIgnoreCase)
{
    const QByteArray odd = " a,b\\c \"quoted\" ;not a comment= ";
    ini.WriteString("Setting", "Password", odd);
    EXPECT_EQ(ini.ReadString("setting", "PASSWORD"), odd);
    ini.WriteString("SETTING", "password", "x");
    EXPECT_EQ(contents(), "[Setting]\nPassword=x\n"); // replaced in place, spelling kept
    ini.WriteString("Setting", "Line", "a\r\nb");
    EXPECT_EQ(ini.ReadString("Setting", "Line"), "ab");
}

TEST_F(IniFileTest, WritingKeepsOrderAndAppendsToTheRightSection)
{
    setContents("; comment\r\n[Setting]\r\nB=2\r\nA=1\r\n\r\n[Friends]\r\nann=1\r\n");
    ini.WriteString("Setting", "A", "one");
    ini.WriteString("Setting", "C", "3");
    ini.WriteString("Friends", "bob", "1");
    ini.WriteString("Favs", "Dice", "1");
    EXPECT_EQ(contents(), "; comment\n[Setting]\nB=2\nA=one\nC=3\n\n[Friends]\nann=1\nbob=1\n"
                          "\n[Favs]\nDice=1\n");
    EXPECT_EQ(ini.ReadSection("Setting"), (QList<QByteArray>{"B", "A", "C"}));
    EXPECT_EQ(ini.ReadString("Setting", "Missing", "d"), "d");
}

TEST_F(IniFileTest, SectionsAreReadErasedAndReplacedWhole)
{
    setContents("[Friends]\nann=1\nbob=1\n[Setting]\nShow=0\n[Ignored]\neve=1\n");
    EXPECT_EQ(ini.ReadSectionValues("friends"),
              (QList<QPair<QByteArray, QByteArray>>{{"ann", "1"}, {"bob", "1"}}));
    ini.EraseSection("Friends");
    EXPECT_FALSE(ini.SectionExists("Friends"));
    EXPECT_EQ(ini.ReadString("Setting", "Show"), "0");
    ini.WriteSectionValues("Ignored", {{"x", "1"}, {"y", "1"}});
    ini.WriteSectionValues("Expanded", {{"0", "Word Games"}});
    EXPECT_EQ(contents(), "[Setting]\nShow=0\n[Ignored]\nx=1\ny=1\n\n[Expanded]\n0=Word Games\n");
    ini.DeleteKey("Ignored", "X");
    EXPECT_EQ(ini.ReadSection("Ignored"), QList<QByteArray>{"y"});
}

} // namespace
