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

// Makes the window for the data file at `dataPath` and loads the file.
// Returns the window ready to show, or null when the file could not be read;
// the error, with the file and line, has then been printed on stderr and
// shown through `dialogs`. The rest of start-up waits for the first paint.
std::unique_ptr<MainForm> openMainForm(const QString &dataPath, Dialogs *dialogs);
