#include "data_file.h"
#include "platform_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace hostally;

namespace {

const QByteArray kOld = "\"North\"\r\n4\r\n\"South\"\r\n0\r\n\"West\"\r\n7\r\n\"Quiz\"\r\n3\r\n";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable: " + file.errorString().toUtf8() + ">";
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

// Tables much larger than kOld, so a save of them needs more room than it had.
void bigTables(TallyTable &leagues, TallyTable &events)
{
    leagues = TallyTable(kLeagueCapacity);
    events = TallyTable(kEventCapacity);
    for (int i = 0; i < 3; ++i)
        leagues.setEntry(i, "League " + std::to_string(i), i);
    for (int i = 0; i < 100; ++i)
        events.setEntry(i, "An event with a longish name " + std::to_string(i), i);
}

#ifdef Q_OS_LINUX
// Holds RLIMIT_FSIZE low for its lifetime, so writes past `bytes` fail with
// EFBIG as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit low = m_saved;
        low.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &low);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved {};
};
#endif

// Runs `act` as nobody when the test runs as root, so that file permissions
// bind it. Real ids change too, since Qt asks access(2), which checks them;
// the saved ids bring root back.
template<typename Act> Status asNobody(Act act)
{
#ifdef Q_OS_LINUX
    const bool root = geteuid() == 0;
    if (root && (setresgid(65534, 65534, 0) != 0 || setresuid(65534, 65534, 0) != 0))
        qFatal("cannot act as nobody");
    const Status status = act();
    if (root && (setresuid(0, 0, 0) != 0 || setresgid(0, 0, 0) != 0))
        qFatal("cannot act as root again");
    return status;
#else
    return act();
#endif
}

} // namespace

class TestDataFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void loadReportsFileAndLine_data();
    void loadReportsFileAndLine();
    void loadMissingFile();
    void onlyAPlainFileIsData_data();
    void onlyAPlainFileIsData();
    void loadUnreadableFile();
    void saveWritesExactBytesAndRoundTrips();
    void saveRefusedNamesTheCause_data();
    void saveRefusedNamesTheCause();
    void saveWhenWritesFailKeepsOldFile();
    void saveOnFullDiskKeepsOldFile();

private:
    void checkOldFileKept(const QString &dir, const Status &status);

    QTemporaryDir m_dir;
    QString m_path;
};

void TestDataFile::init()
{
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath("data.txt");
    // Undo what the last test left: nobody may enter and write the folder, and
    // data.txt goes, be it a read-only file, a FIFO, a folder or a link.
    QFile::setPermissions(m_dir.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther);
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    QDir(m_dir.path()).rmdir("data.txt");
    QFile::remove(m_path);
    QFile::remove(m_dir.filePath("target.txt"));
#ifdef Q_OS_LINUX
    alarm(0); // a test's timer against waiting forever
#endif
}

void TestDataFile::loadReportsFileAndLine_data()
{
    QTest::addColumn<QString>("given"); // the path that opens data.txt; %1 is its folder
    QTest::newRow("clean path") << "%1/data.txt";
    QTest::newRow("doubled separator, as in a drive's root folder") << "%1//data.txt";
    QTest::newRow("a dot folder") << "%1/./data.txt";
}

// The path in messages is the one that opened the file, cleaned and in the
// platform's form.
void TestDataFile::loadReportsFileAndLine()
{
    QFETCH(QString, given);
    QVERIFY(writeAll(m_path, kOld + "\"Relay\"\r\nabc\r\n"));
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    const Status status = loadDataFile(given.arg(m_dir.path()), leagues, events);
    QVERIFY(!status.ok);
    QCOMPARE(QString::fromStdString(status.toString()),
        QDir::toNativeSeparators(m_path) + ":10: expected a count, found abc");
    QCOMPARE(events.used(), 0);
    QCOMPARE(readAll(m_path), kOld + "\"Relay\"\r\nabc\r\n");
}

void TestDataFile::loadMissingFile()
{
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    const Status status = loadDataFile(m_path, leagues, events);
    QVERIFY(!status.ok);
    const QString expected
        = QDir::toNativeSeparators(m_path) + ": cannot open the file for reading: ";
#ifdef Q_OS_LINUX
    QCOMPARE(QString::fromStdString(status.toString()), expected + "No such file or directory");
#else
    // The reason is the system's own words, which differ between systems.
    QVERIFY2(
        QString::fromStdString(status.toString()).startsWith(expected), status.message.c_str());
#endif
    QVERIFY(!QFile::exists(m_path));
}

