#pragma once

#include "dialogs.h"
#include "session.h"
#include "status.h"
#include "tally_list.h"
#include "tally_table.h"

#include <QMainWindow>
#include <QTimer>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;

// Hostally's one window: the events column on the left, the leagues column on
// the right, an About frame and a File menu. It owns both tally tables and
// the changed flag for its whole life. Controls keep their designer names as
// both member and object names.
class MainForm : public QMainWindow {
    Q_OBJECT

public:
    // Builds the window for the data file at `dataPath`; questions and notices
    // go through `dialogs`, which must outlive the window.
    MainForm(const QString &dataPath, Dialogs *dialogs, QWidget *parent = nullptr);

    // Start-up: loads the data file and fills both lists and totals, with no
    // line selected. On failure the window is left empty and must not be shown.
    hostally::Status formLoad();

    const hostally::TallyTable &eventTable() const { return m_session.table(false); }
    const hostally::TallyTable &leagueTable() const { return m_session.table(true); }
    bool isChanged() const { return m_session.isChanged(); }

    // The rest of start-up, once the window is first painted: says where
    // nothing counted could be kept, merges the counts a sync program kept in
    // copies of data.txt into it, asking where some cannot be placed, and
    // offers back the counts windows that no longer run left. Runs once.
    void startUp();
    bool hasStartedUp() const { return m_started; }
    // The recovery file this window keeps its unsaved counts in, once it
    // first wrote it; else empty.
    QString recoveryPath() const { return m_session.recoveryPath(); }
    // Puts the window's unsaved counts in its recovery file now, waiting for
    // the disk: the program is about to be ended from outside.
    void keepUnsavedCountsNow();
    // The desktop session is ending: unsaved counts go to the recovery file, and
    // the window then closes without asking, as nobody may be there to answer.
    void endSession();
    // The session end was called off: closing asks about unsaved counts again.
    void sessionEndCalledOff();

    // The font every control uses unless it names its own, and the totals'
    // font: Lucida Console or another fixed-pitch face, so the "-" line up.
    static QFont windowFont();
    static QFont totalFont();

    // Hostally's 48 by 48 icon.
    static QIcon icon();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // One tally column: the list and label that show one of the tables.
    struct Column {
        bool league = false;
        TallyList *list = nullptr;
        QLabel *totalLabel = nullptr;
    };

    void createControls();
    // Gives the menu bar a height that is a whole number of device pixels at
    // the window's scale, so that every control starts on a device pixel.
    void alignClientToDevicePixels();
    // Moves the window so that its frame, as far as it is known, stands in
    // the middle of the screen.
    void centre();
    // Centres the window again while the window manager's frame still changes.
    void checkPlacement();

    void stepSelected(Column &column, bool add);
    void resetColumn(Column &column);
    // Fills the list with the table's lines, none selected, and the total.
    void showColumn(Column &column);
    void showTotal(Column &column);

    // Saves both tables: the window's changes added to data.txt as it is now,
    // or what the user chooses where they cannot be. False when nothing was
    // saved: the answer was No, or the save failed and the error was shown.
    bool saveTables();
    // After a save that added changes from outside: both lists rebuilt in the
    // file's order, each selected line kept where it still is.
    void showTallies(const hostally::Tallies &before);
    // Asks the question `asked` puts; Back when the user went back.
    Dialogs::Answer ask(const hostally::SaveResult &asked);
    // Offers back each recovery file that a window which no longer runs left.
    void offerUnsavedCounts();
    // Quit and the close button: asks whether to save unsaved changes; false
    // when the window must stay open (Escape, or a save that failed).
    bool confirmClose();

    // A change to the counts: the recovery file written within about a
    // second, once for every change made in that second.
    void noteChange();
    // Hears how a write of the recovery file went, on the window's thread.
    void recoveryWritten(const hostally::Status &written);

    hostally::Session m_session;
    Dialogs *m_dialogs;
    Column m_events;
    Column m_leagues;
    QTimer m_recoveryTimer;
    bool m_recoveryFailureSaid = false;
    bool m_sessionEnding = false;
    bool m_started = false;
    QTimer m_placement;
    int m_placementChecks = 0;
    QMargins m_centredMargins;

public:
    // Controls, in tab order, then the menu.
    TallyList *lHosted = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QLabel *total = nullptr;
    TallyList *lLeagues = nullptr;
    QLabel *total2 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *ladd = nullptr;
    QPushButton *lRemove = nullptr;
    QPushButton *cReset = nullptr;
    QGroupBox *About = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QMenu *mFile = nullptr;
    QAction *mSave = nullptr;
    QAction *a = nullptr;
    QAction *mQuit = nullptr;
};
