#pragma once

// Qt's own texts (the buttons of message and input boxes, the context menus
// of text fields) in French, from the translations installed with Qt.
// Returns false when they are not installed; the texts then stay English.
bool LoadQtFrench();
