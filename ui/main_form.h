#pragma once

#include "save.h"
#include "session.h"
#include "status.h"
#include "tally_list.h"
#include "tally_table.h"

#include <QBasicTimer>
#include <QMainWindow>
#include <QTimer>

#include <memory>

class Dialogs;
class QAction;
class QGroupBox;
class QLabel;
class QListWidget;
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

    // Start-up, once the data file has loaded: offers back each recovery
    // file that a window which no longer runs left beside the data file.
    void offerUnsavedCounts();
    // The recovery file this window keeps its unsaved counts in, once it
    // first wrote it; else empty.
    QString recoveryPath() const;
    // Puts the window's unsaved counts in its recovery file now, waiting for
    // the disk: the program is about to be ended from outside.
    void keepUnsavedCountsNow();
    // The desktop session is ending: the unsaved counts go to the recovery
    // file, and the window then closes without asking, as nobody may be
    // there to answer.
    void endSession();
    // The session end was called off: closing asks about unsaved counts again.
    void sessionEndCalledOff();

    // The font every control uses unless it names its own, and the totals'
    // and headings' fonts; each asks for Lucida Console and falls back to a
    // fixed-pitch face so the list lines stay aligned.
    static QFont windowFont();
    static QFont totalFont();
    static QFont headingFont();

    // Hostally's 48 by 48 icon.
    static QIcon icon();

public slots:
    // The events column's buttons.
    void command1Click();
    void command2Click();
    void command3Click();
    // The leagues column's buttons.
    void laddClick();
    void lRemoveClick();
    void cResetClick();
    // File menu.
    void mSaveClick();
    void mQuitClick();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    // One tally column: the list and label that show one of the tables.
    struct Column {
        bool league = false;
        TallyList *list = nullptr;
        QLabel *totalLabel = nullptr;
    };

    void createControls();
    void createAboutFrame();
    void createMenu();
    void connectCommands();
    void setTabOrder();
    // Gives the menu bar a height that is a whole number of device pixels at
    // the window's scale, so that every control starts on a device pixel.
    void alignClientToDevicePixels();
    // Moves the window so that its frame, as far as it is known, stands in
    // the middle of the screen.
    void centre();

    // The twin commands, one implementation for both columns.
    void addTo(Column &column);
    void removeFrom(Column &column);
    void resetColumn(Column &column);
    void stepSelected(Column &column, bool add);
    void fillList(Column &column);
    void showTotal(Column &column);
    static int selectedIndex(const TallyList *list);

    // Saves both tables; into a data file changed outside the window, the
    // window's changes added to it, or, where they cannot be, what the user
    // chooses. Returns false when nothing was saved: the answer was No, or the
    // save failed and the error was shown.
    bool saveTables();
    // Shows the session's tables in both lists and totals, keeping the
    // selected lines where they still are.
    void showTallies(const hostally::Tallies &before);
    // Shows why a save failed and keeps the counts marked unsaved.
    void reportSaveFailure(const hostally::Status &status);
    // Says that data.txt is gone with its folder, and where to put it back.
    void reportFileGone();
    // Asks whether to save unsaved changes before the window closes; returns
    // false when the window must stay open.
    bool confirmClose();

    // A change to the counts: the recovery file written within about a
    // second, once for every change made in that second.
    void noteChange();
    // Hands the recovery file its next contents, to write on its own thread.
    void writeRecoveryLater();
    // Hears how a write of the recovery file went, on the window's thread.
    void recoveryWritten(const hostally::Status &written);
    // Asks whether to restore `offer` and does as told.
    void offerRecovery(hostally::Offer &offer);
    // The question asked about a recovery file: the changes it holds, what
    // cannot be placed, and what each answer does.
    QString restoreQuestion(const hostally::Offer &offer) const;
    // Why a restored change could not be placed, in the user's words.
    static QString refusalWhy(hostally::MergeRefusal::Kind kind);
    // One line of a recovery file as the question and notice name it.
    static QString recoveredLineText(const hostally::RecoveredLine &line);
    // The question a save that needs an answer asks, in the user's words.
    QString questionText(const hostally::SaveResult &asked) const;
    // Why one change could not be merged, in the user's words.
    static QString refusalText(const hostally::MergeRefusal &refused);
    // The question a save asks when some of the window's changes cannot be
    // merged into the data file at `path`: every refusal, up to five, and
    // what Yes and No keep.
    static QString mergeQuestion(const QString &path, const hostally::MergeResult &result);

    hostally::Session m_session;
    Dialogs *m_dialogs;
    Column m_events;
    Column m_leagues;
    // Unsaved counts reach the recovery file a second after a change at most.
    QTimer m_recoveryTimer;
    // A failed write of the recovery file is said once, until one succeeds.
    bool m_recoveryFailureSaid = false;
    // Set once the desktop session ends: the window closes without asking.
    bool m_sessionEnding = false;
    // Placing the window when it first shows: centred then, and again while
    // the window manager's frame is still changing.
    QBasicTimer m_placement;
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
