#include "file_helpers.h"
#include "file_io.h"
#include "recovery_file.h"
#include "save.h"
#include "session.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>
#include <thread>

#ifdef Q_OS_LINUX
#include <csignal>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace hostally;

namespace {

// The computer the tests save as.
const Computer kHere {"aaaaaaaa", "here"};

// The files in `folder` but the log of saves, which every save keeps.
QStringList filesLeft(const QString &folder)
{
    QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    files.removeAll("data.txt.log-aaaaaaaa");
    return files;
}

const QByteArray kOld = "\"North\"\r\n4\r\n\"South\"\r\n0\r\n\"West\"\r\n7\r\n\"Quiz\"\r\n3\r\n";

// kOld with Quiz's count and name as given.
QByteArray withQuiz(int count, const QByteArray &name = "Quiz")
{
    return kOld.left(kOld.indexOf("\"Quiz")) + "\"" + name + "\"\r\n" + QByteArray::number(count)
        + "\r\n";
}

// A window that read kOld and counted Quiz once.
SaveRequest quizCounted()
{
    SaveRequest request;
    request.base = kOld;
    parseDataFile(kOld.toStdString(), request.window.leagues, request.window.events);
    const Tallies base = request.window;
    request.window.events.add(0);
    request.batch = diff(base, request.window);
    return request;
}

// Saves `leagues` and `events` over the data file at `path` as the window
// does once the user answered Yes: whatever the file holds now.
Status saveOver(const QString &path, const TallyTable &leagues, const TallyTable &events)
{
    SaveRequest request;
    readFile(path, request.base);
    request.window = {leagues, events};
    request.answers.replace = true;
    return saveTallies(path, kHere, request).status;
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

Tallies talliesOf(const QByteArray &bytes)
{
    Tallies tallies;
    if (!parseDataFile(bytes.toStdString(), tallies.leagues, tallies.events).ok)
        qFatal("test data does not parse: %s", bytes.constData());
    return tallies;
}

// kOld as a window read it, with one league and three events added since,
// and when `resetEvents`, the events reset before.
Recovery kOldRecovery(bool resetEvents = false)
{
    Recovery recovery;
    recovery.id = "0123456789abcdef";
    recovery.writtenMs = 1'765'000'000'000;
    Tallies window = talliesOf(kOld);
    window.leagues.add(0);
    for (int i = 0; i < 3; ++i)
        window.events.add(0);
    recovery.batch = diff(talliesOf(kOld), window, {false, resetEvents});
    return recovery;
}

// A recovery file of the form before ids, as that Hostally wrote it: the
// window's counts as `batch` leaves kOld, or `window` when given, its
// computer line and the lines after the Resets.
QByteArray olderForm(const Batch &batch, std::string window = {},
    const QByteArray &computer = "computer beta\r\n",
    const QByteArray &after = "saving data.txt.new-1a2b\r\nincludes 42 data.txt.unsaved-2\r\n")
{
    const Tallies counted = apply(batch, talliesOf(kOld), RefusedReset::Zeros).tallies;
    if (window.empty())
        window = formatDataFile(counted.leagues, counted.events);
    return "Hostally unsaved counts, form 1\r\nwritten 1765000000000\r\n" + computer
        + "changes 4\r\nreset leagues 0\r\nreset events "
        + QByteArray::number(int(batch.resets.events)) + "\r\n" + after + "base "
        + QByteArray::number(kOld.size()) + "\r\n" + kOld + "\r\nwindow "
        + QByteArray::number(int(window.size())) + "\r\n" + QByteArray::fromStdString(window)
        + "\r\n";
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

// Runs `act` as nobody, a member of group 100 too, when the test runs as
// root, so that file permissions bind it. Real ids change too, since Qt asks
// access(2), which checks them; the saved ids bring root back.
template<typename Act> Status asNobody(Act act)
{
#ifdef Q_OS_LINUX
    const bool root = geteuid() == 0;
    const gid_t groups[] = {100};
    if (root
        && (setgroups(1, groups) != 0 || setresgid(65534, 65534, 0) != 0
            || setresuid(65534, 65534, 0) != 0))
        qFatal("cannot act as nobody");
    const Status status = act();
    if (root && (setresuid(0, 0, 0) != 0 || setresgid(0, 0, 0) != 0 || setgroups(0, nullptr) != 0))
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
    void loadFails_data();
    void loadFails();
    void onlyAPlainFileIsData_data();
    void onlyAPlainFileIsData();
    void saveFails_data();
    void saveFails();
    void saveTalliesOnTheFileAsItIs_data();
    void saveTalliesOnTheFileAsItIs();
    void saveKeepsGroupAndLinks_data();
    void saveKeepsGroupAndLinks();
    void recoveryFileRoundTrip_data();
    void recoveryFileRoundTrip();
    void restoreIntoChangedFile_data();
    void restoreIntoChangedFile();
    void recoveryFilesOfRunningWindows();
    void conflictCopiesFound();
    void restoredFileNamedByAnother_data();
    void restoredFileNamedByAnother();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void TestDataFile::init()
{
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath("data.txt");
    // Undo what the last test left: nobody may enter and write the folder, and
    // data.txt and the files beside it go, be it a read-only file, a FIFO, a
    // folder or a link.
    QFile::setPermissions(m_dir.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther);
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    QDir(m_dir.path()).rmdir("data.txt");
    QFile::remove(m_path);
    for (const QString &left :
        QDir(m_dir.path()).entryList({"data.txt.*", "target.txt*"}, QDir::Files))
        QFile::remove(m_dir.filePath(left));
#ifdef Q_OS_LINUX
    alarm(0); // a test's timer against waiting forever
#endif
}

void TestDataFile::loadFails_data()
{
    QTest::addColumn<QString>("given"); // the path that opens data.txt; %1 is its folder
    QTest::addColumn<QByteArray>("bytes"); // data.txt's, "" for none
    QTest::addColumn<QString>("message"); // after the path as messages show it
    const QByteArray bad = kOld + "\"Relay\"\r\nabc\r\n";
    // The path in messages is the one that opened the file, cleaned and in
    // the platform's form.
    QTest::newRow("a bad line") << "%1/data.txt" << bad << ":10: expected a count, found abc";
    QTest::newRow("a bad line, a doubled separator as in a drive's root folder")
        << "%1//data.txt" << bad << ":10: expected a count, found abc";
    QTest::newRow("a bad line, a dot folder")
        << "%1/./data.txt" << bad << ":10: expected a count, found abc";
    QTest::newRow("no file") << "%1/data.txt" << QByteArray()
                             << ": cannot open the file for reading: No such file or directory";
    QTest::newRow("a file its user cannot read")
        << "%1/data.txt" << kOld << ": cannot open the file for reading: Permission denied";
}

// A load that fails says why, naming the file, and leaves the tables and the
// file as they were. As root it runs as nobody.
void TestDataFile::loadFails()
{
    QFETCH(QString, given);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const bool unreadable = message.endsWith("Permission denied");
#ifndef Q_OS_LINUX
    if (unreadable)
        QSKIP("takes away owner permissions, which Windows files do not have");
#endif
    QVERIFY(bytes.isEmpty() || writeAll(m_path, bytes));
    if (unreadable)
        QFile::setPermissions(m_path, QFileDevice::WriteOwner);
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    const Status status
        = asNobody([&] { return loadDataFile(given.arg(m_dir.path()), leagues, events); });
    QVERIFY(!status.ok);
    const QString text = QString::fromStdString(status.toString());
    QString expected = QDir::toNativeSeparators(m_path) + message;
#ifndef Q_OS_LINUX
    // The reason is the system's own words, which differ between systems.
    if (bytes.isEmpty() && text.startsWith(expected.left(expected.lastIndexOf(": ") + 2)))
        expected = text;
#endif
    QCOMPARE(text, expected);
    QCOMPARE(leagues.used() + events.used(), 0);
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(QFile::exists(m_path), !bytes.isEmpty());
    QVERIFY(bytes.isEmpty() || readAll(m_path) == bytes);
}

void TestDataFile::onlyAPlainFileIsData_data()
{
    QTest::addColumn<QString>("kind"); // what data.txt is
    QTest::addColumn<QString>("message"); // why it is refused; empty when it is not
    QTest::newRow("a folder") << QString("folder") << "it is a folder, not a plain file";
    QTest::newRow("a FIFO") << QString("FIFO")
                            << "it is a pipe, socket or device, not a plain file";
    QTest::newRow("a link to a plain file: read, and saved through the link")
        << QString("link") << "";
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
    const Status saved = saveOver(m_path, leagues, events);
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

void TestDataFile::saveFails_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message"); // %1 is the folder holding data.txt
    auto row = [](const char *name, const char *fault, const char *message) {
        QTest::newRow(name) << fault << message;
    };
    row("the folder is missing", "missing folder",
        "cannot open the file for reading: No such file or directory");
#ifdef Q_OS_WIN
    // Windows takes no owner permissions from folders; files are read-only.
    row("data.txt is read-only", "read-only file",
        "the file cannot be written: it is read-only (untick Read-only in its Properties)");
#else
    row("the folder is read-only", "read-only folder",
        "the folder %1 cannot be written: Permission denied");
    row("data.txt is read-only", "read-only file", "the file cannot be written: Permission denied");
    // Then Qt's words for EFBIG.
    row("writes fail past a size limit, as on a full disk", "size limit",
        "cannot write the file: ");
    row("a real full disk: a small tmpfs", "tmpfs",
        "cannot write the file: No space left on device");
#endif
}

// A save that fails says which of the file and its folder refused, or that
// the disk is full, in the program's words, with the file's path and the
// system's reason once each, and keeps the old file; once the fault is gone
// the same tables save. As root it runs as nobody, who owns data.txt as a
// user owns theirs.
void TestDataFile::saveFails()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString dir = fault == "missing folder" ? folder.filePath("gone") : folder.path();
    const QString path = dir + "/data.txt";
    const auto writable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
        | QFile::WriteOther | QFile::ExeOther;
    QFile::setPermissions(folder.path(), writable);
#ifdef Q_OS_LINUX
    const QByteArray where = QFile::encodeName(dir);
    if (fault == "tmpfs" && geteuid() != 0)
        QSKIP("mounting a small tmpfs needs root");
    // Room for the old file, the save's lock and the new file once the filler
    // is gone.
    if (fault == "tmpfs" && mount("tmpfs", where.constData(), "tmpfs", 0, "size=16k") != 0)
        QSKIP(qPrintable("cannot mount a tmpfs here: " + QString::fromLocal8Bit(strerror(errno))));
#endif
    if (fault != "missing folder") {
        QVERIFY(writeAll(path, kOld));
#ifdef Q_OS_LINUX
        QVERIFY(geteuid() != 0 || chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
#endif
    }
    if (fault == "tmpfs") {
        QFile filler(dir + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size() && filler.flush()) { }
    }
    if (fault == "read-only folder")
        QFile::setPermissions(
            dir, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    if (fault == "read-only file")
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther);
    TallyTable leagues(kLeagueCapacity);
    TallyTable events(kEventCapacity);
    bigTables(leagues, events);
    const Status status = asNobody([&] {
#ifdef Q_OS_LINUX
        std::optional<FileSizeLimit> limit;
        if (fault == "size limit")
            limit.emplace(static_cast<rlim_t>(kOld.size()) + 100);
#endif
        return saveOver(path, leagues, events);
    });
    const QByteArray kept = readAll(path);
    QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    left.removeOne("filler");
    QFile::remove(dir + "/filler");
    QFile::setPermissions(dir, writable);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const Status retry = asNobody([&] { return saveOver(path, leagues, events); });
    const QByteArray written = readAll(path);
#ifdef Q_OS_LINUX
    if (fault == "tmpfs")
        umount2(where.constData(), MNT_DETACH);
#endif

    QVERIFY(!status.ok);
    const QString text = QString::fromStdString(status.toString());
    QString expected = QDir::toNativeSeparators(path) + ": "
        + message.replace("%1", QDir::toNativeSeparators(dir));
#ifndef Q_OS_LINUX
    // There the system says in its own words why a folder is missing.
    if (fault == "missing folder")
        expected = expected.left(expected.lastIndexOf(": ") + 2);
#endif
    QCOMPARE(expected.endsWith(": ") ? text.left(expected.size()) : text, expected);
    if (fault == "missing folder") {
        QVERIFY(!QFile::exists(dir));
        return;
    }
    QCOMPARE(kept, kOld);
    QCOMPARE(left, QStringList {"data.txt"});
    QVERIFY2(retry.ok, retry.toString().c_str());
    QCOMPARE(written, QByteArray::fromStdString(formatDataFile(leagues, events)));
}

void TestDataFile::recoveryFileRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error"); // empty when it reads back as written
    Recovery saving = kOldRecovery(true);
    saving.consumes = {"5e1f", "77aa"};
    const QByteArray good = QByteArray::fromStdString(formatRecovery(saving));
    const QByteArray older = olderForm(kOldRecovery(true).batch);
    Tallies renamed = talliesOf(kOld);
    renamed.events.setEntry(0, "Quiz night", 6);
    QTest::newRow("as written") << good << QString();
    QTest::newRow("the older form, as Hostally wrote it before ids") << older << QString();
    QTest::newRow("another file") << kOld << "it is not a file of unsaved counts Hostally wrote";
    QTest::newRow("cut short") << good.chopped(3) << "it is incomplete or damaged";
    QTest::newRow("a byte more") << good + "x"
                                 << "it is incomplete or damaged";
    QTest::newRow("a line no form has")
        << QByteArray(good).replace("line E", "lane E") << "it is incomplete or damaged";
    QTest::newRow("older: a computer without its name")
        << QByteArray(older).replace("computer beta", "computer ") << "it is incomplete or damaged";
    QTest::newRow("older: an included file without its time")
        << QByteArray(older).replace("includes 42 ", "includes ") << "it is incomplete or damaged";
    QTest::newRow("older: window names not the base's")
        << olderForm({}, formatDataFile(renamed.leagues, renamed.events))
        << "the counts in it are damaged";
}

void TestDataFile::recoveryFileRoundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    Recovery read;
    read.writtenMs = -1;
    const Status status = parseRecovery(bytes.toStdString(), read);
    QCOMPARE(QString::fromStdString(status.message), error.isEmpty() ? QString() : error);
    if (!error.isEmpty()) {
        QCOMPARE(read.writtenMs, -1);
        return;
    }
    const Recovery written = kOldRecovery(true);
    QCOMPARE(read.writtenMs, written.writtenMs);
    QCOMPARE(changeCount(read.batch), 3); // the Reset, North and Quiz
    QVERIFY(apply(read.batch, talliesOf(kOld), RefusedReset::Zeros).tallies
        == apply(written.batch, talliesOf(kOld), RefusedReset::Zeros).tallies);
    const bool older = bytes.startsWith("Hostally unsaved counts, form 1");
    QCOMPARE(read.id, older ? std::string("form1-1765000000000") : written.id);
    QVERIFY(read.consumes == (older ? std::vector<std::string>() : std::vector<std::string> {"5e1f", "77aa"}));
    QCOMPARE(read.computer, std::string(older ? "beta" : ""));
    QCOMPARE(read.saving, std::string(older ? "data.txt.new-1a2b" : ""));
    QCOMPARE(read.includes.size(), std::size_t(older ? 1 : 0));
}

void TestDataFile::restoreIntoChangedFile_data()
{
    QTest::addColumn<QByteArray>("now");
    QTest::addColumn<QByteArray>("restored");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<bool>("resetEvents");
    const QByteArray leagues = "\"North\"\r\n5\r\n\"South\"\r\n0\r\n\"West\"\r\n7\r\n";
    const QByteArray counted = QByteArray(kOld).replace("\"Quiz\"\r\n3", "\"Quiz\"\r\n10");
    auto row = [](const char *name, const QByteArray &now, const QByteArray &restored,
                   const QStringList &refused, bool resetEvents) {
        QTest::newRow(name) << now << restored << refused << resetEvents;
    };
    row("as the window read it", kOld, leagues + "\"Quiz\"\r\n6\r\n", {}, false);
    row("counted elsewhere since", counted, leagues + "\"Quiz\"\r\n13\r\n", {}, false);
    row("renamed since: the league's change still goes in",
        QByteArray(kOld).replace("Quiz", "Quiz night"), leagues + "\"Quiz night\"\r\n3\r\n",
        {"Quiz"}, false);
    row("events reset, counted elsewhere since: the Reset refused, the list left alone", counted,
        leagues + "\"Quiz\"\r\n10\r\n", {""}, true);
}

void TestDataFile::restoreIntoChangedFile()
{
    QFETCH(QByteArray, now);
    QFETCH(QByteArray, restored);
    QFETCH(QStringList, refused);
    QFETCH(bool, resetEvents);
    const Applied result
        = apply(kOldRecovery(resetEvents).batch, talliesOf(now), RefusedReset::ListKept);
    QCOMPARE(
        QByteArray::fromStdString(formatDataFile(result.tallies.leagues, result.tallies.events)),
        restored);
    QStringList names;
    for (const Refusal &refusal : result.refused)
        names.append(QString::fromStdString(refusal.line.name));
    QCOMPARE(names, refused);
    QCOMPARE(result.resets.events, resetEvents && refused.isEmpty());
}

// Each window has a file of its own; none is offered while its window runs,
// and a window that ended leaves its file to the next one that starts.
void TestDataFile::recoveryFilesOfRunningWindows()
{
    const std::string bytes = formatRecovery(kOldRecovery());
    const QString mine = m_path + ".unsaved-aaaaaaaa";
    RecoveryFile first(m_path, kHere.id);
    auto second = std::make_unique<RecoveryFile>(m_path, kHere.id);
    QVERIFY(first.writeNow(bytes).ok);
    second->post(bytes);
    QTRY_COMPARE(second->path(), mine + "-2");
    QTRY_VERIFY(QFile::exists(second->path()));
    // A later change, posted while the writer thread runs. The wait, without
    // a call that takes the file's mutex, lets ThreadSanitizer see a post
    // that does not take it either.
    const std::string reset = formatRecovery(kOldRecovery(true));
    second->post(reset);
    QTest::qWait(200);
    QTRY_COMPARE(readAll(second->path()), QByteArray::fromStdString(reset));
    second->post(bytes);
    QVERIFY(second->writeNow(bytes).ok);
    QVERIFY(findLeftRecoveries(m_path, kHere.id).empty());
    second.reset();
    std::vector<Offer> left = findLeftRecoveries(m_path, kHere.id);
    QCOMPARE(left.size(), std::size_t(1));
    QCOMPARE(left[0].path, mine + "-2");
    // A file left there is not the next window's to write over.
    left.clear();
    RecoveryFile third(m_path, kHere.id);
    QVERIFY(third.writeNow(bytes).ok);
    QCOMPARE(third.path(), mine + "-3");
    QVERIFY(first.writeNow({}).ok && third.writeNow({}).ok);
    QVERIFY(first.path().isEmpty() && !QFile::exists(mine + ".lock"));
    // Another computer's, brought by a sync program, even with this one's host
    // name, is that computer's to offer; one of the older form names its
    // computer by host name.
    QVERIFY(writeAll(m_path + ".unsaved-bbbbbbbb", QByteArray::fromStdString(bytes)));
    QVERIFY(writeAll(m_path + ".unsaved", olderForm(kOldRecovery().batch)));
    const auto offered = [this](const Computer &computer) {
        QStringList names;
        for (const Offer &offer : Session(m_path, computer).leftOffers())
            names.append(QFileInfo(offer.path).fileName());
        return names;
    };
    QCOMPARE(offered(kHere), QStringList {"data.txt.unsaved-aaaaaaaa-2"});
    QCOMPARE(offered({"bbbbbbbb", "beta"}),
        (QStringList {"data.txt.unsaved-bbbbbbbb", "data.txt.unsaved"}));
}

// The names each sync program gives its copy of data.txt, and names it never gives one.
void TestDataFile::conflictCopiesFound()
{
    const QStringList copies {"data (Ann's conflicted copy 2026-12-09).txt",
        QString::fromUtf16(u"data (Ann\u2019s conflicted copy 2026-12-09 (1)).txt"),
        "data (conflicted copy 2026-12-09 074240).txt", "data-laptop.txt",
        "data.sync-conflict-20261209-074240-7ITJG26.txt"};
    for (const QString &name : copies
            + QStringList {"data (1).txt", "data-backup.txt", "data.sync-conflict-2026-x.txt",
                "data.txt.unsaved", "data-laptop.txt.tmp"})
        QVERIFY(writeAll(m_dir.filePath(name), kOld));
    Log laptop;
    laptop.computer = "cccccccc";
    laptop.name = "LAPTOP";
    QVERIFY(writeAll(m_path + ".log-cccccccc", QByteArray::fromStdString(formatLog(laptop))));
    QStringList found;
    for (const QString &path : findConflictCopies(m_path, readLogs(m_path)))
        found.append(QFileInfo(path).fileName());
    QCOMPARE(found, copies);
}

void TestDataFile::restoredFileNamedByAnother_data()
{
    QTest::addColumn<QString>("form"); // of both files: ids, or the older form's names and times
    QTest::addColumn<qint64>("named"); // the time the second names the first by (older form)
    QTest::addColumn<bool>("held"); // the second is locked by a Hostally starting now
    QTest::addColumn<QStringList>("offered"); // by slot, 1 or 2
    QTest::addColumn<bool>("firstStays");
    QTest::addColumn<QByteArray>("saved"); // data.txt once every offer is restored and saved
    const qint64 written = kOldRecovery().writtenMs;
    // Each file adds 1 to North and 3 to Quiz.
    const auto counts = [](int north, int quiz) {
        return withQuiz(quiz).replace(
            "\"North\"\r\n4", "\"North\"\r\n" + QByteArray::number(north));
    };
    for (const char *form : {"ids", "older"}) {
        QTest::addRow("%s: both left, the first in the second", form)
            << form << written << false << QStringList {"2"} << false << counts(5, 6);
        QTest::addRow("%s: the second held elsewhere, the first offered by no one", form)
            << form << written << true << QStringList {} << false << kOld;
        QTest::addRow("%s: two windows' files, neither naming the other: both offered, once", form)
            << form << qint64(-1) << false << QStringList {"1", "2"} << true << counts(6, 9);
    }
    QTest::newRow("older: named as it was earlier, a file written since in its slot")
        << "older" << written - 1 << false << QStringList {"1", "2"} << true << counts(6, 9);
}

// A window that restored a left file into its own holds its id there until
// it is gone; a crash between the two writes must not offer those counts twice.
void TestDataFile::restoredFileNamedByAnother()
{
    QFETCH(QString, form);
    QFETCH(qint64, named);
    QFETCH(bool, held);
    QFETCH(QStringList, offered);
    QFETCH(bool, firstStays);
    QFETCH(QByteArray, saved);
    const bool older = form == "older";
    const QString files[] = {m_path + (older ? ".unsaved" : ".unsaved-aaaaaaaa"),
        m_path + (older ? ".unsaved-2" : ".unsaved-aaaaaaaa-2")};
    Recovery second = kOldRecovery();
    second.id = "fedcba9876543210";
    if (named >= 0)
        second.consumes = {kOldRecovery().id};
    QVERIFY(writeAll(m_path, kOld));
    QVERIFY(writeAll(files[0],
        older ? olderForm(kOldRecovery().batch, {}, "", "")
              : QByteArray::fromStdString(formatRecovery(kOldRecovery()))));
    QVERIFY(writeAll(files[1],
        older ? olderForm(kOldRecovery().batch, {}, "",
                    named < 0 ? "" : "includes " + QByteArray::number(named) + " data.txt.unsaved\r\n")
              : QByteArray::fromStdString(formatRecovery(second))));
    QLockFile other(files[1] + ".lock");
    QVERIFY(!held || other.tryLock(0));
    {
        Session session(m_path, kHere);
        QVERIFY(session.load().ok);
        std::vector<Offer> offers = session.leftOffers();
        QCOMPARE(QFile::exists(files[0]), firstStays);
        QStringList paths;
        for (Offer &offer : offers) {
            paths.append(offer.path == files[0] ? "1" : "2");
            QVERIFY(session.answer(offer, OfferAnswer::Restore).refused.empty());
        }
        QCOMPARE(paths, offered);
        QVERIFY(session.save().saved);
    }
    QCOMPARE(readAll(m_path), saved);
    QVERIFY(Session(m_path, kHere).leftOffers().empty()); // none offered again
}

void TestDataFile::saveTalliesOnTheFileAsItIs_data()
{
    QTest::addColumn<QByteArray>("before"); // data.txt when the save starts
    QTest::addColumn<QString>("meanwhile"); // what else happens
    QTest::addColumn<QString>("outcome"); // of the last call: saved, question or failed
    QTest::addColumn<QByteArray>("after"); // data.txt after the save
    auto row = [](const char *name, const QByteArray &before, const char *meanwhile,
                   const char *outcome, const QByteArray &after) {
        QTest::newRow(name) << before << meanwhile << outcome << after;
    };
    const QByteArray trivia = withQuiz(3, "Trivia");
    row("unchanged: the window's tables written", kOld, "", "saved", withQuiz(4));
    row("another save added 2: both counts kept", withQuiz(5), "", "saved", withQuiz(6));
    row("Quiz renamed: a question, the file untouched", trivia, "", "question", trivia);
    row("Quiz renamed, answered Yes: the file's line kept as it is", trivia, "answer", "saved",
        trivia);
    row("renamed back while the question was up: read again and merged", trivia,
        "answer after another save", "saved", withQuiz(6));
    row("the disk fails its sync: nothing replaced", kOld, "sync fails", "failed", kOld);
    row("the log cannot be written: nothing replaced", kOld, "log fails", "failed", kOld);
    row("the folder's sync fails after the swap: saved, with a warning", kOld, "folder sync fails",
        "saved", withQuiz(4));
    row("another save holds the lock: this one waits and adds to it", kOld, "locked", "saved",
        withQuiz(6));
    row("another save holds the lock past the wait: failed, the file untouched", kOld,
        "locked past the wait", "failed", kOld);
    row("a lock left by a Hostally ended on another computer, older than the stale time: taken "
        "over",
        kOld, "stale lock from elsewhere", "saved", withQuiz(4));
    row("the save's lock file deleted meanwhile: saved, without a warning", kOld, "lock deleted",
        "saved", withQuiz(4));
    row("a byte-order mark, as Notepad writes it, kept", "\xEF\xBB\xBF" + kOld, "", "saved",
        "\xEF\xBB\xBF" + withQuiz(4));
}

// The save adds the window's one Quiz to data.txt as it is while the save
// holds the lock, and leaves nothing beside it.
void TestDataFile::saveTalliesOnTheFileAsItIs()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, meanwhile);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, after);
    QVERIFY(writeAll(m_path, before));
    SaveRequest request = quizCounted();
    std::thread otherSave;
    QLockFile lock(m_path + ".lock");
    SaveHooks hooks;
    if (meanwhile == "locked past the wait") {
        QVERIFY(lock.tryLock(0));
        hooks.waits.lockWaitMs = 2000;
    }
    if (meanwhile == "stale lock from elsewhere") {
        // A lock as QLockFile writes it (process id, program, computer), 5
        // seconds old: taken over at once, or the save fails after its wait.
        QVERIFY(lock.tryLock(0));
        QStringList info = QString::fromUtf8(readAll(m_path + ".lock")).split('\n');
        lock.unlock();
        info[2] = "another-computer";
        QFile left(m_path + ".lock");
        QVERIFY(left.open(QIODevice::WriteOnly) && left.write(info.join('\n').toUtf8()) > 0
            && left.flush());
        QVERIFY(left.setFileTime(
            QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
        hooks.waits.staleLockMs = 2000;
        hooks.waits.lockWaitMs = 1000;
    }
    if (meanwhile == "locked") {
        // Another save, here in a thread, that adds 2 while it holds the lock.
        QVERIFY(lock.tryLock(0));
        otherSave = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            writeAll(m_path, withQuiz(5));
            lock.unlock();
        });
    }
    // QLockFile's own warning about a lock file it cannot delete never
    // reaches stderr.
    QTest::failOnWarning(QRegularExpression("lock file"));
    setFileHookForTesting([&](FileStep step, const QString &path) {
        if (meanwhile == "lock deleted" && step == FileStep::Written)
            QFile::remove(m_path + ".lock");
        const bool data = path == m_path;
        const bool fails = (meanwhile == "sync fails" && step == FileStep::Written && data)
            || (meanwhile == "folder sync fails" && step == FileStep::Swapped && data)
            || (meanwhile == "log fails" && step == FileStep::Start && !data);
        return fails ? Injected::Fail : Injected::Proceed;
    });
    SaveResult result = saveTallies(m_path, kHere, request, hooks);
    setFileHookForTesting({});
    if (otherSave.joinable())
        otherSave.join();
    lock.unlock();
    if (meanwhile.startsWith("answer")) {
        QCOMPARE(result.question, SaveQuestion::Refused);
        QCOMPARE(result.refusals.size(), std::size_t(1));
        QCOMPARE(result.refusals[0].kind, Refusal::Kind::NotInFile);
        if (meanwhile == "answer after another save")
            QVERIFY(writeAll(m_path, withQuiz(5)));
        request.answers.replace = true;
        result = saveTallies(m_path, kHere, request);
    }

    QCOMPARE(result.saved                           ? "saved"
            : result.question != SaveQuestion::None ? "question"
                                                    : "failed",
        outcome);
    QCOMPARE(readAll(m_path), after);
    QCOMPARE(filesLeft(m_dir.path()), QStringList {"data.txt"});
    // In the log only where it wrote a new data.txt.
    const std::vector<Log> logs = readLogs(m_path);
    QCOMPARE(logs.empty() ? 0 : int(logs[0].entries.size()), int(after != before));
    if (result.saved) {
        QCOMPARE(result.saved->bytes, after);
        QVERIFY(result.saved->tallies == talliesOf(after)); // what was written reads back
        QCOMPARE(result.saved->merged, !(talliesOf(after) == talliesOf(withQuiz(4))));
    }
    QCOMPARE(result.status.ok, outcome == "saved" && meanwhile != "folder sync fails");
    if (meanwhile == "locked past the wait")
        QCOMPARE(QString::fromStdString(result.status.toString()),
            QDir::toNativeSeparators(m_path)
                + ": another Hostally has been saving it for over 2 seconds: try again once it "
                  "is done");
    if (meanwhile == "folder sync fails")
        QCOMPARE(QString::fromStdString(result.status.toString()),
            QDir::toNativeSeparators(m_path) + ": cannot write the folder "
                + QDir::toNativeSeparators(m_dir.path()) + " to the disk: Input/output error");
}

