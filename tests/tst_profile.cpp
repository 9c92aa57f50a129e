// tst_profile.cpp: reading and writing settings files: matching rules, limits, byte-exact edits.
#include "platform/posix/posix_profile.h"
#include "support/current_dir.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zentrel;
using platform::PosixProfile;

class tst_Profile : public QObject
{
    Q_OBJECT
private slots:
    void getString_findsValue_data();
    void getString_findsValue();
    void getString_missingOrUnreadableFileGivesDefault();
    void getString_hugeLinesAndFiles();
    void writeString_editsOnlyItsLine_data();
    void writeString_editsOnlyItsLine();
    void writeString_writesThroughSymlink();
    void writeString_refusesWithoutChange_data();
    void writeString_refusesWithoutChange();
    void writeString_fullDiskKeepsOldText();
    void writeString_keepsOwnerModeAndLinks();
};

void tst_Profile::getString_findsValue_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray settings = "[Settings]\r\nTCP-Port=1101\r\nDelay=0.5\r\n";
    QTest::newRow("plain") << settings << QByteArray("TCP-Port") << QByteArray("1101");
    QTest::newRow("missing key") << settings << QByteArray("PositionX") << QByteArray("dflt");
    QTest::newRow("missing section") << QByteArray("[Other]\nTCP-Port=1\n") << QByteArray("TCP-Port")
                                     << QByteArray("dflt");
    QTest::newRow("case of names") << QByteArray("[SETTINGS]\ntcp-port=23\n") << QByteArray("TCP-Port")
                                   << QByteArray("23");
    QTest::newRow("blanks around everything")
        << QByteArray("  [ Settings ]  \n\t TCP-Port \t=  1 101  \t\r\n") << QByteArray("TCP-Port")
        << QByteArray("1 101");
    QTest::newRow("equals and spaces in value")
        << QByteArray("[Settings]\nDelay= a = b  c \n") << QByteArray("Delay") << QByteArray("a = b  c");
    QTest::newRow("comments skipped")
        << QByteArray("[Settings]\n;Delay=1\n#Delay=2\nDelay=3\n") << QByteArray("Delay") << QByteArray("3");
    QTest::newRow("first key wins") << QByteArray("[Settings]\nDelay=1\nDelay=2\n") << QByteArray("Delay")
                                    << QByteArray("1");
    QTest::newRow("first section wins")
        << QByteArray("[Settings]\nA=1\n[Other]\nDelay=9\n[settings]\nDelay=2\n") << QByteArray("Delay")
        << QByteArray("dflt");
    QTest::newRow("key outside any section") << QByteArray("Delay=1\n[Settings]\n") << QByteArray("Delay")
                                             << QByteArray("dflt");
    QTest::newRow("CR-only line ends") << QByteArray("[Settings]\rTCP-Port=23\rDelay=1\r")
                                       << QByteArray("TCP-Port") << QByteArray("23");
    QTest::newRow("CR LF and lone CR mixed") << QByteArray("[Settings]\r\nA=1\rDelay=2\r\n")
                                             << QByteArray("Delay") << QByteArray("2");
    QTest::newRow("empty value") << QByteArray("[Settings]\nDelay=\n") << QByteArray("Delay") << QByteArray("");
    QTest::newRow("last line without line end") << QByteArray("[Settings]\nDelay=7") << QByteArray("Delay")
                                                << QByteArray("7");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[Settings]\nDelay=4\n") << QByteArray("Delay")
                                     << QByteArray("4");
    QTest::newRow("99 of 150 bytes") << QByteArray("[Settings]\nDelay=" + QByteArray(150, '7') + "\n")
                                     << QByteArray("Delay") << QByteArray(99, '7');
    const QByteArray nul(1, '\0');
    QTest::newRow("binary junk around")
        << nul + "\xff\x80[" + nul + "]\n=\n[Settings\n\x01\x02=\x03\nDelay=\x80" + nul + "x\n"
        << QByteArray("Delay") << "\x80" + nul + "x";
}