void TestDataFile::onlyAPlainFileIsData_data()
{
    QTest::addColumn<QString>("kind"); // what data.txt is
    QTest::addColumn<QString>("message"); // why it is refused; empty when it is not
    QTest::newRow("a folder") << "folder"
                              << "it is a folder, not a plain file";
    QTest::newRow("a FIFO") << "FIFO"
                            << "it is a pipe, socket or device, not a plain file";
    QTest::newRow("a link to a plain file: read, and saved through the link") << "link"
                                                                              << "";
}

// Load and save refuse anything but a plain file, and leave it as it was,
// without ever waiting on it: a FIFO opened the usual way waits for a writer.
void TestDataFile::onlyAPlainFileIsData()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString target = m_dir.filePath("target.txt");
    if (kind == "folder")
        QVERIFY(QDir(m_dir.path()).mkdir("data.txt"));
#ifdef Q_OS_LINUX
    else
        QVERIFY(kind == "FIFO" ? mkfifo(QFile::encodeName(m_path).constData(), 0600) == 0
                               : writeAll(target, kOld) && QFile::link(target, m_path));
    alarm(60); // ends the test should anything below wait
#else
    else
        QSKIP("FIFOs and symbolic links are Unix files");
#endif
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    const Status loaded = loadDataFile(m_path, leagues, events);
    bigTables(leagues, events);
    const Status saved = saveDataFile(m_path, leagues, events);
    QFile opened(m_path); // a FIFO put there after the look is opened without waiting too
    QVERIFY(kind != "FIFO" || (openForReadingWithoutBlocking(opened) && opened.isSequential()));
    QVERIFY(!QFileInfo(m_path).isFile() || QFileInfo(m_path).isSymLink()); // not replaced
    if (message.isEmpty()) {
        QVERIFY2(loaded.ok && saved.ok, (loaded.toString() + saved.toString()).c_str());
        QCOMPARE(readAll(target), QByteArray::fromStdString(formatDataFile(leagues, events)));
        return;
    }
    for (const Status &status : {loaded, saved}) {
        QCOMPARE(QString::fromStdString(status.toString()),
            QDir::toNativeSeparators(m_path) + ": " + message);
        QVERIFY(status.cause == Status::Cause::NotPlainFile);
    }
}

void TestDataFile::loadUnreadableFile()
{
#ifndef Q_OS_LINUX
    QSKIP("takes away owner permissions, which Windows files do not have");
#else
    QVERIFY(writeAll(m_path, kOld));
    QFile::setPermissions(m_path, QFileDevice::WriteOwner);
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    const Status status = asNobody([&] { return loadDataFile(m_path, leagues, events); });
    QVERIFY(!status.ok);
    QCOMPARE(QString::fromStdString(status.toString()),
        m_path + ": cannot open the file for reading: Permission denied");
#endif
}

void TestDataFile::saveWritesExactBytesAndRoundTrips()
{
    QVERIFY(writeAll(m_path, kOld));
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    QVERIFY(loadDataFile(m_path, leagues, events).ok);
    QVERIFY(saveDataFile(m_path, leagues, events).ok);
    QCOMPARE(readAll(m_path), kOld);

    events.add(0);
    leagues.remove(0);
    QVERIFY(saveDataFile(m_path, leagues, events).ok);
    QCOMPARE(readAll(m_path),
        QByteArray("\"North\"\r\n3\r\n\"South\"\r\n0\r\n\"West\"\r\n7\r\n\"Quiz\"\r\n4\r\n"));
    TallyTable leagues2(kLeagueCapacity);
    TallyTable events2(kEventCapacity);
    QVERIFY(loadDataFile(m_path, leagues2, events2).ok);
    QVERIFY(leagues2 == leagues);
    QVERIFY(events2 == events);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"data.txt"});
}

void TestDataFile::checkOldFileKept(const QString &dir, const Status &status)
{
    QVERIFY(!status.ok);
    QVERIFY2(status.file == QDir::toNativeSeparators(dir + "/data.txt").toStdString(),
        status.toString().c_str());
    QVERIFY(!status.message.empty());
    QCOMPARE(readAll(dir + "/data.txt"), kOld);
    const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QVERIFY2(left.filter("data.txt").size() == 1, qPrintable(left.join(", ")));
}

void TestDataFile::saveRefusedNamesTheCause_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message"); // %1 is the folder holding data.txt
    QTest::newRow("the folder is missing")
        << "missing folder"
        << "the folder %1 cannot be written: No such file or directory";
#ifdef Q_OS_WIN
    // Windows takes no owner permissions from folders; files are read-only.
    QTest::newRow("data.txt is read-only")
        << "read-only file"
        << "the file cannot be written: it is read-only (untick Read-only in its Properties)";
