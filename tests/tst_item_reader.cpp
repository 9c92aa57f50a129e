// tst_item_reader.cpp: how the item reader splits scripts into items.
#include "console/item_reader.h"
#include "console/item_writer.h"
#include "platform/posix/posix_text_files.h"
#include "tests/support/current_dir.h"
#include "tests/support/string_stream.h"

#include <QTest>

#include <algorithm>
#include <string>
#include <vector>

using namespace zentrel;
using tests::StringStream;

namespace {

// Reads items the way every reader of the program does: test for the end of
// the file before each item.
QList<QByteArray> readAll(platform::InputStream &in)
{
    QList<QByteArray> items;
    std::string item;
    while (!in.atEnd() && items.size() < 1000) {
        console::readItem(in, item);
        items.append(QByteArray(item.data(), qsizetype(item.size())));
    }
    return items;
}

} // namespace

class tst_ItemReader : public QObject
{
    Q_OBJECT
private slots:
    void readItem_data();
    void readItem();
    void readItem_fromFile();
    void readItem_longLineAndReusedBuffer();
    void writeItems_readBackExactly_data();
    void writeItems_readBackExactly();
};

void tst_ItemReader::readItem_data()
{
    using Items = QList<QByteArray>;
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Items>("items");

    // The rules every script relies on.
    QTest::newRow("comma splits") << QByteArray("a,b\r\n") << Items{"a", "b"};
    QTest::newRow("one item a line") << QByteArray("Login:\r\nPassword:\r\n")
                                     << Items{"Login:", "Password:"};
    QTest::newRow("quoted comma") << QByteArray("\"a,b\"\r\n") << Items{"a,b"};
    QTest::newRow("leading spaces") << QByteArray("   x\r\n") << Items{"x"};
    QTest::newRow("spaces after comma") << QByteArray("a,  b\r\n") << Items{"a", "b"};
    QTest::newRow("spaces before quote") << QByteArray("  \"a,b\"\r\n") << Items{"a,b"};
    QTest::newRow("empty line") << QByteArray("\r\n") << Items{""};
    QTest::newRow("empty line between") << QByteArray("a\r\n\r\nb\r\n") << Items{"a", "", "b"};
    QTest::newRow("blank line is empty") << QByteArray("   \r\n") << Items{""};
    QTest::newRow("no extra item at end") << QByteArray("a\r\n") << Items{"a"};
    QTest::newRow("last line without end") << QByteArray("a\r\nRouter>") << Items{"a", "Router>"};
    QTest::newRow("empty file") << QByteArray() << Items{};
    QTest::newRow("comma at line end") << QByteArray("a,\r\nb\r\n") << Items{"a", "", "b"};
    QTest::newRow("leading comma") << QByteArray(",a\r\n") << Items{"", "a"};
    QTest::newRow("empty quoted") << QByteArray("\"\"\r\n") << Items{""};
    QTest::newRow("quoted keeps blanks") << QByteArray("\"  x  \"\r\n") << Items{"  x  "};

    // The choices for what the rules leave open.
    QTest::newRow("tabs in front skipped") << QByteArray("\t \tx\r\n") << Items{"x"};
    QTest::newRow("trailing spaces kept") << QByteArray("Router> \r\n") << Items{"Router> "};
    QTest::newRow("trailing tab kept") << QByteArray("a\t,b\r\n") << Items{"a\t", "b"};
    QTest::newRow("after closing quote dropped")
        << QByteArray("\"a\"xyz,b\r\n\"c\" \r\nd") << Items{"a", "b", "c", "d"};
    QTest::newRow("doubled quote is one quote")
        << QByteArray("\"a\"\"b\"\r\n\"\"\"\"\r\n\"x\"\"\",y\r\n")
        << Items{"a\"b", "\"", "x\"", "y"};
    QTest::newRow("doubled quote across lines") << QByteArray("\"say \"\"hi\"\"\r\n\"\r\nz")
                                                << Items{"say \"hi\"\r\n", "z"};
    QTest::newRow("doubled quote then unterminated")
        << QByteArray("\"a\"\"\r\nb") << Items{"a\"\r\nb"};
    QTest::newRow("quote inside unquoted") << QByteArray("say \"hi\"\r\n") << Items{"say \"hi\""};
    QTest::newRow("lone LF ends line") << QByteArray("a\nb\n\nc") << Items{"a", "b", "", "c"};
    QTest::newRow("lone CR ends line") << QByteArray("a\rb\r\rc\r") << Items{"a", "b", "", "c"};
    QTest::newRow("LF CR is two line ends") << QByteArray("a\n\rb") << Items{"a", "", "b"};
    QTest::newRow("quoted spans lines") << QByteArray("\"a\r\nb,c\"\r\nd\r\n")
                                        << Items{"a\r\nb,c", "d"};
    QTest::newRow("unterminated quote runs to end")
        << QByteArray("x\r\n\"open,\r\nrest\r\n") << Items{"x", "open,\r\nrest\r\n"};
    QTest::newRow("NUL and high bytes") << QByteArray("a\0b,\x80\xff\xe9\r\n", 9)
                                        << Items{QByteArray("a\0b", 3), "\x80\xff\xe9"};
}

