#include "conflict_copies.h"

#include "data_file.h"
#include "durable_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>
#include <functional>

namespace hostally {

namespace {

const QString kRecordInfix = QStringLiteral(".saved-");
// A record is some tens of kilobytes, a data file a few; anything far larger
// is not one, and is not read into memory.
constexpr qint64 kLargestRead = 16 * 1024 * 1024;

QByteArray readSmallFile(const QString &path, bool &ok)
{
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly) && file.size() <= kLargestRead;
    return ok ? file.readAll() : QByteArray();
}

// Whether `save` never happened: a crash ended it before its swap, and its
// new file is still beside data.txt.
bool neverSwapped(const QString &folder, const SaveRecord &save)
{
    return !save.swapping.empty() && save.swapping.find_first_of("/\\") == std::string::npos
        && QFileInfo::exists(folder + QString::fromStdString(save.swapping));
}

// This computer's saves as they ended: those a crash stopped before their
// swap left out, the others done. Another computer's new files are never
// here, so its saves still marked are only known to have begun.
void settle(std::vector<SaveRecord> &saves, const QString &folder)
{
    saves.erase(std::remove_if(saves.begin(), saves.end(),
                    [&](const SaveRecord &save) { return neverSwapped(folder, save); }),
        saves.end());
    for (SaveRecord &save : saves)
        save.swapping.clear();
}

} // namespace

QString computerName()
{
    // As Windows shows it to the user, and OneDrive names its copies with it.
#ifdef Q_OS_WIN
    QString name = qEnvironmentVariable("COMPUTERNAME");
#else
    QString name = QSysInfo::machineHostName();
#endif
    // No dot: "data.txt.saved-<name>.new-…" is a record being written.
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return name.isEmpty() ? QStringLiteral("computer") : name;
}

QString saveRecordPath(const QString &dataPath, const QString &computer)
{
    return dataFileTarget(dataPath) + kRecordInfix + computer;
}

std::vector<ComputerSaves> readSaveHistory(const QString &dataPath, const QString &computer)
{
    const QFileInfo target(dataFileTarget(dataPath));
    const QString prefix = target.fileName() + kRecordInfix;
    const QString folder = target.absolutePath() + QLatin1Char('/');
    std::vector<ComputerSaves> history;
    for (const QFileInfo &record :
        QDir(folder).entryInfoList({prefix + QLatin1Char('*')}, QDir::Files)) {
        bool ok = false;
        const QByteArray bytes = readSmallFile(record.filePath(), ok);
        ComputerSaves saves {record.fileName().mid(prefix.size()).toStdString(), {}};
        if (!ok || saves.computer.find('.') != std::string::npos
            || !parseSaveRecords(bytes.toStdString(), saves.saves).ok)
            continue;
        if (saves.computer == computer.toStdString())
            settle(saves.saves, folder);
        history.push_back(std::move(saves));
    }
    return history;
}

namespace {

// Rewrites `computer`'s record, settled, as `change` leaves it; a record
// that would stay as it is is not written; one not `durable` is not synced.
Status rewriteRecord(const QString &dataPath, const QString &computer,
    const std::function<void(std::vector<SaveRecord> &)> &change, bool durable = true)
{
    const QString path = saveRecordPath(dataPath, computer);
    bool ok = false;
    std::vector<SaveRecord> kept;
    const QByteArray was = readSmallFile(path, ok);
    parseSaveRecords(was.toStdString(), kept);
    settle(kept, QFileInfo(path).absolutePath() + QLatin1Char('/'));
    change(kept);
    const QByteArray bytes = QByteArray::fromStdString(formatSaveRecords(kept));
    if ((ok && bytes == was) || (kept.empty() && !QFileInfo::exists(path)))
        return Status::success();
    Replaced replaced = Replaced::No;
    SwapChecks checks;
    checks.toDisk = durable;
    const Status written = writeDurably(path, bytes, replaced, checks);
    // In place, though the folder's sync failed: the save's own write will
    // meet that failure, and say so.
    return replaced == Replaced::Yes ? Status::success() : written;
}

} // namespace

Status recordSaves(
    const QString &dataPath, const QString &computer, const std::vector<SaveRecord> &saves)
{
    return rewriteRecord(dataPath, computer, [&saves](std::vector<SaveRecord> &kept) {
        for (const SaveRecord &save : saves) {
            // A file written again as it was is no new version: kept, it would
            // seem later than the versions that came after it.
            if (save.replaced != std::vector<std::string> {save.written})
                keepSave(kept, save);
        }
    });
}

