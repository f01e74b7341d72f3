// Microbenchmarks of what a user waits for: loading and saving a full data
// file (3 leagues and 100 events), the save's check that nobody else changed
// the file, the lock every save takes, and one Add click with its list update;
// and what the recovery file's thread does a second after a change.
// Run build/bin/hostally_microbench; it needs no display (offscreen by
// default).
#include "dialogs.h"
#include "file_io.h"
#include "main_form.h"
#include "recovery_file.h"
#include "save.h"
#include "start_up.h"

#include <QApplication>
#include <QListWidget>
#include <QLockFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// Time spent in the disk sync that saving asks for, and whether to skip it.
// The save path calls fdatasync() or fsync() through the C library; the
// definitions below take their place in this program only.
double g_syncSeconds = 0;
bool g_skipSync = false;

// Set when any benchmark could not do its work, so a smoke run fails.
bool g_failed = false;

void fail(benchmark::State &state, const char *what)
{
    g_failed = true;
    state.SkipWithError(what);
}

int timedSync(int (*real)(int), int fd)
{
    if (g_skipSync)
        return 0;
    const auto start = std::chrono::steady_clock::now();
    const int rc = real(fd);
    g_syncSeconds
        += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return rc;
}

// A data file with every slot used, names of typical length.
QByteArray fullDataFile()
{
    QByteArray bytes;
    for (int i = 0; i < hostally::kLeagueCapacity; ++i)
        bytes
            += "\"League " + QByteArray::number(i) + "\"\r\n" + QByteArray::number(i * 7) + "\r\n";
    for (int i = 0; i < hostally::kEventCapacity; ++i)
        bytes += "\"Event " + QByteArray::number(i) + "\"\r\n" + QByteArray::number(i * 3) + "\r\n";
    return bytes;
}

// A folder holding the full data file, on the same disk as the working folder
// so that a save syncs to a real disk.
struct DataFolder {
    QTemporaryDir dir {QDir::current().filePath(QStringLiteral("microbench-XXXXXX"))};
    QString path = dir.filePath(QStringLiteral("data.txt"));

    DataFolder()
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(fullDataFile()) < 0)
            qFatal("cannot write %s", qPrintable(path));
    }
};

// Answers every question with No and shows nothing.
class SilentDialogs : public Dialogs {
public:
    Answer ask(QWidget *, const QString &, const QString &, Default, Escape) override
    {
        return Answer::No;
    }
    void inform(QWidget *, const QString &, const QString &) override { }
    void showError(QWidget *, const QString &, const QString &) override { }
};

void loadFullFile(benchmark::State &state)
{
    DataFolder folder;
    for (auto _ : state) {
        hostally::TallyTable leagues(hostally::kLeagueCapacity);
        hostally::TallyTable events(hostally::kEventCapacity);
        if (!hostally::loadDataFile(folder.path, leagues, events).ok)
            fail(state, "load failed");
        benchmark::DoNotOptimize(events.total());
    }
}

// What a save checks first: one read of the file, compared with the bytes
// the window last read or wrote.
bool unchangedOnDisk(const QString &path, const QByteArray &known)
{
    QByteArray now;
    return hostally::readFile(path, now).ok && now == known;
}

void checkFullFile(benchmark::State &state)
{
    DataFolder folder;
    hostally::TallyTable leagues(hostally::kLeagueCapacity);
    hostally::TallyTable events(hostally::kEventCapacity);
    QByteArray known;
    hostally::loadDataFile(folder.path, leagues, events, &known);
    for (auto _ : state) {
        if (!unchangedOnDisk(folder.path, known))
            fail(state, "the file looks changed");
    }
}

// The save of one Add as the window makes it (the lock, the logs, the check
// for changes made outside, the writes and their syncs), with the disk syncs
// it waits for taken out and shown as the "sync" counter (seconds per save).
void saveFullFile(benchmark::State &state, bool skipSync)
{
    DataFolder folder;
    hostally::SaveRequest request;
    hostally::loadDataFile(
        folder.path, request.window.leagues, request.window.events, &request.base);
    const hostally::Computer computer = hostally::thisComputer();
    g_skipSync = skipSync;
    double syncTotal = 0;
    for (auto _ : state) {
        g_syncSeconds = 0;
        const hostally::Tallies base = request.window;
        request.window.events.add(50);
        request.batch = hostally::diff(base, request.window);
        const auto start = std::chrono::steady_clock::now();
        const hostally::SaveResult result = hostally::saveTallies(folder.path, computer, request);
        if (!result.saved || result.saved->merged)
            fail(state, "save failed or merged");
        request.base = result.saved->bytes;
        const double all
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(all - g_syncSeconds);
        syncTotal += g_syncSeconds;
    }
    g_skipSync = false;
    state.counters["sync"] = benchmark::Counter(syncTotal, benchmark::Counter::kAvgIterations);
}

