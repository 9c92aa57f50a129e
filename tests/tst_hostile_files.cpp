// tst_hostile_files.cpp: settings, configuration and script files that are directories, dangling links, FIFOs, huge or binary.
#include "app/shutdown.h"
#include "app/startup.h"
#include "console/item_reader.h"
#include "platform/qt/qt_platform.h"
#include "tests/support/current_dir.h"
#include "tests/support/fakes.h"
#include "tests/support/startup_rig.h"
#include "tests/support/zentrel_process.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zentrel;
using Answer = platform::Dialogs::Answer;

namespace {

constexpr qint64 Huge = 100ll * 1000 * 1000;
constexpr int Generous = 30000;   // ms
const std::string ConfigQuestion =
    "Warning: The Router.cfg file doesn't exists. Do you want create this file now ?";
const std::string ResponsesWarning = "Warning: The RESPONSE.TXT file doesn't exists. The Emulator "
                                     "doesn't send responses to requests";
const QByteArray Script = "Username: \r\nPassword: \r\n";
const QByteArray Wire = "Username: Password: ";

// What a directory holds, by relative path: the kind of each entry, its
// size, modification time and bytes (a hash), or where a link points.
QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
            continue;
        QString entry = QString("mode %1 size %2 mtime %3.%4")
                            .arg(info.st_mode, 0, 8)
                            .arg(qint64(info.st_size))
                            .arg(qint64(info.st_mtim.tv_sec))
                            .arg(qint64(info.st_mtim.tv_nsec));
        if (S_ISLNK(info.st_mode)) {
            entry += " -> " + QFileInfo(path).symLinkTarget();
        } else if (S_ISREG(info.st_mode)) {
            QFile file(path);
            QCryptographicHash hash(QCryptographicHash::Sha1);
            if (file.open(QIODevice::ReadOnly) && hash.addData(&file))
                entry += " sha1 " + hash.result().toHex();
        }
        const QString relative = QDir(root).relativeFilePath(path);
        // The lock and temporary files of a running Zentrel are its own.
        if (!relative.startsWith("runtime") && !relative.startsWith("tmp"))
            entries.insert(relative, entry);
    }
    return entries;
}

// 100 MB that cost nothing to make: a sparse run of zero bytes, then `tail`.
bool makeHuge(const QString &path, const QByteArray &tail)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(Huge))
        return false;
    return file.seek(Huge) && file.write(tail) == tail.size();
}

QByteArray binary(quint32 seed, int size)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// Turns the named entry into the kind asked for; `tail` ends a huge file.
bool makeKind(const QString &path, const QString &kind, const QByteArray &tail = {})
{
    QFile::remove(path);
    const QByteArray name = QFile::encodeName(path);
    if (kind == "directory")
        return QDir().mkdir(path);
    if (kind == "dangling link")
        return QFile::link("elsewhere/missing", path);
    if (kind == "fifo")
        return ::mkfifo(name.constData(), 0644) == 0;
    if (kind == "huge")
        return makeHuge(path, tail);
    if (kind == "binary") {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(binary(53, 1 << 16)) == 1 << 16;
    }
    return false;
}

// The wire of a script: its items back to back, as the item reader splits them.
QByteArray wireOf(const QByteArray &script)
{
    class Bytes : public platform::InputStream
    {
    public:
        explicit Bytes(const QByteArray &bytes) : m_bytes(bytes) {}

    protected:
        bool refill() override
        {
            if (m_done || m_bytes.isEmpty())
                return false;
            m_done = true;
            m_pos = m_bytes.constData();
            m_end = m_pos + m_bytes.size();
            return true;
        }

    private:
        const QByteArray &m_bytes;
        bool m_done = false;
    } in(script);
    QByteArray wire;
    std::string item;
    while (!in.atEnd()) {
        console::readItem(in, item);
        wire.append(item.data(), qsizetype(item.size()));
    }
    return wire;
}

using Rig = tests::StartupRig;

} // namespace

class tst_HostileFiles : public QObject
{
    Q_OBJECT
private slots:
    void startup_data();
    void startup();
    void serving_data();
    void serving();
    void routerConfigYes_touchesNothingItDidNotCreate_data();
    void routerConfigYes_touchesNothingItDidNotCreate();
};

