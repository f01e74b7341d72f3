#include "data_file.h"

#include "platform_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <utility>

namespace hostally {

namespace {

// A real data file is a few kilobytes; refusing anything far larger keeps a
// wrong file chosen by mistake from eating the machine's memory.
constexpr qint64 kMaxFileMegabytes = 16;
constexpr qint64 kMaxFileSize = kMaxFileMegabytes * 1024 * 1024;

Status notPlainFile(const QString &path, bool folder)
{
    return fileFailure(path,
        folder ? QStringLiteral("it is a folder, not a plain file")
               : QStringLiteral("it is a pipe, socket or device, not a plain file"),
        Status::Cause::NotPlainFile);
}

// The existing data file at `path` may not be written: says so, and why.
Status readOnly(const QString &path)
{
#ifdef Q_OS_WIN
    // What Windows' own file properties call it.
    const QString reason = QStringLiteral("it is read-only (untick Read-only in its Properties)");
#else
    // Opening the file to append, never to create, writes nothing and
    // brings back the system's own reason.
    QFile probe(path);
    const QString reason = probe.open(QIODevice::Append | QIODevice::ExistingOnly)
        ? QStringLiteral("its permissions do not allow writing")
        : probe.errorString();
#endif
    return fileFailure(path, QStringLiteral("the file cannot be written: ") + reason);
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
    if (retryWhileHeld(path, [&file] { return openForReadingWithoutBlocking(file); })
        && fileHold(path) == FileHold::InUse)
        return heldByAnotherProgram(path);
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
    // The size answers before any reading, and sizes the buffer: reading
    // one byte past it still catches a file that grows.
    const qint64 size = file.size();
    if (size > kMaxFileSize)
        return tooLarge();
    QByteArray read = file.read(size + 1);
    if (read.size() > size && file.error() == QFileDevice::NoError)
        read += file.read(kMaxFileSize + 1 - read.size());
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
    if (!s.ok)
        s.file = displayPath(path).toStdString();
    else if (read)
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

Status writeDataFile(
    const QString &path, const QByteArray &bytes, Replaced &replaced, const SwapChecks &checks)
{
    replaced = Replaced::No;
    // Replacing a FIFO, a device or a folder with a plain file would not save
    // the counts where they are read from.
    const QFileInfo target(dataFileTarget(path));
    if (target.exists() && !target.isFile())
        return notPlainFile(path, target.isDir());
    if (target.exists() && !target.isWritable())
        return readOnly(path);
    return writeDurably(target.filePath(), bytes, replaced, checks);
}

Status checkFolderWritable(const QString &path)
{
    // Permission bits do not tell on Windows, nor on a read-only share: only
    // making a file does.
    const QString folder = QFileInfo(dataFileTarget(path)).absolutePath();
    QTemporaryFile probe(folder + QStringLiteral("/data.txt.XXXXXX"));
    if (probe.open())
        return Status::success();
    return Status::failure(0,
        (QStringLiteral("the folder %1 cannot be written: ").arg(displayPath(folder))
            + probe.errorString())
            .toStdString());
}

Status checkFileWritable(const QString &path)
{
    const QFileInfo target(path);
    return !target.isFile() || target.isWritable() ? Status::success() : readOnly(path);
}

} // namespace hostally
