// tst_text_files.cpp: text files on disk: open failures, owned streams, safe creation, bytes in and out.
#include "platform/error.h"
#include "platform/posix/posix_text_files.h"
#include "support/current_dir.h"
#include "support/open_descriptors.h"

#include <QFile>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zentrel;
using platform::PosixTextFiles;
using tests::openDescriptors;

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
    void open_reportsFailuresAndKeepsNoDescriptor_data();
    void open_reportsFailuresAndKeepsNoDescriptor();
    void writeLine_bytesRoundTripWithCrLf();
    void input_largeFileAcrossBlocks();
    void atEnd_emptyAndAfterLastByte();
    void streams_ownTheirFilesAndReadApart();
    void outOfDescriptors_isTransientError();
    void createNew_neverFollowsOrOverwrites_data();
    void createNew_neverFollowsOrOverwrites();
    void output_commitAndDiscard();
};

void tst_TextFiles::open_reportsFailuresAndKeepsNoDescriptor_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("output");
    QTest::addColumn<int>("code");
    QTest::newRow("missing file") << "none" << false << 53;
    QTest::newRow("dangling link") << "dangling" << false << 53;
    QTest::newRow("missing directory") << "nodir" << false << 53;
    QTest::newRow("directory for input") << "dir" << false << 75;
    QTest::newRow("FIFO for input") << "fifo" << false << 75;
    QTest::newRow("unreadable") << "unreadable" << false << 75;
    QTest::newRow("directory for output") << "dir" << true << 75;
    QTest::newRow("output in missing directory") << "nodir" << true << 75;
}

// Some refusals come only after the file was opened (a directory or a FIFO
// is no text file): its descriptor must go with the failure.
void tst_TextFiles::open_reportsFailuresAndKeepsNoDescriptor()
{
    QFETCH(QString, setup);
    QFETCH(bool, output);
    QFETCH(int, code);
    tests::ScratchDir dir;
    std::string path = dir.stdPath("RESPONSE.TXT");
    if (setup == "dangling")
        QVERIFY(QFile::link(dir.file("gone"), dir.file("RESPONSE.TXT")));
    else if (setup == "nodir")
        path = dir.stdPath("missing/RESPONSE.TXT");
    else if (setup == "dir")
        QVERIFY(QDir(dir.path()).mkdir("RESPONSE.TXT"));
    else if (setup == "fifo")
        QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
    else if (setup == "unreadable") {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        dir.write("RESPONSE.TXT", "x");
        QFile::setPermissions(dir.file("RESPONSE.TXT"), QFileDevice::WriteOwner);
    }

    PosixTextFiles files;
    const int before = openDescriptors();
    if (output)
        QCOMPARE(errorOf([&] { files.createOutput(path); }), code);
    else
        QCOMPARE(errorOf([&] { files.openInput(path); }), code);
    QCOMPARE(openDescriptors(), before);
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
        auto out = files.createOutput(dir.stdPath("ROUTER.CFG"));
        out->writeLine(std::string_view(every.constData(), size_t(every.size())));
        out->writeLine("");
        out->writeLine("Demo-Router >");
    }   // not committed: closed as it stands
    const QByteArray expected = every + "\r\n\r\nDemo-Router >\r\n";
    QCOMPARE(dir.read("ROUTER.CFG"), expected);

    PosixTextFiles files;
    auto in = files.openInput(dir.stdPath("ROUTER.CFG"));
    QCOMPARE(readAll(*in), expected);
    QVERIFY(in->atEnd());
}

void tst_TextFiles::input_largeFileAcrossBlocks()
{
    tests::ScratchDir dir;
    QByteArray big;
    for (int i = 0; big.size() < 300 * 1024; ++i)
        big.append(QByteArray::number(i) + ",\"item\"\r\n");
    dir.write("RESPONSE.TXT", big);

    PosixTextFiles files;
    auto stream = files.openInput(dir.stdPath("RESPONSE.TXT"));
    platform::InputStream &in = *stream;
    QCOMPARE(in.peek(), int('0'));
    QCOMPARE(in.peek(), int('0'));   // peeking takes nothing
    QCOMPARE(readAll(in), big);
    QCOMPARE(in.peek(), -1);
}

void tst_TextFiles::atEnd_emptyAndAfterLastByte()
{
    tests::ScratchDir dir;
    dir.write("empty", "");
    dir.write("one", "!");
    PosixTextFiles files;
    auto empty = files.openInput(dir.stdPath("empty"));
    QVERIFY(empty->atEnd());
    QCOMPARE(empty->get(), -1);
    auto one = files.openInput(dir.stdPath("one"));
    QVERIFY(!one->atEnd());
    QCOMPARE(one->get(), int('!'));
    QVERIFY(one->atEnd());
    QCOMPARE(one->get(), -1);
    QVERIFY(one->atEnd());   // and stays there
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
    QCOMPARE(readAll(*files.openInput("RESPONSE.TXT")), QByteArray("abc"));   // from the start again
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
    const int output = errorOf([&] { files.createOutput("NEW.TXT", platform::TextFiles::Creation::New); });
    for (int fd : filler)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(input, int(platform::TooManyFiles));
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
