// Several programs saving one data.txt at once, through the save the window
// makes: each of PROCESSES copies of this program loads the file, adds to a
// few lines at random, waits a random moment, and saves, ROUNDS times. At the
// end every line must hold its first count plus what all of them added: a
// lost save or a count added twice shows as a difference.
// Usage: stress_save [PROCESSES [ROUNDS]]   (defaults 4 and 200; not in CTest)
#include "file_io.h"
#include "save.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <vector>

namespace {

constexpr int kEvents = 10;

QByteArray startingFile()
{
    QByteArray bytes;
    for (int i = 0; i < hostally::kLeagueCapacity; ++i)
        bytes += "\"League " + QByteArray::number(i) + "\"\r\n0\r\n";
    for (int i = 0; i < kEvents; ++i)
        bytes += "\"Event " + QByteArray::number(i) + "\"\r\n0\r\n";
    return bytes;
}

// One saver: prints what it added to each event, one count a line.
int runSaver(const QString &path, int rounds)
{
    std::vector<std::int64_t> added(kEvents, 0);
    QRandomGenerator *random = QRandomGenerator::global();
    for (int round = 0; round < rounds; ++round) {
        hostally::SaveRequest request;
        hostally::Status loaded = hostally::loadDataFile(
            path, request.window.leagues, request.window.events, &request.base);
        if (!loaded.ok) {
            std::fprintf(stderr, "load: %s\n", loaded.toString().c_str());
            return 1;
        }
        const hostally::Tallies base = request.window;
        std::vector<std::int64_t> now(kEvents, 0);
        for (int k = random->bounded(1, 4); k > 0; --k) {
            const int line = random->bounded(kEvents);
            if (request.window.events.add(line))
                ++now[line];
        }
        // The user counting before choosing Save; sometimes none at all.
        QThread::usleep(random->bounded(20000));
        request.batch = hostally::diff(base, request.window);
        const hostally::SaveResult result
            = hostally::saveTallies(path, hostally::thisComputer(), request);
        if (!result.saved) {
            std::fprintf(stderr, "save %d: %s\n", round,
                result.question != hostally::SaveQuestion::None
                    ? "asked a question"
                    : result.status.toString().c_str());
            return 1;
        }
        for (int i = 0; i < kEvents; ++i)
            added[i] += now[i];
    }
    for (std::int64_t n : added)
        std::printf("%lld\n", static_cast<long long>(n));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--saver"))
        return runSaver(args[2], args[3].toInt());
    const int processes = args.value(1, QStringLiteral("4")).toInt();
    const int rounds = args.value(2, QStringLiteral("200")).toInt();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(startingFile()) < 0 || !file.flush())
        qFatal("cannot write %s", qPrintable(path));
    file.close();

    std::vector<QProcess *> savers;
    for (int p = 0; p < processes; ++p) {
        auto *saver = new QProcess(&app);
        saver->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        saver->start(
            app.applicationFilePath(), {QStringLiteral("--saver"), path, QString::number(rounds)});
        savers.push_back(saver);
    }
    std::vector<std::int64_t> expected(kEvents, 0);
    bool ok = true;
    for (QProcess *saver : savers) {
        saver->waitForFinished(-1);
        const QList<QByteArray> lines = saver->readAllStandardOutput().split('\n');
        if (saver->exitCode() != 0 || lines.size() < kEvents) {
            ok = false;
            continue;
        }
        for (int i = 0; i < kEvents; ++i)
            expected[i] += lines[i].toLongLong();
    }
    hostally::TallyTable leagues(hostally::kLeagueCapacity);
    hostally::TallyTable events(hostally::kEventCapacity);
    const hostally::Status loaded = hostally::loadDataFile(path, leagues, events);
    std::int64_t total = 0;
    for (int i = 0; i < kEvents && loaded.ok; ++i) {
        total += expected[i];
        if (events.count(i) != expected[i]) {
            std::printf("Event %d: %lld in data.txt, %lld added\n", i,
                static_cast<long long>(events.count(i)), static_cast<long long>(expected[i]));
            ok = false;
        }
    }
    ok = ok && loaded.ok;
    std::printf("%d processes x %d saves: %lld counts added, %s\n", processes, rounds,
        static_cast<long long>(total), ok ? "data.txt holds exactly their sum" : "COUNTS LOST");
    return ok ? 0 : 1;
}