void tst_HostileFiles::startup_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("status");         // LBL_titre; "" when start-up completes
    QTest::addColumn<QStringList>("dialogs");    // the texts of the boxes shown, in order
    QTest::addColumn<QString>("port");           // LBL_Port when start-up completes

    const QString unknown = "Unknown Error !!!";
    const QStringList none;
    const QString question = QString::fromStdString(ConfigQuestion);
    const QString warning = QString::fromStdString(ResponsesWarning);
    // The settings file: unreadable reads as empty, so the port falls back to
    // 1101, whose write goes through a link and is refused by anything that
    // is not a regular file.
    QTest::newRow("zentrel.ini directory") << "zentrel.ini" << "directory" << "" << none
                                           << "TCP Port : 1101";
    QTest::newRow("zentrel.ini dangling link") << "zentrel.ini" << "dangling link" << "" << none
                                               << "TCP Port : 1101";
    QTest::newRow("zentrel.ini fifo") << "zentrel.ini" << "fifo" << "" << none << "TCP Port : 1101";
    QTest::newRow("zentrel.ini huge") << "zentrel.ini" << "huge" << "" << none << "TCP Port : 2323";
    QTest::newRow("zentrel.ini binary") << "zentrel.ini" << "binary" << "" << none
                                        << "TCP Port : 1101";
    // The data files: a dangling link is a missing file, a FIFO is no text
    // file that can be read, size and content do not matter to the probe.
    QTest::newRow("ROUTER.CFG dangling link") << "ROUTER.CFG" << "dangling link" << "" << QStringList{question}
                                              << "TCP Port : 2323";
    QTest::newRow("ROUTER.CFG fifo") << "ROUTER.CFG" << "fifo" << unknown << none << "";
    QTest::newRow("ROUTER.CFG huge") << "ROUTER.CFG" << "huge" << "" << none << "TCP Port : 2323";
    QTest::newRow("ROUTER.CFG binary") << "ROUTER.CFG" << "binary" << "" << none << "TCP Port : 2323";
    QTest::newRow("RESPONSE.TXT dangling link") << "RESPONSE.TXT" << "dangling link" << "" << QStringList{warning}
                                                << "TCP Port : 2323";
    QTest::newRow("RESPONSE.TXT fifo") << "RESPONSE.TXT" << "fifo" << unknown << none << "";
    QTest::newRow("RESPONSE.TXT huge") << "RESPONSE.TXT" << "huge" << "" << none << "TCP Port : 2323";
    QTest::newRow("RESPONSE.TXT binary") << "RESPONSE.TXT" << "binary" << "" << none << "TCP Port : 2323";
}

