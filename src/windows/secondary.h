#pragma once

#include <QString>

class QListWidget;
class QWidget;

// How the secondary windows' lists and windows behave, settled once.

// The text of entry index; "" when there is no such entry.
QString ListText(const QListWidget *list, int index);
// The current entry, -1 when there is none.
int ListIndex(const QListWidget *list);
// Removes entry index (nothing when there is none). Afterwards no entry is
// current: Qt would make a neighbour current, and a second removal would
// then take an entry the user never chose.
void RemoveListItem(QListWidget *list, int index);
// Leaves the list with no current and no selected entry.
void ClearListIndex(QListWidget *list);
// Shows the one instance of a secondary window, or brings it forward.
void ShowForward(QWidget *window);