void tst_Profile::getString_findsValue()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    tests::ScratchDir dir;
    dir.write("zentrel.ini", file);
    PosixProfile profile;
    const std::string value =
        profile.getString("Settings", key.toStdString(), "dflt", 100, dir.stdPath("zentrel.ini"));
    QCOMPARE(QByteArray::fromStdString(value), expected);
}

void tst_Profile::getString_missingOrUnreadableFileGivesDefault()
{
    tests::ScratchDir dir;
    PosixProfile profile;
    QCOMPARE(profile.getString("Settings", "Delay", "", 100, dir.stdPath("zentrel.ini")), std::string());
    QVERIFY(QDir(dir.path()).mkdir("zentrel.ini"));
    QCOMPARE(profile.getString("Settings", "Delay", "d", 100, dir.stdPath("zentrel.ini")), std::string("d"));
    // The default is held to the same limit as a value.
    QCOMPARE(profile.getString("Settings", "Delay", "abcdef", 4, dir.stdPath("zentrel.ini")),
             std::string("abc"));
    QCOMPARE(profile.getString("Settings", "Delay", "abcdef", 0, dir.stdPath("zentrel.ini")), std::string());
}

void tst_Profile::getString_hugeLinesAndFiles()
{
    tests::ScratchDir dir;
    QByteArray file = "[Settings]\nJunk=" + QByteArray(1 << 20, 'j') + "\n" + QByteArray(1 << 20, ' ')
        + "TCP-Port" + QByteArray(1 << 20, ' ') + "=" + QByteArray(1 << 20, '\t') + "1101"
        + QByteArray(1 << 20, ' ') + "x\n";
    dir.write("zentrel.ini", file);
    PosixProfile profile;
    const std::string path = dir.stdPath("zentrel.ini");
    QCOMPARE(profile.getString("Settings", "Junk", "", 100, path), std::string(99, 'j'));
    // Blanks inside the value count, up to the limit.
    QCOMPARE(profile.getString("Settings", "TCP-Port", "", 100, path), "1101" + std::string(95, ' '));

    QVERIFY(profile.writeString("Settings", "Delay", "2", path));
    const QByteArray written = dir.read("zentrel.ini");
    QCOMPARE(written.size(), file.size() + qsizetype(strlen("Delay=2\n")));
    QVERIFY(written.endsWith("x\nDelay=2\n"));
}