// Start-up and shutdown in process: each case ends in its status or its
// message box, and no file but those it may write changes, not a byte.
void tst_HostileFiles::startup()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, status);
    QFETCH(QStringList, dialogs);
    QFETCH(QString, port);
    // Shutdown saves the position in the settings file; a link to nowhere
    // gets its target made, in a directory that was there.
    QStringList changed{"zentrel.ini"};
    if (name == "zentrel.ini")
        changed = kind == "dangling link" ? QStringList{"elsewhere", "elsewhere/missing"}
                  : kind == "huge" || kind == "binary" ? QStringList{"zentrel.ini"}
                                                       : QStringList{};

    tests::ScratchDir dir;
    const QByteArray ini = "[Settings]\r\nTCP-Port=2323\r\nDelay=0.25\r\n";
    dir.write("zentrel.ini", ini);
    dir.write("ROUTER.CFG", tests::DefaultRouterConfig);
    dir.write("RESPONSE.TXT", Script);
    QVERIFY(QDir(dir.path()).mkdir("elsewhere"));
    // A huge settings file: 100 MB of zero bytes, then its section on a line of its own.
    const QByteArray tail = name == "zentrel.ini" ? "\r\n" + ini : QByteArray();
    QVERIFY(makeKind(dir.file(name), kind, tail));
    const QMap<QString, QString> before = snapshot(dir.path());

    Rig rig;   // answers No to the question about ROUTER.CFG
    app::startup(rig.form, rig.platform, rig.shared);

    QStringList shown;
    for (const auto &box : rig.dialogs.shown)
        shown << QString::fromStdString(box.text);
    QCOMPARE(shown, dialogs);
    QCOMPARE(QString::fromStdString(rig.form.LBL_titre.caption()), status);
    QCOMPARE(rig.form.LBL_titre.visible(), !status.isEmpty());
    QCOMPARE(rig.network.listening(), status.isEmpty());
    if (status.isEmpty())
        QCOMPARE(QString::fromStdString(rig.form.LBL_Port.caption()), port);
    QCOMPARE(rig.files.alive(), 0);

    rig.form.close();   // the window's unload: shutdown writes the position
    QVERIFY(rig.form.unloaded());

    const QMap<QString, QString> after = snapshot(dir.path());
    for (auto entry = before.begin(); entry != before.end(); ++entry)
        if (!changed.contains(entry.key()))
            QVERIFY2(after.value(entry.key()) == entry.value(), qPrintable(entry.key() + " changed"));
    for (const QString &added : after.keys())
        QVERIFY2(before.contains(added) || changed.contains(added), qPrintable(added + " created"));

    // What was written keeps every byte that was there, in order, and adds
    // only its keys.
    const QString settings = changed.value(changed.size() - 1);
    if (!settings.isEmpty()) {
        const QByteArray bytes = dir.read(settings);
        const QByteArray position = "PositionX=0\r\nPositionY=0\r\n";
        if (name != "zentrel.ini") {
            QCOMPARE(bytes, ini + position);
        } else if (kind == "huge") {
            QCOMPARE(QFileInfo(dir.file(settings)).size(), Huge + tail.size() + position.size());
            QVERIFY(bytes.endsWith(tail + position));
        } else if (kind == "binary") {
            QVERIFY(bytes.startsWith(binary(53, 1 << 16)));
            const QByteArray added = bytes.mid(1 << 16);
            QVERIFY2(added.contains("[Settings]") && added.contains("TCP-Port=1101")
                         && added.contains("PositionY=0"), added.constData());
        } else {
            QCOMPARE(bytes, QByteArray("[Settings]\nTCP-Port=1101\nPositionX=0\nPositionY=0\n"));
        }
    }
    if (kind == "dangling link")
        QVERIFY(QFileInfo(dir.file(name)).isSymLink());
    for (const QString &file : {QString("zentrel.ini"), QString("ROUTER.CFG"), QString("RESPONSE.TXT")})
        QFile::remove(dir.file(file));   // the 100 MB go at once
}

void tst_HostileFiles::serving_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory") << "directory";
    QTest::newRow("dangling link") << "dangling link";
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("fifo with a writer that writes nothing") << "idle fifo";
    QTest::newRow("huge") << "huge";
    QTest::newRow("binary") << "binary";
}

// RESPONSE.TXT turned into something else while Zentrel runs: the next
// client gets what can be read of it (nothing at all when it cannot be
// read) and its close, Zentrel goes on, and the client after it, with the
// script back, is served byte-exact. Nothing Zentrel did not create changes.
void tst_HostileFiles::serving()
{
    QFETCH(QString, kind);
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(Script, "0");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QString script = zentrel.file("RESPONSE.TXT");
    QVERIFY(QDir(zentrel.directory()).mkdir("elsewhere"));
    QVERIFY(makeKind(script, kind == "idle fifo" ? "fifo" : kind));
    int writer = -1;
    if (kind == "idle fifo")   // both ends, so that the open never waits
        writer = ::open(QFile::encodeName(script).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    QByteArray expected;
    if (kind == "huge")
        expected = QByteArray(int(Huge), '\0');
    if (kind == "binary")
        expected = wireOf(binary(53, 1 << 16));
    QMap<QString, QString> before = snapshot(zentrel.directory());
    before.remove("zentrel.ini");   // the position is saved at the exit

    QByteArray received;
    const bool ended = tests::fetch(zentrel.port(), received, Generous);
    if (writer >= 0)
        ::close(writer);
    QVERIFY2(ended, "Zentrel did not end the connection");
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);
    QVERIFY(zentrel.running());

    QMap<QString, QString> after = snapshot(zentrel.directory());
    after.remove("zentrel.ini");
    QCOMPARE(after, before);

    QFile::remove(script);
    QDir().rmdir(script);
    zentrel.write("RESPONSE.TXT", Script);
    QVERIFY(tests::fetch(zentrel.port(), received, Generous));
    QCOMPARE(received, Wire);
    QVERIFY2(zentrel.terminate(Generous), zentrel.output().constData());
    QCOMPARE(zentrel.output(), QByteArray());
    QVERIFY(zentrel.read("zentrel.ini").startsWith("[Settings]\r\nTCP-Port="));
}

