// tst_text_files.cpp: text files on disk: open failures, owned streams, safe creation, bytes in and out.
#include "platform/error.h"
#include "platform/posix/posix_text_files.h"
#include "support/current_dir.h"

#include <QFile>
#include <QTest>

#include <dirent.h>
#include <sys/resource.h>
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

int openDescriptors()
{
    int count = 0;
    if (DIR *fds = ::opendir("/proc/self/fd")) {
        while (::readdir(fds))
            ++count;
        ::closedir(fds);
    }
    return count;
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
    void streams_ownTheirFilesAndReadApart();
    void outOfDescriptors_isTransientError();
    void createNew_neverFollowsOrOverwrites_data();
    void createNew_neverFollowsOrOverwrites();
    void output_commitAndDiscard();
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
    // The owned files report the same.
    if (Mode(mode) == Mode::Input)
        QCOMPARE(errorOf([&] { files.openInput(path); }), code);
    else
        QCOMPARE(errorOf([&] { files.createOutput(path); }), code);
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

// Many readers of one script at once, each at its own place; each descriptor
// goes with its stream.
void tst_TextFiles::streams_ownTheirFilesAndReadApart()
{
    tests::ScratchDir dir;
    dir.write("RESPONSE.TXT", "abc");
    PosixTextFiles files;
    const int before = openDescriptors();
    {
        auto first = files.openInput("RESPONSE.TXT");
        auto second = files.openInput("RESPONSE.TXT");
        QCOMPARE(openDescriptors(), before + 2);
        QCOMPARE(first->get(), int('a'));
        QCOMPARE(first->get(), int('b'));
        QCOMPARE(readAll(*second), QByteArray("abc"));
        QCOMPARE(readAll(*first), QByteArray("c"));
        QVERIFY(first->atEnd());
        auto out = files.createOutput("OUT.TXT");
        QCOMPARE(openDescriptors(), before + 3);
    }
    QCOMPARE(openDescriptors(), before);
}

void tst_TextFiles::outOfDescriptors_isTransientError()
{
    tests::ScratchDir dir;
    dir.write("RESPONSE.TXT", "x");
    PosixTextFiles files;
    rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    std::vector<int> filler;
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(openDescriptors() + 8);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
        filler.push_back(fd);
    const int input = errorOf([&] { files.openInput("RESPONSE.TXT"); });
    const int numbered = errorOf([&] { files.open(1, "RESPONSE.TXT", Mode::Input); });
    const int output = errorOf([&] { files.createOutput("NEW.TXT", platform::TextFiles::Creation::New); });
    for (int fd : filler)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(input, int(platform::TooManyFiles));
    QCOMPARE(numbered, int(platform::TooManyFiles));
    QCOMPARE(output, int(platform::TooManyFiles));
    QVERIFY(!QFile::exists(dir.file("NEW.TXT")));
    QCOMPARE(readAll(*files.openInput("RESPONSE.TXT")), QByteArray("x"));   // and again, later
}

void tst_TextFiles::createNew_neverFollowsOrOverwrites_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("existing file") << "file";
    QTest::newRow("dangling link out of the directory") << "dangling";
    QTest::newRow("link to a file elsewhere") << "link";
    QTest::newRow("directory") << "dir";
}

// Whatever holds the name stays exactly as it was, and so does what a link names.
void tst_TextFiles::createNew_neverFollowsOrOverwrites()
{
    QFETCH(QString, setup);
    tests::ScratchDir outside;
    tests::ScratchDir dir;
    if (setup == "file")
        dir.write("ROUTER.CFG", "mine\r\n");
    else if (setup == "dangling")
        QVERIFY(QFile::link(outside.file("created"), dir.file("ROUTER.CFG")));
    else if (setup == "link") {
        outside.write("victim", "precious");
        QVERIFY(QFile::link(outside.file("victim"), dir.file("ROUTER.CFG")));
    } else
        QVERIFY(QDir(dir.path()).mkdir("ROUTER.CFG"));

    PosixTextFiles files;
    QCOMPARE(errorOf([&] { files.createOutput("ROUTER.CFG", platform::TextFiles::Creation::New); }),
             int(platform::FileAlreadyExists));
    if (setup == "file")
        QCOMPARE(dir.read("ROUTER.CFG"), QByteArray("mine\r\n"));
    QVERIFY(!QFile::exists(outside.file("created")));
    if (setup == "link")
        QCOMPARE(outside.read("victim"), QByteArray("precious"));
    QCOMPARE(QFileInfo(dir.file("ROUTER.CFG")).isSymLink(), setup == "dangling" || setup == "link");
}

// Discard removes the file it created, but never a file put under the name since.
void tst_TextFiles::output_commitAndDiscard()
{
    tests::ScratchDir dir;
    PosixTextFiles files;
    using Creation = platform::TextFiles::Creation;

    auto kept = files.createOutput("KEPT.TXT", Creation::New);
    kept->writeLine("line");
    kept->commit();
    QCOMPARE(errorOf([&] { kept->writeLine("late"); }), int(platform::DeviceIoError));
    QCOMPARE(dir.read("KEPT.TXT"), QByteArray("line\r\n"));

    auto dropped = files.createOutput("DROPPED.TXT", Creation::New);
    dropped->writeLine("half");
    dropped->discard();
    QVERIFY(!QFile::exists(dir.file("DROPPED.TXT")));

    auto replaced = files.createOutput("ROUTER.CFG", Creation::New);
    QVERIFY(QFile::rename(dir.file("ROUTER.CFG"), dir.file("moved")));
    dir.write("ROUTER.CFG", "someone else's");
    replaced->discard();
    QCOMPARE(dir.read("ROUTER.CFG"), QByteArray("someone else's"));

    dir.write("OLD.TXT", "old");
    auto emptied = files.createOutput("OLD.TXT", Creation::Replace);
    emptied->discard();   // it did not create the file: the name stays
    QVERIFY(QFile::exists(dir.file("OLD.TXT")));
}

QTEST_GUILESS_MAIN(tst_TextFiles)
#include "tst_text_files.moc"
