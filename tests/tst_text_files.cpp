// tst_text_files.cpp: numbered text files on disk: open failures, bytes in and out, end of file.
#include "platform/error.h"
#include "platform/posix/posix_text_files.h"
#include "support/current_dir.h"

#include <QFile>
#include <QTest>

#include <unistd.h>

using namespace zentrel;
using platform::PosixTextFiles;
using Mode = platform::TextFiles::Mode;

namespace {

int errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const platform::Error &error) {
        return error.code();
    }
    return 0;
}

QByteArray readAll(platform::InputStream &in)
{
    QByteArray bytes;
    for (int byte = in.get(); byte >= 0; byte = in.get())
        bytes.append(char(byte));
    return bytes;
}

} // namespace

class tst_TextFiles : public QObject
{
    Q_OBJECT
private slots:
    void open_reportsFailures_data();
    void open_reportsFailures();
    void open_numberAlreadyOpenOrOutOfRange();
    void writeLine_bytesRoundTripWithCrLf();
    void input_largeFileAcrossBlocks();
    void eof_emptyAndAfterLastByte();
    void close_unopenedNumberDoesNothing();
};

void tst_TextFiles::open_reportsFailures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("code");
    QTest::newRow("missing file") << "none" << int(Mode::Input) << 53;
    QTest::newRow("dangling link") << "dangling" << int(Mode::Input) << 53;
    QTest::newRow("missing directory") << "nodir" << int(Mode::Input) << 53;
    QTest::newRow("directory for input") << "dir" << int(Mode::Input) << 75;
    QTest::newRow("unreadable") << "unreadable" << int(Mode::Input) << 75;
    QTest::newRow("directory for output") << "dir" << int(Mode::Output) << 75;
    QTest::newRow("output in missing directory") << "nodir" << int(Mode::Output) << 75;
}

void tst_TextFiles::open_reportsFailures()
{
    QFETCH(QString, setup);
    QFETCH(int, mode);
    QFETCH(int, code);
    tests::ScratchDir dir;
    std::string path = dir.stdPath("RESPONSE.TXT");
    if (setup == "dangling")
        QVERIFY(QFile::link(dir.file("gone"), dir.file("RESPONSE.TXT")));
    else if (setup == "nodir")
        path = dir.stdPath("missing/RESPONSE.TXT");
    else if (setup == "dir")
        QVERIFY(QDir(dir.path()).mkdir("RESPONSE.TXT"));
    else if (setup == "unreadable") {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        dir.write("RESPONSE.TXT", "x");
        QFile::setPermissions(dir.file("RESPONSE.TXT"), QFileDevice::WriteOwner);
    }

    PosixTextFiles files;
    QCOMPARE(errorOf([&] { files.open(1, path, Mode(mode)); }), code);
    QVERIFY(!files.isOpen(1));
}

void tst_TextFiles::open_numberAlreadyOpenOrOutOfRange()
{
    tests::ScratchDir dir;
    dir.write("ROUTER.CFG", "x\r\n");
    PosixTextFiles files;
    files.open(1, dir.stdPath("ROUTER.CFG"), Mode::Input);
    QCOMPARE(errorOf([&] { files.open(1, dir.stdPath("ROUTER.CFG"), Mode::Input); }), 55);
    QCOMPARE(errorOf([&] { files.open(1, dir.stdPath("other"), Mode::Output); }), 55);
    QCOMPARE(errorOf([&] { files.open(0, dir.stdPath("ROUTER.CFG"), Mode::Input); }), 52);
    QCOMPARE(errorOf([&] { files.open(256, dir.stdPath("ROUTER.CFG"), Mode::Input); }), 52);
    QCOMPARE(errorOf([&] { files.writeLine(1, "open for input"); }), 52);
    QVERIFY(files.isOpen(1));
    QCOMPARE(dir.read("other"), QByteArray());   // never created
}

void tst_TextFiles::writeLine_bytesRoundTripWithCrLf()
{
    tests::ScratchDir dir;
    QByteArray every;
    for (int i = 0; i < 256; ++i)
        every.append(char(i));
    {
        PosixTextFiles files;
        dir.write("ROUTER.CFG", "old content that must go");
        files.open(7, dir.stdPath("ROUTER.CFG"), Mode::Output);
        files.writeLine(7, std::string_view(every.constData(), size_t(every.size())));
        files.writeLine(7, "");
        files.writeLine(7, "Demo-Router >");
        files.close(7);
    }
    const QByteArray expected = every + "\r\n\r\nDemo-Router >\r\n";
    QCOMPARE(dir.read("ROUTER.CFG"), expected);

    PosixTextFiles files;
    files.open(1, dir.stdPath("ROUTER.CFG"), Mode::Input);
    QCOMPARE(readAll(files.input(1)), expected);
    QVERIFY(files.eof(1));
}

void tst_TextFiles::input_largeFileAcrossBlocks()
{
    tests::ScratchDir dir;
    QByteArray big;
    for (int i = 0; big.size() < 300 * 1024; ++i)
        big.append(QByteArray::number(i) + ",\"item\"\r\n");
    dir.write("RESPONSE.TXT", big);

    PosixTextFiles files;
    files.open(2, dir.stdPath("RESPONSE.TXT"), Mode::Input);
    platform::InputStream &in = files.input(2);
    QCOMPARE(in.peek(), int('0'));
    QCOMPARE(in.peek(), int('0'));   // peeking takes nothing
    QCOMPARE(readAll(in), big);
    QCOMPARE(in.peek(), -1);
}

void tst_TextFiles::eof_emptyAndAfterLastByte()
{
    tests::ScratchDir dir;
    dir.write("empty", "");
    dir.write("one", "!");
    PosixTextFiles files;
    files.open(1, dir.stdPath("empty"), Mode::Input);
    QVERIFY(files.eof(1));
    files.open(2, dir.stdPath("one"), Mode::Input);
    QVERIFY(!files.eof(2));
    QCOMPARE(files.input(2).get(), int('!'));
    QVERIFY(files.eof(2));
    QCOMPARE(files.input(2).get(), -1);
}

void tst_TextFiles::close_unopenedNumberDoesNothing()
{
    tests::ScratchDir dir;
    dir.write("one", "1");
    PosixTextFiles files;
    files.close(1);
    files.close(0);
    files.close(999);
    files.open(1, dir.stdPath("one"), Mode::Input);
    files.close(1);
    files.close(1);
    QVERIFY(!files.isOpen(1));
    QCOMPARE(errorOf([&] { files.eof(1); }), 52);
    files.open(1, dir.stdPath("one"), Mode::Input);   // the number is free again
    files.closeAll();
    QVERIFY(!files.isOpen(1));
}

QTEST_GUILESS_MAIN(tst_TextFiles)
#include "tst_text_files.moc"