void tst_HostileFiles::routerConfigYes_touchesNothingItDidNotCreate_data()
{
    QTest::addColumn<QString>("atProbe");      // what ROUTER.CFG is when start-up looks
    QTest::addColumn<QString>("whileAsked");   // what appears under the name while the question waits
    QTest::newRow("dangling link out of the directory") << "dangling link" << "";
    QTest::newRow("link to a file planted while asked") << "" << "link";
    QTest::newRow("dangling link planted while asked") << "" << "dangling link";
    QTest::newRow("file written while asked") << "" << "file";
}

// Yes to the question creates ROUTER.CFG only under a free name: anything
// that holds the name by then, or that a link names, stays as it was, and
// the operator is told the file could not be created.
void tst_HostileFiles::routerConfigYes_touchesNothingItDidNotCreate()
{
    QFETCH(QString, atProbe);
    QFETCH(QString, whileAsked);
    tests::ScratchDir dir;
    dir.write("zentrel.ini", "[Settings]\r\nTCP-Port=2323\r\n");
    dir.write("RESPONSE.TXT", Script);
    QVERIFY(QDir(dir.path()).mkdir("elsewhere"));
    dir.write("elsewhere/victim", "precious");
    if (!atProbe.isEmpty())
        QVERIFY(makeKind(dir.file("ROUTER.CFG"), atProbe));

    struct PlantingDialogs : tests::FakeDialogs {
        std::function<void()> plant;
        Answer messageBox(const std::string &text, const std::string &title, Icon icon,
                          Buttons buttons) override
        {
            if (text == ConfigQuestion && plant)
                plant();
            return FakeDialogs::messageBox(text, title, icon, buttons);
        }
    } dialogs;
    dialogs.answers = {Answer::Yes};
    dialogs.plant = [&] {
        if (whileAsked == "link")
            QFile::link("elsewhere/victim", dir.file("ROUTER.CFG"));
        else if (whileAsked == "dangling link")
            makeKind(dir.file("ROUTER.CFG"), whileAsked);
        else if (whileAsked == "file")
            dir.write("ROUTER.CFG", "the operator's own");
    };
    Rig rig;
    platform::Platform platform{rig.network, rig.platform.profile, rig.platform.files,
                                rig.loop, dialogs, rig.guard};
    app::startup(rig.form, platform, rig.shared);
    const QMap<QString, QString> after = snapshot(dir.path());

    QCOMPARE(dialogs.shown.size(), std::size_t(2));
    QVERIFY2(QString::fromStdString(dialogs.shown[1].text).startsWith("The Router.cfg file could not be created"),
             dialogs.shown[1].text.c_str());
    QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(rig.network.listening());
    QCOMPARE(dir.read("elsewhere/victim"), QByteArray("precious"));
    QVERIFY(!QFile::exists(dir.file("elsewhere/missing")));
    if (whileAsked == "file")
        QCOMPARE(dir.read("ROUTER.CFG"), QByteArray("the operator's own"));
    else
        QVERIFY(QFileInfo(dir.file("ROUTER.CFG")).isSymLink());
    QCOMPARE(after.keys(), (QStringList{"RESPONSE.TXT", "ROUTER.CFG", "elsewhere", "elsewhere/victim",
                                        "zentrel.ini"}));
}

QTEST_MAIN(tst_HostileFiles)
#include "tst_hostile_files.moc"
