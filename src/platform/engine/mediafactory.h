#pragma once

class MediaControl;
class QWidget;

// Starts the media engine in the background, so windows never wait for it.
void StartMediaEngine();
// The media control of the program, on GStreamer, playing to the desktop's
// sound output.
MediaControl *CreateMediaControl(QWidget *parent);