// What the recovery file's thread does a second after a change, away from
// the window: the full window's counts put in the recovery form and written,
// with the disk syncs shown apart as for a save.
void writeRecovery(benchmark::State &state)
{
    DataFolder folder;
    hostally::Recovery recovery;
    hostally::Tallies base;
    hostally::loadDataFile(folder.path, base.leagues, base.events);
    hostally::Tallies window = base;
    window.events.add(50);
    recovery.id = "0123456789abcdef";
    recovery.batch = hostally::diff(base, window);
    const QString path = hostally::recoveryFilePath(folder.path, hostally::thisComputer().id, 1);
    double syncTotal = 0;
    for (auto _ : state) {
        g_syncSeconds = 0;
        const auto start = std::chrono::steady_clock::now();
        if (!hostally::writeDurably(path, QByteArray::fromStdString(hostally::formatRecovery(recovery)))
                 .ok)
            fail(state, "write failed");
        const double all
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(all - g_syncSeconds);
        syncTotal += g_syncSeconds;
    }
    state.counters["sync"] = benchmark::Counter(syncTotal, benchmark::Counter::kAvgIterations);
}

// What the lock beside data.txt adds to every save: making it and removing
// it, its own sync included.
void lockAndUnlock(benchmark::State &state)
{
    DataFolder folder;
    QLockFile lock(folder.path + QStringLiteral(".lock"));
    for (auto _ : state) {
        if (!lock.tryLock(0))
            fail(state, "lock failed");
        lock.unlock();
    }
}

// The window built and filled from the full file, as start-up does.
void openWindow(benchmark::State &state)
{
    DataFolder folder;
    SilentDialogs dialogs;
    for (auto _ : state) {
        auto form = openMainForm(folder.path, &dialogs);
        if (!form)
            fail(state, "start-up failed");
        benchmark::DoNotOptimize(form.get());
    }
}

// One click on the events' Add with a line selected; with `paint` the window
// is shown and also lays out and paints what changed.
void addClick(benchmark::State &state, bool paint)
{
    DataFolder folder;
    SilentDialogs dialogs;
    auto form = openMainForm(folder.path, &dialogs);
    if (!form) {
        fail(state, "start-up failed");
        return;
    }
    if (paint) {
        form->show();
        QCoreApplication::processEvents();
    }
    form->lHosted->setCurrentRow(50);
    for (auto _ : state) {
        form->Command1->click();
        if (paint)
            QCoreApplication::processEvents();
    }
    benchmark::DoNotOptimize(form->eventTable().total());
}

void registerAll()
{
    using benchmark::RegisterBenchmark;
    RegisterBenchmark("Load 103 records", loadFullFile)->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Check 103 records before a save", checkFullFile)
        ->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Save 103 records, sync apart", saveFullFile, false)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Save 103 records, sync skipped", saveFullFile, true)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Write the recovery file of 103 records, sync apart", writeRecovery)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Take and free the save's lock", lockAndUnlock)
        ->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Open the window on 103 records", openWindow)->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Add click", addClick, false)->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Add click, painted", addClick, true)->Unit(benchmark::kMicrosecond);
}

// The offscreen platform cannot hand a fixed size to a window manager, and
// says so on every show; that says nothing about the benchmark.
QtMessageHandler g_defaultHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.contains(QLatin1String("propagateSizeHints")))
        g_defaultHandler(type, context, message);
}

} // namespace

// Each looks up the C library's own call once; a lookup shared by both would
// send one call to the other.
extern "C" int fdatasync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    return timedSync(real, fd);
}

extern "C" int fsync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return timedSync(real, fd);
}

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    useWindowFontByDefault(); // as the program does
    g_defaultHandler = qInstallMessageHandler(quietHandler);
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return g_failed ? 1 : 0;
}