void TestDataFile::saveKeepsGroupAndLinks_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("message"); // the start-up check's and the save's; %1 the folder
    auto row = [](const char *name, const char *situation, const char *message) {
        QTest::newRow(name) << situation << message;
    };
    row("another user's file in group 100, mode 664: group and mode kept", "group", "");
    row("a link in a read-only folder to a writable one: no warning, saved",
        "link's folder read-only", "");
    row("a link to a file in a read-only folder: that folder named", "target's folder read-only",
        "the folder %1 cannot be written: Permission denied");
}

// As nobody, a member of group 100, when run as root.
void TestDataFile::saveKeepsGroupAndLinks()
{
#ifndef Q_OS_LINUX
    QSKIP("owners, groups and links as Unix has them");
#else
    QFETCH(QString, situation);
    QFETCH(QString, message);
    if (geteuid() != 0)
        QSKIP("giving files to other users needs root");
    const QString links = m_dir.filePath("links");
    const QString files = m_dir.filePath("files");
    const QString target = files + "/data.txt";
    const auto mode = [](const QString &file, mode_t bits) {
        return chmod(QFile::encodeName(file).constData(), bits) == 0;
    };
    QVERIFY(QDir().mkpath(links) && QDir().mkpath(files));
    QVERIFY(writeAll(target, kOld));
    const QString path = situation == "group" ? target : links + "/data.txt";
    if (situation == "group") {
        QVERIFY(chown(QFile::encodeName(target).constData(), 1, 100) == 0);
        QVERIFY(mode(target, 0664));
    } else {
        QVERIFY(QFile::link(target, path));
        QVERIFY(chown(QFile::encodeName(target).constData(), 65534, 65534) == 0);
    }
    QVERIFY(mode(links, situation == "link's folder read-only" ? 0555 : 0777));
    QVERIFY(mode(files, situation == "target's folder read-only" ? 0555 : 0777));
    const SaveRequest request = quizCounted();
    SaveResult result;
    const Status check = asNobody([&] {
        result = saveTallies(path, kHere, request);
        return checkFolderWritable(path);
    });
    QVERIFY(mode(links, 0777) && mode(files, 0777));
    const QFileInfo saved(target);
    const QByteArray bytes = readAll(target);
    const auto owner = std::tuple(saved.ownerId(), saved.groupId(), saved.permissions() & 0x0777);
    const QStringList left = filesLeft(files);
    const bool link = QFileInfo(path).isSymLink();
    QDir(links).removeRecursively();
    QDir(files).removeRecursively();

    QCOMPARE(left, QStringList {"data.txt"});
    QVERIFY(link == (situation != "group"));
    if (message.isEmpty()) {
        QVERIFY2(check.ok, check.toString().c_str());
        QVERIFY2(result.saved, result.status.toString().c_str());
        QCOMPARE(bytes, withQuiz(4));
    } else {
        const QString expected = message.arg(files);
        QCOMPARE(QString::fromStdString(check.message), expected);
        QCOMPARE(QString::fromStdString(result.status.toString()), target + ": " + expected);
        QCOMPARE(bytes, kOld);
    }
    if (situation == "group")
        QVERIFY(owner == std::tuple(65534u, 100u, QFileDevice::Permissions(0x0664)));
#endif
}

QTEST_GUILESS_MAIN(TestDataFile)
#include "tst_data_file.moc"