void tst_ItemReader::readItem()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, items);
    for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(4096)}) {
        StringStream in(file.toStdString(), piece);
        QCOMPARE(readAll(in), items);
    }
}

void tst_ItemReader::readItem_fromFile()
{
    tests::ScratchDir dir;
    dir.write("RESPONSE.TXT", "User:,  \"a,b\"\r\nRouter> \r\n\r\n\"x\" y\n\xff\r\n");
    platform::PosixTextFiles files;
    const auto in = files.openInput("RESPONSE.TXT");
    QCOMPARE(readAll(*in), (QList<QByteArray>{"User:", "a,b", "Router> ", "", "x", "\xff"}));
}

void tst_ItemReader::readItem_longLineAndReusedBuffer()
{
    const std::string line(1 << 20, 'x');
    StringStream in(line + ",short\r\n", 4096);
    std::string item = "left over from before";
    console::readItem(in, item);
    QCOMPARE(item.size(), line.size());
    QVERIFY(item == line);
    console::readItem(in, item);
    QCOMPARE(QByteArray::fromStdString(item), QByteArray("short"));
    QVERIFY(in.atEnd());
}

void tst_ItemReader::writeItems_readBackExactly_data()
{
    using Items = QList<QByteArray>;
    QTest::addColumn<Items>("items");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("bare stays bare") << Items{"Router> ", "", "x\ty", QByteArray("\0\xff", 2)}
                                     << QByteArray("Router> \r\n\r\nx\ty\r\n\0\xff\r\n", 21);
    QTest::newRow("quoted when read differently")
        << Items{"a,b", "  lead", "\tlead", "one\r\ntwo\r\n", "cr\r", "lf\n"}
        << QByteArray("\"a,b\"\r\n\"  lead\"\r\n\"\tlead\"\r\n\"one\r\ntwo\r\n\"\r\n"
                      "\"cr\r\"\r\n\"lf\n\"\r\n");
    QTest::newRow("quotes doubled") << Items{"say \"hi\"", "\"", "\"\"", "\"lead"}
                                    << QByteArray("\"say \"\"hi\"\"\"\r\n\"\"\"\"\r\n"
                                                  "\"\"\"\"\"\"\r\n\"\"\"lead\"\r\n");
    QTest::newRow("no items") << Items{} << QByteArray();
    QTest::newRow("only an empty item") << Items{""} << QByteArray("\r\n");
}

void tst_ItemReader::writeItems_readBackExactly()
{
    QFETCH(QList<QByteArray>, items);
    QFETCH(QByteArray, file);
    std::vector<std::string> written;
    for (const QByteArray &item : items)
        written.push_back(item.toStdString());
    const std::string text = console::writeItems(written);
    QCOMPARE(QByteArray::fromStdString(text), file);
    StringStream in(text, 3);
    QCOMPARE(readAll(in), items);
}

QTEST_GUILESS_MAIN(tst_ItemReader)
#include "tst_item_reader.moc"