void tst_Profile::writeString_editsOnlyItsLine_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << QByteArray("TCP-Port") << QByteArray("1101")
                              << QByteArray("[Settings]\nTCP-Port=1101\n");
    QTest::newRow("replace keeps spelling and CR LF")
        << QByteArray("; mine\r\n[settings]\r\n  tcp-PORT = 23   \r\nDelay=1\r\n")
        << QByteArray("TCP-Port") << QByteArray("1101")
        << QByteArray("; mine\r\n[settings]\r\n  tcp-PORT = 1101\r\nDelay=1\r\n");
    QTest::newRow("key added after section's last line")
        << QByteArray("[Settings]\nDelay=1\n; note\n\n\n[Other]\nX=1\n") << QByteArray("PositionX")
        << QByteArray("600") << QByteArray("[Settings]\nDelay=1\n; note\nPositionX=600\n\n\n[Other]\nX=1\n");
    QTest::newRow("key added in CR LF file")
        << QByteArray("[Settings]\r\nDelay=1\r\n") << QByteArray("PositionY") << QByteArray("450")
        << QByteArray("[Settings]\r\nDelay=1\r\nPositionY=450\r\n");
    QTest::newRow("key added after last line without line end")
        << QByteArray("[Settings]\nDelay=1") << QByteArray("PositionY") << QByteArray("-15")
        << QByteArray("[Settings]\nDelay=1\nPositionY=-15\n");
    const QByteArray other = "[Other]\r\nA=\xff" + QByteArray(1, '\0') + "\r\n; end";
    QTest::newRow("section appended")
        << other << QByteArray("Delay") << QByteArray("0")
        << other + "\r\n[Settings]\r\nDelay=0\r\n";
    QTest::newRow("value with equals and spaces")
        << QByteArray("[Settings]\nDelay=1\n") << QByteArray("Delay") << QByteArray("a = b c")
        << QByteArray("[Settings]\nDelay=a = b c\n");
    QTest::newRow("key added in CR-only file")
        << QByteArray("[Settings]\rDelay=1\r") << QByteArray("TCP-Port") << QByteArray("1101")
        << QByteArray("[Settings]\rDelay=1\rTCP-Port=1101\r");
    QTest::newRow("value replaced in CR-only file")
        << QByteArray("[Settings]\rTCP-Port=23\rDelay=1\r") << QByteArray("TCP-Port") << QByteArray("1101")
        << QByteArray("[Settings]\rTCP-Port=1101\rDelay=1\r");
    QTest::newRow("duplicate section: the first takes the key")
        << QByteArray("[Settings]\nA=1\n[settings]\nDelay=2\n") << QByteArray("Delay") << QByteArray("5")
        << QByteArray("[Settings]\nA=1\nDelay=5\n[settings]\nDelay=2\n");
    QTest::newRow("empty value replaced")
        << QByteArray("[Settings]\nDelay=\nX=1\n") << QByteArray("Delay") << QByteArray("0")
        << QByteArray("[Settings]\nDelay=0\nX=1\n");
}

void tst_Profile::writeString_editsOnlyItsLine()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, after);
    tests::ScratchDir dir;
    if (!before.isNull())
        dir.write("zentrel.ini", before);
    const std::string path = dir.stdPath("zentrel.ini");
    PosixProfile profile;
    QVERIFY(profile.writeString("Settings", key.toStdString(), value.toStdString(), path));
    QCOMPARE(dir.read("zentrel.ini"), after);
    QCOMPARE(QByteArray::fromStdString(profile.getString("Settings", key.toStdString(), "?", 100, path)), value);
}

void tst_Profile::writeString_writesThroughSymlink()
{
    tests::ScratchDir dir;
    QVERIFY(QDir(dir.path()).mkdir("real"));
    dir.write("real/zentrel.ini", "[Settings]\nDelay=1\n");
    QFile::setPermissions(dir.file("real/zentrel.ini"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    QVERIFY(QFile::link("real/zentrel.ini", dir.file("zentrel.ini")));

    PosixProfile profile;
    QVERIFY(profile.writeString("Settings", "Delay", "2", dir.stdPath("zentrel.ini")));
    QVERIFY(QFileInfo(dir.file("zentrel.ini")).isSymLink());
    QCOMPARE(dir.read("real/zentrel.ini"), QByteArray("[Settings]\nDelay=2\n"));
    QCOMPARE(QFile::permissions(dir.file("real/zentrel.ini")),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                 | QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(QDir(dir.file("real")).entryList(QDir::Files), QStringList{"zentrel.ini"});
}

void tst_Profile::writeString_refusesWithoutChange_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("directory") << "dir" << QByteArray("Delay") << QByteArray("1");
    QTest::newRow("read-only file") << "readonly" << QByteArray("Delay") << QByteArray("1");
    QTest::newRow("line end in value") << "file" << QByteArray("Delay") << QByteArray("1\r\n[Evil]");
    QTest::newRow("equals in key") << "file" << QByteArray("De=lay") << QByteArray("1");
}

void tst_Profile::writeString_refusesWithoutChange()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    tests::ScratchDir dir;
    const QByteArray original = "[Settings]\nDelay=0\n";
    if (setup == "dir") {
        QVERIFY(QDir(dir.path()).mkdir("zentrel.ini"));
    } else {
        dir.write("zentrel.ini", original);
        if (setup == "readonly") {
            if (::geteuid() == 0)
                QSKIP("root writes every file");
            QFile::setPermissions(dir.file("zentrel.ini"), QFileDevice::ReadOwner);
        }
    }
    PosixProfile profile;
    QVERIFY(!profile.writeString("Settings", key.toStdString(), value.toStdString(),
                                 dir.stdPath("zentrel.ini")));
    if (setup == "dir")
        QVERIFY(QFileInfo(dir.file("zentrel.ini")).isDir());
    else
        QCOMPARE(dir.read("zentrel.ini"), original);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), setup == "dir" ? 0 : 1);
}

