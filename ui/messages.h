#pragma once

#include "recovery_file.h"
#include "save.h"

#include <QString>

// Every text the window's boxes show, in one place, so that one thing is
// always said in the same words. Where a text holds %1, reportFailure puts
// the failure's status there, as people read it.
namespace messages {

// The texts with nothing to fill in but, where they hold %1, what the comment says.
enum class Text {
    SaveChanges, // the question before the window closes with unsaved counts
    ConfirmReset, // the question before a Reset
    Saved, // the notice after a save
    FolderGone, // %1: data.txt's folder, gone with data.txt, so nothing was saved
    SaveFailed, // %1: a save wrote nothing; then StillKept or NotKept
    SavedNotSynced, // %1: a save wrote data.txt, but the disk may not have it yet
    DeclineFailed, // %1: the counts the user chose not to save could not be deleted
    RecoveryUnwritable, // %1: unsaved counts cannot be kept beside data.txt
    RecoveryUnreadable, // %1: a recovery file found at start-up cannot be read
    RecoveryNotDeleted, // %1: a recovery file answered No could not be deleted
    FolderNotWritable, // %1: nothing counted could be saved in data.txt's folder
    FileNotWritable, // %1: nothing counted could be saved in data.txt
    InsideZip, // the program runs from a folder its zip tool will delete
    CopiesNotMerged, // %1: the sync program's copies of data.txt could not be merged into it
    StillKept, // after SaveFailed: the window's counts are in its recovery file too
    NotKept, // after SaveFailed: %1, why no recovery file keeps them
};
QString text(Text which);

// The question `asked` asks before a save goes on with data.txt at `path`.
QString saveQuestion(const hostally::SaveResult &asked, const QString &path);

// At start-up, the offer of a recovery file's counts, naming those `preview` refused.
QString restoreOffer(const hostally::Offer &offer, const hostally::Applied &preview);

// The notice of the sync program's conflict copies merged into data.txt,
// each with what its computer counted; empty when none was.
QString copiesMerged(const std::vector<hostally::CopyReport> &copies);

// The question about conflict copies some of whose counts cannot be placed,
// naming those; empty when there is none.
QString copiesQuestion(const std::vector<hostally::CopyReport> &copies);

// The notice of conflict copies left as they are, with the lines that differ
// from data.txt, or why they cannot be read; empty when there is none.
QString copiesLeft(const std::vector<hostally::CopyReport> &copies);

// %1: why start-up stopped, with what to do about a data file started from
// inside its zip file (`insideZip`) or with a line that cannot be read.
QString cannotStart(const hostally::Status &status, bool insideZip);

} // namespace messages
