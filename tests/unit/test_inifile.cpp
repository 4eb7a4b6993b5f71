#include "inifile.h"
#include "userpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(IniFileTest, AFileThatCannotBeReadIsNeverWrittenOver)
{
    setContents("[Setting]\nName=ann\nShow=2\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
    // The superuser reads anything: act as an ordinary user, who may still replace the
    // file through the folder.
    for (const QString &folder : {dir.path(), dir.path() + "/sub"})
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), 0777), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::seteuid(65534), 0);
    }
    const bool readable = ini.isReadable();
    const QByteArray name = ini.ReadString("Setting", "Name", "none");
    const bool wrote = ini.WriteString("Setting", "Show", "0");
    const bool listWrote = ini.WriteSectionValues("Friends", {{"0", "bob"}});
    const bool erased = ini.EraseSection("Setting");
    const bool deleted = ini.DeleteKey("Setting", "Name");
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_FALSE(readable);
    EXPECT_EQ(name, "none");
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(listWrote);
    EXPECT_FALSE(erased);
    EXPECT_FALSE(deleted);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(contents(), "[Setting]\nName=ann\nShow=2\n");
}

TEST(UserPathsTest, AnOldSettingsFileMovesOnlyWhileTheUserHasNone)
{
    QTemporaryDir data;
    QTemporaryDir program;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QString legacy = program.path() + "/ostrellobby.ini";
    auto write = [](const QString &file, const QByteArray &bytes) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    auto read = [](const QString &file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    write(legacy, "[Setting]\nShow=1\n");
    const QString path = UserPaths::getinifile(program.path());
    EXPECT_EQ(read(path), "[Setting]\nShow=1\n");
    EXPECT_FALSE(QFile::exists(legacy));

    // An old file that comes back (or could not be deleted from a read-only folder)
    // does not replace what the user changed since.
    write(path, "[Setting]\nShow=2\n");
    write(legacy, "[Setting]\nShow=1\n");
    EXPECT_EQ(UserPaths::getinifile(program.path()), path);
    EXPECT_EQ(read(path), "[Setting]\nShow=2\n");
    qunsetenv("XDG_DATA_HOME");
}

} // namespace
