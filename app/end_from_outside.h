#pragma once

class MainForm;

// Keeps `form`'s unsaved counts when the program is ended from outside, for
// the program's whole life. On Unix, SIGTERM, SIGHUP and SIGINT (a logout, a
// closed terminal, Ctrl+C) write its recovery file at once, then end the
// program as the signal would have. On Windows, the end of the session
// (logout, shutdown, an update's restart) writes it and closes the window
// without asking whether to save: nobody may be there to answer.
void keepCountsWhenEndedFromOutside(MainForm *form);
