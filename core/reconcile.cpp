#include "reconcile.h"

#include "file_io.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

namespace hostally {

namespace {

const QString kLogInfix = QStringLiteral(".log-");

QString hostName()
{
    // As Windows shows it to the user, and OneDrive names its copies with it.
#ifdef Q_OS_WIN
    QString name = qEnvironmentVariable("COMPUTERNAME");
#else
    QString name = QSysInfo::machineHostName();
#endif
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return name.isEmpty() ? QStringLiteral("computer") : name;
}

Tallies parsed(const QByteArray &bytes, Status &status)
{
    Tallies tallies;
    status = parseDataFile(bytes.toStdString(), tallies.leagues, tallies.events);
    return tallies;
}

} // namespace

Computer thisComputer()
{
    const std::string name = hostName().toStdString();
    std::string id;
    for (const char c : QSysInfo::machineUniqueId().toLower().toStdString()) {
        if (std::isxdigit(static_cast<unsigned char>(c)) && id.size() < 8)
            id += c;
    }
    if (id.size() < 8) {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx",
            static_cast<unsigned long long>(versionHash(name)));
        id = std::string(text).substr(0, 8);
    }
    return {id, name};
}

QString logPath(const QString &target, const std::string &computer)
{
    return target + kLogInfix + QString::fromStdString(computer);
}

std::vector<Log> readLogs(const QString &target)
{
    const QFileInfo data(target);
    const QString prefix = data.fileName() + kLogInfix;
    std::vector<Log> logs;
    for (const QFileInfo &file :
        QDir(data.absolutePath()).entryInfoList({prefix + QLatin1Char('*')}, QDir::Files)) {
        QByteArray bytes;
        Log log;
        if (readFile(file.filePath(), bytes).ok && parseLog(bytes.toStdString(), log).ok
            && file.fileName() == prefix + QString::fromStdString(log.computer))
            logs.push_back(std::move(log));
    }
    return logs;
}

QStringList findConflictCopies(const QString &target, const std::vector<Log> &logs)
{
    const QFileInfo data(target);
    const QString stem = QRegularExpression::escape(data.completeBaseName());
    const QString suffix = data.suffix().isEmpty()
        ? QString()
        : QLatin1Char('.') + QRegularExpression::escape(data.suffix());
    QStringList computers;
    for (const Log &log : logs)
        computers.append(QRegularExpression::escape(QString::fromStdString(log.name)));
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
    for (const QFileInfo &file : QDir(data.absolutePath()).entryInfoList(QDir::Files, QDir::Name)) {
        if (copy.match(file.fileName()).hasMatch())
            copies.append(file.filePath());
    }
    return copies;
}

bool replay(const std::vector<Log> &logs, const std::vector<BatchId> &ids, Tallies &tallies,
    std::vector<Refusal> &refused)
{
    std::vector<const Entry *> entries;
    for (const BatchId &id : ids) {
        entries.push_back(findEntry(logs, id));
        if (!entries.back())
            return false;
    }
    for (const Entry *entry : entries) {
        Applied applied = apply(entry->batch, tallies, RefusedReset::ListKept);
        tallies = std::move(applied.tallies);
        refused.insert(refused.end(), applied.refused.begin(), applied.refused.end());
    }
    return true;
}

Reconciled mergeCopies(const std::vector<Log> &logs, const std::string &me, const Tallies &view,
    const Held &held, const QStringList &paths, bool takeRefused)
{
    Reconciled out {view, held, {}};
    for (const QString &path : paths) {
        CopyReport &report = out.copies.emplace_back();
        report.path = path;
        QByteArray bytes;
        report.problem = readFile(path, bytes);
        const Tallies copy = parsed(bytes, report.problem);
        if (!report.problem.ok) {
            report.kind = CopyReport::Kind::Unreadable;
            report.problem.file = displayPath(path).toStdString();
            continue;
        }
        const Reading reading = readVersion(logs, versionHash(bytes.toStdString()), me);
        // The same counts as data.txt add nothing, unless the logs show two
        // histories that reached them, one of which may have been dropped.
        if (copy == out.tallies && (reading.kind == Reading::Kind::Known || reading.held.root.seq == 0)
            && !reading.held.root.computer.empty()) {
            report.kind = CopyReport::Kind::Merged;
            continue;
        }
        Tallies merged = out.tallies;
        const std::vector<BatchId> missing = reading.held.minus(out.held);
        if (reading.kind != Reading::Kind::Known || reading.held.root != out.held.root
            || !replay(logs, missing, merged, report.refused)) {
            report.refused.clear();
            report.counted = differingLines(out.tallies, copy);
            continue; // Left: told with the lines that differ
        }
        report.counted = differingLines(out.tallies, merged);
        for (const BatchId &id : missing) {
            for (const Log &log : logs) {
                if (log.computer == id.computer
                    && !report.computers.contains(QString::fromStdString(log.name)))
                    report.computers.append(QString::fromStdString(log.name));
            }
        }
        report.kind = report.refused.empty() || takeRefused ? CopyReport::Kind::Merged
                                                            : CopyReport::Kind::Refused;
        if (report.kind == CopyReport::Kind::Merged) {
            out.merged = out.merged || !(merged == out.tallies);
            out.tallies = std::move(merged);
            out.held.unite(reading.held);
        }
    }
    return out;
}

} // namespace hostally
