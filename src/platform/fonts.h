#pragma once

// Loads the desktop's font list on a background thread, so the first text
// the windows lay out does not wait for it on the interface thread. Call
// once the application object exists.
void WarmUpFonts();
