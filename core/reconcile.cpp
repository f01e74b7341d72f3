#include "reconcile.h"

#include <QDir>
#include <QRegularExpression>

namespace hostally {

QString logPath(const QString &target, const std::string &computer)
{
    return target + QStringLiteral(".log-") + QString::fromStdString(computer);
}

std::vector<Log> readLogs(const QString &target)
{
    const QFileInfo data(target);
    std::vector<Log> logs;
    for (const QFileInfo &file :
        QDir(data.absolutePath())
            .entryInfoList({data.fileName() + QStringLiteral(".log-*")}, QDir::Files)) {
        QByteArray bytes;
        Log log;
        if (readFile(file.filePath(), bytes).ok && parseLog(bytes.toStdString(), log).ok
            && file.filePath()
                == logPath(file.absolutePath() + QLatin1Char('/') + data.fileName(), log.computer))
            logs.push_back(std::move(log));
    }
    return logs;
}

QStringList findConflictCopies(const QString &target, const std::vector<Log> &logs)
{
    const QFileInfo data(target);
    QStringList hosts;
    for (const Log &log : logs)
        hosts.append(QRegularExpression::escape(QString::fromStdString(log.name)));
    QStringList forms {
        // Syncthing: data.sync-conflict-20261209-074240-7ITJG26.txt
        QStringLiteral(R"(\.sync-conflict-\d{8}-\d{6}-[A-Z0-9]{7})"),
        // Dropbox: data (Ann's conflicted copy 2026-12-09).txt, maybe with " (1)"
        QStringLiteral(R"( \(.+['’]s conflicted copy \d{4}-\d{2}-\d{2}( \(\d+\))?\))"),
        // Nextcloud: data (conflicted copy 2026-12-09 074240).txt
        QStringLiteral(R"( \(conflicted copy \d{4}-\d{2}-\d{2} \d{6}\))"),
    };
    // OneDrive: data-LAPTOP.txt, a name a user may also give a copy of their own.
    if (!hosts.isEmpty())
        forms.append(QStringLiteral("-(%1)(-\\d+)?").arg(hosts.join(QLatin1Char('|'))));
    const QString suffix = data.suffix().isEmpty() ? QString() : QLatin1Char('.') + data.suffix();
    const QRegularExpression copy(
        QStringLiteral("^%1(%2)%3$")
            .arg(QRegularExpression::escape(data.completeBaseName()), forms.join(QLatin1Char('|')),
                QRegularExpression::escape(suffix)),
        QRegularExpression::CaseInsensitiveOption);
    QStringList copies;
    for (const QFileInfo &file : QDir(data.absolutePath()).entryInfoList(QDir::Files, QDir::Name)) {
        if (copy.match(file.fileName()).hasMatch())
            copies.append(file.filePath());
    }
    return copies;
}

QStringList hostsOf(const std::vector<Log> &logs, const std::vector<BatchId> &ids)
{
    QStringList names;
    for (const Log &log : logs) {
        const QString name = QString::fromStdString(log.name);
        if (!names.contains(name) && std::any_of(ids.begin(), ids.end(), [&](const BatchId &id) {
                return id.computer == log.computer;
            }))
            names.append(name);
    }
    return names;
}

bool replay(const std::vector<Log> &logs, const std::vector<BatchId> &ids, Tallies &tallies,
    std::vector<Refusal> &refused)
{
    Tallies out = tallies;
    for (const BatchId &id : ids) {
        const Entry *entry = findEntry(logs, id);
        if (!entry)
            return false;
        Applied applied = apply(entry->batch, out, RefusedReset::ListKept);
        out = std::move(applied.tallies);
        refused.insert(refused.end(), applied.refused.begin(), applied.refused.end());
    }
    tallies = std::move(out);
    return true;
}

Reconciled mergeCopies(const std::vector<Log> &logs, const std::string &me, const Tallies &view,
    const Held &held, const QStringList &paths, bool takeRefused)
{
    Reconciled out {view, held, {}};
    for (const QString &path : paths) {
        CopyReport &report = out.copies.emplace_back();
        report.path = path;
        Tallies copy, merged = out.tallies;
        QByteArray bytes;
        report.problem = loadDataFile(path, copy.leagues, copy.events, &bytes);
        if (!report.problem.ok) {
            report.kind = CopyReport::Kind::Unreadable;
            continue;
        }
        const Reading reading = readVersion(logs, versionHash(bytes.toStdString()), me);
        // data.txt's counts add nothing, unless two histories reached them.
        if (copy == out.tallies && (reading.known || reading.held.root.seq == 0)
            && !reading.held.root.computer.empty()) {
            report.kind = CopyReport::Kind::Merged;
            continue;
        }
        const std::vector<BatchId> missing = minus(reading.held, out.held);
        if (!reading.known || reading.held.root != out.held.root
            || !replay(logs, missing, merged, report.refused)) {
            report.refused.clear();
            report.counted = differingLines(out.tallies, copy);
            continue; // Left, told with the lines that differ
        }
        report.counted = differingLines(out.tallies, merged);
        report.computers = hostsOf(logs, missing);
        report.kind = report.refused.empty() || takeRefused ? CopyReport::Kind::Merged
                                                            : CopyReport::Kind::Refused;
        if (report.kind == CopyReport::Kind::Merged) {
            out.tallies = std::move(merged);
            out.held.ids.insert(reading.held.ids);
        }
    }
    return out;
}

} // namespace hostally