Status settleRecord(const QString &dataPath, const QString &computer, bool durable)
{
    return rewriteRecord(
        dataPath, computer, [](std::vector<SaveRecord> &) {}, durable);
}

QStringList findConflictCopies(const QString &dataPath, const std::vector<ComputerSaves> &history)
{
    const QFileInfo target(dataFileTarget(dataPath));
    const QString stem = QRegularExpression::escape(target.completeBaseName());
    const QString suffix = target.suffix().isEmpty()
        ? QString()
        : QLatin1Char('.') + QRegularExpression::escape(target.suffix());
    QStringList computers;
    for (const ComputerSaves &saves : history)
        computers.append(QRegularExpression::escape(QString::fromStdString(saves.computer)));
    QStringList forms {
        // Syncthing: data.sync-conflict-20261209-074240-7ITJG26.txt
        QStringLiteral(R"(\.sync-conflict-\d{8}-\d{6}-[A-Z0-9]{7})"),
        // Dropbox: data (Ann's conflicted copy 2026-12-09).txt, maybe with " (1)"
        QStringLiteral(R"( \(.+['’]s conflicted copy \d{4}-\d{2}-\d{2}( \(\d+\))?\))"),
        // Nextcloud: data (conflicted copy 2026-12-09 074240).txt
        QStringLiteral(R"( \(conflicted copy \d{4}-\d{2}-\d{2} \d{6}\))"),
    };
    // OneDrive: data-LAPTOP.txt, a name a user may also give a copy of their own.
    if (!computers.isEmpty())
        forms.append(QStringLiteral("-(%1)(-\\d+)?").arg(computers.join(QLatin1Char('|'))));
    const QRegularExpression copy(
        QStringLiteral("^%1(%2)%3$").arg(stem, forms.join(QLatin1Char('|')), suffix),
        QRegularExpression::CaseInsensitiveOption);
    QStringList copies;
    for (const QFileInfo &file :
        QDir(target.absolutePath()).entryInfoList(QDir::Files, QDir::Name)) {
        if (copy.match(file.fileName()).hasMatch())
            copies.append(file.filePath());
    }
    return copies;
}

bool countsToMerge(const QString &dataPath, const QString &computer)
{
    const std::vector<ComputerSaves> history = readSaveHistory(dataPath, computer);
    QByteArray bytes;
    return !findConflictCopies(dataPath, history).isEmpty()
        || (readDataFileBytes(dataPath, bytes).ok && countsDropped(history, bytes.toStdString()));
}

std::vector<CopyReport> mergeConflictCopies(const QString &dataPath,
    const std::vector<ComputerSaves> &history, QByteArray &bytes, bool takeRefused,
    SaveRecord &save)
{
    const QStringList paths = findConflictCopies(dataPath, history);
    Tallies file;
    if (!parseDataFile(bytes.toStdString(), file.leagues, file.events).ok)
        return {};
    std::vector<std::string> copies;
    std::vector<CopyReport> reports;
    for (const QString &path : paths) {
        bool ok = false;
        copies.push_back(readSmallFile(path, ok).toStdString());
        reports.push_back({path, {}});
        if (!ok) {
            reports.back().outcome.kind = CopyOutcome::Kind::Unreadable;
            reports.back().outcome.problem = fileFailure(path, QStringLiteral("it cannot be read"));
            copies.back() = "\x01"; // never a data file
        }
    }
    const std::vector<CopyOutcome> outcomes
        = mergeCopies(history, bytes.toStdString(), file, copies, takeRefused, save);
    bool merged = false;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        // Past the copies: counts a sync program dropped, read from no file of their own.
        if (i >= reports.size())
            reports.push_back({dataPath, {}, true});
        if (reports[i].outcome.kind != CopyOutcome::Kind::Unreadable)
            reports[i].outcome = outcomes[i];
        merged = merged || outcomes[i].kind == CopyOutcome::Kind::Merged;
    }
    if (merged)
        bytes = QByteArray::fromStdString(
            formatDataFile(file.leagues, file.events, bytes.startsWith(kByteOrderMark.data())));
    return reports;
}

} // namespace hostally
