#pragma once

#include "file_helpers.h"

#include <QGuiApplication>
#include <QListWidget>
#include <QWidget>
#include <QtTest>

// What a list shows, line by line.
inline QStringList lines(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

// The selected line of a list, or -1 when none is selected.
inline int selectedRow(const QListWidget *list)
{
    const auto items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

// Shows a window and waits until it is active, so focus and keys reach it.
// Returns false when it never became active.
inline bool showActive(QWidget *window)
{
    // The offscreen platform cannot pass a fixed size on to a window manager.
    if (QGuiApplication::platformName() == "offscreen")
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}
