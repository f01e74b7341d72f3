#include "data_file.h"

#include "platform_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QThread>

#include <utility>

namespace hostally {

namespace {

// A real data file is a few kilobytes; refusing anything far larger keeps a
// wrong file chosen by mistake from eating the machine's memory.
constexpr qint64 kMaxFileMegabytes = 16;
constexpr qint64 kMaxFileSize = kMaxFileMegabytes * 1024 * 1024;

// Sync clients, virus scanners and search indexers hold a file for a moment
// after every write; editors that save by replacing wait them out like this.
constexpr int kHoldWaitMs = 2000;
constexpr int kHoldRetryMs = 100;

std::function<void(bool)> &waitHandler()
{
    static std::function<void(bool)> handler;
    return handler;
}

QString &syncFault()
{
    static QString reason;
    return reason;
}

Status fileFailure(
    const QString &path, const QString &message, Status::Cause cause = Status::Cause::Other)
{
    Status s = Status::failure(0, message.toStdString(), cause);
    s.file = displayPath(path).toStdString();
    return s;
}

Status notPlainFile(const QString &path, bool folder)
{
    return fileFailure(path,
        folder ? QStringLiteral("it is a folder, not a plain file")
               : QStringLiteral("it is a pipe, socket or device, not a plain file"),
        Status::Cause::NotPlainFile);
}

Status inUse(const QString &path)
{
    return fileFailure(path,
        QStringLiteral("the file is in use by another program: close that program (a "
                       "spreadsheet or an editor, perhaps)"),
        Status::Cause::InUse);
}

// Nothing can be saved in a folder that cannot be written. What to do about
// it depends on when it is found, so the caller says.
QString folderCannotBeWritten(const QString &folder, const QString &reason)
{
    return QStringLiteral("the folder %1 cannot be written: ").arg(displayPath(folder)) + reason;
}

// Why the existing data file at `path` may not be written.
QString fileReadOnlyReason(const QString &path)
{
#ifdef Q_OS_WIN
    // What Windows' own file properties call it.
    Q_UNUSED(path);
    return QStringLiteral("it is read-only (untick Read-only in its Properties)");
#else
    // Opening the file to append, never to create, writes nothing and
    // brings back the system's own reason.
    QFile probe(path);
    return probe.open(QIODevice::Append | QIODevice::ExistingOnly)
        ? QStringLiteral("its permissions do not allow writing")
        : probe.errorString();
#endif
}

// Says why a save could not even start. QSaveFile refuses a data file that
// may not be written, in words of its own that repeat the path and give no
// reason; any other refusal comes from making its temporary file beside the
// data file, so it is the folder that cannot be written.
Status openForWritingFailure(const QString &path, const QFileInfo &target, const QSaveFile &file)
{
    if (target.exists() && !target.isWritable())
        return fileFailure(
            path, QStringLiteral("the file cannot be written: ") + fileReadOnlyReason(path));
    return fileFailure(path, folderCannotBeWritten(target.absolutePath(), file.errorString()));
}

// Runs `attempt` again while it fails because another program holds the file
// at `path`, for about two seconds at most. Returns how the file was held when
// the last attempt failed: FileHold::None when it succeeded, or failed for
// another reason.
template<typename Attempt> FileHold retryWhileHeld(const QString &path, Attempt attempt)
{
    QElapsedTimer waited;
    FileHold hold = FileHold::None;
    while (!attempt()) {
        hold = fileHold(path);
        if (hold == FileHold::None)
            break;
        if (!waited.isValid()) {
            waited.start();
            announceWait(true);
        } else if (waited.hasExpired(kHoldWaitMs)) {
            break;
        }
        QThread::msleep(kHoldRetryMs);
        hold = FileHold::None;
    }
    if (waited.isValid())
        announceWait(false);
    return hold;
}

} // namespace

QString dataFilePath()
{
    // Appended as it stands: a program in the root folder gets "//data.txt",
    // which the system reads as "/data.txt".
    return QCoreApplication::applicationDirPath() + QStringLiteral("/data.txt");
}

QString displayPath(const QString &path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

Status readDataFileBytes(const QString &path, QByteArray &bytes)
{
    // Opening a FIFO waits for a writer, and a device or socket holds no
    // counts: look at what the path names before opening it.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return notPlainFile(path, info.isDir());
    QFile file(path);
    const FileHold hold
        = retryWhileHeld(path, [&file] { return openForReadingWithoutBlocking(file); });
    if (hold == FileHold::InUse)
        return inUse(path);
    if (!file.isOpen())
        return fileFailure(path,
            QStringLiteral("cannot open the file for reading: ") + file.errorString(),
            QFileInfo::exists(path) ? Status::Cause::Other : Status::Cause::Missing);
    // A FIFO swapped in since the look above.
    if (file.isSequential())
        return notPlainFile(path, false);
    const auto tooLarge = [&path] {
        return fileFailure(path,
            QStringLiteral("cannot read the file: it is larger than %1 MB").arg(kMaxFileMegabytes));
    };
    // The size answers before any reading; reading one byte past the limit
    // still catches a file that grows.
    if (file.size() > kMaxFileSize)
        return tooLarge();
    QByteArray read = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return fileFailure(path, QStringLiteral("cannot read the file: ") + file.errorString());
    if (read.size() > kMaxFileSize)
        return tooLarge();
    bytes = std::move(read);
    return Status::success();
}

Status loadDataFile(const QString &path, TallyTable &leagues, TallyTable &events, QByteArray *read)
{
    QByteArray bytes;
    Status s = readDataFileBytes(path, bytes);
    if (!s.ok)
        return s;
    s = parseDataFile(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
        leagues, events);
    if (!s.ok) {
        s.file = displayPath(path).toStdString();
        return s;
    }
    if (read)
        *read = std::move(bytes);
    return s;
}

QString dataFileTarget(const QString &path)
{
    // As QSaveFile finds it: QFileInfo::canonicalFilePath() gives nothing for
    // a link to a file that is not there yet. A loop of links stays as given.
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.filePath();
}

Status saveDataFile(
    const QString &path, const TallyTable &leagues, const TallyTable &events, QByteArray *written)
{
    const QByteArray bytes = QByteArray::fromStdString(formatDataFile(leagues, events));
    Status status;
    // Windows refuses to replace a file another program holds; only that is
    // worth another try.
    const FileHold hold = retryWhileHeld(path, [&] {
        Replaced replaced = Replaced::No;
        status = replaceDataFile(path, bytes, {}, replaced);
        return status.cause != Status::Cause::InUse;
    });
    if (hold == FileHold::InUse)
        return inUse(path);
    if (status.ok && written)
        *written = bytes;
    return status;
}

Status replaceDataFile(const QString &path, const QByteArray &bytes,
    const std::function<bool()> &stillCurrent, Replaced &replaced)
{
    replaced = Replaced::No;
    // Replacing a FIFO, a device or a folder with a plain file would not save
    // the counts where they are read from.
    const QFileInfo target(dataFileTarget(path));
    if (target.exists() && !target.isFile())
        return notPlainFile(path, target.isDir());
    // QSaveFile writes beside the target and renames over it only on commit;
    // leaving without a commit removes the temporary file.
    QSaveFile file(target.filePath());
    if (!file.open(QIODevice::WriteOnly))
        return openForWritingFailure(path, target, file);
    keepOwner(file, target);
    if (file.write(bytes) != bytes.size())
        return fileFailure(path, QStringLiteral("cannot write the file: ") + file.errorString());
    // Flush before commit: commit() does not check that its own final flush
    // reached the disk, and on a full disk would rename a truncated file over
    // the user's data.
    if (!file.flush())
        return fileFailure(path, QStringLiteral("cannot write the file: ") + file.errorString());
    // Nor does commit() check its own sync: a failing disk or a full quota
    // on a share would have the old file replaced by one that is not there.
    QString reason = syncFault();
    if (!reason.isEmpty() || !syncToDisk(file, &reason))
        return fileFailure(path, QStringLiteral("cannot write the file to the disk: ") + reason);
    if (stillCurrent && !stillCurrent()) {
        replaced = Replaced::Superseded;
        return fileFailure(path, QStringLiteral("the file changed while it was being saved"));
    }
    if (!file.commit()) {
        if (fileHold(target.filePath()) == FileHold::InUse)
            return inUse(path);
        return fileFailure(path, QStringLiteral("cannot save the file: ") + file.errorString());
    }
    replaced = Replaced::Yes;
    // Until the folder's new entry is on the disk, a power cut can bring the
    // old file back.
    if (!syncFolder(target.absolutePath(), &reason))
        return fileFailure(path,
            QStringLiteral("cannot write the folder %1 to the disk: %2")
                .arg(displayPath(target.absolutePath()), reason));
    return Status::success();
}

Status checkFolderWritable(const QString &path)
{
    // Permission bits do not tell on Windows, nor on a read-only share: only
    // making a file does.
    const QString folder = QFileInfo(dataFileTarget(path)).absolutePath();
    QTemporaryFile probe(folder + QStringLiteral("/data.txt.XXXXXX"));
    if (probe.open())
        return Status::success();
    return Status::failure(0, folderCannotBeWritten(folder, probe.errorString()).toStdString());
}

Status checkFileWritable(const QString &path)
{
    const QFileInfo target(path);
    if (!target.isFile() || target.isWritable())
        return Status::success();
    return fileFailure(
        path, QStringLiteral("the file cannot be written: ") + fileReadOnlyReason(path));
}

void setWaitHandler(std::function<void(bool waiting)> handler)
{
    waitHandler() = std::move(handler);
}

void announceWait(bool waiting)
{
    if (waitHandler())
        waitHandler()(waiting);
}

void setSyncFaultForTesting(const QString &reason)
{
    syncFault() = reason;
}

} // namespace hostally
