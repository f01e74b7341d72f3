#pragma once

#include <QString>

#include <memory>

class Dialogs;
class MainForm;

// Makes the window font the default; menus and message boxes keep theirs. Call first.
void useWindowFontByDefault();

// Whether `dataPath` lies in a folder a zip tool made in the temporary folder
// to run a program from inside a zip file, and deletes when it closes:
// Explorer's "Temp1_Hostally.zip", 7-Zip's "7zO..." or WinRAR's "Rar$EX...".
bool inArchiverTemp(const QString &dataPath);

// Makes the window for the data file at `dataPath` and runs its start-up.
// Returns the window ready to show, or null when the file could not be read;
// the error, with the file and line, has then been printed on stderr and
// shown through `dialogs`. A folder that cannot be written, or that a zip tool
// will delete, is reported the same way, once, and the window is still returned.
std::unique_ptr<MainForm> openMainForm(const QString &dataPath, Dialogs *dialogs);