#else
    QTest::newRow("the folder is read-only")
        << "read-only folder"
        << "the folder %1 cannot be written: Permission denied. Move the Hostally folder "
           "somewhere you can write, such as your home folder.";
    QTest::newRow("data.txt is read-only") << "read-only file"
                                           << "the file cannot be written: Permission denied";
#endif
}

// A save that cannot start says which of the file and its folder refused, in
// the program's words, with the file's path and the system's reason once each.
// As root it runs as nobody, who owns data.txt as a user owns theirs.
void TestDataFile::saveRefusedNamesTheCause()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    const QString dir = fault == "missing folder" ? m_dir.filePath("gone") : m_dir.path();
    const QString path = dir + "/data.txt";
    if (fault != "missing folder") {
        QVERIFY(writeAll(path, kOld));
#ifdef Q_OS_LINUX
        QVERIFY(geteuid() != 0 || chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
#endif
    }
    if (fault == "read-only folder")
        QFile::setPermissions(
            dir, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    if (fault == "read-only file")
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther);
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    bigTables(leagues, events);
    const Status status = asNobody([&] { return saveDataFile(path, leagues, events); });

    QVERIFY(!status.ok);
    const QString text = QString::fromStdString(status.toString());
    QString expected = QDir::toNativeSeparators(path) + ": "
        + message.replace("%1", QDir::toNativeSeparators(dir));
#ifndef Q_OS_LINUX
    // There the system says in its own words why a folder is missing.
    if (fault == "missing folder" && text.startsWith(expected.left(expected.lastIndexOf(": ") + 2)))
        expected = text;
#endif
    QCOMPARE(text, expected);
    if (fault == "missing folder")
        QVERIFY(!QFile::exists(dir));
    else
        checkOldFileKept(dir, status);
}

// Writes fail part-way through, as they do on a full disk: the save must
// report it and the old file must stay.
void TestDataFile::saveWhenWritesFailKeepsOldFile()
{
#ifndef Q_OS_LINUX
    QSKIP("limits the file size with RLIMIT_FSIZE");
#else
    QVERIFY(writeAll(m_path, kOld));
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    bigTables(leagues, events);
    Status status;
    {
        FileSizeLimit limit(static_cast<rlim_t>(kOld.size()) + 100);
        status = saveDataFile(m_path, leagues, events);
    }
    checkOldFileKept(m_dir.path(), status);
    QVERIFY2(status.message.rfind("cannot write the file: ", 0) == 0, status.message.c_str());

    // Once the fault is gone the same tables save.
    QVERIFY(saveDataFile(m_path, leagues, events).ok);
    QCOMPARE(readAll(m_path), QByteArray::fromStdString(formatDataFile(leagues, events)));
#endif
}

// A real full disk: a tmpfs just large enough for the old file.
void TestDataFile::saveOnFullDiskKeepsOldFile()
{
#ifndef Q_OS_LINUX
    QSKIP("mounts a small tmpfs");
#else
    if (geteuid() != 0)
        QSKIP("mounting a small tmpfs needs root");
    QTemporaryDir mountPoint;
    QVERIFY(mountPoint.isValid());
    const QByteArray where = QFile::encodeName(mountPoint.path());
    if (mount("tmpfs", where.constData(), "tmpfs", 0, "size=8k") != 0)
        QSKIP(qPrintable("cannot mount a tmpfs here: " + QString::fromLocal8Bit(strerror(errno))));
    const QString dir = mountPoint.path();
    const QString path = dir + "/data.txt";
    QVERIFY(writeAll(path, kOld));
    // Take the rest of the space.
    QFile filler(dir + "/filler");
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(512, 'x');
    while (filler.write(block) == block.size() && filler.flush()) { }
    filler.close();

    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    bigTables(leagues, events);
    const Status status = saveDataFile(path, leagues, events);
    const QByteArray kept = readAll(path);
    const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);

    // Free the space: the save must now go through.
    QFile::remove(dir + "/filler");
    const Status retry = saveDataFile(path, leagues, events);
    const QByteArray written = readAll(path);
    umount2(where.constData(), MNT_DETACH);

    QVERIFY(!status.ok);
    QVERIFY2(status.message.find("No space left on device") != std::string::npos,
        status.message.c_str());
    QCOMPARE(kept, kOld);
    QCOMPARE(left, (QStringList {"data.txt", "filler"}));
    QVERIFY(retry.ok);
    QCOMPARE(written, QByteArray::fromStdString(formatDataFile(leagues, events)));
#endif
}

QTEST_GUILESS_MAIN(TestDataFile)
#include "tst_data_file.moc"