// A disk that fills up while the settings are written: the file keeps every
// byte, whether it is replaced or (with a second link) rewritten in place.
void tst_Profile::writeString_fullDiskKeepsOldText()
{
    tests::ScratchDir dir;
    QVERIFY(QDir(dir.path()).mkdir("small"));
    const std::string small = dir.stdPath("small");
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("needs root to mount a small tmpfs");
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};

    QByteArray original = "; the operator's notes\n[Settings]\nTCP-Port=2323\nDelay=0.5\n";
    while (original.size() < 16 * 1024)
        original += "; a comment line that only takes room in the settings file\n";
    dir.write("small/zentrel.ini", original);
    {
        QFile filler(dir.file("small/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(1024, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    PosixProfile profile;
    const std::string path = dir.stdPath("small/zentrel.ini");
    QVERIFY(!profile.writeString("Settings", "PositionY", "450", path));
    QCOMPARE(dir.read("small/zentrel.ini"), original);

    QCOMPARE(::link(path.c_str(), (small + "/second").c_str()), 0);
    QVERIFY(!profile.writeString("Settings", "PositionY", "450", path));
    QCOMPARE(dir.read("small/zentrel.ini"), original);
    QCOMPARE(QDir(dir.file("small")).entryList(QDir::Files | QDir::Hidden).size(), 3);   // nothing left behind
}

// Writing keeps the file the operator has: its owner, its mode, its hard links.
void tst_Profile::writeString_keepsOwnerModeAndLinks()
{
    tests::ScratchDir dir;
    dir.write("shared.ini", "[Settings]\nDelay=1\n");
    const std::string shared = dir.stdPath("shared.ini");
    QCOMPARE(::link(shared.c_str(), dir.stdPath("zentrel.ini").c_str()), 0);
    PosixProfile profile;
    QVERIFY(profile.writeString("Settings", "Delay", "2", dir.stdPath("zentrel.ini")));
    QCOMPARE(dir.read("shared.ini"), QByteArray("[Settings]\nDelay=2\n"));
    struct stat linked {};
    QCOMPARE(::stat(shared.c_str(), &linked), 0);
    QCOMPARE(int(linked.st_nlink), 2);

    if (::geteuid() != 0)
        QSKIP("only root can give a file to another owner");
    QVERIFY(QDir(dir.path()).mkdir("theirs"));
    dir.write("theirs/zentrel.ini", "[Settings]\nDelay=1\n");
    const std::string theirs = dir.stdPath("theirs/zentrel.ini");
    QCOMPARE(::chown(theirs.c_str(), 4321, 4321), 0);
    QCOMPARE(::chmod(theirs.c_str(), 0640), 0);
    QVERIFY(QFile::link("theirs/zentrel.ini", dir.file("link.ini")));
    QVERIFY(profile.writeString("Settings", "Delay", "3", dir.stdPath("link.ini")));
    struct stat after {};
    QCOMPARE(::stat(theirs.c_str(), &after), 0);
    QCOMPARE(dir.read("theirs/zentrel.ini"), QByteArray("[Settings]\nDelay=3\n"));
    QCOMPARE(int(after.st_uid), 4321);
    QCOMPARE(int(after.st_gid), 4321);
    QCOMPARE(int(after.st_mode & 07777), 0640);
}

QTEST_GUILESS_MAIN(tst_Profile)
#include "tst_profile.moc"
